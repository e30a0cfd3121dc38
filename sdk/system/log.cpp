// The MPI log (plain lines into the board's log driver, filtered per module
// by the driver's level table) and the SDK log (coloured console lines or a
// wrap-around log file, filtered by one process-wide level).
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "port/port.h"
#include "zq_log.h"

namespace {

namespace port = zq::port;

// Module names by module number; the empty name is a number nobody logs under.
constexpr char g_MpiModuleNames[ZQ_MOD_COUNT][16] = {
    "", "", "sys", "",   "", "vdec", "", "venc", "",   "",   "",     "",     "",
    "", "", "vo",  "vi", "", "rgn",  "", "",     "ai", "ao", "aenc", "adec",
};

struct LogState {
    // MPI log. The lock covers the lazy open and the level table, which the
    // driver rewrites in place on every call: a concurrent reader would
    // otherwise see half a table.
    std::mutex mpiLock;
    FILE *mpiStream = nullptr;
    MpiLogLevelEntry g_MpiLogLevels[ZQ_MPI_LOG_LEVEL_ENTRIES] = {
        {3, "sys"}, {3, "ai"}, {3, "ao"}, {3, "aenc"}, {3, "adec"},
        {3, "rgn"}, {3, "vi"}, {3, "vo"}, {3, "venc"}, {3, "vdec"},
    };

    // SDK log. The file is published once, with its size already set.
    std::atomic<s32> g_SdkLogLevel{ZQ_LOG_INFO};
    std::atomic<FILE *> g_SdkLogFile{nullptr};
    std::atomic<u32> g_SdkLogMaxSize{65536};
    std::mutex redirectLock;  // one ZQSDK_SetLog2File at a time
};

LogState g_LogState;

// Each thread formats its time text into its own buffer: the text is the
// same as with one shared buffer, but no thread can read another's
// half-written time.
thread_local char t_sdkLogTime[20];

static_assert(sizeof g_LogState.g_MpiLogLevels == 120, "driver table is 120 bytes");
// The driver's request code names one 12-byte entry, not the whole table.
static_assert(ZQ_MPI_LOG_GET_LEVELS == _IOR('L', 0, MpiLogLevelEntry));

constexpr u32 kDefaultLogFileSize = 65536;
constexpr u32 kLogFileSizeLimit = 5242880;

const char *module_name(s32 module) {
    return module >= 0 && module < ZQ_MOD_COUNT ? g_MpiModuleNames[module] : "";
}

// The first table entry whose name is a prefix of the module's name.
const MpiLogLevelEntry *level_entry(const char *moduleName) {
    for (const MpiLogLevelEntry &entry : g_LogState.g_MpiLogLevels) {
        size_t n = strnlen(entry.szName, sizeof entry.szName);
        if (std::strncmp(entry.szName, moduleName, n) == 0) return &entry;
    }
    return nullptr;
}

struct SdkLevel {
    const char *prefix;  // colour, time, [unit,] function, line and tag
    bool unit;
};

constexpr SdkLevel kSdkLevels[] = {
    {nullptr, false},
    {"\033[1;31m[%s] <%s> ==> %s(%d)[ERROR]: ", true},
    {"\033[1;33m[%s] <%s> ==> %s(%d)[WARN]: ", true},
    {"\033[1;33m[%s] ==> %s(%d)[NOTICE]: ", false},
    {"\033[1;32m[%s] ==> %s(%d)[INFO]: ", false},
    {"\033[1;34m[%s] ==> %s(%d)[DEBUG]: ", false},
};

void rewind_if_full(FILE *file) {
    if (static_cast<u32>(ftello(file)) >=
        g_LogState.g_SdkLogMaxSize.load(std::memory_order_relaxed))
        std::fseek(file, 0, SEEK_SET);
}

// Writes one SDK log line; the stream stays locked for the whole line so
// that lines of several threads never mix.
void write_sdk_line(FILE *stream, bool wrap, s32 level, const char *unit, const char *function,
                    s32 line, const char *format, va_list args) {
    const SdkLevel &style = kSdkLevels[level];
    unit = unit ? unit : "";
    function = function ? function : "";
    flockfile(stream);
    if (wrap) rewind_if_full(stream);
    if (style.unit)
        std::fprintf(stream, style.prefix, sdk_log_time(), unit, function, line);
    else
        std::fprintf(stream, style.prefix, sdk_log_time(), function, line);
    if (format) std::vfprintf(stream, format, args);
    std::fputs("\033[0;39m\n", stream);
    funlockfile(stream);
}

void write_sdk_line(FILE *stream, bool wrap, s32 level, const char *unit, const char *function,
                    s32 line, const char *format, ...) ZQ_PRINTF(7, 8);
void write_sdk_line(FILE *stream, bool wrap, s32 level, const char *unit, const char *function,
                    s32 line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    write_sdk_line(stream, wrap, level, unit, function, line, format, args);
    va_end(args);
}

}  // namespace

