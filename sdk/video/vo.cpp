// The video output family: the display's interface and timing, the image
// and video layers and four display channels, each set with one request on
// "/dev/vo". Its state is g_VoState: the driver's descriptor and the records
// the driver last accepted.
//
// A refused call changes nothing stored: records are kept only once the
// driver has taken them, so a get always reports what the display has.
#include <fcntl.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "port/port.h"
#include "zq_log.h"
#include "zq_vo.h"

namespace {

namespace port = zq::port;

constexpr s32 kVoBadNumber = ZQ_ERR_CODE(ZQ_MOD_VO, ZQ_ERR_BAD_CHANNEL);
constexpr s32 kVoCropRefused = ZQ_ERR_CODE(ZQ_MOD_VO, ZQ_ERR_OUT_OF_RANGE);
constexpr s32 kVoNullPointer = ZQ_ERR_CODE(ZQ_MOD_VO, ZQ_ERR_NULL_PTR);
constexpr s32 kVoNotSupported = ZQ_ERR_CODE(ZQ_MOD_VO, 8);
constexpr s32 kVoOpenFailed = ZQ_ERR_CODE(ZQ_MOD_VO, ZQ_ERR_OPEN);
constexpr s32 kVoChnSwitchRefused = ZQ_ERR_CODE(ZQ_MOD_VO, ZQ_ERR_REFUSED);
constexpr s32 kVoPubAttrRefused = ZQ_ERR_CODE(ZQ_MOD_VO, 0x40);
constexpr s32 kVoLayerEnableRefused = ZQ_ERR_CODE(ZQ_MOD_VO, 0x45);
constexpr s32 kVoLayerDisableRefused = ZQ_ERR_CODE(ZQ_MOD_VO, 0x46);
constexpr s32 kVoLayerAttrRefused = ZQ_ERR_CODE(ZQ_MOD_VO, 0x47);
constexpr s32 kVoChnAttrRefused = ZQ_ERR_CODE(ZQ_MOD_VO, 0x4A);
static_assert(kVoBadNumber == static_cast<s32>(0xA00F8002) &&
              kVoNotSupported == static_cast<s32>(0xA00F8008) &&
              kVoOpenFailed == static_cast<s32>(0xA00F8010) &&
              kVoChnAttrRefused == static_cast<s32>(0xA00F804A));

struct VoState {
    std::atomic<int> g_VoFd{-1};
    // Guards the stored records from a set's check to its store, so a get
    // never sees half a record and a crop is checked against the channel
    // size the driver has. The request is sent under it too (a few
    // microseconds): the record stored is always the one the driver took
    // last.
    std::mutex recordLock;
    VoPubAttr g_VoPubAttr = {};
    VoChnAttr g_VoChnAttr[ZQ_VO_MAX_CHN] = {};
    VoChnCrop g_VoChnCrop[ZQ_VO_MAX_CHN] = {};  // not cleared by ZQ_MPI_VO_Init
    VoImageLayerAttr g_VoImageLayerAttr = {};
};

VoState g_VoState;

bool null_pointer(const void *p, const char *message) {
    if (p) return false;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "%s", message);
    return true;
}

bool bad_channel(s32 layer, s32 chn) {
    if (layer == 0 && chn >= 0 && chn < ZQ_VO_MAX_CHN) return false;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "not support VoLayer = %d VoChn = %d\n", layer, chn);
    return true;
}

bool bad_layer(s32 layer) {
    if (layer == 0) return false;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "not support VoLayer = %d\n", layer);
    return true;
}

bool bad_device(s32 dev) {
    if (dev == 0) return false;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "not support VoDev = %d\n", dev);
    return true;
}

// Before ZQ_MPI_VO_Init the descriptor is -1 and every request fails.
bool send(unsigned long code, void *record) {
    return port::ioctl(g_VoState.g_VoFd.load(std::memory_order_acquire), code, record) == 0;
}

struct SyncTiming {
    s32 code;
    u32 h0, h1, v0, v1, h2, v2, lastColumn, lastLine;
    bool flag;
};

constexpr SyncTiming kSyncTimings[] = {
    {VO_SYNC_480X272_ALT, 16, 50, 16, 32, 530, 287, 479, 271, true},
    {VO_SYNC_480X272, 16, 50, 16, 32, 530, 287, 479, 271, false},
    {VO_SYNC_800X480, 9, 13, 8, 12, 815, 495, 799, 479, false},
    {VO_SYNC_1024X600, 160, 160, 17, 18, 1344, 635, 1023, 599, false},
    {VO_SYNC_480X320, 64, 32, 15, 16, 575, 350, 479, 319, false},
};

