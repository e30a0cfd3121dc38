// The erase blocks of mtd0 that the SDK rewrites, and their one owner: the
// partition table and the environment's place, whole-block reads, the
// environment CRC over a block, and the rewrite of an erase range in the
// order that keeps power cuts harmless.
//
// On a 192 KiB partition the erase block at 0x20000 holds the boot
// environment, whose CRC covers the whole block, and the identity record
// in its last 2 KiB: every write of either goes through here. The formats
// stay exactly as they are, one copy of each (the boot loader reads one of
// them); the writes keep each other whole instead.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace zq::flash {

constexpr const char *kMtdDevice = "/dev/mtd0";
constexpr const char *kProcMtd = "/proc/mtd";

// Linux MTD erase request and its record.
constexpr unsigned long kMemErase = 0x40084D02u;
struct EraseInfoUser {
    uint32_t start;
    uint32_t length;
};
static_assert(sizeof(EraseInfoUser) == 8, "erase_info_user is two 32-bit words");

// Where the boot environment image lives in mtd0.
struct EnvLayout {
    uint32_t offset;
    uint32_t size;
    uint32_t eraseSize;
};

// The environment layout for a given mtd0 size: the last 64 KiB erase block
// of a 128, 192 or 256 KiB partition, 256 KiB at 256 KiB otherwise.
EnvLayout env_layout_for_size(uint32_t mtd0Size);

// Reads mtd0's size from "/proc/mtd". False when the table cannot be read,
// does not start with its "dev:" header, or lists no mtd0.
bool read_mtd0_size(uint32_t *size);

// The identity record's erase block, and whether the environment shares it
// (a 192 KiB partition).
constexpr uint32_t kRecordBlockOffset = 0x20000;
constexpr uint32_t kRecordBlockSize = 0x10000;
constexpr uint32_t kRecordOffset = 0xF800;                          // within the block
constexpr uint32_t kRecordSize = kRecordBlockSize - kRecordOffset;  // 2 KiB
bool env_shares_record_block(const EnvLayout &layout);

// Flash words are little-endian.
inline uint32_t get_le32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void put_le32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Image bytes before the environment's entry list: its little-endian CRC-32
// over the rest of the image, a shared block's record included.
constexpr uint32_t kEnvHeader = 4;
// stored and computed, when given, get the two CRCs.
bool env_crc_valid(const uint8_t *image, uint32_t size, uint32_t *stored = nullptr,
                   uint32_t *computed = nullptr);
void env_crc_set(uint8_t *image, uint32_t size);

// Reads exactly length bytes at offset; false on any failure or a short read.
bool block_read(int fd, uint32_t offset, uint8_t *image, uint32_t length);

// Rewrites the erase range [offset, offset + size) of mtd0 with image. The
// words that make a copy valid are programmed last, so that power lost at
// any point leaves each copy as it was, whole and new, or invalid:
//   1. where the range holds the identity record, the record's 2 KiB first
//      (the window in which it can be lost is its own 2 KiB), its magic
//      word after the rest of it;
//   2. then the rest of the range from byte 4 on;
//   3. the environment CRC in bytes 0-3 last.
// Until the last byte the environment's CRC word is still erased: a cut
// leaves no environment, never a mix of old and new values. A NOR chip
// programs any byte range of an erased block in any order, so the order
// costs only a few more write calls.
// SIGINT, SIGTERM and SIGHUP wait from the erase to the last byte.
enum class BlockWrite { Done, EraseFailed, WriteFailed };
BlockWrite program_erase_range(int fd, uint32_t offset, const uint8_t *image, uint32_t size);

}  // namespace zq::flash
