// The region family: overlays and covers on the video input channels. Each
// call checks its arguments, keeps a copy of every region's attributes in
// g_RgnTable and hands one fixed-size record to "/dev/rgn". A copy changes
// only when the driver took the request, so it always says what the driver
// has.
#include <fcntl.h>

#include <atomic>
#include <cstring>

#include "port/port.h"
#include "zq_log.h"
#include "zq_rgn.h"

namespace {

namespace port = zq::port;

constexpr s32 kRgnBadHandle = ZQ_ERR_CODE(ZQ_MOD_RGN, ZQ_ERR_BAD_CHANNEL);
constexpr s32 kRgnOutOfRange = ZQ_ERR_CODE(ZQ_MOD_RGN, ZQ_ERR_OUT_OF_RANGE);
constexpr s32 kRgnCreateRefused = ZQ_ERR_CODE(ZQ_MOD_RGN, 4);
constexpr s32 kRgnNotChanged = ZQ_ERR_CODE(ZQ_MOD_RGN, ZQ_ERR_NOT_ENABLED);
constexpr s32 kRgnNullPointer = ZQ_ERR_CODE(ZQ_MOD_RGN, ZQ_ERR_NULL_PTR);
constexpr s32 kRgnBitmapRefused = ZQ_ERR_CODE(ZQ_MOD_RGN, ZQ_ERR_DRIVER);
constexpr s32 kRgnOpenFailed = ZQ_ERR_CODE(ZQ_MOD_RGN, ZQ_ERR_OPEN);
constexpr s32 kRgnDestroyRefused = ZQ_ERR_CODE(ZQ_MOD_RGN, ZQ_ERR_REFUSED);
static_assert(kRgnBadHandle == static_cast<s32>(0xA0128002) &&
              kRgnCreateRefused == static_cast<s32>(0xA0128004) &&
              kRgnOpenFailed == static_cast<s32>(0xA0128010) &&
              kRgnDestroyRefused == static_cast<s32>(0xA0128012));

constexpr s32 kFail = ZQ_MPI_LOG_FAIL;
constexpr s32 kTrace = ZQ_MPI_LOG_TRACE;

// The family's process-wide state: the descriptor (-1 until the first open
// succeeds) and the kept attributes of every overlay and cover.
struct RgnTable {
    std::atomic<int> s32RgnFd{-1};
    RgnAttr astOsd[ZQ_RGN_CHANNELS][ZQ_RGN_OSD_HANDLES];
    RgnAttr astCover[ZQ_RGN_CHANNELS][ZQ_RGN_COVER_HANDLES];
};

RgnTable g_RgnTable{};

// The open descriptor, opened on first use. Two threads that open at once
// keep the first descriptor published and close their own.
int rgn_fd() {
    int fd = port::open_kept(g_RgnTable.s32RgnFd, "/dev/rgn", O_RDONLY);
    if (fd < 0) mpi_log(kFail, ZQ_MOD_RGN, "open /dev/rgn failed\n");
    return fd;
}

template <typename Record>
bool send(int fd, unsigned long request, Record *record) {
    return port::ioctl(fd, request, record) == 0;
}

// Channels are 0..2; a negative one is refused, never used as an index.
bool bad_channel(s32 chn) {
    if (chn >= 0 && chn < ZQ_RGN_CHANNELS) return false;
    mpi_log(kFail, ZQ_MOD_RGN, "not support ViChn = %d\n", chn);
    return true;
}

// The kept slot of a region, or null (logged) with the code in *rc.
RgnAttr *region_slot(s32 chn, u32 handle, s32 type, const char *unknownType, s32 *rc) {
    if (type != ZQ_RGN_OSD && type != ZQ_RGN_COVER) {
        mpi_log(kFail, ZQ_MOD_RGN, unknownType, type);
        *rc = kRgnOutOfRange;
        return nullptr;
    }
    const u32 handles = type == ZQ_RGN_OSD ? ZQ_RGN_OSD_HANDLES : ZQ_RGN_COVER_HANDLES;
    if (handle >= handles) {
        mpi_log(kFail, ZQ_MOD_RGN, "not support Handle = %d\n", static_cast<int>(handle));
        *rc = kRgnBadHandle;
        return nullptr;
    }
    return type == ZQ_RGN_OSD ? &g_RgnTable.astOsd[chn][handle] : &g_RgnTable.astCover[chn][handle];
}

// The common start and checks of the calls that take a region record: the
// device, channel, record, trace line, type and handle. The slot, or null
// with the code in *rc.
RgnAttr *checked_region(const char *call, s32 chn, const RgnAttr *region, int *fd, s32 *rc) {
    *fd = rgn_fd();
    if (*fd < 0) {
        *rc = kRgnOpenFailed;
        return nullptr;
    }
    if (bad_channel(chn)) {
        *rc = kRgnOutOfRange;
        return nullptr;
    }
    if (!region) {
        mpi_log(kFail, ZQ_MOD_RGN, "pstRegion is null\n");
        *rc = kRgnNullPointer;
        return nullptr;
    }
    mpi_log(kTrace, ZQ_MOD_RGN, "[%s]: ViChn[%d], u32Handle[%u], enType[%d]\n", call, chn,
            region->u32Handle, region->enType);
    return region_slot(chn, region->u32Handle, region->enType, "unknown enType %d\n", rc);
}

void trace_attributes(const char *call, const RgnAttr &r) {
    if (r.enType == ZQ_RGN_OSD) {
        const RgnOsdAttr &o = r.unAttr.stOsd;
        mpi_log(kTrace, ZQ_MOD_RGN,
                "[%s]: u32ColorMap[%x], u32Effect[%x], u32Format[%x], rect[%d, %d, %u, %u]\n", call,
                o.u32ColorMap, o.u32Effect, o.u32Format, o.stRect.s32X, o.stRect.s32Y,
                o.stRect.u32Width, o.stRect.u32Height);
    } else {
        const RgnCoverAttr &c = r.unAttr.stCover;
        mpi_log(kTrace, ZQ_MOD_RGN, "[%s]: u32Color[%x], u32Effect[%x], rect[%d, %d, %u, %u]\n",
                call, c.u32Color, c.u32Effect, c.stRect.s32X, c.stRect.s32Y, c.stRect.u32Width,
                c.stRect.u32Height);
    }
}

RgnOsdAttrReq osd_attr_request(s32 chn, const RgnAttr &r) {
    const RgnOsdAttr &o = r.unAttr.stOsd;
    return {chn, r.u32Handle, o.stRect.s32X, o.stRect.s32Y, o.u32ColorMap, o.u32Effect};
}

RgnCoverReq cover_request(s32 chn, const RgnAttr &r) {
    const RgnCoverAttr &c = r.unAttr.stCover;
    return {chn,           r.u32Handle,   c.stRect.u32Width, c.stRect.u32Height,
            c.stRect.s32X, c.stRect.s32Y, c.u32Color,        c.u32Effect};
}

// Creates the region in the driver and sets its attributes. When the
// attributes are refused, the new region is destroyed again, so a refused
// create leaves neither the driver nor the table changed.
s32 create_in_driver(int fd, s32 chn, const RgnAttr &r) {
    const bool osd = r.enType == ZQ_RGN_OSD;
    if (osd) {
        const RgnOsdAttr &o = r.unAttr.stOsd;
        RgnOsdCreateReq create{chn, r.u32Handle, o.stRect.u32Width, o.stRect.u32Height,
                               o.u32Format};
        if (!send(fd, ZQ_RGN_REQ_OSD_CREATE, &create)) {
            mpi_log(kFail, ZQ_MOD_RGN, " osd create\n");
            return kRgnCreateRefused;
        }
        RgnOsdAttrReq attr = osd_attr_request(chn, r);
        if (send(fd, ZQ_RGN_REQ_OSD_SET_ATTR, &attr)) return 0;
        mpi_log(kFail, ZQ_MOD_RGN, " osd set attr\n");
        RgnOsdCreateReq destroy{chn, r.u32Handle, 0, 0, 0};
        send(fd, ZQ_RGN_REQ_OSD_DESTROY, &destroy);
        return kRgnNotChanged;
    }
    RgnCoverReq cover = cover_request(chn, r);
    if (!send(fd, ZQ_RGN_REQ_COVER_CREATE, &cover)) {
        mpi_log(kFail, ZQ_MOD_RGN, " win create\n");
        return kRgnCreateRefused;
    }
    if (send(fd, ZQ_RGN_REQ_COVER_SET_ATTR, &cover)) return 0;
    mpi_log(kFail, ZQ_MOD_RGN, " win set attr\n");
    RgnCoverReq destroy{chn, r.u32Handle, 0, 0, 0, 0, 0, 0};
    send(fd, ZQ_RGN_REQ_COVER_DESTROY, &destroy);
    return kRgnNotChanged;
}

// Show or hide: the common start, channel check, trace and type.
s32 show(const char *call, s32 chn, u32 handle, s32 type, bool visible) {
    int fd = rgn_fd();
    if (fd < 0) return kRgnOpenFailed;
    if (bad_channel(chn)) return kRgnOutOfRange;
    mpi_log(kTrace, ZQ_MOD_RGN, "[%s]: ViChn[%d], Handle[%u], enType[%d]\n", call, chn, handle,
            type);
    s32 rc = 0;
    if (!region_slot(chn, handle, type, visible ? " unknown enType %d\n" : "unknown enType %d\n",
                     &rc))
        return rc;
    RgnShowReq request{chn, handle, visible ? 1u : 0u};
    if (send(fd, type == ZQ_RGN_OSD ? ZQ_RGN_REQ_OSD_SHOW : ZQ_RGN_REQ_COVER_SHOW, &request))
        return 0;
    mpi_log(kFail, ZQ_MOD_RGN, visible ? "rgn enable failed\n" : "rgn disable failed\n");
    return kRgnNotChanged;
}

}  // namespace