// The timing record for attr's code; false for a code the driver does not
// know, or a user timing without active lines or columns (whose last
// column or line would wrap round to 0xFFFFFFFF).
bool timing_record(const VoPubAttr &attr, VoDrvTiming *record) {
    std::memset(record, 0, sizeof *record);
    record->u32BgColor = attr.u32BgColor;
    if (attr.enIntfSync == VO_SYNC_USER) {
        const VoUserSync &user = attr.stUserSync;
        if (user.u16HActive == 0 || user.u16VActive == 0) return false;
        *record = VoDrvTiming{0,
                              user.u16HTiming0,
                              user.u16HTiming1,
                              user.u16VTiming0,
                              user.u16VTiming1,
                              0,
                              user.u8Mode == 8 ? ZQ_VO_TIMING_FLAG : 0,
                              attr.u32BgColor,
                              user.u16HTiming2,
                              user.u16VTiming2,
                              user.u16HActive - 1u,
                              user.u16VActive - 1u};
        return true;
    }
    for (const SyncTiming &t : kSyncTimings) {
        if (t.code != attr.enIntfSync) continue;
        *record = VoDrvTiming{0,
                              t.h0,
                              t.h1,
                              t.v0,
                              t.v1,
                              0,
                              t.flag ? ZQ_VO_TIMING_FLAG : 0,
                              attr.u32BgColor,
                              t.h2,
                              t.v2,
                              t.lastColumn,
                              t.lastLine};
        return true;
    }
    return false;
}

void log_chn_attr(const char *function, s32 chn, const VoChnAttr &a) {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO,
            "[%s]: VoLayer[%d], VoChn[%d], u32Priority[%u], stRect[%d, %d, %u, %u], "
            "bDeflicker[%d]\n",
            function, 0, chn, a.u32Priority, a.stRect.s32X, a.stRect.s32Y, a.stRect.u32Width,
            a.stRect.u32Height, a.bDeflicker);
}

// The crop's first four fields, as the trace has always shown them.
void log_crop(const char *function, s32 chn, const VoChnCrop &c) {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO, "[%s]: VoLayer[%d], VoChn[%d], stRect[%d, %d, %u, %u]\n",
            function, 0, chn, c.bEnable, c.stRect.s32X, c.stRect.s32Y, c.stRect.u32Width);
}

void log_pub_attr(const char *function, const VoPubAttr &a) {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO, "[%s]: u32BgColor[%x], enIntfType[%d], enIntfSync[%d]\n",
            function, a.u32BgColor, a.enIntfType, a.enIntfSync);
}

// An enabled crop is a window of half the channel's size inside it.
bool crop_fits(const VoChnCrop &crop, const VoChnAttr &chn) {
    const VoRect &r = crop.stRect;
    return r.u32Width == chn.stRect.u32Width / 2 && r.u32Height == chn.stRect.u32Height / 2 &&
           static_cast<u32>(r.s32X) <= r.u32Width && static_cast<u32>(r.s32Y) <= r.u32Height;
}

s32 switch_channel(const char *function, s32 layer, s32 chn, bool enable) {
    if (bad_channel(layer, chn)) return kVoBadNumber;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO, "[%s]: VoLayer[%d], VoChn[%d]\n", function, 0, chn);
    VoDrvChn record{chn};
    if (send(enable ? ZQ_VO_ENABLE_CHN : ZQ_VO_DISABLE_CHN, &record)) return 0;
    if (enable)
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "enable vo chn %d failed\n", chn);
    else
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "disable vo chn %d failed\n", chn);
    return kVoChnSwitchRefused;
}

s32 switch_layer(const char *function, s32 layer, unsigned long code, s32 refusedCode) {
    if (bad_layer(layer)) return kVoBadNumber;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO, "[%s]: VoLayer[%d]\n", function, layer);
    if (send(code, nullptr)) return 0;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "enable volayer failed\n");
    return refusedCode;
}

}  // namespace

extern "C" {

s32 ZQ_MPI_VO_Init(void) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO, "[%s]: \n", __func__);
    if (port::open_kept(g_VoState.g_VoFd, "/dev/vo", O_RDONLY) < 0) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "/dev/vo open failed\n");
        return kVoOpenFailed;
    }
    std::lock_guard<std::mutex> hold(g_VoState.recordLock);
    g_VoState.g_VoPubAttr = VoPubAttr{};
    for (VoChnAttr &a : g_VoState.g_VoChnAttr) a = VoChnAttr{};
    g_VoState.g_VoImageLayerAttr = VoImageLayerAttr{};
    return 0;
}

