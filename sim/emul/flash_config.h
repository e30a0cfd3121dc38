// board.json's "flash" section as the flash emulator and the board's tools
// read it: the partition size, the erase size and the fault knobs.
#pragma once

#include <json-c/json.h>

#include <cstdint>

#include "emul/flash.h"
#include "emul/json_util.h"

namespace zq::sim {

struct FlashConfig {
    uint32_t size = kDefaultMtd0Size;
    uint32_t eraseSize = kFlashEraseSize;
    uint32_t shortWrite = 0;
    int64_t powerCutAfter = -1;
    int64_t interruptAfter = -1;
};

inline FlashConfig config_from(json_object *root) {
    json_object *flash = json_get(root, "flash");
    FlashConfig c;
    c.size = static_cast<uint32_t>(json_number(flash, "mtd0_size", kDefaultMtd0Size));
    c.eraseSize = static_cast<uint32_t>(json_number(flash, "erase_size", kFlashEraseSize));
    c.shortWrite = static_cast<uint32_t>(json_number(flash, "short_write", 0));
    c.powerCutAfter = json_int64(flash, "power_cut_after", -1);
    c.interruptAfter = json_int64(flash, "interrupt_after", -1);
    if (c.eraseSize == 0) c.eraseSize = kFlashEraseSize;
    return c;
}

}  // namespace zq::sim
