// The flash access steps shared by the boot environment and the identity
// record: the partition table, and read, erase and write of whole erase
// blocks of "/dev/mtd0".
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
constexpr uint32_t kSnBlockOffset = 0x20000;
constexpr uint32_t kSnBlockSize = 0x10000;
constexpr uint32_t kSnRecordOffset = 0xF800;  // within the block
bool env_shares_sn_block(const EnvLayout &layout);

// Each returns what the call returned: bytes moved, or -1.
ssize_t mtd_read_at(int fd, uint32_t offset, void *buf, size_t len);
int mtd_erase(int fd, uint32_t start, uint32_t length);

// Rewrites the erase range [offset, offset + size) of mtd0 with image. The
// words that make a copy valid are programmed last, so that power lost at
// any point leaves each copy as it was, whole and new, or invalid:
//   1. where the range holds the identity record, the record's 2 KiB first
//      (the window in which it can be lost is its own 2 KiB), its magic
//      word after the rest of it;
//   2. then the rest of the range from byte 4 on;
//   3. the environment CRC in bytes 0-3 last.
// SIGINT, SIGTERM and SIGHUP wait from the erase to the last byte.
enum class BlockWrite { Done, EraseFailed, WriteFailed };
BlockWrite program_erase_range(int fd, uint32_t offset, const uint8_t *image, uint32_t size);

}  // namespace zq::flash
