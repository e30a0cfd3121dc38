/* The audio output device (speaker path): attributes, enable, volume, mute. */
#ifndef ZQ_AO_H
#define ZQ_AO_H

#include "zq_audio.h"

#ifdef __cplusplus
extern "C" {
#endif

ZQ_API s32 ZQ_MPI_AO_SetPubAttr(AudioDevId s32DevId, const AudioAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_GetPubAttr(AudioDevId s32DevId, AudioAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_Enable(AudioDevId s32DevId) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_Disable(AudioDevId s32DevId) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_SetVolume(AudioDevId s32DevId, s32 s32VolumeDb) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_GetVolume(AudioDevId s32DevId, s32 *ps32VolumeDb) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_SetMute(AudioDevId s32DevId, s32 bEnable, void *pReserved) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_GetMute(AudioDevId s32DevId, s32 *pbEnable) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_AO_H */
