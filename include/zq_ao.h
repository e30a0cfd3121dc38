/* The audio output device (speaker path): attributes, enable, volume, mute.
 * The family moves no samples (the engine thread of zq_audio.h does); it
 * opens and closes "/dev/ao" and sets the codec through "/dev/acodec",
 * opened for each request. Results: 0, or 0xA0168000 + error number (zq_common.h);
 * failures are logged to the MPI log under module "ao". Only device 0
 * exists: any other number is refused with 0xA0168001 before anything is
 * opened. */
#ifndef ZQ_AO_H
#define ZQ_AO_H

#include "zq_audio.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The attributes are recorded, not sent anywhere: the engine's format is
 * fixed. */
ZQ_API s32 ZQ_MPI_AO_SetPubAttr(AudioDevId s32DevId, const AudioAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_GetPubAttr(AudioDevId s32DevId, AudioAttr *pstAttr) ZQ_NOEXCEPT;
/* Opens "/dev/ao" write-only; the engine thread then plays the playback
 * ring into it. Enabling an enabled output keeps its descriptor.
 * 0xA0168010 when the device cannot be opened. */
ZQ_API s32 ZQ_MPI_AO_Enable(AudioDevId s32DevId) ZQ_NOEXCEPT;
/* Closes the output once the engine thread has left any write on it;
 * never waits more than about a second. 0 also when it was not enabled. */
ZQ_API s32 ZQ_MPI_AO_Disable(AudioDevId s32DevId) ZQ_NOEXCEPT;
/* 0 to 100 (else 0xA0168003); 0xA0168007 when the codec cannot be opened or
 * refuses. GetVolume gives the last volume the codec accepted (50 at start). */
ZQ_API s32 ZQ_MPI_AO_SetVolume(AudioDevId s32DevId, s32 s32VolumeDb) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AO_GetVolume(AudioDevId s32DevId, s32 *ps32VolumeDb) ZQ_NOEXCEPT;
/* bEnable non-zero mutes. 0xA0168007 when the codec cannot be opened or
 * refuses. */
ZQ_API s32 ZQ_MPI_AO_SetMute(AudioDevId s32DevId, s32 bEnable, void *pReserved) ZQ_NOEXCEPT;
/* Asks the codec; *pbEnable is written only when it answered. 0xA0168006
 * for a null pbEnable, -1 when the codec cannot be opened, 0xA0168012 when
 * it refuses. */
ZQ_API s32 ZQ_MPI_AO_GetMute(AudioDevId s32DevId, s32 *pbEnable) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_AO_H */
