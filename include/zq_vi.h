/* Video input: the capture channel 0, the extended (scaled) channels 1 to 5,
 * their frame rates, frames and bindings, over the video input driver
 * "/dev/vi". The family keeps copies of the attributes set, so the Get
 * operations answer without the driver. */
#ifndef ZQ_VI_H
#define ZQ_VI_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZQ_VI_MAX_CHN 6 /* channel 0 and the extended channels 1..5 */

typedef struct ViRect {
    s32 s32X;
    s32 s32Y;
    u32 u32Width;
    u32 u32Height;
} ViRect;

typedef struct ViSize {
    u32 u32Width;
    u32 u32Height;
} ViSize;

/* Attributes of channel 0. */
typedef struct ViChnAttr {
    ViRect stCapRect;    /* the capture rectangle */
    ViSize stDestSize;   /* the output size */
    u32 au32Reserved[5]; /* kept and returned, not used by the SDK */
    s32 s32SrcFrameRate;
    s32 s32FrameRate;
} ViChnAttr;

ZQ_LAYOUT_CHECK(ViChnAttr, sizeof(ViChnAttr) == 52 && offsetof(ViChnAttr, stDestSize) == 16 &&
                               offsetof(ViChnAttr, s32SrcFrameRate) == 44 &&
                               offsetof(ViChnAttr, s32FrameRate) == 48);

/* Attributes of an extended channel: only its size reaches the driver. */
typedef struct ViExtChnAttr {
    u32 u32Reserved0;
    u32 u32Width;
    u32 u32Height;
    u32 au32Reserved[3];
} ViExtChnAttr;

ZQ_LAYOUT_CHECK(ViExtChnAttr, sizeof(ViExtChnAttr) == 24 && offsetof(ViExtChnAttr, u32Width) == 4 &&
                                  offsetof(ViExtChnAttr, u32Height) == 8);

/* Where a channel's frames go. enModId is a module number (ZQ_MOD_VO for
 * the video output). */
typedef struct ViBindDest {
    s32 enModId;
    s32 s32Reserved;
    s32 s32ChnId;
} ViBindDest;

ZQ_LAYOUT_CHECK(ViBindDest, sizeof(ViBindDest) == 12 && offsetof(ViBindDest, s32ChnId) == 8);

/* A captured frame as GetFrame hands it out and ReleaseFrame takes it back.
 * The SDK reads and writes only the named fields; the reserved ones are
 * left as the caller had them. The picture is NV12: the Y plane (u32Width
 * bytes a row) at u32PhyAddrY, the interleaved UV plane (half the rows) at
 * u32PhyAddrUV; map them through "/dev/mem" at those physical addresses. */
typedef struct ViFrameInfo {
    u32 u32Width;          /* 0 */
    u32 u32Height;         /* 4 */
    u32 au32Reserved0[2];  /* 8 */
    u32 u32PhyAddrY;       /* 16 */
    u32 u32PhyAddrUV;      /* 20 */
    u32 au32Reserved1[10]; /* 24 */
    u64 u64Pts;            /* 64: capture time, microseconds of the monotonic clock */
    u32 au32Reserved2[2];  /* 72 */
    u32 u32BufferId;       /* 80: the driver's buffer, to be handed back */
    u32 u32Reserved3;      /* 84 */
} ViFrameInfo;

ZQ_LAYOUT_CHECK(ViFrameInfo, sizeof(ViFrameInfo) == 88 && offsetof(ViFrameInfo, u32Height) == 4 &&
                                 offsetof(ViFrameInfo, u32PhyAddrY) == 16 &&
                                 offsetof(ViFrameInfo, u32PhyAddrUV) == 20 &&
                                 offsetof(ViFrameInfo, u64Pts) == 64 &&
                                 offsetof(ViFrameInfo, u32BufferId) == 80);

/* ---- the driver's requests (type 'V') and their records ---- */

typedef struct ViDrvSize {
    s32 s32Chn;
    u32 u32Width;
    u32 u32Height;
} ViDrvSize;

typedef struct ViDrvChn {
    s32 s32Chn;
} ViDrvChn;

/* Get (s32Chn in, the rest out) and release (all in, u64Pts sent as 0). */
typedef struct ViDrvFrame {
    s32 s32Chn;
    u32 u32BufferId;
    u32 u32PhyAddrY;
    u32 u32PhyAddrUV;
    u32 u32Width;
    u32 u32Height;
    u64 u64Pts;
} ViDrvFrame;

typedef struct ViDrvFrmRate {
    s32 s32Chn;
    u32 u32SrcFrmRateMinus1;
    u32 u32KeepMask; /* bit i: frame i of each second of the source is kept */
} ViDrvFrmRate;

