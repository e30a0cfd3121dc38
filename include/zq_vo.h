/* The video output: the display device's interface and panel timing, the
 * image (graphics) layer, the video layer and four display channels with
 * their rectangles, crops and on/off state, through the "/dev/vo" driver. */
#ifndef ZQ_VO_H
#define ZQ_VO_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One device (VoDev 0), one layer (VoLayer 0), four channels (VoChn 0..3). */
#define ZQ_VO_MAX_CHN 4

/* Interface type and timing codes of VoPubAttr. */
#define VO_INTF_LCD 64
#define VO_SYNC_480X272_ALT 29 /* as VO_SYNC_480X272, with the driver's flag */
#define VO_SYNC_480X272 30
#define VO_SYNC_800X480 31
#define VO_SYNC_1024X600 32
#define VO_SYNC_480X320 33
#define VO_SYNC_USER 34 /* timing from VoPubAttr.stUserSync */

/* Frame buffer formats of the image layer. */
#define VO_PIXFMT_ARGB1555 8  /* 16 bits a pixel, alpha in bit 15 */
#define VO_PIXFMT_ARGB8888 10 /* 32 bits a pixel, alpha in bits 24..31 */

typedef struct VoRect {
    s32 s32X;
    s32 s32Y;
    u32 u32Width;
    u32 u32Height;
} VoRect;

/* The user timing block (VO_SYNC_USER). Only u8Mode and the active,
 * timing 0, 1 and 2 values are read. An active width or height of 0 is
 * refused like an unknown timing code. */
typedef struct VoUserSync {
    u32 u32Reserved0;
    u32 u32Reserved1;
    u8 u8Mode; /* 8 sets the driver's flag */
    u8 u8Reserved;
    u16 u16VActive;
    u16 u16VTiming1;
    u16 u16VTiming0;
    u16 u16HActive;
    u16 u16HTiming1;
    u16 u16HTiming0;
    u16 au16Reserved[4];
    u16 u16HTiming2;
    u16 u16VTiming2;
    u16 u16Reserved;
    u32 au32Reserved[3];
} VoUserSync;

typedef struct VoPubAttr {
    u32 u32BgColor; /* 0x00RRGGBB, passed to the driver unchanged */
    s32 enIntfType; /* VO_INTF_LCD */
    s32 enIntfSync; /* VO_SYNC_... */
    VoUserSync stUserSync;
} VoPubAttr;

typedef struct VoChnAttr {
    u32 u32Priority; /* kept and logged, not sent */
    VoRect stRect;
    s32 bDeflicker; /* kept and logged, not sent */
} VoChnAttr;

typedef struct VoChnCrop {
    s32 bEnable; /* 0: no crop */
    VoRect stRect;
} VoChnCrop;

typedef struct VoImageLayerAttr {
    VoRect stRect;
    s32 enPixFormat; /* VO_PIXFMT_ARGB1555 or VO_PIXFMT_ARGB8888 */
    u32 u32PhyAddr;  /* the frame buffer's physical address */
    u32 u32Effect;
} VoImageLayerAttr;

/* Only the fifth and sixth fields reach the driver. */
typedef struct VoVideoLayerAttr {
    u32 au32Reserved[4];
    u32 u32Value0;
    u32 u32Value1;
} VoVideoLayerAttr;

ZQ_LAYOUT_CHECK(VoRect, sizeof(VoRect) == 16 && offsetof(VoRect, u32Height) == 12);
ZQ_LAYOUT_CHECK(VoUserSync, sizeof(VoUserSync) == 48 && offsetof(VoUserSync, u8Mode) == 8 &&
                                offsetof(VoUserSync, u16VActive) == 10 &&
                                offsetof(VoUserSync, u16HActive) == 16 &&
                                offsetof(VoUserSync, u16HTiming0) == 20 &&
                                offsetof(VoUserSync, u16HTiming2) == 30 &&
                                offsetof(VoUserSync, u16VTiming2) == 32 &&
                                offsetof(VoUserSync, au32Reserved) == 36);
