/* Flash-resident device data: the boot environment shared with the boot
 * loader, and the device identity record.
 *
 * Writes. Each write rewrites a whole erase block of mtd0; where both share
 * one (a 192 KiB partition), a write of either keeps the other whole, and a
 * valid environment valid. Power lost during a write leaves the old value,
 * the new one, or nothing (an environment without variables, an invalid
 * record), never a mix. SIGINT, SIGTERM and SIGHUP wait on the writing
 * thread until the block is whole; the SDK's own threads never take them,
 * but another thread of the application that does not block them may. */
#ifndef ZQ_FLASH_H
#define ZQ_FLASH_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Longest variable name and value the environment takes. */
#define ZQ_ENV_NAME_MAX 23
#define ZQ_ENV_VALUE_MAX 31

/* Copies the value of variable name into buffer as a bounded string copy:
 * at most size bytes, NUL-filled when shorter, unterminated when the value
 * has size characters or more. 0 when the variable exists, else -1.
 *
 * An environment whose CRC does not match (erased flash, a save cut short)
 * holds no variables: reads find nothing, and the next write saves a valid
 * environment with what was set since. The environment is read from flash
 * once per process. */
ZQ_API int ZQSDK_EnvReadKeyValue(const char *name, char *buffer, int size) ZQ_NOEXCEPT;

/* Sets name to value (null: the empty value) and saves the environment to
 * flash. 0 when saved, else -1; an empty name, a name holding "=" and a
 * name or value over its limit are refused before anything is written. */
ZQ_API int ZQSDK_EnvWriteKeyValue(const char *name, const char *value) ZQ_NOEXCEPT;

/* The identity record: an opaque payload of 1 to ZQ_SN_MAX_PAYLOAD bytes
 * with a version word, checksummed in the last 2 KiB of its erase block. */
#define ZQ_SN_MAX_PAYLOAD 2032
#define SN_MAGIC 0xFEAD5238u

/* Stores len bytes of data (1 to ZQ_SN_MAX_PAYLOAD) with version as the
 * record; the rest of its erase block is kept. 0 when written, else -1.
 * Refused before anything is erased when "/proc/mtd" cannot be read: the
 * block's other user would be unknown. */
ZQ_API int ZQSDK_WriteSeriesNum(const void *data, u32 len, u32 version) ZQ_NOEXCEPT;

/* Copies the stored payload (its stored length, which must fit bufferSize)
 * and version when the record is intact. 0 on success, else -1. */
ZQ_API int ZQSDK_ReadSeriesNum(void *buffer, u32 bufferSize, u32 *version) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_FLASH_H */
