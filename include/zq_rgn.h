/* Regions on the video input channels: on-screen display overlays (a bitmap
 * drawn through a 16-colour palette) and covers (solid rectangles), through
 * the region driver "/dev/rgn".
 *
 * Three input channels (0-2), 8 overlay handles and 32 cover handles per
 * channel. The family keeps a copy of every region's attributes; a call the
 * driver refuses leaves that copy as it was. Meant for one controlling
 * thread; only the first open of the device may race safely. */
#ifndef ZQ_RGN_H
#define ZQ_RGN_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZQ_RGN_CHANNELS 3
#define ZQ_RGN_OSD_HANDLES 8
#define ZQ_RGN_COVER_HANDLES 32
#define ZQ_RGN_PALLET_COLORS 16
#define ZQ_RGN_MAX_BITMAP_SIDE 4096 /* pixels */

/* enType of a region. */
#define ZQ_RGN_OSD 0
#define ZQ_RGN_COVER 1

/* u32Format of an overlay: bits per pixel 1 << u32Format. */
#define ZQ_RGN_FORMAT_1BPP 0
#define ZQ_RGN_FORMAT_2BPP 1
#define ZQ_RGN_FORMAT_4BPP 2

typedef struct RgnRect {
    s32 s32X;
    s32 s32Y;
    u32 u32Width;
    u32 u32Height;
} RgnRect;

typedef struct RgnOsdAttr {
    u32 u32ColorMap;
    u32 u32Effect;
    u32 u32Format;
    RgnRect stRect;
} RgnOsdAttr;

typedef struct RgnCoverAttr {
    u32 u32Color;
    u32 u32Effect;
    RgnRect stRect;
    u32 u32Reserved; /* not used by covers */
} RgnCoverAttr;

/* A region's attributes, given by callers and kept per region. The colour
 * map, effect and colour values are the driver's; they pass unchanged. */
typedef struct RgnAttr {
    u32 u32Handle;
    s32 enType; /* ZQ_RGN_OSD or ZQ_RGN_COVER */
    union {
        RgnOsdAttr stOsd;
        RgnCoverAttr stCover;
    } unAttr;
} RgnAttr;

/* The pixels of an overlay, packed rows of u32Width pixels at 1, 2 or 4
 * bits each. */
typedef struct RgnBitmap {
    u32 u32Handle;
    u32 u32Width;
    u32 u32Height;
    u32 u32Format;
    const void *pData;
} RgnBitmap;

/* The overlay palette of a channel: 16 colours of 32 bits. */
typedef struct RgnPallet {
    u32 au32Color[ZQ_RGN_PALLET_COLORS];
} RgnPallet;

/* ---- driver requests: type letter 'R', each a write of one record ---- */

/* Overlay create, and destroy with the last three words 0. */
typedef struct RgnOsdCreateReq {
    s32 s32ViChn;
    u32 u32Handle;
    u32 u32Width;
    u32 u32Height;
    u32 u32Format;
} RgnOsdCreateReq;

typedef struct RgnOsdAttrReq {
    s32 s32ViChn;
    u32 u32Handle;
    s32 s32X;
    s32 s32Y;
    u32 u32ColorMap;
    u32 u32Effect;
} RgnOsdAttrReq;

/* u32Length is the whole bytes of the pixels: ((w * h) << format + 7) >> 3. */
typedef struct RgnOsdBitmapReq {
    s32 s32ViChn;
    u32 u32Handle;
    const void *pData;
    u32 u32Length;
} RgnOsdBitmapReq;

/* Cover create, set attributes, and destroy with the last six words 0. */
typedef struct RgnCoverReq {
    s32 s32ViChn;
    u32 u32Handle;
    u32 u32Width;
    u32 u32Height;
    s32 s32X;
    s32 s32Y;
    u32 u32Color;
    u32 u32Effect;
} RgnCoverReq;

/* Show (bShow 1) or hide (0) an overlay or a cover. */
typedef struct RgnShowReq {
    s32 s32ViChn;
    u32 u32Handle;
    u32 bShow;
} RgnShowReq;

typedef struct RgnPalletReq {
    s32 s32ViChn;
    u32 au32Color[ZQ_RGN_PALLET_COLORS];
} RgnPalletReq;

#define ZQ_RGN_REQ_INIT 0x5201u /* no argument */
#define ZQ_RGN_REQ_OSD_CREATE 0x40145202u
#define ZQ_RGN_REQ_OSD_DESTROY 0x40145203u
#define ZQ_RGN_REQ_OSD_SET_ATTR 0x40185204u
#define ZQ_RGN_REQ_OSD_SHOW 0x400C5206u
#define ZQ_RGN_REQ_COVER_CREATE 0x40205207u
#define ZQ_RGN_REQ_COVER_DESTROY 0x40205208u
#define ZQ_RGN_REQ_COVER_SET_ATTR 0x40205209u
#define ZQ_RGN_REQ_COVER_SHOW 0x400C520Au
#define ZQ_RGN_REQ_SET_PALLET 0x4044520Bu
/* The bitmap request carries a pointer, and the request code carries the
 * record's size: 0x40105205 on the board (16 bytes), 0x40185205 on a 64-bit
 * host (24 bytes), where the pointer must arrive whole. */