ZQ_LAYOUT_CHECK(VoPubAttr, sizeof(VoPubAttr) == 60 && offsetof(VoPubAttr, enIntfSync) == 8 &&
                               offsetof(VoPubAttr, stUserSync) == 12);
ZQ_LAYOUT_CHECK(VoChnAttr, sizeof(VoChnAttr) == 24 && offsetof(VoChnAttr, stRect) == 4 &&
                               offsetof(VoChnAttr, bDeflicker) == 20);
ZQ_LAYOUT_CHECK(VoChnCrop, sizeof(VoChnCrop) == 20 && offsetof(VoChnCrop, stRect) == 4);
ZQ_LAYOUT_CHECK(VoImageLayerAttr, sizeof(VoImageLayerAttr) == 28 &&
                                      offsetof(VoImageLayerAttr, enPixFormat) == 16 &&
                                      offsetof(VoImageLayerAttr, u32PhyAddr) == 20 &&
                                      offsetof(VoImageLayerAttr, u32Effect) == 24);
ZQ_LAYOUT_CHECK(VoVideoLayerAttr,
                sizeof(VoVideoLayerAttr) == 24 && offsetof(VoVideoLayerAttr, u32Value0) == 16);

/* ---- the driver's requests (type 'O') and their records ---- */

/* The timing record: zero-filled, little-endian 32-bit words. */
typedef struct VoDrvTiming {
    u32 u32Zero0;
    u32 u32HValue0;
    u32 u32HValue1;
    u32 u32VValue0;
    u32 u32VValue1;
    u32 u32Zero1;
    u32 u32Flags; /* ZQ_VO_TIMING_FLAG or 0 */
    u32 u32BgColor;
    u32 u32HValue2;
    u32 u32VValue2;
    u32 u32LastColumn; /* active width - 1 */
    u32 u32LastLine;   /* active height - 1 */
} VoDrvTiming;

#define ZQ_VO_TIMING_FLAG 0x10000u

/* Channel rectangle: the width is sent twice. */
typedef struct VoDrvChnRect {
    s32 s32Chn;
    u32 u32Width;
    s32 s32X;
    s32 s32Y;
    u32 u32Width2;
    u32 u32Height;
} VoDrvChnRect;

typedef struct VoDrvChnCrop {
    s32 s32Chn;
    s32 bEnable;
    s32 s32X;
    s32 s32Y;
    u32 u32Width;
    u32 u32Height;
} VoDrvChnCrop;

typedef struct VoDrvChn {
    s32 s32Chn;
} VoDrvChn;

typedef struct VoDrvImageLayer {
    u32 u32Format; /* 0: ARGB1555, 1: ARGB8888 */
    u32 u32PhyAddr;
    s32 s32X;
    s32 s32Y;
    u32 u32Width;
    u32 u32Height;
    u32 u32Effect;
} VoDrvImageLayer;

typedef struct VoDrvVideoLayer {
    u32 u32Value0;
    u32 u32Value1;
    u32 au32Zero[2];
} VoDrvVideoLayer;

ZQ_LAYOUT_CHECK(VoDrvRecords, sizeof(VoDrvTiming) == 48 && offsetof(VoDrvTiming, u32Flags) == 24 &&
                                  offsetof(VoDrvTiming, u32BgColor) == 28 &&
                                  offsetof(VoDrvTiming, u32LastLine) == 44 &&
                                  sizeof(VoDrvChnRect) == 24 && sizeof(VoDrvChnCrop) == 24 &&
                                  sizeof(VoDrvChn) == 4 && sizeof(VoDrvImageLayer) == 28 &&
                                  sizeof(VoDrvVideoLayer) == 16);