extern "C" {

int mpi_log(s32 level, s32 module, const char *format, ...) noexcept {
    FILE *stream;
    struct timespec now {};
    {
        std::lock_guard<std::mutex> hold(g_LogState.mpiLock);
        if (!g_LogState.mpiStream) {
            g_LogState.mpiStream = port::fopen("/dev/log", "w");
            if (!g_LogState.mpiStream) return -1;
        }
        stream = g_LogState.mpiStream;
        port::clock_gettime(CLOCK_MONOTONIC, &now);
        // A refused refresh leaves the table as it was.
        if (now.tv_sec > 0)
            port::ioctl(fileno(stream), ZQ_MPI_LOG_GET_LEVELS, g_LogState.g_MpiLogLevels);
        const MpiLogLevelEntry *entry = level_entry(module_name(module));
        if (!entry || entry->s32Level < level) return 0;
    }
    char message[256];
    va_list args;
    va_start(args, format);
    message[0] = '\0';
    if (format) std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::fprintf(stream, "%lu.%lu <%d>%s %s\n", static_cast<unsigned long>(now.tv_sec),
                 static_cast<unsigned long>(now.tv_nsec / 1000000), static_cast<int>(level),
                 module_name(module), message);
    std::fflush(stream);
    return 0;
}

void sdk_log(s32 level, const char *unit, const char *function, s32 line, const char *format,
             ...) noexcept {
    if (g_LogState.g_SdkLogLevel.load(std::memory_order_relaxed) < level) return;
    if (level < ZQ_LOG_ERROR || level > ZQ_LOG_DEBUG) return;  // no such level: nothing to write
    FILE *file = g_LogState.g_SdkLogFile.load(std::memory_order_acquire);
    FILE *stream = file ? file : (level == ZQ_LOG_ERROR ? stderr : stdout);
    va_list args;
    va_start(args, format);
    write_sdk_line(stream, file && level != ZQ_LOG_DEBUG, level, unit, function, line, format,
                   args);
    va_end(args);
}

const char *sdk_log_time(void) noexcept {
    struct timespec now {};
    port::clock_gettime(CLOCK_REALTIME, &now);
    time_t seconds = now.tv_sec;
    struct tm local {};
    if (!localtime_r(&seconds, &local) ||
        std::strftime(t_sdkLogTime, sizeof t_sdkLogTime, "%Y-%m-%d %H:%M:%S", &local) == 0)
        t_sdkLogTime[0] = '\0';
    return t_sdkLogTime;
}

void sdk_log_check_wrap(void) noexcept {
    FILE *file = g_LogState.g_SdkLogFile.load(std::memory_order_acquire);
    if (!file) return;
    flockfile(file);
    rewind_if_full(file);
    funlockfile(file);
}

s32 ZQSDK_SetLogLevel(s32 level) noexcept {
    g_LogState.g_SdkLogLevel.store(level, std::memory_order_relaxed);
    if (level > 2) ZQSDK_LOG(ZQ_LOG_NOTICE, "zq_system", "set zqsdk log %d\n", level);
    return 0;
}

s32 ZQSDK_SetLog2File(const LogParam *pstLogParam) noexcept {
    if (!pstLogParam) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "pstLogParam is NULL!\n");
        return -1;
    }
    std::lock_guard<std::mutex> hold(g_LogState.redirectLock);
    if (g_LogState.g_SdkLogFile.load(std::memory_order_acquire)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "The log file is already open!\n");
        return -1;
    }
    if (pstLogParam->u32MaxSize >= kLogFileSizeLimit) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "Log size more than 5M kbs!\n");
        return -1;
    }
    // A path that fills all 128 bytes has no terminator: refused like an empty one.
    char path[sizeof pstLogParam->szFilePath + 1] = {};
    std::memcpy(path, pstLogParam->szFilePath, sizeof pstLogParam->szFilePath);
    if (path[0] == '\0' || std::strlen(path) == sizeof pstLogParam->szFilePath) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "Redirect log to file[%s] failed!\n", path);
        return -1;
    }
    FILE *file = port::fopen(path, "w+");
    if (!file) {
        int error = errno;
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "Redirect log to file[%s] failed, %s\n", path,
                  std::strerror(error));
        return -1;
    }
    u32 size = pstLogParam->u32MaxSize;
    g_LogState.g_SdkLogMaxSize.store(size ? size : kDefaultLogFileSize, std::memory_order_relaxed);
    g_LogState.g_SdkLogFile.store(file, std::memory_order_release);
    // Said on the console whatever the level, and not into the new file.
    write_sdk_line(stdout, false, ZQ_LOG_INFO, "zq_system", __func__, __LINE__,
                   "Redirect log to file[%s] success, max size %d\n", path, static_cast<int>(size));
    return 0;
}

}  // extern "C"
