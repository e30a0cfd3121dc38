// The test-facing face of the flash emulator: partition size, fault knobs,
// and raw access to the flash image of a board.
#pragma once

#include <json-c/json.h>

#include <cstdint>
#include <string>
#include <vector>

#include "emul/json_util.h"

namespace zq::sim {

constexpr uint32_t kDefaultMtd0Size = 0x30000;  // 192 KiB: environment and identity share a block
constexpr uint32_t kFlashEraseSize = 0x10000;

// mtd0's size as board.json gives it.
uint32_t board_flash_size(const std::string &dir);
// Resizes mtd0 (new bytes erased) and rewrites "/proc/mtd".
bool set_flash_size(const std::string &dir, uint32_t mtd0Size);
// Every write programs only its first bytes bytes and reports that (0: off).
bool set_flash_short_write(const std::string &dir, uint32_t bytes);
// The process dies once afterBytes bytes have been programmed by its writes
// (-1: off), as a board does when its power is cut.
bool set_flash_power_cut(const std::string &dir, int64_t afterBytes);
// The process gets SIGINT, as from a Ctrl-C, once afterBytes bytes have
// been programmed by its writes (-1: off).
bool set_flash_interrupt(const std::string &dir, int64_t afterBytes);

std::vector<uint8_t> read_flash(const std::string &dir, uint32_t offset, uint32_t length);
// Stores bytes as they are, outside the flash rules (to flip a bit, say).
bool poke_flash(const std::string &dir, uint32_t offset, const std::vector<uint8_t> &bytes);

// Writes a boot environment holding entries ("name=value") with a valid CRC
// where the board's partition size puts it; bytes of the erase block that
// belong to the identity record are kept.
bool write_env_image(const std::string &dir, const std::vector<std::string> &entries);

// Writes an identity record with payload and version into the flash image.
bool write_sn_record(const std::string &dir, const std::vector<uint8_t> &payload, uint32_t version);

// board.json "flash" as the emulator reads it.
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
