/* Flash-resident device data: the boot environment shared with the boot
 * loader, and the device identity record. */
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
 * has size characters or more. 0 when the variable exists, else -1. */
ZQ_API int ZQSDK_EnvReadKeyValue(const char *name, char *buffer, int size) ZQ_NOEXCEPT;

/* Sets name to value (null: the empty value) and saves the environment to
 * flash. 0 when saved, else -1. */
ZQ_API int ZQSDK_EnvWriteKeyValue(const char *name, const char *value) ZQ_NOEXCEPT;

/* The identity record: an opaque payload of 1 to ZQ_SN_MAX_PAYLOAD bytes
 * with a version word, checksummed in the last 2 KiB of its erase block. */
#define ZQ_SN_MAX_PAYLOAD 2032
#define SN_MAGIC 0xFEAD5238u

ZQ_API int ZQSDK_WriteSeriesNum(const void *data, u32 len, u32 version) ZQ_NOEXCEPT;

/* Copies the stored payload (its stored length, which must fit bufferSize)
 * and version when the record is intact. 0 on success, else -1. */
ZQ_API int ZQSDK_ReadSeriesNum(void *buffer, u32 bufferSize, u32 *version) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_FLASH_H */
