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

// The provisioning tool's 134-byte payload: three NUL-padded texts (APP_ID
// at 0, 32 bytes; UUID at 32, 32 bytes; KEY at 64, 64 bytes; the last byte
// of each always 0) and the six bytes of the MAC at 128.
constexpr size_t kIdentitySize = 134;
struct Identity {
    std::string appId, uuid, key;
    uint8_t mac[6] = {};
};
Identity parse_identity(const std::vector<uint8_t> &payload);
// Empty when a text does not fit its field.
std::vector<uint8_t> make_identity(const Identity &identity);

// Whole-flash edits as the boot loader and the factory make them, on a dump
// of mtd0 (mtd0Size bytes). Each returns false when the change cannot be made.
// Sets name to value: the first entry of that name goes, the new one is
// appended. An environment with a bad CRC starts empty.
bool set_env(std::vector<uint8_t> &mtd0, uint32_t mtd0Size, const std::string &name,
             const std::string &value);
// Writes the identity record; an environment that shares its block and was
// valid gets its CRC redone over the new record.
bool set_record(std::vector<uint8_t> &mtd0, uint32_t mtd0Size, const std::vector<uint8_t> &payload,
                uint32_t version);

}  // namespace zq::sim
