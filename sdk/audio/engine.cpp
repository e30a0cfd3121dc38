// The audio engine: its state, ZQ_MPI_AUDIO_Init and the worker thread.
#include "audio/engine.h"

#include "zq_log.h"

AudioDevTable g_AudioDevTable;
AudioEngineState g_AudioEngine;

s32 audio_get_ao_fd(AudioDevId devId) {
    return devId == 0 ? g_AudioDevTable.aoFd.load(std::memory_order_acquire) : -1;
}

extern "C" s32 ZQ_MPI_AUDIO_Init(void) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AI, "[%s]: \n", "ZQ_MPI_AUDIO_Init");
    // The worker thread is still to come; the rings exist from here on.
    if (!g_AudioEngine.pstCapRing) g_AudioEngine.pstCapRing = audio_ring_create(kCapRingBytes);
    if (!g_AudioEngine.pstPlayRing) g_AudioEngine.pstPlayRing = audio_ring_create(kPlayRingBytes);
    g_AudioEngine.stAiAttr.u32SamplesPerFrame = ZQ_AUDIO_FRAME_SAMPLES;
    return 0;
}
