/* Process and system utilities: shell commands, killing processes by their
 * command line, reboot, the chip temperature and the SDK version. */
#ifndef ZQ_SYSTEM_H
#define ZQ_SYSTEM_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The SDK build's version, as ZQSDK_GetVersion fills it. */
typedef struct VersionInfo {
    u32 u32Version; /* 1 */
    u32 u32Date;    /* YYYYMMDD */
    u32 u32Time;    /* HHMMSS */
    u8 u8Flag;      /* 1 */
    u8 au8Reserved[11];
} VersionInfo;

ZQ_LAYOUT_CHECK(VersionInfo, sizeof(VersionInfo) == 24 && offsetof(VersionInfo, u32Date) == 4 &&
                                 offsetof(VersionInfo, u32Time) == 8 &&
                                 offsetof(VersionInfo, u8Flag) == 12);

/* Temperature read of "/dev/temp_sensor": read direction, type 'T', number 1,
 * size 4; fills a signed 32-bit value in the driver's own unit. */
#define ZQ_TEMP_SENSOR_READ 0x80045401u

/* Runs cmdline with "/bin/sh -c" in a child that inherits only standard
 * input, output and error, and waits for it. 0: exit status 0; 1: any other
 * exit status (127: the command cannot be started); -1: ended by a signal,
 * no child or no wait, or a null cmdline. Safe from several threads; the
 * caller's thread blocks for the command's run time. The results are the
 * same when the program ignores SIGCHLD (or sets SA_NOCLDWAIT): a go-between
 * child then waits for the shell, and the disposition is left as it is. */
ZQ_API s32 ZQSDK_SafeSystem(const char *cmdline) ZQ_NOEXCEPT;

/* Sends SIGKILL to every process of "/proc" whose program name (first
 * argument) contains pProgName and, unless pProgArg is null, whose whole
 * command line (arguments joined by blanks) contains pProgArg. The calling
 * process is never killed, and a process that ended before the kill is no
 * failure. 0 when the scan ran to its end; -1 for a null or empty
 * pProgName, when "/proc" cannot be read, or at the first kill refused. */
ZQ_API s32 ZQSDK_Superkiller(const char *pProgName, const char *pProgArg) ZQ_NOEXCEPT;

/* Flushes the process's streams (the SDK log file among them) and the file
 * systems, waits 5 seconds, sets the speaker's mute to 0 (ZQ_MPI_AO_SetMute
 * with bEnable 0: not muted) and restarts the board. Returns only when the
 * restart is refused, with -1. */
ZQ_API s32 ZQSDK_SystemReboot(void) ZQ_NOEXCEPT;

/* The chip temperature in the driver's unit, asked of the driver at most
 * once per 30 seconds while it gives valid values (values of -1000 and less
 * are none). The 30 seconds run on the monotonic clock: setting the wall
 * clock neither keeps nor ages the value. 0, or -1 for a null pTemp, a
 * missing sensor, a refused request (the next call asks again) or no valid
 * value. Safe from several threads. */
ZQ_API s32 ZQSDK_GetTempurature(s32 *pTemp) ZQ_NOEXCEPT;

/* Fills the version record; -1004 when pVersion is null. */
ZQ_API s32 ZQSDK_GetVersion(VersionInfo *pVersion) ZQ_NOEXCEPT;

/* s32Size bytes of media memory named "extra", mapped: 0 with the address
 * and the physical address stored, or -1 (a size of 0 or less, a null
 * pointer, or the zone refused). */
ZQ_API s32 ZQSDK_ExtraMemoryAlloc(s32 s32Size, void **ppVirAddr, u32 *pu32PhyAddr) ZQ_NOEXCEPT;
/* Ends the mapping of a buffer from ZQSDK_ExtraMemoryAlloc; -1 for null. */
ZQ_API s32 ZQSDK_ExtraMemoryFree(void *pVirAddr) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_SYSTEM_H */
