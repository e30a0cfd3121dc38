// Reboot, chip temperature and SDK version of the zq_system unit.
#include <sys/reboot.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "port/port.h"
#include "zq_ao.h"
#include "zq_log.h"
#include "zq_system.h"

namespace {

namespace port = zq::port;

constexpr s32 kNoTemperature = -1000;   // this and below: no valid reading
constexpr s32 kTemperatureMaxAge = 30;  // seconds between driver reads

// The temperature cache. The lock makes the lazy open and the cache safe
// for concurrent callers.
struct TempState {
    std::mutex lock;
    int g_TempFd = -1;
    s32 g_TempValue = kNoTemperature;
    s32 g_TempTime = -1;  // board uptime seconds of the last driver read; -1: never asked
};

TempState g_Temp;

// The cache ages on the monotonic clock: a wall clock set back must not
// freeze the value, nor one set forward expire it.
s32 uptime_seconds() {
    struct timespec now {};
    port::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<s32>(now.tv_sec);
}

}  // namespace

s32 ZQSDK_SystemReboot(void) noexcept {
    ZQSDK_LOG(ZQ_LOG_INFO, "zq_system", "Sys Will Reboot\n");
    // Our own buffered lines (the SDK log file among them) first, so that
    // the sync takes them to storage.
    std::fflush(nullptr);
    port::sync();
    port::sleep_ms(5000);
    ZQ_MPI_AO_SetMute(0, 0, nullptr);
    return port::reboot(RB_AUTOBOOT);
}

s32 ZQSDK_GetTempurature(s32 *pTemp) noexcept {
    if (!pTemp) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "Error: temp is null\n");
        return -1;
    }
    std::lock_guard<std::mutex> hold(g_Temp.lock);
    if (g_Temp.g_TempFd < 0) {
        g_Temp.g_TempFd = port::open("/dev/temp_sensor", O_RDONLY);
        if (g_Temp.g_TempFd < 0) return -1;
    }
    s32 now = uptime_seconds();
    if (g_Temp.g_TempValue <= kNoTemperature || g_Temp.g_TempTime == -1 ||
        now - g_Temp.g_TempTime >= kTemperatureMaxAge) {
        s32 value = kNoTemperature;
        // A refused request leaves no reading: the next call asks again
        // rather than reporting an old value as fresh.
        if (port::ioctl(g_Temp.g_TempFd, ZQ_TEMP_SENSOR_READ, &value) != 0) value = kNoTemperature;
        g_Temp.g_TempValue = value;
        g_Temp.g_TempTime = now;
    }
    if (g_Temp.g_TempValue <= kNoTemperature) return -1;
    *pTemp = g_Temp.g_TempValue;
    return 0;
}

s32 ZQSDK_GetVersion(VersionInfo *pVersion) noexcept {
    if (!pVersion) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "pVersion is null");
        return -1004;
    }
    std::memset(pVersion, 0, sizeof *pVersion);
    pVersion->u32Version = 1;
    pVersion->u32Date = 20210327;
    pVersion->u32Time = 113429;
    pVersion->u8Flag = 1;
    return 0;
}
