// PLACEHOLDER -- remove when the output family (ZQ_MPI_AO_*) is merged.
// Weak stand-ins for the output calls the prompt player makes, so that this
// test executable links before that family exists. They keep the contract
// the tests rely on: Enable opens "/dev/ao" write-only into the descriptor
// slot (0xA0168010 when it cannot be opened), Disable closes it.
#include <fcntl.h>

#include "audio/engine.h"
#include "port/port.h"
#include "zq_ao.h"

namespace port = zq::port;

extern "C" {

__attribute__((weak)) s32 ZQ_MPI_AO_SetPubAttr(AudioDevId, const AudioAttr *pstAttr) noexcept {
    g_AudioEngine.stAoAttr = *pstAttr;
    return 0;
}

__attribute__((weak)) s32 ZQ_MPI_AO_Enable(AudioDevId) noexcept {
    if (g_AudioDevTable.aoFd >= 0) return 0;
    g_AudioDevTable.aoFd = port::open("/dev/ao", O_WRONLY | O_CREAT, 0644);
    return g_AudioDevTable.aoFd >= 0 ? 0 : ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_OPEN);
}

__attribute__((weak)) s32 ZQ_MPI_AO_Disable(AudioDevId) noexcept {
    const s32 fd = g_AudioDevTable.aoFd.exchange(-1);
    return fd < 0 ? 0 : port::close(fd);
}

__attribute__((weak)) s32 ZQ_MPI_AO_SetVolume(AudioDevId, s32 s32VolumeDb) noexcept {
    g_AudioDevTable.aoVolume = s32VolumeDb;
    return 0;
}

}  // extern "C"
