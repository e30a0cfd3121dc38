// The audio input family: the microphone path's descriptor, attributes,
// volume, enhancement switches, raw-capture callback, and the consumer side
// of the capture ring.
#include <fcntl.h>

#include <cstring>

#include "audio/acodec.h"
#include "audio/engine.h"
#include "port/port.h"
#include "zq_ai.h"
#include "zq_log.h"

namespace port = zq::port;

namespace {

constexpr s32 kBadDevice = ZQ_ERR_CODE(ZQ_MOD_AI, ZQ_ERR_BAD_DEVICE);  // also: input not enabled
constexpr s32 kOutOfRange = ZQ_ERR_CODE(ZQ_MOD_AI, ZQ_ERR_OUT_OF_RANGE);
constexpr s32 kNullPointer = ZQ_ERR_CODE(ZQ_MOD_AI, ZQ_ERR_NULL_PTR);
constexpr s32 kCodecFailed = ZQ_ERR_CODE(ZQ_MOD_AI, ZQ_ERR_DRIVER);
constexpr s32 kNoFrame = ZQ_ERR_CODE(ZQ_MOD_AI, ZQ_ERR_NO_DATA);

constexpr s32 kMaxVolume = 100;
// A frame must fit the capture ring, or no frame could ever be handed out.
constexpr u32 kMaxSamplesPerFrame = kCapRingBytes / 2;

#define AI_FAIL(...) mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AI, __VA_ARGS__)
#define AI_TRACE(...) mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AI, __VA_ARGS__)

bool input_enabled() {
    return g_AudioDevTable.aiFd.load() >= 0;
}

// Bytes of one handed-out frame; 0 before ZQ_MPI_AUDIO_Init set the length.
u32 frame_bytes() {
    return 2 * g_AudioEngine.stAiAttr.u32SamplesPerFrame;
}

bool frame_ready() {
    const AudioRing *ring = g_AudioEngine.pstCapRing;
    const u32 frameBytes = frame_bytes();
    return ring && frameBytes > 0 && audio_ring_held(ring) >= frameBytes;
}

u64 wall_clock_ms() {
    struct timespec now {};
    port::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<u64>(now.tv_sec) * 1000u + static_cast<u64>(now.tv_nsec) / 1000000u;
}

// Both attribute calls check the same way; the texts have no line end.
s32 check_attr_call(AudioDevId devId, const void *attr) {
    if (devId != 0) {
        AI_FAIL("AudioDevId %d Failed", devId);
        return kBadDevice;
    }
    if (!attr) {
        AI_FAIL("pstAttr is null\n");
        return kNullPointer;
    }
    return 0;
}

}  // namespace

