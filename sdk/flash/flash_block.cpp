// The erase blocks of mtd0 and their one owner (see flash_block.h).
#include "flash/flash_block.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "flash/crc32.h"
#include "port/port.h"

namespace zq::flash {

namespace port = zq::port;

// The request code carries the record size: the same 8 bytes on 32 and 64 bits.
static_assert(kMemErase == _IOW('M', 2, EraseInfoUser));

EnvLayout env_layout_for_size(uint32_t mtd0Size) {
    switch (mtd0Size) {
        case 0x40000:
            return {0x30000, 0x10000, 0x10000};
        case 0x30000:
            return {0x20000, 0x10000, 0x10000};
        case 0x20000:
            return {0x10000, 0x10000, 0x10000};
        default:
            return {0x40000, 0x40000, 0x40000};
    }
}

bool env_shares_record_block(const EnvLayout &layout) {
    return layout.offset == kRecordBlockOffset && layout.size == kRecordBlockSize;
}

bool read_mtd0_size(uint32_t *size) {
    FILE *table = port::fopen(kProcMtd, "r");
    if (!table) return false;
    char line[128];
    bool found = false;
    if (std::fgets(line, sizeof line, table) && std::strstr(line, "dev:")) {
        while (std::fgets(line, sizeof line, table) && std::strstr(line, "mtd")) {
            int number = -1;
            unsigned partSize = 0, eraseSize = 0;
            if (std::sscanf(line, "mtd%d: %x %x", &number, &partSize, &eraseSize) == 3 &&
                number == 0) {
                *size = partSize;
                found = true;
                break;
            }
        }
    }
    port::fclose(table);
    return found;
}

bool env_crc_valid(const uint8_t *image, uint32_t size, uint32_t *stored, uint32_t *computed) {
    const uint32_t inImage = get_le32(image);
    const uint32_t crc = crc32(image + kEnvHeader, size - kEnvHeader);
    if (stored) *stored = inImage;
    if (computed) *computed = crc;
    return inImage == crc;
}

void env_crc_set(uint8_t *image, uint32_t size) {
    put_le32(image, crc32(image + kEnvHeader, size - kEnvHeader));
}

bool block_read(int fd, uint32_t offset, uint8_t *image, uint32_t length) {
    if (port::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
    return port::read(fd, image, length) == static_cast<ssize_t>(length);
}

namespace {

int erase(int fd, uint32_t start, uint32_t length) {
    EraseInfoUser request{start, length};
    return port::ioctl(fd, kMemErase, &request);
}

struct Piece {
    uint32_t from, to;  // within the range
};

bool program(int fd, uint32_t offset, const uint8_t *image, Piece piece) {
    if (piece.from >= piece.to) return true;
    if (port::lseek(fd, static_cast<off_t>(offset + piece.from), SEEK_SET) < 0) return false;
    const size_t length = piece.to - piece.from;
    return port::write(fd, image + piece.from, length) == static_cast<ssize_t>(length);
}

}  // namespace

BlockWrite program_erase_range(int fd, uint32_t offset, const uint8_t *image, uint32_t size) {
    constexpr uint32_t kRecordAt = kRecordBlockOffset + kRecordOffset;
    constexpr uint32_t kCommitWord = 4;  // the record's magic, the environment's CRC
    Piece order[5] = {};
    int pieces = 0;
    if (kRecordAt >= offset && kRecordAt + kRecordSize <= offset + size) {
        const uint32_t record = kRecordAt - offset;
        order[pieces++] = {record + kCommitWord, record + kRecordSize};
        order[pieces++] = {record, record + kCommitWord};
        order[pieces++] = {kCommitWord, record};
        order[pieces++] = {record + kRecordSize, size};
    } else {
        order[pieces++] = {kCommitWord, size};
    }
    order[pieces++] = {0, kCommitWord};

    port::TerminationHold hold;
    if (erase(fd, offset, size) != 0) return BlockWrite::EraseFailed;
    for (int i = 0; i < pieces; ++i)
        if (!program(fd, offset, image, order[i])) return BlockWrite::WriteFailed;
    return BlockWrite::Done;
}

}  // namespace zq::flash
