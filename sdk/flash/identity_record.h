// The identity record's on-flash layout: a 2 KiB block at the end of the
// 64 KiB erase block at 0x20000 of mtd0. Words are little-endian. Inside the
// SDK it is the identity record; the interface keeps the names it has always
// had: ZQSDK_WriteSeriesNum and ZQSDK_ReadSeriesNum, SnBlock for the block,
// "sn" as the log's source unit, and HwInfo for the tool's payload.
#pragma once

#include <cstdint>

#include "flash/flash_block.h"

namespace zq::flash {

constexpr uint32_t kRecordHeaderSize = 16;
constexpr uint32_t kRecordMaxPayload = kRecordSize - kRecordHeaderSize;  // 2032

struct SnBlock {
    uint32_t magic;
    uint32_t crc;      // CRC-32 of the len payload bytes
    uint32_t len;      // 1 to 2032
    uint32_t version;  // caller's version word
    uint8_t data[kRecordMaxPayload];
};
static_assert(sizeof(SnBlock) == kRecordSize, "SnBlock is 2 KiB");
static_assert(__builtin_offsetof(SnBlock, len) == 8 && __builtin_offsetof(SnBlock, data) == 16,
              "SnBlock header layout");

// The block image of a record, ready for flash (words little-endian).
void record_encode(const void *payload, uint32_t len, uint32_t version, uint8_t out[kRecordSize]);

// The header words of a record image.
SnBlock record_decode_header(const uint8_t image[kRecordSize]);

}  // namespace zq::flash
