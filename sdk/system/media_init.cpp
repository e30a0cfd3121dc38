// The start-up call of the media side: the memory zone, video input, video
// output, regions and the audio engine, in that order.
#include <cstring>

#include "zq_audio.h"
#include "zq_log.h"
#include "zq_rgn.h"
#include "zq_sys.h"
#include "zq_vi.h"
#include "zq_vo.h"

namespace {

// The system state area: read by no other operation; cleared at start-up.
struct SysState {
    unsigned char area[384];
};

SysState g_SysState;

}  // namespace

s32 ZQ_MPI_SYS_Init(void) noexcept {
    mpi_log(ZQ_MPI_LOG_TRACE, ZQ_MOD_SYS, "[%s]: \n", "ZQ_MPI_SYS_Init");
    // Each family reports its own failures; start-up goes on regardless. The
    // audio engine starts its thread once per process, however often this
    // is called.
    ZQ_MPI_SYS_MmzReset();
    ZQ_MPI_VI_Init();
    ZQ_MPI_VO_Init();
    ZQ_MPI_RGN_Init();
    ZQ_MPI_AUDIO_Init();
    std::memset(g_SysState.area, 0, sizeof g_SysState.area);
    return 0;
}
