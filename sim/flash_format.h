// The flash formats as the board's side reads and writes them, with code of
// its own (a bitwise CRC straight from the polynomial, a plain walk), so that
// a fault in the SDK's flash code cannot hide in the tools that show it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

// The reflected IEEE 802.3 CRC-32, one bit at a time.
uint32_t reference_crc32(const uint8_t *data, size_t length);

// Where the boot environment lies for an mtd0 of mtd0Size bytes.
struct EnvPlace {
    uint32_t offset, size;
    uint32_t listEnd;  // where the list must stop: the identity record in a shared block
};
EnvPlace env_place(uint32_t mtd0Size);

constexpr uint32_t kRecordFlashOffset = 0x2F800;  // the identity record, 2 KiB
constexpr uint32_t kRecordMagic = 0xFEAD5238;
constexpr uint32_t kRecordMaxPayload = 2032;

struct EnvImage {
    bool whole = false;  // the flash image holds all of it
    uint32_t storedCrc = 0, computedCrc = 0;
    std::vector<std::string> entries;  // "name=value", in order
    bool valid() const { return whole && storedCrc == computedCrc; }
};
// Reads the environment image out of a whole mtd0 dump.
EnvImage parse_env(const std::vector<uint8_t> &mtd0, uint32_t mtd0Size);
// The image holding entries, over the bytes of base (the record's 2 KiB of
// a shared block are kept); empty when they do not fit.
std::vector<uint8_t> make_env(const std::vector<uint8_t> &base, uint32_t listEnd,
                              const std::vector<std::string> &entries);

struct Record {
    uint32_t magic = 0, storedCrc = 0, computedCrc = 0, length = 0, version = 0;
    std::vector<uint8_t> payload;  // when valid
    bool valid() const {
        return magic == kRecordMagic && length <= kRecordMaxPayload && storedCrc == computedCrc;
    }
};
// Reads the identity record out of its 2 KiB.
Record parse_record(const std::vector<uint8_t> &bytes);
// The 2 KiB of a record holding payload (at most 2032 bytes).
std::vector<uint8_t> make_record(const std::vector<uint8_t> &payload, uint32_t version);

}  // namespace zq::sim