extern "C" {

s32 ZQ_MPI_AI_SetPubAttr(AudioDevId s32DevId, const AudioAttr *pstAttr) noexcept {
    if (s32 rc = check_attr_call(s32DevId, pstAttr)) return rc;
    if (pstAttr->u32SamplesPerFrame == 0 || pstAttr->u32SamplesPerFrame > kMaxSamplesPerFrame) {
        AI_FAIL("u32SamplesPerFrame %u not supported!\n", pstAttr->u32SamplesPerFrame);
        return kOutOfRange;
    }
    AI_TRACE("[%s]: enSamplerate[%d], enBitwidth[%d]\n", "ZQ_MPI_AI_SetPubAttr",
             static_cast<int>(pstAttr->enSamplerate), static_cast<int>(pstAttr->enBitwidth));
    g_AudioEngine.stAiAttr = *pstAttr;
    return 0;
}

s32 ZQ_MPI_AI_GetPubAttr(AudioDevId s32DevId, AudioAttr *pstAttr) noexcept {
    if (s32 rc = check_attr_call(s32DevId, pstAttr)) return rc;
    *pstAttr = g_AudioEngine.stAiAttr;
    AI_TRACE("[%s]: enSamplerate[%d], enBitwidth[%d]\n", "ZQ_MPI_AI_GetPubAttr",
             static_cast<int>(pstAttr->enSamplerate), static_cast<int>(pstAttr->enBitwidth));
    return 0;
}

s32 ZQ_MPI_AI_Enable(AudioDevId s32DevId) noexcept {
    // Only device 0 has a descriptor slot.
    if (s32DevId != 0) {
        AI_FAIL("AudioDevId %d Failed\n", s32DevId);
        return kBadDevice;
    }
    AI_TRACE("[%s]: AudioDevId[%d]\n", "ZQ_MPI_AI_Enable", s32DevId);
    bool alreadyOpen = false;
    s32 fd = audio_open_device(g_AudioDevTable.aiFd, "/dev/ai", O_RDONLY, &alreadyOpen);
    if (alreadyOpen) return fd;
    if (fd >= 0) return 0;
    AI_FAIL("open %s failed", "/dev/ai");
    return -1;
}

s32 ZQ_MPI_AI_Disable(AudioDevId s32DevId) noexcept {
    if (s32DevId != 0) {
        AI_FAIL("AudioDevId %d Failed\n", s32DevId);
        return kBadDevice;
    }
    AI_TRACE("[%s]: AudioDevId[%d]\n", "ZQ_MPI_AI_Disable", s32DevId);
    s32 fd = audio_take_device_fd(g_AudioDevTable.aiFd);
    return fd < 0 ? 0 : port::close(fd);
}

s32 ZQ_MPI_AI_GetFrame(AudioDevId s32DevId, AiChn, AudioFrame *pstFrm, void *,
                       s32 bBlock) noexcept {
    if (s32DevId != 0 || !input_enabled()) {
        AI_FAIL("AudioDevId %d Failed\n", s32DevId);
        return kBadDevice;
    }
    if (!pstFrm) {
        AI_FAIL("pstFrm is null\n");
        return kNullPointer;
    }
    if (!pstFrm->pData) {
        AI_FAIL("pstFrm->pData is null\n");
        return kNullPointer;
    }
    // One consumer of the capture ring at a time. The frame length is read
    // afresh at every look; the wait ends when a whole frame is there or the
    // input has been disabled meanwhile.
    std::lock_guard<std::mutex> consumer(g_AudioEngine.capLock);
    while (!frame_ready()) {
        if (!bBlock) return kNoFrame;
        if (!input_enabled()) {
            AI_FAIL("AudioDevId %d Failed\n", s32DevId);
            return kBadDevice;
        }
        port::sleep_us(kBlockingPollUs);
    }
    const u32 frameBytes = frame_bytes();
    std::memset(pstFrm->pData, 0, frameBytes);
    audio_ring_read(g_AudioEngine.pstCapRing, pstFrm->pData, frameBytes);
    audio_ring_reset_if_empty(g_AudioEngine.pstCapRing);
    pstFrm->u64TimeStamp = wall_clock_ms();
    pstFrm->u32Seq = g_AudioEngine.u32FrameSeq++;
    pstFrm->u32Len = frameBytes;
    return 0;
}

s32 ZQ_MPI_AI_SetVolume(AudioDevId s32DevId, s32 s32VolumeDb) noexcept {
    if (s32DevId != 0) {
        AI_FAIL("AudioDevId %d Failed\n", s32DevId);
        return kBadDevice;
    }
    if (static_cast<u32>(s32VolumeDb) > static_cast<u32>(kMaxVolume)) {
        AI_FAIL("VolumeDb %d not supported!\n", s32VolumeDb);
        return kOutOfRange;
    }
    AI_TRACE("[%s]: AudioDevId[%d], s32VolumeDb[%d]\n", "ZQ_MPI_AI_SetVolume", s32DevId,
             s32VolumeDb);
    s32 volume = s32VolumeDb;
    switch (acodec_request(kAcodecSetInputVolume, &volume)) {
        case AcodecResult::NoDevice:
            AI_FAIL("acodec dev open error!\n");
            return kCodecFailed;
        case AcodecResult::Refused:
            return kCodecFailed;
        case AcodecResult::Done:
            break;
    }
    g_AudioDevTable.aiVolume = s32VolumeDb;
    return 0;
}

s32 ZQ_MPI_AI_GetVolume(AudioDevId s32DevId, s32 *ps32VolumeDb) noexcept {
    if (s32DevId != 0) {
        AI_FAIL("AudioDevId %d Failed\n", s32DevId);
        return kBadDevice;
    }
    if (!ps32VolumeDb) {
        AI_FAIL("ps32VolumeDb is null\n");
        return kNullPointer;
    }
    *ps32VolumeDb = g_AudioDevTable.aiVolume;
    AI_TRACE("[%s]: AudioDevId[%d], *ps32VolumeDb[%d]\n", "ZQ_MPI_AI_GetVolume", s32DevId,
             *ps32VolumeDb);
    return 0;
}

s32 ZQ_MPI_AI_SetVqeAttr(AudioDevId, AiChn, AudioDevId, AoChn,
                         const VqeConfig *pstVqeConfig) noexcept {
    if (!pstVqeConfig) {
        AI_FAIL("pstVqeConfig is null\n");
        return kNullPointer;
    }
    AI_TRACE("[%s]: bAecOpen[%d], bAgcOpen[%d], bAnrOpen[%d]\n", "ZQ_MPI_AI_SetVqeAttr",
             pstVqeConfig->bAecOpen, pstVqeConfig->bAgcOpen, pstVqeConfig->bAnrOpen);
    g_AudioEngine.bAecOpen.store(pstVqeConfig->bAecOpen);
    g_AudioEngine.bAnrOpen.store(pstVqeConfig->bAnrOpen);
    g_AudioEngine.bAgcOpen.store(pstVqeConfig->bAgcOpen);
    return 0;
}

s32 ZQ_MPI_AI_GetVqeAttr(AudioDevId, AiChn, VqeConfig *pstVqeConfig) noexcept {
    if (!pstVqeConfig) {
        AI_FAIL("pstVqeConfig is null\n");
        return kNullPointer;
    }
    pstVqeConfig->bAecOpen = g_AudioEngine.bAecOpen.load();
    pstVqeConfig->bAnrOpen = g_AudioEngine.bAnrOpen.load();
    pstVqeConfig->bAgcOpen = g_AudioEngine.bAgcOpen.load();
    AI_TRACE("[%s]: bAecOpen[%d], bAgcOpen[%d], bAnrOpen[%d]\n", "ZQ_MPI_AI_GetVqeAttr",
             pstVqeConfig->bAecOpen, pstVqeConfig->bAgcOpen, pstVqeConfig->bAnrOpen);
    return 0;
}

s32 ZQ_MPI_AI_SetCallback(AudioDataCallback pfn) noexcept {
    g_AudioEngine.pfnCapCallback.store(pfn);
    return 0;
}

}  // extern "C"
