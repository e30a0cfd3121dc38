// The media memory zone family: named buffers of the "/dev/mmz" driver and
// mappings of physical ranges through it.
//
// Every mapping the family makes is remembered (by its page-aligned start),
// so that a buffer's mapping can be ended and an unmap can never reach
// memory the family did not map. Look-ups cost the same with one mapping
// or thousands (bench/mmz_bench.cpp).
#include <fcntl.h>
#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "port/port.h"
#include "zq_log.h"
#include "zq_sys.h"

namespace {

namespace port = zq::port;

constexpr s32 kMmzRefused = ZQ_ERR_CODE(ZQ_MOD_SYS, ZQ_ERR_NOT_ENABLED);
constexpr s32 kMmzNullPointer = ZQ_ERR_CODE(ZQ_MOD_SYS, ZQ_ERR_NULL_PTR);
constexpr s32 kMmzAllocRefused = ZQ_ERR_CODE(ZQ_MOD_SYS, ZQ_ERR_NO_MEMORY);
constexpr s32 kMmzOpenFailed = ZQ_ERR_CODE(ZQ_MOD_SYS, ZQ_ERR_OPEN);
constexpr s32 kMmzNotMapped = ZQ_ERR_CODE(ZQ_MOD_SYS, ZQ_ERR_OUT_OF_RANGE);
static_assert(kMmzRefused == static_cast<s32>(0xA0028005) &&
              kMmzAllocRefused == static_cast<s32>(0xA002800C) &&
              kMmzOpenFailed == static_cast<s32>(0xA0028010));

constexpr uint64_t kPage = 4096;
// The mapping calls open the device for synchronous writes.
constexpr int kMapOpenFlags = O_RDWR | O_DSYNC;
static_assert(kMapOpenFlags == 0x1002);

struct MmzState {
    std::atomic<int> g_MmzFd{-1};
    std::mutex mappingLock;
    std::unordered_map<uintptr_t, size_t> mappings;  // page-aligned start -> length
};

MmzState g_Mmz;

void fail(const char *message) {
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_SYS, "%s", message);
}

// The device, opened by the first call that needs it (its flags are that
// call's) and kept.
int mmz_fd(int flags) {
    return port::open_kept(g_Mmz.g_MmzFd, "/dev/mmz", flags);
}

MmzRequest request_named(const char *name, u32 length) {
    MmzRequest request;
    std::memset(&request, 0, sizeof request);
    // Up to 32 characters: a name of 32 fills the field without a NUL.
    if (name) std::memcpy(request.szMmbName, name, strnlen(name, sizeof request.szMmbName));
    request.u32Len = length;
    return request;
}

// Maps size bytes at a physical address on fd and remembers the mapping;
// the address of the first byte, or null.
void *map_physical(int fd, uint64_t phys, uint64_t size) {
    uint64_t off = phys % kPage;
    uint64_t length = (off + size + kPage - 1) / kPage * kPage;
    void *base = MAP_FAILED;
    // A range past 4 GiB would wrap round to the bottom of the address space.
    if (size > 0 && phys + size <= (uint64_t{1} << 32))
        base = port::mmap(nullptr, static_cast<size_t>(length), PROT_READ | PROT_WRITE, MAP_SHARED,
                          fd, static_cast<off_t>(phys - off));
    if (base == MAP_FAILED) {
        fail("Memory Map Failed For Address\n");
        return nullptr;
    }
    std::lock_guard<std::mutex> hold(g_Mmz.mappingLock);
    g_Mmz.mappings[reinterpret_cast<uintptr_t>(base)] = static_cast<size_t>(length);
    return static_cast<char *>(base) + off;
}

// Ends the mapping of this family that starts at address's page; false
// when there is none.
bool unmap(const void *address) {
    uintptr_t base = reinterpret_cast<uintptr_t>(address) / uintptr_t{kPage} * uintptr_t{kPage};
    size_t length = 0;
    {
        std::lock_guard<std::mutex> hold(g_Mmz.mappingLock);
        auto it = g_Mmz.mappings.find(base);
        if (it == g_Mmz.mappings.end()) return false;
        length = it->second;
        g_Mmz.mappings.erase(it);
    }
    port::munmap(reinterpret_cast<void *>(base), length);
    return true;
}

void *map_with(unsigned long request, u32 u32PhyAddr, u32 u32Size) {
    int fd = mmz_fd(kMapOpenFlags);
    if (fd < 0) {
        fail("/dev/mmz open failed\n");
        return nullptr;
    }
    MmzRequest notice = request_named(nullptr, u32Size);
    notice.u32PhyAddr = u32PhyAddr;
    (void)port::ioctl(fd, request, &notice);
    return map_physical(fd, u32PhyAddr, u32Size);
}

s32 alloc_with(unsigned long request, const char *trace, u32 *pu32PhyAddr, void **ppVitAddr,
               const char *pMmbName, u32 u32Len) {
    if (!pu32PhyAddr || !ppVitAddr) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_SYS, "pu32PhyAddr=%p, ppVitAddr=%p\n",
                static_cast<void *>(pu32PhyAddr), static_cast<void *>(ppVitAddr));
        return kMmzNullPointer;
    }
    int fd = mmz_fd(O_RDWR);
    if (fd < 0) {
        fail("/dev/mmz open failed\n");
        return kMmzOpenFailed;
    }
    MmzRequest buffer = request_named(pMmbName, u32Len);
    // A buffer shorter than asked would be overrun by its caller.
    if (port::ioctl(fd, request, &buffer) != 0 || buffer.u32Len < u32Len) {
        fail("MmzAlloc failed\n");
        return kMmzAllocRefused;
    }
    // A buffer the process cannot reach is no allocation to hand out.
    void *mapped = map_physical(fd, buffer.u32PhyAddr, buffer.u32Len);
    if (!mapped) return kMmzAllocRefused;
    *pu32PhyAddr = buffer.u32PhyAddr;
    *ppVitAddr = mapped;
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_SYS, "[%s]: *pu32PhyAddr[%08x], *ppVitAddr[%p], u32Len[%u]\n",
            trace, buffer.u32PhyAddr, mapped, u32Len);
    return 0;
}

}  // namespace

