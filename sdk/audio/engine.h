// The audio engine's process-wide state, shared by the engine thread and
// the output, decoder and input families. Values the engine thread reads
// while a caller may change them are atomics; each is read once per use.
#pragma once

#include <pthread.h>

#include <atomic>
#include <mutex>

#include "audio/ring.h"
#include "zq_adec.h"
#include "zq_ai.h"
#include "zq_audio.h"

constexpr u32 kCapRingBytes = 1600;   // 5 frames, 100 ms
constexpr u32 kPlayRingBytes = 8000;  // 25 frames, 500 ms
constexpr u32 kDecBufBytes = 1024;
constexpr u32 kBlockingPollUs = 10000;  // blocking calls look again every 10 ms

// The open driver descriptors (-1 while disabled) and the last volumes the
// codec accepted. A device is enabled while its descriptor is valid.
struct AudioDevTable {
    std::atomic<s32> aoFd{-1};
    s32 aoVolume = 50;
    std::atomic<s32> aiFd{-1};
    s32 aiVolume = 50;
};

struct AudioEngineState {
    // Decoder channel 0. decLock makes one send at a time the producer of
    // the playback ring, and keeps the buffer from being freed or replaced
    // under a send.
    std::mutex decLock;
    AdecChnAttr stAdecAttr{};
    u8 *pu8DecBuf = nullptr;
    std::atomic<u32> u32ChnMask{0};
    std::atomic<AudioDataCallback> pfnDecCallback{nullptr};
    // Output.
    AudioAttr stAoAttr{};
    // Rings, made by ZQ_MPI_AUDIO_Init before it returns; live for the process.
    AudioRing *pstCapRing = nullptr;
    AudioRing *pstPlayRing = nullptr;
    // Input.
    std::atomic<AudioDataCallback> pfnCapCallback{nullptr};
    std::atomic<s32> bAecOpen{0};
    std::atomic<s32> bAnrOpen{0};
    std::atomic<s32> bAgcOpen{0};
    AudioAttr stAiAttr{};
    // One ZQ_MPI_AI_GetFrame at a time is the consumer of the capture ring
    // and counts the frames.
    std::mutex capLock;
    u32 u32FrameSeq = 0;
    std::atomic<bool> started{false};  // the engine thread runs
    // The engine thread itself: its handle, the request that ends it (tests
    // and benchmarks only; the SDK never stops it), the descriptor it is
    // reading or writing right now (-1 between driver calls), and one that
    // a disable left for it to close when that call returns.
    pthread_t thread{};
    std::atomic<bool> stopRequested{false};
    std::atomic<s32> busyFd{-1};
    std::atomic<s32> closeAfterUse{-1};
};

extern AudioDevTable g_AudioDevTable;
extern AudioEngineState g_AudioEngine;

// The output descriptor slot of a device (only 0 exists).
s32 audio_get_ao_fd(AudioDevId devId);

// Enables a device: opens path into its empty descriptor slot. Returns the
// descriptor and sets *alreadyOpen when the slot held one; -1 when the open
// failed. Of two racing callers the first descriptor stays, the other is
// closed.
s32 audio_open_device(std::atomic<s32> &slot, const char *path, int flags, bool *alreadyOpen);

// Disables a device: sets its descriptor slot to -1 and returns the old
// descriptor once the engine thread no longer reads or writes it, so that
// the caller can close it without the number being reused under a driver
// call in flight. Waits at most one second (a paced driver answers within
// a frame); a thread still inside the call then closes the descriptor
// itself when the call returns. -1: nothing for the caller to close.
s32 audio_take_device_fd(std::atomic<s32> &slot);
