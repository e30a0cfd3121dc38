// Stand-in for the video input emulator's pictures and bindings until it
// joins this branch: no input channel has a picture or is bound to an output
// channel. Dropped when the video input emulator is merged.
#include <cstdint>
#include <vector>

namespace zq::sim {

bool vi_render_latest(int, std::vector<uint8_t> *, uint32_t *, uint32_t *) {
    return false;
}

int vi_channel_bound_to_vo(int) {
    return -1;
}

}  // namespace zq::sim
