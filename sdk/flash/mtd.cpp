#include "flash/mtd.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

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

bool env_shares_sn_block(const EnvLayout &layout) {
    return layout.offset == kSnBlockOffset && layout.size == kSnBlockSize;
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

ssize_t mtd_read_at(int fd, uint32_t offset, void *buf, size_t len) {
    if (port::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return -1;
    return port::read(fd, buf, len);
}

ssize_t mtd_write_at(int fd, uint32_t offset, const void *buf, size_t len) {
    if (port::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return -1;
    return port::write(fd, buf, len);
}

int mtd_erase(int fd, uint32_t start, uint32_t length) {
    EraseInfoUser erase{start, length};
    return port::ioctl(fd, kMemErase, &erase);
}

}  // namespace zq::flash
