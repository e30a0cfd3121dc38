/* Physical register access through "/dev/mem", and the GPIO control built
 * on it: each GPIO line has one 32-bit pad control register, driven high or
 * low, or made an input and sampled, by fixed control words. */
#ifndef ZQ_REG_H
#define ZQ_REG_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The pad register of GPIO n is at ZQ_GPIO_REG_BASE + 4 * n. The block is
 * one 4 KiB page: pads 0 .. ZQ_GPIO_COUNT - 1. */
#define ZQ_GPIO_REG_BASE 0x10020000u
#define ZQ_GPIO_COUNT 1024

/* Control words of a pad register, and the input level bit read back after
 * ZQ_GPIO_PAD_INPUT was written. */
#define ZQ_GPIO_PAD_HIGH 0xC00u
#define ZQ_GPIO_PAD_LOW 0x400u
#define ZQ_GPIO_PAD_INPUT 0x1000u
#define ZQ_GPIO_PAD_LEVEL 0x2000u

/* Writes value as one 32-bit word at the physical address physAddr.
 * 0 when written; -1 when "/dev/mem" cannot be opened, the page cannot be
 * mapped, or physAddr is not a multiple of 4 (nothing written). */
ZQ_API int ZQ_RegWrite(u32 physAddr, u32 value) ZQ_NOEXCEPT;

/* Drives GPIO gpio high when level is 1, low for any other level.
 * 0 when written; -1 when gpio is outside 0 .. ZQ_GPIO_COUNT - 1 (nothing
 * written) or the register could not be written. */
ZQ_API int ZQ_GPIO_Write(int gpio, u8 level) ZQ_NOEXCEPT;

/* Makes GPIO gpio an input and stores its level, 1 or 0, through level.
 * 0 when sampled; -1 when level is null or gpio is outside the block
 * (nothing written, *level untouched), or when the register could not be
 * written or read (*level is then 0). */
ZQ_API int ZQ_GPIO_Read(int gpio, u8 *level) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_REG_H */
