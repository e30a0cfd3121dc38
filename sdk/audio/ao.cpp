// The audio output device (speaker path): attributes, enable and disable,
// output volume and mute. Samples are moved by the engine thread; this
// family only opens and closes "/dev/ao" and talks to the codec driver.
// Its state is the output slot of g_AudioDevTable and g_AudioEngine.stAoAttr.
#include <fcntl.h>

#include <cstdio>

#include "audio/acodec.h"
#include "audio/engine.h"
#include "port/port.h"
#include "zq_ao.h"
#include "zq_log.h"

namespace {

namespace port = zq::port;

constexpr s32 kAoBadDevice = ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_BAD_DEVICE);
constexpr s32 kAoOutOfRange = ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_OUT_OF_RANGE);
constexpr s32 kAoNullPointer = ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_NULL_PTR);
constexpr s32 kAoCodecFailed = ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_DRIVER);
constexpr s32 kAoOpenFailed = ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_OPEN);
constexpr s32 kAoMuteQueryRefused = ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_REFUSED);
static_assert(kAoBadDevice == static_cast<s32>(0xA0168001) &&
              kAoOpenFailed == static_cast<s32>(0xA0168010) &&
              kAoMuteQueryRefused == static_cast<s32>(0xA0168012));

constexpr u32 kMaxVolume = 100;

// Only device 0 exists; any other number is reported and refused.
bool bad_device(AudioDevId devId) {
    if (devId == 0) return false;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "AudioDevId %d Failed\n", devId);
    return true;
}

bool null_pointer(const void *p, const char *message) {
    if (p) return false;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "%s", message);
    return true;
}

// A set request to the codec; refusedMessage is logged when the driver says no.
s32 codec_set(unsigned long request, s32 value, const char *refusedMessage) {
    switch (acodec_request(request, &value)) {
        case AcodecResult::NoDevice:
            mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "acodec dev open error!\n");
            return kAoCodecFailed;
        case AcodecResult::Refused:
            mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "%s", refusedMessage);
            return kAoCodecFailed;
        case AcodecResult::Done:
            break;
    }
    return 0;
}

}  // namespace

extern "C" {

s32 ZQ_MPI_AO_SetPubAttr(AudioDevId s32DevId, const AudioAttr *pstAttr) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    if (null_pointer(pstAttr, "pstAttr is null\n")) return kAoNullPointer;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: enSamplerate[%d], enBitwidth[%d]\n", __func__,
            static_cast<int>(pstAttr->enSamplerate), static_cast<int>(pstAttr->enBitwidth));
    // Recorded only: the engine's format is fixed and nothing reaches a driver.
    g_AudioEngine.stAoAttr = *pstAttr;
    return 0;
}

s32 ZQ_MPI_AO_GetPubAttr(AudioDevId s32DevId, AudioAttr *pstAttr) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    if (null_pointer(pstAttr, "pstAttr is null\n")) return kAoNullPointer;
    *pstAttr = g_AudioEngine.stAoAttr;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: enSamplerate[%d], enBitwidth[%d]\n", __func__,
            static_cast<int>(pstAttr->enSamplerate), static_cast<int>(pstAttr->enBitwidth));
    return 0;
}

s32 ZQ_MPI_AO_Enable(AudioDevId s32DevId) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: AudioDevId[%d]\n", __func__, s32DevId);
    bool alreadyOpen = false;
    if (audio_open_device(g_AudioDevTable.aoFd, "/dev/ao", O_WRONLY, &alreadyOpen) < 0) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "open /dev/ao failed");
        return kAoOpenFailed;
    }
    return 0;
}

s32 ZQ_MPI_AO_Disable(AudioDevId s32DevId) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: AudioDevId[%d]\n", __func__, s32DevId);
    // The slot reads -1 first and the engine thread leaves a write in flight
    // before the close, so the number cannot be reused under that write.
    int fd = audio_take_device_fd(g_AudioDevTable.aoFd);
    if (fd < 0) return 0;
    return port::close(fd) == 0 ? 0 : -1;
}

s32 ZQ_MPI_AO_SetVolume(AudioDevId s32DevId, s32 s32VolumeDb) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    if (static_cast<u32>(s32VolumeDb) > kMaxVolume) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "VolumeDb %d not supported!\n", s32VolumeDb);
        return kAoOutOfRange;
    }
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: AudioDevId[%d], s32VolumeDb[%d]\n", __func__,
            s32DevId, s32VolumeDb);
    s32 rc = codec_set(kAcodecSetOutputVolume, s32VolumeDb, "set ao volume failed!\n");
    if (rc == 0) g_AudioDevTable.aoVolume = s32VolumeDb;
    return rc;
}

s32 ZQ_MPI_AO_GetVolume(AudioDevId s32DevId, s32 *ps32VolumeDb) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    if (null_pointer(ps32VolumeDb, "ps32VolumeDb is null\n")) return kAoNullPointer;
    *ps32VolumeDb = g_AudioDevTable.aoVolume;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: AudioDevId[%d], *ps32VolumeDb[%d]\n", __func__,
            s32DevId, *ps32VolumeDb);
    return 0;
}

s32 ZQ_MPI_AO_SetMute(AudioDevId s32DevId, s32 bEnable, void * /*pReserved*/) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: AudioDevId[%d], bEnable[%d]\n", __func__, s32DevId,
            bEnable);
    return codec_set(kAcodecSetOutputMute, bEnable, "set ao mute failed!\n");
}

s32 ZQ_MPI_AO_GetMute(AudioDevId s32DevId, s32 *pbEnable) noexcept {
    if (bad_device(s32DevId)) return kAoBadDevice;
    if (null_pointer(pbEnable, "pbEnable is null\n")) return kAoNullPointer;
    // The driver fills a value of ours; the caller's changes only on success.
    s32 muted = 0;
    switch (acodec_request(kAcodecGetOutputMute, &muted)) {
        case AcodecResult::NoDevice:
            std::fputs("acodec dev open error!\n", stdout);
            return -1;
        case AcodecResult::Refused:
            mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_AO, "get ao mute failed!\n");
            return kAoMuteQueryRefused;
        case AcodecResult::Done:
            break;
    }
    *pbEnable = muted;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_AO, "[%s]: AudioDevId[%d], *pbEnable[%d]\n", __func__,
            s32DevId, muted);
    return 0;
}

}  // extern "C"
