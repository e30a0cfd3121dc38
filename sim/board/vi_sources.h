// What stands before the sensor of each video input channel of a board:
// the colour bars, a picture or a video (`vboard vi DIR source`).
#pragma once

#include <string>

namespace zq::sim {

// Puts `file` before the sensor of input channel `channel` of the board at
// dir: a PNG picture (converted once into the board directory as
// "vi-source-N.y4m", so the board keeps it) shown on every frame, or a
// YUV4MPEG2 video (8-bit 4:2:0), played from where it lies, one video frame
// per sensor frame, looping. "bars" returns to the colour bars. False with
// a reason, the channel's source unchanged, when the file cannot be shown;
// `shown` says what the channel shows now.
bool set_vi_source(const std::string &dir, int channel, const std::string &file, std::string *shown,
                   std::string *error);

}  // namespace zq::sim
