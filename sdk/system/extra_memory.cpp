// Media memory for applications of the zq_system unit: a buffer named
// "extra" from the media memory zone.
#include "zq_log.h"
#include "zq_sys.h"
#include "zq_system.h"

s32 ZQSDK_ExtraMemoryAlloc(s32 s32Size, void **ppVirAddr, u32 *pu32PhyAddr) noexcept {
    if (s32Size <= 0 || !ppVirAddr || !pu32PhyAddr) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "size can't be zero!\n");
        return -1;
    }
    if (ZQ_MPI_SYS_MmzAlloc(pu32PhyAddr, ppVirAddr, "extra", nullptr, static_cast<u32>(s32Size)) !=
        0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, "zq_system", "ZQ_MPI_SYS_MmzAlloc error\n");
        return -1;
    }
    return 0;
}

s32 ZQSDK_ExtraMemoryFree(void *pVirAddr) noexcept {
    if (!pVirAddr) return -1;
    return ZQ_MPI_SYS_MmzFree(0, pVirAddr) == 0 ? 0 : -1;
}
