/* The audio input device (microphone path) and its voice quality
 * enhancement: echo cancellation, noise suppression, gain control.
 * Only device 0 exists: the attribute, enable, disable, frame and volume
 * calls refuse any other device number with 0xA0158001. Results: 0, or
 * 0xA0158000 + error number (zq_common.h); failures are logged to the MPI
 * log under module "ai". */
#ifndef ZQ_AI_H
#define ZQ_AI_H

#include "zq_audio.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VqeConfig {
    s32 bAecOpen; /* echo cancellation */
    s32 bAnrOpen; /* noise suppression */
    s32 bAgcOpen; /* gain control */
} VqeConfig;

/* A captured frame. Fields named u32FieldN belong to the caller. */
typedef struct AudioFrame {
    u32 u32Field1;
    u32 u32Field2;
    void *pData; /* caller's buffer of at least 2 x u32SamplesPerFrame bytes */
    u32 u32Field4;
    u32 u32Field5;
    u32 u32Field6;
    u64 u64TimeStamp; /* wall-clock milliseconds */
    u32 u32Seq;
    u32 u32Len; /* bytes */
} AudioFrame;

ZQ_LAYOUT_CHECK(VqeConfig, sizeof(VqeConfig) == 12 && offsetof(VqeConfig, bAgcOpen) == 8);
#if defined(ZQ_ABI_ARM32)
ZQ_LAYOUT_CHECK(AudioFrame, sizeof(AudioFrame) == 40 && offsetof(AudioFrame, pData) == 8 &&
                                offsetof(AudioFrame, u32Field4) == 12 &&
                                offsetof(AudioFrame, u64TimeStamp) == 24 &&
                                offsetof(AudioFrame, u32Seq) == 32 &&
                                offsetof(AudioFrame, u32Len) == 36);
#elif defined(ZQ_ABI_LP64)
ZQ_LAYOUT_CHECK(AudioFrame, sizeof(AudioFrame) == 48 && offsetof(AudioFrame, pData) == 8 &&
                                offsetof(AudioFrame, u32Field4) == 16 &&
                                offsetof(AudioFrame, u64TimeStamp) == 32 &&
                                offsetof(AudioFrame, u32Seq) == 40 &&
                                offsetof(AudioFrame, u32Len) == 44);
#endif

/* u32SamplesPerFrame is the length of the frames GetFrame hands out: 1 to
 * 800 samples (the 1600-byte capture ring must hold one), else 0xA0158003. */
ZQ_API s32 ZQ_MPI_AI_SetPubAttr(AudioDevId s32DevId, const AudioAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AI_GetPubAttr(AudioDevId s32DevId, AudioAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AI_Enable(AudioDevId s32DevId) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AI_Disable(AudioDevId s32DevId) ZQ_NOEXCEPT;
/* Copies one frame into pstFrm->pData. bBlock non-zero waits for a frame,
 * looking every 10 ms; without it, 0xA015800E when none is whole yet.
 * 0xA0158001 when the input is not enabled, also once it is disabled while
 * a blocking call waits (a frame already whole is still handed out);
 * 0xA0158006 for a null pstFrm or pData. One call at a time (see
 * zq_audio.h): the capture ring has one consumer. */
ZQ_API s32 ZQ_MPI_AI_GetFrame(AudioDevId s32DevId, AiChn s32AiChn, AudioFrame *pstFrm,
                              void *pReserved, s32 bBlock) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AI_SetVolume(AudioDevId s32DevId, s32 s32VolumeDb) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AI_GetVolume(AudioDevId s32DevId, s32 *ps32VolumeDb) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AI_SetVqeAttr(AudioDevId s32DevId, AiChn s32AiChn, AudioDevId s32AoDevId,
                                AoChn s32AoChn, const VqeConfig *pstVqeConfig) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_AI_GetVqeAttr(AudioDevId s32DevId, AiChn s32AiChn,
                                VqeConfig *pstVqeConfig) ZQ_NOEXCEPT;
/* From the next engine cycle on, pfn gets every raw frame before enhancement,
 * on the engine thread; null removes it. */
ZQ_API s32 ZQ_MPI_AI_SetCallback(AudioDataCallback pfn) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_AI_H */
