/* The SDK's two log facilities.
 *
 * mpi_log writes plain lines into the board's log driver "/dev/log", filtered
 * per module by a level table the driver supplies. sdk_log writes coloured
 * lines to the console (errors to standard error, the rest to standard
 * output) or, after ZQSDK_SetLog2File, to a wrap-around file, filtered by one
 * process-wide level.
 *
 * Both may be called from any thread: a line is always written whole, never
 * mixed with another thread's. */
#ifndef ZQ_LOG_H
#define ZQ_LOG_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One entry of the MPI log level table, as the log driver fills it. */
typedef struct MpiLogLevelEntry {
    s32 s32Level;   /* highest (least severe) level still written */
    char szName[8]; /* module name prefix, NUL-padded; may fill all 8 bytes */
} MpiLogLevelEntry;

ZQ_LAYOUT_CHECK(MpiLogLevelEntry,
                sizeof(MpiLogLevelEntry) == 12 && offsetof(MpiLogLevelEntry, szName) == 4);

#define ZQ_MPI_LOG_LEVEL_ENTRIES 10
/* Read the driver's level table: read direction, type 'L', number 0, size 12. */
#define ZQ_MPI_LOG_GET_LEVELS 0x800C4C00u

/* MPI log levels used by the driver families. */
enum { ZQ_MPI_LOG_FAIL = 3, ZQ_MPI_LOG_TRACE = 6 };

/* SDK log levels; smaller is more severe. */
enum { ZQ_LOG_ERROR = 1, ZQ_LOG_WARN = 2, ZQ_LOG_NOTICE = 3, ZQ_LOG_INFO = 4, ZQ_LOG_DEBUG = 5 };

/* Where ZQSDK_SetLog2File sends the SDK log. */
typedef struct LogParam {
    char szFilePath[128]; /* NUL-terminated path of the log file */
    u32 u32MaxSize;       /* wrap size in bytes; 0 selects 65536; 5 MiB and more refused */
} LogParam;

ZQ_LAYOUT_CHECK(LogParam, sizeof(LogParam) == 132 && offsetof(LogParam, u32MaxSize) == 128);

/* Writes one line, stamped with the monotonic clock, when the module's
 * entry of the level table lets level through. Returns -1 when "/dev/log"
 * cannot be opened, otherwise 0. */
ZQ_API int mpi_log(s32 level, s32 module, const char *format, ...) ZQ_NOEXCEPT ZQ_PRINTF(3, 4);

/* unit: source unit ("env", "sn", "wifi", "zq_system", "json_parse");
 * function and line: where the message comes from. A level outside
 * ZQ_LOG_ERROR .. ZQ_LOG_DEBUG writes nothing. */
ZQ_API void sdk_log(s32 level, const char *unit, const char *function, s32 line, const char *format,
                    ...) ZQ_NOEXCEPT ZQ_PRINTF(5, 6);

/* The local time as "YYYY-MM-DD HH:MM:SS". The buffer belongs to the calling
 * thread and stays valid until that thread calls again. */
ZQ_API const char *sdk_log_time(void) ZQ_NOEXCEPT;

/* Rewinds the log file once it has reached its wrap size. */
ZQ_API void sdk_log_check_wrap(void) ZQ_NOEXCEPT;

ZQ_API s32 ZQSDK_SetLogLevel(s32 level) ZQ_NOEXCEPT;
/* Sends the SDK log to a file from now on, for the rest of the process.
 * 0, or -1 for a null record, an empty path or one without a terminator in
 * its 128 bytes, a wrap size of 5 MiB or more, a file that cannot be made,
 * or when a file is already set. */
ZQ_API s32 ZQSDK_SetLog2File(const LogParam *pstLogParam) ZQ_NOEXCEPT;

/* Logs with the calling function's name and the statement's line. */
#define ZQSDK_LOG(level, unit, ...) sdk_log((level), (unit), __func__, __LINE__, __VA_ARGS__)

#ifdef __cplusplus
}
#endif

#endif /* ZQ_LOG_H */
