// The video input family: argument checks, a trace line and one request to
// "/dev/vi" per call. Its state is g_ViState: the driver's descriptor,
// opened on first need and never closed, and copies of the attributes set,
// which the Get operations answer from.
#include <fcntl.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "port/port.h"
#include "video/vi_keep_mask.h"
#include "zq_log.h"
#include "zq_vi.h"

namespace {

namespace port = zq::port;

constexpr s32 kViBadChannel = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_BAD_CHANNEL);
constexpr s32 kViBadRate = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_OUT_OF_RANGE);
constexpr s32 kViNullPointer = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_NULL_PTR);
constexpr s32 kViFailed = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_DRIVER);
constexpr s32 kViNoFrame = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_NO_DATA);
constexpr s32 kViOpenFailed = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_OPEN);
constexpr s32 kViRefused = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_REFUSED);
constexpr s32 kViEnableFailed = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_VI_ENABLE);
constexpr s32 kViDisableFailed = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_VI_DISABLE);
constexpr s32 kViBindFailed = ZQ_ERR_CODE(ZQ_MOD_VI, ZQ_ERR_VI_BIND);
static_assert(kViBadChannel == static_cast<s32>(0xA0108002) &&
              kViNoFrame == static_cast<s32>(0xA010800E) &&
              kViOpenFailed == static_cast<s32>(0xA0108010) &&
              kViRefused == static_cast<s32>(0xA0108012) &&
              kViBindFailed == static_cast<s32>(0xA0108048));

struct ViState {
    // -1 until the first successful open. Racing first calls each open the
    // device; one descriptor wins the swap and the others are closed.
    std::atomic<int> g_ViFd{-1};
    // Guards the flags and copies: set-up calls belong on one thread, but a
    // Get racing a Set then reads a whole record, never half of one.
    std::mutex attrLock;
    s32 g_ViChnCreated[ZQ_VI_MAX_CHN] = {};
    ViChnAttr g_ViChnAttr = {};
    ViExtChnAttr g_ViExtChnAttr[ZQ_VI_MAX_CHN] = {};
};

ViState g_ViState;

#define vi_fail(...) mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_VI, __VA_ARGS__)
#define vi_trace(...) mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_VI, __VA_ARGS__)

// Channel rules, tested unsigned: a negative channel is refused like any
// other channel outside the rule instead of reaching the driver.
bool channel_refused(s32 chn, u32 first, u32 last) {
    const auto n = static_cast<u32>(chn);
    if (n >= first && n <= last) return false;
    vi_fail("not support ViChn = %d\n", chn);
    return true;
}

bool null_pointer(const void *p, const char *message) {
    if (p) return false;
    vi_fail("%s", message);
    return true;
}

// The driver's descriptor, opened read-only on first need; -1 (logged) when
// it cannot be opened, and the next call tries again.
int vi_fd() {
    int fd = port::open_kept(g_ViState.g_ViFd, "/dev/vi", O_RDONLY);
    if (fd < 0) vi_fail("/dev/vi open failed\n");
    return fd;
}

int request(int fd, unsigned long code, void *record) {
    return port::ioctl(fd, code, record);
}

void frame_to_record(s32 chn, const ViFrameInfo &frame, ViDrvFrame *record) {
    *record = ViDrvFrame{};
    record->s32Chn = chn;
    record->u32BufferId = frame.u32BufferId;
    record->u32PhyAddrY = frame.u32PhyAddrY;
    record->u32PhyAddrUV = frame.u32PhyAddrUV;
    record->u32Width = frame.u32Width;
    record->u32Height = frame.u32Height;
}

// Only the fields the record carries; the rest of the caller's frame stays.
void record_to_frame(const ViDrvFrame &record, ViFrameInfo *frame) {
    frame->u32BufferId = record.u32BufferId;
    frame->u32PhyAddrY = record.u32PhyAddrY;
    frame->u32PhyAddrUV = record.u32PhyAddrUV;
    frame->u32Width = record.u32Width;
    frame->u32Height = record.u32Height;
    frame->u64Pts = record.u64Pts;
}

void trace_chn_attr(const char *function, s32 chn, const ViChnAttr &a) {
    vi_trace(
        "[%s]: ViChn[%d], stCapRect[%d, %d, %u, %u], stDestSize[%u, %u], "
        "s32SrcFrameRate[%d], s32FrameRate[%d]\n",
        function, chn, a.stCapRect.s32X, a.stCapRect.s32Y, a.stCapRect.u32Width,
        a.stCapRect.u32Height, a.stDestSize.u32Width, a.stDestSize.u32Height, a.s32SrcFrameRate,
        a.s32FrameRate);
}