s32 ZQ_MPI_VO_SetPubAttr(s32 VoDev, const VoPubAttr *pstPubAttr) noexcept {
    if (bad_device(VoDev)) return kVoBadNumber;
    if (null_pointer(pstPubAttr, "pstPubAttr is null\n")) return kVoNullPointer;
    if (pstPubAttr->enIntfType != VO_INTF_LCD) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "not support enIntfType = %x\n",
                pstPubAttr->enIntfType);
        return kVoNotSupported;
    }
    log_pub_attr(__func__, *pstPubAttr);
    VoDrvTiming record;
    if (!timing_record(*pstPubAttr, &record)) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "not support enIntfSync = %x\n",
                pstPubAttr->enIntfSync);
        return kVoNotSupported;
    }
    std::lock_guard<std::mutex> hold(g_VoState.recordLock);
    if (!send(ZQ_VO_SET_PUB_ATTR, &record)) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "set bub attr error\n");
        return kVoPubAttrRefused;
    }
    g_VoState.g_VoPubAttr = *pstPubAttr;
    return 0;
}

s32 ZQ_MPI_VO_GetPubAttr(s32 VoDev, VoPubAttr *pstPubAttr) noexcept {
    if (null_pointer(pstPubAttr, "pstPubAttr is null\n")) return kVoNullPointer;
    if (bad_device(VoDev)) return kVoBadNumber;
    {
        std::lock_guard<std::mutex> hold(g_VoState.recordLock);
        *pstPubAttr = g_VoState.g_VoPubAttr;
    }
    log_pub_attr(__func__, *pstPubAttr);
    return 0;
}

s32 ZQ_MPI_VO_SetChnAttr(s32 VoLayer, s32 VoChn, const VoChnAttr *pstChnAttr) noexcept {
    if (bad_channel(VoLayer, VoChn)) return kVoBadNumber;
    if (null_pointer(pstChnAttr, "pstChnAttr is null\n")) return kVoNullPointer;
    log_chn_attr(__func__, VoChn, *pstChnAttr);
    const VoRect &r = pstChnAttr->stRect;
    VoDrvChnRect record{VoChn, r.u32Width, r.s32X, r.s32Y, r.u32Width, r.u32Height};
    std::lock_guard<std::mutex> hold(g_VoState.recordLock);
    if (!send(ZQ_VO_SET_CHN_ATTR, &record)) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "set vo chn attr failed\n");
        return kVoChnAttrRefused;
    }
    g_VoState.g_VoChnAttr[VoChn] = *pstChnAttr;
    return 0;
}

s32 ZQ_MPI_VO_GetChnAttr(s32 VoLayer, s32 VoChn, VoChnAttr *pstChnAttr) noexcept {
    if (bad_channel(VoLayer, VoChn)) return kVoBadNumber;
    if (null_pointer(pstChnAttr, "pstChnAttr is null\n")) return kVoNullPointer;
    {
        std::lock_guard<std::mutex> hold(g_VoState.recordLock);
        *pstChnAttr = g_VoState.g_VoChnAttr[VoChn];
    }
    log_chn_attr(__func__, VoChn, *pstChnAttr);
    return 0;
}

s32 ZQ_MPI_VO_SetChnCrop(s32 VoLayer, s32 VoChn, const VoChnCrop *pstChnCrop) noexcept {
    if (bad_channel(VoLayer, VoChn)) return kVoBadNumber;
    if (null_pointer(pstChnCrop, "pstChnCrop is null\n")) return kVoNullPointer;
    std::lock_guard<std::mutex> hold(g_VoState.recordLock);
    const VoRect &r = pstChnCrop->stRect;
    if (pstChnCrop->bEnable && !crop_fits(*pstChnCrop, g_VoState.g_VoChnAttr[VoChn])) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "not support [%d, %d, %u, %u]\n", r.s32X, r.s32Y,
                r.u32Width, r.u32Height);
        return kVoCropRefused;
    }
    log_crop(__func__, VoChn, *pstChnCrop);
    VoDrvChnCrop record{VoChn, pstChnCrop->bEnable, r.s32X, r.s32Y, r.u32Width, r.u32Height};
    if (!send(ZQ_VO_SET_CHN_CROP, &record)) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "set vo chn attr failed\n");
        return kVoChnAttrRefused;
    }
    g_VoState.g_VoChnCrop[VoChn] = *pstChnCrop;
    return 0;
}

