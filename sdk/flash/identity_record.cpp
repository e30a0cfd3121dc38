// The device identity record: an opaque payload, checksummed, in the last
// 2 KiB of its erase block; the rest of the block is kept as it is. Every
// failure of a write after the argument test is reported as "flash read
// error", the text the record's users have always matched.
#include "flash/identity_record.h"

#include <fcntl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "flash/crc32.h"
#include "flash/flash_block.h"
#include "port/port.h"
#include "zq_flash.h"
#include "zq_log.h"

namespace port = zq::port;
using namespace zq::flash;

namespace {

constexpr const char *kUnit = "sn";

using BlockImage = std::unique_ptr<uint8_t[]>;

BlockImage zeroed_block() {
    BlockImage block(new (std::nothrow) uint8_t[kRecordBlockSize]);
    if (block) std::memset(block.get(), 0, kRecordBlockSize);
    return block;
}

// Reads the whole erase block; the device is opened and closed here.
bool flash_block_read(uint8_t *block) {
    int fd = port::open(kMtdDevice, O_RDWR);
    if (fd < 0) return false;
    bool ok = block_read(fd, kRecordBlockOffset, block, kRecordBlockSize);
    port::close(fd);
    return ok;
}

// Whether the boot environment shares this erase block (its CRC then
// covers the record too); false when the partition table cannot tell.
bool env_shares_block(bool *shared) {
    uint32_t mtd0Size = 0;
    if (!read_mtd0_size(&mtd0Size)) return false;
    *shared = env_shares_record_block(env_layout_for_size(mtd0Size));
    return true;
}

// Erases the block and programs the new image, record first; false on any failure.
bool flashWrite(const uint8_t *block) {
    int fd = port::open(kMtdDevice, O_RDWR);
    if (fd < 0) {
        std::perror("Open mtd0 error");
        return false;
    }
    BlockWrite result = program_erase_range(fd, kRecordBlockOffset, block, kRecordBlockSize);
    if (result == BlockWrite::EraseFailed) ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "mem erase failed\n");
    port::close(fd);
    return result == BlockWrite::Done;
}

}  // namespace

namespace zq::flash {

void record_encode(const void *payload, uint32_t len, uint32_t version, uint8_t out[kRecordSize]) {
    std::memset(out, 0, kRecordSize);
    put_le32(out, SN_MAGIC);
    put_le32(out + 4, crc32(payload, len));
    put_le32(out + 8, len);
    put_le32(out + 12, version);
    std::memcpy(out + kRecordHeaderSize, payload, len);
}

SnBlock record_decode_header(const uint8_t image[kRecordSize]) {
    SnBlock header;
    header.magic = get_le32(image);
    header.crc = get_le32(image + 4);
    header.len = get_le32(image + 8);
    header.version = get_le32(image + 12);
    return header;
}

}  // namespace zq::flash

extern "C" {

int ZQSDK_WriteSeriesNum(const void *data, u32 len, u32 version) noexcept {
    BlockImage block = zeroed_block();
    // A payload over 2032 bytes does not fit the record.
    if (!data || len == 0 || len > kRecordMaxPayload) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "param is error\n");
        return -1;
    }
    if (!block || !flash_block_read(block.get())) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "flash read error\n");
        return -1;
    }
    // Without the partition table the block's other user is unknown: a
    // write could leave a valid environment with a CRC that no longer fits.
    bool sharedEnv = false;
    if (!env_shares_block(&sharedEnv)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "no partition table, block layout unknown\n");
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "flash read error\n");
        return -1;
    }
    const bool keepEnvValid = sharedEnv && env_crc_valid(block.get(), kRecordBlockSize);
    record_encode(data, len, version, block.get() + kRecordOffset);
    // The boot loader's environment stays valid over the new record; one
    // that was not valid stays invalid, never made to look whole.
    if (keepEnvValid) env_crc_set(block.get(), kRecordBlockSize);
    if (!flashWrite(block.get())) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "flash read error\n");
        return -1;
    }
    return 0;
}

int ZQSDK_ReadSeriesNum(void *buffer, u32 bufferSize, u32 *version) noexcept {
    BlockImage block = zeroed_block();
    if (!buffer || bufferSize == 0 || !version) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "param is error\n");
        return -1;
    }
    if (!block || !flash_block_read(block.get())) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "flash read error\n");
        return -1;
    }
    const uint8_t *record = block.get() + kRecordOffset;
    SnBlock header = record_decode_header(record);
    uint32_t computed =
        header.len <= kRecordMaxPayload ? crc32(record + kRecordHeaderSize, header.len) : 0;
    if (header.magic != SN_MAGIC || header.len > bufferSize || header.crc != computed) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "magic:%x crc:[%x,%x] len:[%d,%d]\n", header.magic,
                  header.crc, computed, static_cast<int>(header.len), static_cast<int>(bufferSize));
        return -1;
    }
    std::memcpy(buffer, record + kRecordHeaderSize, header.len);
    *version = header.version;
    return 0;
}

}  // extern "C"