s32 enable_or_disable(const char *function, s32 chn, unsigned long code, const char *failure,
                      s32 failureCode) {
    if (channel_refused(chn, 0, ZQ_VI_MAX_CHN - 1)) return kViBadChannel;
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    vi_trace("[%s]: ViChn[%d]\n", function, chn);
    ViDrvChn record{chn};
    if (request(fd, code, &record) < 0) {
        vi_fail(failure, chn);
        return failureCode;
    }
    return 0;
}

}  // namespace

extern "C" {

s32 ZQ_MPI_VI_Init(void) noexcept {
    vi_trace("[%s]: \n", __func__);
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    if (request(fd, ZQ_VI_RESET, nullptr) < 0) {
        vi_fail("vi init failed\n");
        return kViFailed;
    }
    std::lock_guard<std::mutex> hold(g_ViState.attrLock);
    std::memset(g_ViState.g_ViChnCreated, 0, sizeof g_ViState.g_ViChnCreated);
    return 0;
}

s32 ZQ_MPI_VI_SetChnAttr(s32 ViChn, const ViChnAttr *pstAttr) noexcept {
    if (channel_refused(ViChn, 0, 0)) return kViBadChannel;
    if (null_pointer(pstAttr, "pstAttr is null\n")) return kViNullPointer;
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    trace_chn_attr(__func__, ViChn, *pstAttr);
    ViRect rect = pstAttr->stCapRect;
    if (request(fd, ZQ_VI_SET_CAP_RECT, &rect) < 0) {
        vi_fail("vi set cutrect failed\n");
        return kViRefused;
    }
    // A refused output size leaves the channel without the size asked for:
    // reported, and the attributes are not taken.
    ViDrvSize size{0, pstAttr->stDestSize.u32Width, pstAttr->stDestSize.u32Height};
    if (request(fd, ZQ_VI_SET_DEST_SIZE, &size) < 0) {
        vi_fail("vi set destsize failed\n");
        return kViRefused;
    }
    std::lock_guard<std::mutex> hold(g_ViState.attrLock);
    g_ViState.g_ViChnCreated[0] = 1;
    g_ViState.g_ViChnAttr = *pstAttr;
    return 0;
}

s32 ZQ_MPI_VI_GetChnAttr(s32 ViChn, ViChnAttr *pstAttr) noexcept {
    if (channel_refused(ViChn, 0, 0)) return kViBadChannel;
    if (null_pointer(pstAttr, "pstAttr is null\n")) return kViNullPointer;
    {
        std::lock_guard<std::mutex> hold(g_ViState.attrLock);
        if (!g_ViState.g_ViChnCreated[0]) {
            vi_fail("vi chn %d not created\n", ViChn);
            return kViFailed;
        }
        *pstAttr = g_ViState.g_ViChnAttr;
    }
    trace_chn_attr(__func__, ViChn, *pstAttr);
    return 0;
}

s32 ZQ_MPI_VI_EnableChn(s32 ViChn) noexcept {
    return enable_or_disable(__func__, ViChn, ZQ_VI_ENABLE_CHN, "vi chn %d enable failed\n",
                             kViEnableFailed);
}

s32 ZQ_MPI_VI_DisableChn(s32 ViChn) noexcept {
    return enable_or_disable(__func__, ViChn, ZQ_VI_DISABLE_CHN, "vi chn %d disable failed\n",
                             kViDisableFailed);
}

s32 ZQ_MPI_VI_GetFrame(s32 ViChn, ViFrameInfo *pstFrameInfo) noexcept {
    if (channel_refused(ViChn, 0, ZQ_VI_MAX_CHN - 1)) return kViBadChannel;
    if (null_pointer(pstFrameInfo, "pstFrameInfo is null\n")) return kViNullPointer;
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    ViDrvFrame record{};
    record.s32Chn = ViChn;
    if (request(fd, ZQ_VI_GET_FRAME, &record) < 0) {
        vi_fail("vi chn %d get frame failed\n", ViChn);
        return kViNoFrame;
    }
    record_to_frame(record, pstFrameInfo);
    return 0;
}

s32 ZQ_MPI_VI_ReleaseFrame(s32 ViChn, const ViFrameInfo *pstFrameInfo) noexcept {
    if (channel_refused(ViChn, 0, ZQ_VI_MAX_CHN - 1)) return kViBadChannel;
    if (null_pointer(pstFrameInfo, "pstFrameInfo is null\n")) return kViNullPointer;
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    ViDrvFrame record;
    frame_to_record(ViChn, *pstFrameInfo, &record);
    int rc = request(fd, ZQ_VI_RELEASE_FRAME, &record);
    if (rc < 0) {
        vi_fail("vi chn %d release frame failed, ret = %d\n", ViChn, rc);
        return kViRefused;
    }
    return 0;
}

s32 ZQ_MPI_VI_SetExtChnAttr(s32 ViChn, const ViExtChnAttr *pstExtChnAttr) noexcept {
    if (channel_refused(ViChn, 1, ZQ_VI_MAX_CHN - 1)) return kViBadChannel;
    if (null_pointer(pstExtChnAttr, "pstExtChnAttr is null\n")) return kViNullPointer;
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    vi_trace("[%s]: ViChn[%d], u32Width[%u], u32Height[%u]\n", __func__, ViChn,
             pstExtChnAttr->u32Width, pstExtChnAttr->u32Height);
    ViDrvSize size{ViChn, pstExtChnAttr->u32Width, pstExtChnAttr->u32Height};
    int rc = request(fd, ZQ_VI_SET_DEST_SIZE, &size);
    if (rc < 0) {
        // Kept as it is: a refused size is logged with the release's text,
        // and its code is 0xA0108007.
        vi_fail("vi chn %d release frame failed, ret = %d\n", ViChn, rc);
        return kViFailed;
    }
    std::lock_guard<std::mutex> hold(g_ViState.attrLock);
    g_ViState.g_ViChnCreated[ViChn] = 1;
    g_ViState.g_ViExtChnAttr[ViChn] = *pstExtChnAttr;
    return 0;
}

s32 ZQ_MPI_VI_GetExtChnAttr(s32 ViChn, ViExtChnAttr *pstExtChnAttr) noexcept {
    if (channel_refused(ViChn, 1, ZQ_VI_MAX_CHN - 1)) return kViBadChannel;
    if (null_pointer(pstExtChnAttr, "pstExtChnAttr is null\n")) return kViNullPointer;
    {
        std::lock_guard<std::mutex> hold(g_ViState.attrLock);
        if (!g_ViState.g_ViChnCreated[ViChn]) {
            vi_fail("ViChn %d not created\n", ViChn);
            return kViFailed;
        }
        *pstExtChnAttr = g_ViState.g_ViExtChnAttr[ViChn];
    }
    vi_trace("[%s]: ViChn[%d], u32Width[%u], u32Height[%u]\n", __func__, ViChn,
             pstExtChnAttr->u32Width, pstExtChnAttr->u32Height);
    return 0;
}

s32 ZQ_MPI_VI_SetFrmRate(u32 ViChn, u32 srcFrmRate, u32 dstFrmRate) noexcept {
    if (channel_refused(static_cast<s32>(ViChn), 0, ZQ_VI_MAX_CHN - 1)) return kViBadChannel;
    if (srcFrmRate < 1 || srcFrmRate > zq::video::kViMaxFrameRate || dstFrmRate > srcFrmRate) {
        // Kept as it is: the unsigned rates are printed with %d.
        vi_fail("not support srcFrmRate = %d, dstFrmRate = %d\n", static_cast<int>(srcFrmRate),
                static_cast<int>(dstFrmRate));
        return kViBadRate;
    }
    vi_trace("[%s]: ViChn[%d], srcFrmRate[%u], dstFrmRate[%u]\n", __func__, static_cast<int>(ViChn),
             srcFrmRate, dstFrmRate);
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    u32 mask = dstFrmRate == 0 ? 0 : zq::video::ViFrameKeepMask[srcFrmRate - 1][dstFrmRate - 1];
    ViDrvFrmRate record{static_cast<s32>(ViChn), srcFrmRate - 1, mask};
    if (request(fd, ZQ_VI_SET_FRM_RATE, &record) < 0) {
        vi_fail("vi chn %d set div failed\n", static_cast<int>(ViChn));
        return kViFailed;
    }
    return 0;
}

s32 ZQ_MPI_VI_Bind(s32 ViChn, const ViBindDest *pstDestChn) noexcept {
    if (channel_refused(ViChn, 0, ZQ_VI_MAX_CHN - 1)) return kViBadChannel;
    if (null_pointer(pstDestChn, "pstDestChn is null\n")) return kViNullPointer;
    int fd = vi_fd();
    if (fd < 0) return kViOpenFailed;
    vi_trace("[%s]: ViChn[%d], enModId[%d], s32ChnId[%d]\n", __func__, ViChn, pstDestChn->enModId,
             pstDestChn->s32ChnId);
    s32 kind = pstDestChn->enModId == ZQ_MOD_VO ? ZQ_VI_BIND_TO_VO : ZQ_VI_BIND_TO_OTHER;
    ViDrvBind record{ViChn, kind, pstDestChn->s32ChnId};
    if (request(fd, ZQ_VI_BIND, &record) < 0) {
        vi_fail("vi chn %d set bind failed\n", ViChn);
        return kViBindFailed;
    }
    return 0;
}

}  // extern "C"
