/* G.711 A-law and mu-law: code bytes to and from 16-bit samples.
 *
 * Pure functions, safe from any thread. Encoding quantises the magnitude and
 * then applies the sign: s and -s differ only in bit 7 of their codes, and
 * -32768 is encoded as -32767. The mu-law zero codes decode to +2 and -2.
 * The buffer calls with work to do (a length above 0) but a null source or
 * destination convert nothing, set *pu32OutLen to 0 and return 0; a null
 * pu32OutLen is allowed. */
#ifndef ZQ_G711_H
#define ZQ_G711_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* u32Len code bytes to u32Len samples; *pu32OutLen = 2 x u32Len bytes. Return 1. */
ZQ_API s32 g711a_decode(const u8 *pSrc, s16 *pDst, u32 u32Len, u32 *pu32OutLen) ZQ_NOEXCEPT;
ZQ_API s32 g711u_decode(const u8 *pSrc, s16 *pDst, u32 u32Len, u32 *pu32OutLen) ZQ_NOEXCEPT;
/* u32Len bytes of samples (whole samples only) to code bytes; *pu32OutLen = codes written.
 * Return 1. */
ZQ_API s32 g711a_encode(const s16 *pSrc, u8 *pDst, u32 u32Len, u32 *pu32OutLen) ZQ_NOEXCEPT;
ZQ_API s32 g711u_encode(const s16 *pSrc, u8 *pDst, u32 u32Len, u32 *pu32OutLen) ZQ_NOEXCEPT;

ZQ_API u8 g711a_encode_sample(s16 s16Sample) ZQ_NOEXCEPT;
ZQ_API u8 g711u_encode_sample(s16 s16Sample) ZQ_NOEXCEPT;
ZQ_API s16 g711a_decode_sample(u8 u8Code) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_G711_H */
