/* The media memory zone: physically contiguous buffers that the board's
 * "/dev/mmz" driver hands out by name, their mappings into the process, and
 * mappings of any physical range. The calls may be made from several
 * threads. Failures are logged to the MPI log under module "sys". */
#ifndef ZQ_SYS_H
#define ZQ_SYS_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The record of the driver's requests: little-endian, zero-filled before
 * each request. */
typedef struct MmzRequest {
    char szMmbName[32]; /* buffer name, NUL-padded; 32 characters leave no NUL */
    u32 u32Len;         /* length in bytes */
    u32 u32PhyAddr;     /* physical address */
    u32 u32VirAddr;     /* virtual address of the range (flush only) */
} MmzRequest;

ZQ_LAYOUT_CHECK(MmzRequest, sizeof(MmzRequest) == 44 && offsetof(MmzRequest, u32Len) == 32 &&
                                offsetof(MmzRequest, u32PhyAddr) == 36 &&
                                offsetof(MmzRequest, u32VirAddr) == 40);

/* Driver requests of "/dev/mmz" (type 'M'). */
#define ZQ_MMZ_RESET 0x00004D00u        /* no record, argument 0 */
#define ZQ_MMZ_ALLOC 0xC02C4D01u        /* name, length in; length, address out */
#define ZQ_MMZ_GET_ADDR 0x802C4D03u     /* name in; length, address out */
#define ZQ_MMZ_ALLOC_CACHED 0xC02C4D04u /* as ZQ_MMZ_ALLOC, a cached buffer */
#define ZQ_MMZ_FLUSH_CACHE 0x402C4D05u  /* length, address, virtual address */
#define ZQ_MMZ_MAP_CACHED 0x402C4D06u   /* length, address of a cached mapping */
#define ZQ_MMZ_MAP 0x402C4D07u          /* length, address of a mapping */

/* Allocates u32Len bytes named pMmbName (at most 32 characters; null: no
 * name) and maps them. pZoneName is not used. 0, or 0xA0028006 (null
 * address pointer), 0xA0028010 (no device), 0xA002800C (refused, shorter
 * than asked, or not mappable); the outputs are written only on success. */
ZQ_API s32 ZQ_MPI_SYS_MmzAlloc(u32 *pu32PhyAddr, void **ppVitAddr, const char *pMmbName,
                               const char *pZoneName, u32 u32Len) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_SYS_MmzAlloc_Cached(u32 *pu32PhyAddr, void **ppVitAddr, const char *pMmbName,
                                      const char *pZoneName, u32 u32Len) ZQ_NOEXCEPT;
/* Looks a buffer up by name and maps it (*ppVitAddr null when the mapping
 * fails). 0, or 0xA0028006 (a null pointer), 0xA0028010, 0xA0028005. */
ZQ_API s32 ZQ_MPI_SYS_MmzGetAddr(u32 *pu32PhyAddr, void **ppVitAddr, const char *pMmbName,
                                 const char *pZoneName, u32 *pu32Len) ZQ_NOEXCEPT;
/* Ends the mapping that ZQ_MPI_SYS_MmzAlloc made at pVirAddr, if any; the
 * driver keeps the buffer (it has no release). Returns 0. */
ZQ_API s32 ZQ_MPI_SYS_MmzFree(u32 u32PhyAddr, void *pVirAddr) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_SYS_MmzFlushCache(u32 u32PhyAddr, void *pVirAddr, u32 u32Size) ZQ_NOEXCEPT;
ZQ_API s32 ZQ_MPI_SYS_MmzReset(void) ZQ_NOEXCEPT;
/* Maps u32Size bytes at a physical address; the address of its first byte,
 * or null. A range that runs past 4 GiB is refused. */
ZQ_API void *ZQ_MPI_SYS_Mmap(u32 u32PhyAddr, u32 u32Size) ZQ_NOEXCEPT;
ZQ_API void *ZQ_MPI_SYS_MmapCache(u32 u32PhyAddr, u32 u32Size) ZQ_NOEXCEPT;
/* Ends a mapping made by this family (the whole of it). 0, or 0xA0028003
 * for an address this family did not map, which is left alone. */
ZQ_API s32 ZQ_MPI_SYS_Munmap(void *pVirAddr, u32 u32Size) ZQ_NOEXCEPT;

/* The media side's start-up: resets the zone, then initialises video input,
 * video output, regions and the audio engine (whose thread starts once per
 * process), in that order. Each reports its own failures; returns 0. */
ZQ_API s32 ZQ_MPI_SYS_Init(void) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_SYS_H */