s32 ZQ_MPI_VO_GetChnCrop(s32 VoLayer, s32 VoChn, VoChnCrop *pstChnCrop) noexcept {
    if (bad_channel(VoLayer, VoChn)) return kVoBadNumber;
    if (null_pointer(pstChnCrop, "pstChnAttr is null\n")) return kVoNullPointer;
    {
        std::lock_guard<std::mutex> hold(g_VoState.recordLock);
        *pstChnCrop = g_VoState.g_VoChnCrop[VoChn];
    }
    log_crop(__func__, VoChn, *pstChnCrop);
    return 0;
}

s32 ZQ_MPI_VO_EnableChn(s32 VoLayer, s32 VoChn) noexcept {
    return switch_channel(__func__, VoLayer, VoChn, true);
}

s32 ZQ_MPI_VO_DisableChn(s32 VoLayer, s32 VoChn) noexcept {
    return switch_channel(__func__, VoLayer, VoChn, false);
}

s32 ZQ_MPI_VO_SetImageLayerAttr(s32 VoLayer, const VoImageLayerAttr *pstLayerAttr) noexcept {
    if (bad_layer(VoLayer)) return kVoBadNumber;
    if (null_pointer(pstLayerAttr, "pstLayerAttr is null\n")) return kVoNullPointer;
    const VoImageLayerAttr &a = *pstLayerAttr;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO,
            "[%s]: VoLayer[%d], Rect[%d, %d, %u, %u], u32PhyAddr[%08x], u32Effect[%x], "
            "enPixFormat[%d]\n",
            __func__, VoLayer, a.stRect.s32X, a.stRect.s32Y, a.stRect.u32Width, a.stRect.u32Height,
            a.u32PhyAddr, a.u32Effect, a.enPixFormat);
    if (a.enPixFormat != VO_PIXFMT_ARGB1555 && a.enPixFormat != VO_PIXFMT_ARGB8888) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "not support enPixFormat = %x\n", a.enPixFormat);
        return kVoNotSupported;
    }
    VoDrvImageLayer record{a.enPixFormat == VO_PIXFMT_ARGB1555 ? 0u : 1u,
                           a.u32PhyAddr,
                           a.stRect.s32X,
                           a.stRect.s32Y,
                           a.stRect.u32Width,
                           a.stRect.u32Height,
                           a.u32Effect};
    std::lock_guard<std::mutex> hold(g_VoState.recordLock);
    if (!send(ZQ_VO_SET_IMAGE_LAYER_ATTR, &record)) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "set layer attr failed\n");
        return kVoLayerAttrRefused;
    }
    g_VoState.g_VoImageLayerAttr = a;
    return 0;
}

s32 ZQ_MPI_VO_GetImageLayerAttr(s32 VoLayer, VoImageLayerAttr *pstLayerAttr) noexcept {
    if (null_pointer(pstLayerAttr, "pstLayerAttr is null\n")) return kVoNullPointer;
    if (bad_layer(VoLayer)) return kVoBadNumber;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VO, "[%s]: VoLayer[%d]\n", __func__, VoLayer);
    std::lock_guard<std::mutex> hold(g_VoState.recordLock);
    *pstLayerAttr = g_VoState.g_VoImageLayerAttr;
    return 0;
}

s32 ZQ_MPI_VO_EnableImageLayer(s32 VoLayer) noexcept {
    return switch_layer(__func__, VoLayer, ZQ_VO_ENABLE_IMAGE_LAYER, kVoLayerEnableRefused);
}

s32 ZQ_MPI_VO_DisableImageLayer(s32 VoLayer) noexcept {
    return switch_layer(__func__, VoLayer, ZQ_VO_DISABLE_IMAGE_LAYER, kVoLayerDisableRefused);
}

s32 ZQ_MPI_VO_SetVideoLayerAttr(s32 /*VoLayer*/, const VoVideoLayerAttr *pstLayerAttr) noexcept {
    if (null_pointer(pstLayerAttr, "pstLayerAttr is null\n")) return kVoNullPointer;
    VoDrvVideoLayer record{pstLayerAttr->u32Value0, pstLayerAttr->u32Value1, {0, 0}};
    if (send(ZQ_VO_SET_VIDEO_LAYER_ATTR, &record)) return 0;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VO, "set video layer attr failed\n");
    return kVoLayerAttrRefused;
}

}  // extern "C"
