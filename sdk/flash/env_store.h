// The boot environment store's internal steps, for the public calls and
// the tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace zq::flash {

// Calls visit(entry) for each "name=value" entry of the loaded image, in
// order; false when the image cannot be loaded.
bool env_for_each(const std::function<void(std::string_view entry)> &visit);

// Makes a copy of image the loaded environment, as if read from flash
// (no device is opened; a later save fails). Its CRC is not checked, so
// that any list can be walked. For fuzzing.
bool env_use_image(const uint8_t *image, uint32_t size, bool sharesRecordBlock);

}  // namespace zq::flash

// The documented steps keep their C names.
int env_init();
int env_match(const char *name, int index);
