/* The audio decoder channel: G.711 or raw PCM streams into the playback ring.
 * Only channel 0 exists. Results: 0, or 0xA0188000 + error number
 * (zq_common.h); refusals are logged to the MPI log under module "adec". */
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

/* Makes channel 0 with a new 1024-byte decode buffer. A channel created
 * again releases its old buffer; the new one is made first, so a failed
 * allocation (0xA018800C) leaves the channel as it was. */
ZQ_API s32 ZQ_MPI_ADEC_CreateChn(AdChn s32AdChn, const AdecChnAttr *pstAttr) ZQ_NOEXCEPT;
/* Marks the channel destroyed (numbers outside 0..31 are ignored); its
 * buffer stays until ZQ_MPI_ADEC_ReleaseBuf. Returns 0. */
ZQ_API s32 ZQ_MPI_ADEC_DestroyChn(AdChn s32AdChn) ZQ_NOEXCEPT;
/* Decodes the stream on the caller's thread into the channel's buffer and
 * writes it into the playback ring, in pieces of one buffer (512 G.711 bytes
 * or 1024 PCM bytes); the decoder callback is called once per piece, and an
 * empty stream is one piece of length 0. bBlock non-zero waits for room in
 * the playback ring, looking every 10 ms; without it, what does not fit is
 * dropped. 0xA0188005 ("AdChn 0 not created") when the channel is not
 * created or has no buffer, the output is not enabled, ZQ_MPI_AUDIO_Init
 * was not called, or the output is disabled while a blocking send waits
 * (pieces already written stay in the ring). One send at a time (see
 * zq_audio.h): the playback ring has one producer. */
ZQ_API s32 ZQ_MPI_ADEC_SendStream(AdChn s32AdChn, const AudioStream *pstStream,
                                  s32 bBlock) ZQ_NOEXCEPT;
/* Frees channel 0's buffer, waiting for a send in progress; other channels
 * are ignored. Returns 0 (0xA0188005 from inside the decoder callback). */
ZQ_API s32 ZQ_MPI_ADEC_ReleaseBuf(AdChn s32AdChn) ZQ_NOEXCEPT;
/* pfn gets each decoded piece's bytes inside the send; null removes it. */
ZQ_API s32 ZQ_MPI_ADEC_SetCallback(AudioDataCallback pfn) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_ADEC_H */