#define ZQ_RGN_REQ_OSD_SET_BITMAP (0x40005205u | ((u32)sizeof(RgnOsdBitmapReq) << 16))

ZQ_LAYOUT_CHECK(RgnAttr, sizeof(RgnAttr) == 36 && offsetof(RgnAttr, unAttr) == 8 &&
                             offsetof(RgnAttr, unAttr.stOsd.u32Format) == 16 &&
                             offsetof(RgnAttr, unAttr.stOsd.stRect.s32X) == 20 &&
                             offsetof(RgnAttr, unAttr.stOsd.stRect.u32Height) == 32 &&
                             offsetof(RgnAttr, unAttr.stCover.stRect.s32X) == 16 &&
                             offsetof(RgnAttr, unAttr.stCover.stRect.u32Height) == 28);
ZQ_LAYOUT_CHECK(RgnPallet, sizeof(RgnPallet) == 64);
ZQ_LAYOUT_CHECK(RgnOsdCreateReq, sizeof(RgnOsdCreateReq) == 20);
ZQ_LAYOUT_CHECK(RgnOsdAttrReq, sizeof(RgnOsdAttrReq) == 24);
ZQ_LAYOUT_CHECK(RgnCoverReq, sizeof(RgnCoverReq) == 32 && offsetof(RgnCoverReq, s32X) == 16);
ZQ_LAYOUT_CHECK(RgnShowReq, sizeof(RgnShowReq) == 12);
ZQ_LAYOUT_CHECK(RgnPalletReq, sizeof(RgnPalletReq) == 68);
#if defined(ZQ_ABI_ARM32)
ZQ_LAYOUT_CHECK(RgnBitmap, sizeof(RgnBitmap) == 20 && offsetof(RgnBitmap, pData) == 16);
ZQ_LAYOUT_CHECK(RgnOsdBitmapReq, sizeof(RgnOsdBitmapReq) == 16 &&
                                     offsetof(RgnOsdBitmapReq, u32Length) == 12 &&
                                     ZQ_RGN_REQ_OSD_SET_BITMAP == 0x40105205u);
#elif defined(ZQ_ABI_LP64)
ZQ_LAYOUT_CHECK(RgnBitmap, sizeof(RgnBitmap) == 24 && offsetof(RgnBitmap, pData) == 16);
ZQ_LAYOUT_CHECK(RgnOsdBitmapReq, sizeof(RgnOsdBitmapReq) == 24 &&
                                     offsetof(RgnOsdBitmapReq, pData) == 8 &&
                                     ZQ_RGN_REQ_OSD_SET_BITMAP == 0x40185205u);
#endif

/* Each returns 0 or a result code of module 18: 0xA0128002 handle out of
 * range, 0xA0128003 channel, type or bitmap parameter out of range,
 * 0xA0128004 create or palette refused, 0xA0128005 set-attributes, show or
 * hide refused, 0xA0128006 null record or data, 0xA0128007 bitmap refused,
 * 0xA0128010 "/dev/rgn" cannot be opened, 0xA0128012 destroy refused. */
ZQ_API s32 ZQ_MPI_RGN_Init(void) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_RGN_SetPallet(s32 ViChn, const RgnPallet *pstPallet) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_RGN_Create(s32 ViChn, const RgnAttr *pstRegion) ZQ_NOEXCEPT;
/* Destroys the region named by u32Handle and enType of the record. */
ZQ_API s32 ZQ_MPI_RGN_Destroy(s32 ViChn, const RgnAttr *pstRegion) ZQ_NOEXCEPT;
/* The kept attributes of the region named by u32Handle and enType (all
 * zeros for a region that does not exist). */
ZQ_API s32 ZQ_MPI_RGN_GetAttr(s32 ViChn, RgnAttr *pstRegion) ZQ_NOEXCEPT;
/* An overlay's width, height and format stay those of its creation. */
ZQ_API s32 ZQ_MPI_RGN_SetAttr(s32 ViChn, const RgnAttr *pstRegion) ZQ_NOEXCEPT;
/* Hands the driver pData with the whole bytes of u32Width x u32Height pixels
 * (at most ZQ_RGN_MAX_BITMAP_SIDE each way); pData must hold that many.
 * Whether the bitmap fits the overlay is the driver's to judge: the SDK
 * knows only the length it derives from the record. */
ZQ_API s32 ZQ_MPI_RGN_SetBitMap(s32 ViChn, const RgnBitmap *pstBitmap) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_RGN_Enable(s32 ViChn, u32 Handle, s32 enType) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_RGN_Disable(s32 ViChn, u32 Handle, s32 enType) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_RGN_H */
