// The engine thread's cycle, exposed for tests and benchmarks.
#pragma once

#include "audio/vqe.h"
#include "zq_audio.h"

// What one engine thread owns: the three frames and the enhancement chain.
struct EngineWork {
    s16 capture[ZQ_AUDIO_FRAME_SAMPLES];
    s16 playback[ZQ_AUDIO_FRAME_SAMPLES];
    s16 work[ZQ_AUDIO_FRAME_SAMPLES];
    VqeChain vqe;
};

// Zeroes the frames and makes the chain; returns the failed library calls.
int engine_work_init(EngineWork &work);
void engine_work_release(EngineWork &work);

// One cycle: capture, playback, callback, enhancement, push, idle.
void audio_engine_cycle(EngineWork &work);

// Ends the engine thread after its current cycle and waits for it. Tests and
// benchmarks only: a device the thread is blocked on must deliver or fail.
void audio_engine_stop();
