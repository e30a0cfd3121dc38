// Kernel event datagrams and bursts of any bytes: a header never runs past
// its buffer, a burst never past its 2048 bytes, and every event handed on
// is one the monitor recognises, its name terminated.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "system/hotplug_parse.h"
#include "zq_log.h"

namespace {

void check(HotplugEvent *event, void *) {
    bool sd = event->s32DeviceType == ZQ_HOTPLUG_DEVICE_SD_CARD;
    if (std::memchr(event->szDevName, '\0', sizeof event->szDevName) == nullptr ||
        (event->s32EventType != ZQ_HOTPLUG_EVENT_SD &&
         event->s32EventType != ZQ_HOTPLUG_EVENT_USB) ||
        (!sd && event->s32DeviceType != ZQ_HOTPLUG_DEVICE_ETH) ||
        (event->s32Status != ZQ_HOTPLUG_ADDED && event->s32Status != ZQ_HOTPLUG_REMOVED) ||
        std::strncmp(event->szDevName, sd ? "mmcblk0" : "eth", sd ? 8 : 3) != 0)
        std::abort();
}

void check_burst(const HotplugBurst &burst) {
    if (burst.length >= sizeof burst.text || burst.text[burst.length] != '\0' ||
        std::strlen(burst.text) != burst.length)
        std::abort();
}

}  // namespace

// Each datagram is a length byte (1 to 256 bytes follow), a byte whose
// lowest bit ends the burst after it, and its bytes; the whole input is also
// parsed as burst text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool quiet = (ZQSDK_SetLogLevel(0), true);
    (void)quiet;
    HotplugBurst burst;
    hotplug_burst_clear(burst);
    for (size_t at = 0; at + 2 <= size;) {
        size_t n = std::min<size_t>(data[at] + 1u, size - at - 2);
        bool ends = data[at + 1] & 1;
        at += 2;
        char buffer[kHotplugRecvBytes] = {};
        std::memcpy(buffer, data + at, n);
        at += n;
        hotplug_burst_take(burst, buffer, n, check, nullptr);
        check_burst(burst);
        if (ends) hotplug_burst_end(burst, check, nullptr);
    }
    hotplug_burst_end(burst, check, nullptr);
    std::string text(reinterpret_cast<const char *>(data), size);
    hotplug_parse_burst(text.c_str(), check, nullptr);
    return 0;
}