#define ZQ_VO_SET_PUB_ATTR 0x40304F00u         /* write VoDrvTiming */
#define ZQ_VO_SET_CHN_ATTR 0x40184F01u         /* write VoDrvChnRect */
#define ZQ_VO_ENABLE_CHN 0x40044F02u           /* write VoDrvChn */
#define ZQ_VO_DISABLE_CHN 0x40044F03u          /* write VoDrvChn */
#define ZQ_VO_SET_IMAGE_LAYER_ATTR 0x401C4F04u /* write VoDrvImageLayer */
#define ZQ_VO_ENABLE_IMAGE_LAYER 0x4F05u       /* no record */
#define ZQ_VO_DISABLE_IMAGE_LAYER 0x4F06u      /* no record */
#define ZQ_VO_SET_VIDEO_LAYER_ATTR 0x40104F09u /* write VoDrvVideoLayer */
#define ZQ_VO_SET_CHN_CROP 0x40184F0Bu         /* write VoDrvChnCrop */

/* Results: 0, or 0xA00F8002 (device, layer or channel), 0xA00F8003 (crop),
 * 0xA00F8006 (null pointer), 0xA00F8008 (interface, timing or format),
 * 0xA00F8010 (no device), 0xA00F8012 (channel enable or disable refused),
 * 0xA00F8040, 0xA00F8045, 0xA00F8046, 0xA00F8047, 0xA00F804A (refused by
 * the driver: timing, layer enable, layer disable, layer attributes,
 * channel attributes or crop). A refused call changes nothing stored: a
 * record is kept once the driver has taken it, so a Get reports what the
 * display has. Failures are logged to the MPI log under module "vo".
 *
 * The calls may be made from several threads: a Get never sees half a
 * record, and the record kept is always the one the driver took last. */

/* Opens "/dev/vo" (once; a failed open is tried again by the next call)
 * and clears the stored public, channel and image layer attributes (crops
 * stay). No other call opens the device: before this one their requests
 * fail and are reported as refused by the driver. */
ZQ_API s32 ZQ_MPI_VO_Init(void) ZQ_NOEXCEPT;

ZQ_API s32 ZQ_MPI_VO_SetPubAttr(s32 VoDev, const VoPubAttr *pstPubAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VO_GetPubAttr(s32 VoDev, VoPubAttr *pstPubAttr) ZQ_NOEXCEPT;

ZQ_API s32 ZQ_MPI_VO_SetChnAttr(s32 VoLayer, s32 VoChn, const VoChnAttr *pstChnAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VO_GetChnAttr(s32 VoLayer, s32 VoChn, VoChnAttr *pstChnAttr) ZQ_NOEXCEPT;
/* An enabled crop is a window of half the channel's width and height that
 * lies within them. */
ZQ_API s32 ZQ_MPI_VO_SetChnCrop(s32 VoLayer, s32 VoChn, const VoChnCrop *pstChnCrop) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VO_GetChnCrop(s32 VoLayer, s32 VoChn, VoChnCrop *pstChnCrop) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VO_EnableChn(s32 VoLayer, s32 VoChn) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VO_DisableChn(s32 VoLayer, s32 VoChn) ZQ_NOEXCEPT;

ZQ_API s32 ZQ_MPI_VO_SetImageLayerAttr(s32 VoLayer,
                                       const VoImageLayerAttr *pstLayerAttr) ZQ_NOEXCEPT;
/* The attributes the driver last accepted (zero before any). */
ZQ_API s32 ZQ_MPI_VO_GetImageLayerAttr(s32 VoLayer, VoImageLayerAttr *pstLayerAttr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VO_EnableImageLayer(s32 VoLayer) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_VO_DisableImageLayer(s32 VoLayer) ZQ_NOEXCEPT;
/* VoLayer is not used. */
ZQ_API s32 ZQ_MPI_VO_SetVideoLayerAttr(s32 VoLayer,
                                       const VoVideoLayerAttr *pstLayerAttr) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_VO_H */
