// Boot environment images of any bytes: every walk stays inside the image,
// reads are bounded, and an edit keeps the list well formed.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "flash/env_store.h"
#include "zq_flash.h"
#include "zq_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool quiet = (ZQSDK_SetLogLevel(0), true);
    (void)quiet;
    if (size < 8) return 0;
    const bool shared = size > 0xF800 && (data[0] & 1);
    if (!zq::flash::env_use_image(data, static_cast<uint32_t>(size), shared)) return 0;
    char value[8];
    for (const char *name : {"zqauto", "bootdelay", "a", ""}) {
        std::memset(value, 0x5A, sizeof value);
        ZQSDK_EnvReadKeyValue(name, value, 5);
        if (value[5] != 0x5A) std::abort();  // nothing past the caller's 5 bytes
    }
    size_t total = 0;
    zq::flash::env_for_each([&](std::string_view entry) { total += entry.size() + 1; });
    if (total > size) std::abort();
    // The save fails without a device; the edit in memory must still be sound.
    ZQSDK_EnvWriteKeyValue("zqauto", "1");
    zq::flash::env_for_each([&](std::string_view entry) {
        if (entry.size() > size) std::abort();
    });
    return 0;
}
