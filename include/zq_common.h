/* Types, export macro and result codes shared by every family of the SDK. */
#ifndef ZQ_COMMON_H
#define ZQ_COMMON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;

/* Only the public functions leave the shared library. */
#if defined(__GNUC__)
#define ZQ_API __attribute__((visibility("default")))
#define ZQ_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define ZQ_API
#define ZQ_PRINTF(fmt, args)
#endif

/* Record layouts are ABI. ZQ_LAYOUT_CHECK(name, condition) stops the build
 * when a layout is not the documented one, in C++, C11 and C99 alike. The
 * board is 32-bit ARM (EABI): pointers and long are 4 bytes there, and a u64
 * field is 8-byte aligned. Records that hold pointers or u64 fields are
 * checked for that ABI (ZQ_ABI_ARM32) and for 64-bit hosts (ZQ_ABI_LP64). */
#if defined(__cplusplus)
#define ZQ_LAYOUT_CHECK(name, condition) static_assert(condition, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ZQ_LAYOUT_CHECK(name, condition) _Static_assert(condition, #name)
#else
#define ZQ_LAYOUT_CHECK(name, condition) typedef char zq_layout_##name[(condition) ? 1 : -1]
#endif
#if defined(__arm__) && UINTPTR_MAX == 0xFFFFFFFFu
#define ZQ_ABI_ARM32 1
#elif UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
#define ZQ_ABI_LP64 1
#endif

/* Entry points never let a C++ exception out. */
#ifdef __cplusplus
#define ZQ_NOEXCEPT noexcept
#else
#define ZQ_NOEXCEPT
#endif

/* Module numbers: the index into the MPI log's module name table and the
 * middle byte of the driver families' result codes. */
enum {
    ZQ_MOD_SYS = 2,
    ZQ_MOD_VDEC = 5,
    ZQ_MOD_VENC = 7,
    ZQ_MOD_VO = 15,
    ZQ_MOD_VI = 16,
    ZQ_MOD_RGN = 18,
    ZQ_MOD_AI = 21,
    ZQ_MOD_AO = 22,
    ZQ_MOD_AENC = 23,
    ZQ_MOD_ADEC = 24,
    ZQ_MOD_COUNT = 25
};

/* Error numbers of the driver families. */
enum {
    ZQ_ERR_BAD_DEVICE = 1,
    ZQ_ERR_BAD_CHANNEL = 2,
    ZQ_ERR_OUT_OF_RANGE = 3,
    ZQ_ERR_NOT_ENABLED = 5,
    ZQ_ERR_NULL_PTR = 6,
    ZQ_ERR_DRIVER = 7,
    ZQ_ERR_NO_MEMORY = 12,
    ZQ_ERR_NO_DATA = 14,
    ZQ_ERR_OPEN = 16,
    ZQ_ERR_REFUSED = 18,
    ZQ_ERR_VI_ENABLE = 64,
    ZQ_ERR_VI_DISABLE = 65,
    ZQ_ERR_VI_BIND = 72
};

/* 0xA0000000 + module << 16 + 0x8000 + error, as the s32 the calls return:
 * ZQ_ERR_CODE(ZQ_MOD_AO, ZQ_ERR_BAD_DEVICE) is 0xA0168001. */
#define ZQ_ERR_CODE(module, error) \
    ((s32)(0xA0000000u + ((u32)(module) << 16) + 0x8000u + (u32)(error)))

#ifdef __cplusplus
}
#endif

#endif /* ZQ_COMMON_H */
