// "/dev/mtd0": NOR flash. Erase sets whole erase blocks to 0xFF; a write
// programs any byte range inside the partition and can only clear bits.
// Fault knobs cut the power in the middle of a write, interrupt it with a
// Ctrl-C, or make writes short.
#include <json-c/json.h>
#include <sys/ioctl.h>
// after sys/ioctl.h, whose macros it uses
#include <mtd/mtd-user.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <vector>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/file_util.h"
#include "emul/flash.h"

namespace zq::sim {
namespace {

FlashConfig active_config() {
    json_object *root = board_json();
    FlashConfig c = config_from(root);
    json_object_put(root);
    return c;
}

// Bytes programmed by this process's writes, for the power-cut and
// interrupt knobs; the interrupt comes once.
std::atomic<int64_t> g_programmed{0};
std::atomic<bool> g_interrupted{false};

int mtd_ioctl(int fd, unsigned long request, void *arg) {
    if (!known_request(request, MEMERASE, arg)) return -1;
    auto erase = record_of<erase_info_user>(arg);
    FlashConfig c = active_config();
    if (erase.length == 0 || erase.start % c.eraseSize || erase.length % c.eraseSize ||
        uint64_t{erase.start} + erase.length > c.size) {
        journal("/dev/mtd0", "erase 0x%08X+0x%X refused: not whole erase blocks", erase.start,
                erase.length);
        return fail(EINVAL);
    }
    std::vector<uint8_t> erased(erase.length, 0xFF);
    if (!write_at(fd, erased.data(), erased.size(), erase.start)) return -1;
    journal("/dev/mtd0", "erase 0x%08X+0x%X", erase.start, erase.length);
    return 0;
}

// Programming only clears bits: the cell keeps old AND new.
bool program(int fd, off_t at, const uint8_t *data, size_t n) {
    std::vector<uint8_t> cells(n);
    if (!read_at(fd, cells.data(), n, static_cast<uint64_t>(at))) return false;
    for (size_t i = 0; i < n; ++i) cells[i] &= data[i];
    return write_at(fd, cells.data(), n, static_cast<uint64_t>(at));
}

// A Ctrl-C at the console once afterBytes have been programmed.
void interrupt_if_due(const FlashConfig &c) {
    if (c.interruptAfter < 0 || g_programmed.load() < c.interruptAfter) return;
    if (g_interrupted.exchange(true)) return;
    journal("/dev/mtd0", "interrupt (SIGINT) after 0x%llX bytes written",
            static_cast<unsigned long long>(g_programmed.load()));
    ::kill(::getpid(), SIGINT);
}

ssize_t mtd_write(int fd, const void *buf, size_t count) {
    FlashConfig c = active_config();
    off_t at = ::lseek(fd, 0, SEEK_CUR);
    if (at < 0) return -1;
    // As the MTD character device: nothing at the partition end, a write
    // that runs past it is cut there.
    if (static_cast<uint64_t>(at) >= c.size) {
        journal("/dev/mtd0", "write 0x%08llX+0x%zX refused: past the partition end",
                static_cast<unsigned long long>(at), count);
        return fail(ENOSPC);
    }
    count = static_cast<size_t>(std::min<uint64_t>(count, c.size - static_cast<uint64_t>(at)));
    size_t n = c.shortWrite && c.shortWrite < count ? c.shortWrite : count;
    bool cut = false;
    if (c.powerCutAfter >= 0 && g_programmed.load() + static_cast<int64_t>(n) > c.powerCutAfter) {
        n = static_cast<size_t>(std::max<int64_t>(0, c.powerCutAfter - g_programmed.load()));
        cut = true;
    }
    if (!program(fd, at, static_cast<const uint8_t *>(buf), n)) return -1;
    g_programmed += static_cast<int64_t>(n);
    if (cut) {
        journal("/dev/mtd0", "power cut after 0x%zX of 0x%zX bytes written at 0x%08llX", n, count,
                static_cast<unsigned long long>(at));
        ::fsync(fd);
        ::kill(::getpid(), SIGKILL);
    }
    ::lseek(fd, at + static_cast<off_t>(n), SEEK_SET);
    if (n < count)
        journal("/dev/mtd0", "short write: 0x%zX of 0x%zX bytes at 0x%08llX", n, count,
                static_cast<unsigned long long>(at));
    else
        journal("/dev/mtd0", "write 0x%08llX+0x%zX", static_cast<unsigned long long>(at), count);
    interrupt_if_due(c);
    return static_cast<ssize_t>(n);
}

}  // namespace

extern const Device kMtdDevice = {"/dev/mtd0", 0, mtd_ioctl, nullptr, mtd_write};

}  // namespace zq::sim