extern "C" {

s32 ZQ_MPI_RGN_Init(void) noexcept {
    int fd = rgn_fd();
    if (fd < 0) return kRgnOpenFailed;
    mpi_log(kTrace, ZQ_MOD_RGN, "[%s]: ", __func__);
    // A driver that has nothing to set up may refuse it; nothing depends on it.
    port::ioctl(fd, ZQ_RGN_REQ_INIT, nullptr);
    return 0;
}

s32 ZQ_MPI_RGN_SetPallet(s32 ViChn, const RgnPallet *pstPallet) noexcept {
    int fd = rgn_fd();
    if (fd < 0) return kRgnOpenFailed;
    if (bad_channel(ViChn)) return kRgnOutOfRange;
    if (!pstPallet) {
        mpi_log(kFail, ZQ_MOD_RGN, "pstPallet is null\n");
        return kRgnNullPointer;
    }
    mpi_log(kTrace, ZQ_MOD_RGN, "[%s]: ViChn[%d]\n", __func__, ViChn);
    RgnPalletReq request{ViChn, {}};
    std::memcpy(request.au32Color, pstPallet->au32Color, sizeof request.au32Color);
    if (send(fd, ZQ_RGN_REQ_SET_PALLET, &request)) return 0;
    mpi_log(kFail, ZQ_MOD_RGN, " osd pallet set\n");
    return kRgnCreateRefused;
}

s32 ZQ_MPI_RGN_Create(s32 ViChn, const RgnAttr *pstRegion) noexcept {
    int fd;
    s32 rc = 0;
    RgnAttr *slot = checked_region(__func__, ViChn, pstRegion, &fd, &rc);
    if (!slot) return rc;
    trace_attributes(__func__, *pstRegion);
    const RgnAttr region = *pstRegion;
    rc = create_in_driver(fd, ViChn, region);
    if (rc == 0) *slot = region;
    return rc;
}

s32 ZQ_MPI_RGN_Destroy(s32 ViChn, const RgnAttr *pstRegion) noexcept {
    int fd;
    s32 rc = 0;
    RgnAttr *slot = checked_region(__func__, ViChn, pstRegion, &fd, &rc);
    if (!slot) return rc;
    bool done;
    if (pstRegion->enType == ZQ_RGN_OSD) {
        RgnOsdCreateReq request{ViChn, pstRegion->u32Handle, 0, 0, 0};
        done = send(fd, ZQ_RGN_REQ_OSD_DESTROY, &request);
    } else {
        RgnCoverReq request{ViChn, pstRegion->u32Handle, 0, 0, 0, 0, 0, 0};
        done = send(fd, ZQ_RGN_REQ_COVER_DESTROY, &request);
    }
    if (!done) {
        mpi_log(kFail, ZQ_MOD_RGN, "destory rgn failed\n");
        return kRgnDestroyRefused;
    }
    std::memset(slot, 0, sizeof *slot);
    return 0;
}

s32 ZQ_MPI_RGN_GetAttr(s32 ViChn, RgnAttr *pstRegion) noexcept {
    int fd;
    s32 rc = 0;
    const RgnAttr *slot = checked_region(__func__, ViChn, pstRegion, &fd, &rc);
    if (!slot) return rc;
    *pstRegion = *slot;
    return 0;
}

s32 ZQ_MPI_RGN_SetAttr(s32 ViChn, const RgnAttr *pstRegion) noexcept {
    int fd;
    s32 rc = 0;
    RgnAttr *slot = checked_region(__func__, ViChn, pstRegion, &fd, &rc);
    if (!slot) return rc;
    trace_attributes(__func__, *pstRegion);
    RgnAttr region = *pstRegion;
    bool done;
    if (region.enType == ZQ_RGN_OSD) {
        // Only position, colour map and effect reach the driver: the size and
        // format kept are those the overlay was created with.
        region.unAttr.stOsd.u32Format = slot->unAttr.stOsd.u32Format;
        region.unAttr.stOsd.stRect.u32Width = slot->unAttr.stOsd.stRect.u32Width;
        region.unAttr.stOsd.stRect.u32Height = slot->unAttr.stOsd.stRect.u32Height;
        RgnOsdAttrReq request = osd_attr_request(ViChn, region);
        done = send(fd, ZQ_RGN_REQ_OSD_SET_ATTR, &request);
    } else {
        RgnCoverReq request = cover_request(ViChn, region);
        done = send(fd, ZQ_RGN_REQ_COVER_SET_ATTR, &request);
    }
    if (!done) {
        mpi_log(kFail, ZQ_MOD_RGN, " rgn set attr failed\n");
        return kRgnNotChanged;
    }
    *slot = region;
    return 0;
}

s32 ZQ_MPI_RGN_SetBitMap(s32 ViChn, const RgnBitmap *pstBitmap) noexcept {
    int fd = rgn_fd();
    if (fd < 0) return kRgnOpenFailed;
    if (!pstBitmap || !pstBitmap->pData) {
        mpi_log(kFail, ZQ_MOD_RGN, "pointer is NULL");
        return kRgnNullPointer;
    }
    const RgnBitmap &b = *pstBitmap;
    if (ViChn < 0 || ViChn >= ZQ_RGN_CHANNELS || b.u32Width > ZQ_RGN_MAX_BITMAP_SIDE ||
        b.u32Height > ZQ_RGN_MAX_BITMAP_SIDE || b.u32Format > ZQ_RGN_FORMAT_4BPP) {
        mpi_log(kFail, ZQ_MOD_RGN, "ILLEGAL_PARAM ch:%d w:%d h:%d f:%d\n", ViChn,
                static_cast<int>(b.u32Width), static_cast<int>(b.u32Height),
                static_cast<int>(b.u32Format));
        return kRgnOutOfRange;
    }
    if (b.u32Handle >= ZQ_RGN_OSD_HANDLES) {
        mpi_log(kFail, ZQ_MOD_RGN, "not support Handle = %d\n", static_cast<int>(b.u32Handle));
        return kRgnBadHandle;
    }
    mpi_log(kTrace, ZQ_MOD_RGN,
            "[%s]: ViChn[%d], u32Handle[%u], u32Width[%u], u32Height[%u], u32Format[%x], "
            "pData[%p]\n",
            __func__, ViChn, b.u32Handle, b.u32Width, b.u32Height, b.u32Format, b.pData);
    // At most 4096 x 4096 pixels of 4 bits: 8 MiB, well inside 32 bits.
    const u32 bits = (b.u32Width * b.u32Height) << b.u32Format;
    RgnOsdBitmapReq request;
    std::memset(&request, 0, sizeof request);  // no stack bytes in a 64-bit host's padding
    request.s32ViChn = ViChn;
    request.u32Handle = b.u32Handle;
    request.pData = b.pData;
    request.u32Length = (bits + 7) >> 3;
    if (send(fd, ZQ_RGN_REQ_OSD_SET_BITMAP, &request)) return 0;
    mpi_log(kFail, ZQ_MOD_RGN, "osd set bitmap failed\n");
    return kRgnBitmapRefused;
}

s32 ZQ_MPI_RGN_Enable(s32 ViChn, u32 Handle, s32 enType) noexcept {
    return show(__func__, ViChn, Handle, enType, true);
}

s32 ZQ_MPI_RGN_Disable(s32 ViChn, u32 Handle, s32 enType) noexcept {
    return show(__func__, ViChn, Handle, enType, false);
}

}  // extern "C"