typedef struct ViDrvBind {
    s32 s32Chn;
    s32 s32DestKind; /* ZQ_VI_BIND_TO_VO or ZQ_VI_BIND_TO_OTHER */
    s32 s32DestChn;
} ViDrvBind;

enum { ZQ_VI_BIND_TO_OTHER = 0, ZQ_VI_BIND_TO_VO = 2 };

#define ZQ_VI_RESET 0x5606u             /* no record, argument 0 */
#define ZQ_VI_SET_CAP_RECT 0x40105600u  /* write ViRect */
#define ZQ_VI_SET_DEST_SIZE 0x400C5601u /* write ViDrvSize */
#define ZQ_VI_ENABLE_CHN 0x40045602u    /* write ViDrvChn */
#define ZQ_VI_DISABLE_CHN 0x40045603u   /* write ViDrvChn */
#define ZQ_VI_GET_FRAME 0xC0205604u     /* read-write ViDrvFrame */
#define ZQ_VI_RELEASE_FRAME 0x40205605u /* write ViDrvFrame */
#define ZQ_VI_SET_FRM_RATE 0x400C5607u  /* write ViDrvFrmRate */
#define ZQ_VI_BIND 0x400C5608u          /* write ViDrvBind */

/* The size a request code carries is its record's. */
#define ZQ_VI_REQUEST_SIZE(code) (((code) >> 16) & 0x3FFFu)
ZQ_LAYOUT_CHECK(ViDrvRecords, sizeof(ViDrvSize) == 12 && sizeof(ViDrvChn) == 4 &&
                                  sizeof(ViDrvFrame) == 32 && offsetof(ViDrvFrame, u64Pts) == 24 &&
                                  sizeof(ViDrvFrmRate) == 12 && sizeof(ViDrvBind) == 12 &&
                                  ZQ_VI_REQUEST_SIZE(ZQ_VI_SET_CAP_RECT) == sizeof(ViRect) &&
                                  ZQ_VI_REQUEST_SIZE(ZQ_VI_SET_DEST_SIZE) == sizeof(ViDrvSize) &&
                                  ZQ_VI_REQUEST_SIZE(ZQ_VI_ENABLE_CHN) == sizeof(ViDrvChn) &&
                                  ZQ_VI_REQUEST_SIZE(ZQ_VI_GET_FRAME) == sizeof(ViDrvFrame) &&
                                  ZQ_VI_REQUEST_SIZE(ZQ_VI_RELEASE_FRAME) == sizeof(ViDrvFrame) &&
                                  ZQ_VI_REQUEST_SIZE(ZQ_VI_SET_FRM_RATE) == sizeof(ViDrvFrmRate) &&
                                  ZQ_VI_REQUEST_SIZE(ZQ_VI_BIND) == sizeof(ViDrvBind));

/* ---- operations: 0 or a result code 0xA0108000 + error ----
 * Channel rules: SetChnAttr and GetChnAttr take channel 0 only, the
 * extended-channel operations 1..5, the others 0..5. Set-up calls (Init,
 * the Set operations) are meant to be made from one thread. */

/* Resets the driver and forgets which attributes were set (ZQ_MPI_SYS_Init calls it). */
ZQ_API s32 ZQ_MPI_VI_Init(void) ZQ_NOEXCEPT;
/* Sends the capture rectangle, then the output size; a refusal of either
 * returns 0xA0108012 and keeps nothing. */
ZQ_API s32 ZQ_MPI_VI_SetChnAttr(s32 ViChn, const ViChnAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VI_GetChnAttr(s32 ViChn, ViChnAttr *pstAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VI_EnableChn(s32 ViChn) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VI_DisableChn(s32 ViChn) ZQ_NOEXCEPT;
/* The next captured frame; its buffer stays the caller's until ReleaseFrame.
 * A failed get writes nothing into pstFrameInfo. */
ZQ_API s32 ZQ_MPI_VI_GetFrame(s32 ViChn, ViFrameInfo *pstFrameInfo) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VI_ReleaseFrame(s32 ViChn, const ViFrameInfo *pstFrameInfo) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VI_SetExtChnAttr(s32 ViChn, const ViExtChnAttr *pstExtChnAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VI_GetExtChnAttr(s32 ViChn, ViExtChnAttr *pstExtChnAttr) ZQ_NOEXCEPT;
/* Keeps dstFrmRate of each second's srcFrmRate frames (1..30; 0 keeps none). */
ZQ_API s32 ZQ_MPI_VI_SetFrmRate(u32 ViChn, u32 srcFrmRate, u32 dstFrmRate) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VI_Bind(s32 ViChn, const ViBindDest *pstDestChn) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_VI_H */
