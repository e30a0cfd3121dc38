// CRC-32 of the flash records: the reflected IEEE 802.3 CRC (polynomial
// 0xEDB88320, initial register 0xFFFFFFFF, final complement), as zlib has it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zq::flash {

// The CRC of len bytes; crc32("abc", 3) is 0x352441C2.
uint32_t crc32(const void *data, size_t len) noexcept;

// Continues a CRC: crc32_update(crc32(a), b) is the CRC of a followed by b.
uint32_t crc32_update(uint32_t crc, const void *data, size_t len) noexcept;

}  // namespace zq::flash