s32 ZQ_MPI_SYS_MmzAlloc(u32 *pu32PhyAddr, void **ppVitAddr, const char *pMmbName, const char *,
                        u32 u32Len) noexcept {
    return alloc_with(ZQ_MMZ_ALLOC, "ZQ_MPI_SYS_MmzAlloc", pu32PhyAddr, ppVitAddr, pMmbName,
                      u32Len);
}

s32 ZQ_MPI_SYS_MmzAlloc_Cached(u32 *pu32PhyAddr, void **ppVitAddr, const char *pMmbName,
                               const char *, u32 u32Len) noexcept {
    return alloc_with(ZQ_MMZ_ALLOC_CACHED, "ZQ_MPI_SYS_MmzAlloc_Cached", pu32PhyAddr, ppVitAddr,
                      pMmbName, u32Len);
}

s32 ZQ_MPI_SYS_MmzGetAddr(u32 *pu32PhyAddr, void **ppVitAddr, const char *pMmbName, const char *,
                          u32 *pu32Len) noexcept {
    if (!pu32PhyAddr || !ppVitAddr) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_SYS, "pu32PhyAddr=%p, ppVitAddr=%p\n",
                static_cast<void *>(pu32PhyAddr), static_cast<void *>(ppVitAddr));
        return kMmzNullPointer;
    }
    if (!pMmbName || !pu32Len) {
        mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_SYS, "pMmbName=%p, pu32Len=%p\n",
                static_cast<const void *>(pMmbName), static_cast<void *>(pu32Len));
        return kMmzNullPointer;
    }
    int fd = mmz_fd(O_RDWR);
    if (fd < 0) {
        fail("/dev/mem open failed\n");
        return kMmzOpenFailed;
    }
    MmzRequest buffer = request_named(pMmbName, 0);
    if (port::ioctl(fd, ZQ_MMZ_GET_ADDR, &buffer) != 0) {
        fail("MmzGetAddr failed\n");
        return kMmzRefused;
    }
    *pu32PhyAddr = buffer.u32PhyAddr;
    *pu32Len = buffer.u32Len;
    *ppVitAddr = ZQ_MPI_SYS_Mmap(buffer.u32PhyAddr, buffer.u32Len);
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_SYS,
            "[%s]: *pu32PhyAddr[%08x], *ppVitAddr[%p], *pu32Len[%u]\n", "ZQ_MPI_SYS_MmzGetAddr",
            buffer.u32PhyAddr, *ppVitAddr, buffer.u32Len);
    return 0;
}

s32 ZQ_MPI_SYS_MmzFree(u32 u32PhyAddr, void *pVirAddr) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_SYS, "[%s]: u32PhyAddr[%08x], pVirAddr[%p]\n",
            "ZQ_MPI_SYS_MmzFree", u32PhyAddr, pVirAddr);
    // Each alloc and free cycle would otherwise keep its mapping for good.
    if (pVirAddr) unmap(pVirAddr);
    return 0;
}

s32 ZQ_MPI_SYS_MmzFlushCache(u32 u32PhyAddr, void *pVirAddr, u32 u32Size) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_SYS, "[%s]: u32PhyAddr[%08x], pVirAddr[%p], u32Size[%u]\n",
            "ZQ_MPI_SYS_MmzFlushCache", u32PhyAddr, pVirAddr, u32Size);
    int fd = mmz_fd(O_RDWR);
    if (fd < 0) {
        fail("/dev/mem open failed\n");
        return kMmzOpenFailed;
    }
    MmzRequest range = request_named(nullptr, u32Size);
    range.u32PhyAddr = u32PhyAddr;
    range.u32VirAddr = static_cast<u32>(reinterpret_cast<uintptr_t>(pVirAddr));
    if (port::ioctl(fd, ZQ_MMZ_FLUSH_CACHE, &range) != 0) {
        fail("MmzFlushCache failed\n");
        return kMmzRefused;
    }
    return 0;
}

s32 ZQ_MPI_SYS_MmzReset(void) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_SYS, "[%s]: \n", "ZQ_MPI_SYS_MmzReset");
    int fd = mmz_fd(O_RDWR);
    if (fd < 0) {
        fail("/dev/mmz open failed\n");
        return kMmzOpenFailed;
    }
    if (port::ioctl(fd, ZQ_MMZ_RESET, nullptr) != 0) {
        fail("MmzReset failed\n");
        return kMmzOpenFailed;
    }
    return 0;
}

void *ZQ_MPI_SYS_Mmap(u32 u32PhyAddr, u32 u32Size) noexcept {
    return map_with(ZQ_MMZ_MAP, u32PhyAddr, u32Size);
}

void *ZQ_MPI_SYS_MmapCache(u32 u32PhyAddr, u32 u32Size) noexcept {
    return map_with(ZQ_MMZ_MAP_CACHED, u32PhyAddr, u32Size);
}

s32 ZQ_MPI_SYS_Munmap(void *pVirAddr, u32) noexcept {
    if (unmap(pVirAddr)) return 0;
    mpi_log(ZQ_MPI_LOG_FAIL, ZQ_MOD_SYS, "Munmap of %p: not a mapping of this family\n", pVirAddr);
    return kMmzNotMapped;
}
