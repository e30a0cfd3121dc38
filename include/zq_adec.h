/* The audio decoder channel: G.711 or raw PCM streams into the playback ring. */
#ifndef ZQ_ADEC_H
#define ZQ_ADEC_H

#include "zq_audio.h"

#ifdef __cplusplus
extern "C" {
#endif

enum { ADEC_TYPE_G711A = 19, ADEC_TYPE_G711U = 20, ADEC_TYPE_PCM = 23 };

typedef struct AdecChnAttr {
    s32 enType;     /* ADEC_TYPE_...; others decode to nothing */
    u32 u32BufSize; /* recorded */
    s32 enMode;     /* recorded */
} AdecChnAttr;

typedef struct AudioStream {
    u8 *pStream;   /* the stream bytes */
    u32 u32Field2; /* not read */
    u32 u32Len;    /* byte count */
    u64 u64Field4; /* not read */
    u32 u32Field5; /* not read */
} AudioStream;

ZQ_LAYOUT_CHECK(AdecChnAttr, sizeof(AdecChnAttr) == 12 && offsetof(AdecChnAttr, enMode) == 8);
#if defined(ZQ_ABI_ARM32)
ZQ_LAYOUT_CHECK(AudioStream, sizeof(AudioStream) == 32 && offsetof(AudioStream, u32Field2) == 4 &&
                                 offsetof(AudioStream, u32Len) == 8 &&
                                 offsetof(AudioStream, u64Field4) == 16 &&
                                 offsetof(AudioStream, u32Field5) == 24);
#elif defined(ZQ_ABI_LP64)
ZQ_LAYOUT_CHECK(AudioStream, sizeof(AudioStream) == 32 && offsetof(AudioStream, u32Field2) == 8 &&
                                 offsetof(AudioStream, u32Len) == 12 &&
                                 offsetof(AudioStream, u64Field4) == 16 &&
                                 offsetof(AudioStream, u32Field5) == 24);
#endif

ZQ_API s32 ZQ_MPI_ADEC_CreateChn(AdChn s32AdChn, const AdecChnAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_ADEC_DestroyChn(AdChn s32AdChn) ZQ_NOEXCEPT;
/* bBlock non-zero waits for room in the playback ring. One send at a time
 * (see zq_audio.h): the playback ring has one producer. */
ZQ_API s32 ZQ_MPI_ADEC_SendStream(AdChn s32AdChn, const AudioStream *pstStream,
                                  s32 bBlock) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_ADEC_ReleaseBuf(AdChn s32AdChn) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_ADEC_SetCallback(AudioDataCallback pfn) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_ADEC_H */
