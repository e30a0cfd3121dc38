// The table of device emulators; each emulator lives in its own file.
#include "devices.h"

#include <iterator>

#include "board.h"

namespace zq::sim {

extern const Device kLogDevice;

namespace {
const Device *const kDevices[] = {&kLogDevice};
}  // namespace

const Device *find_device(std::string_view boardPath) {
    std::string path = normalize(boardPath);
    for (const Device *device : kDevices)
        if (path == device->path) return device;
    return nullptr;
}

}  // namespace zq::sim
