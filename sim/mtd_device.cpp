// "/dev/mtd0": NOR flash. Erase sets whole erase blocks to 0xFF; a write
// programs any byte range inside the partition and can only clear bits.
// Fault knobs cut the power in the middle of a write, interrupt it with a
// Ctrl-C, or make writes short.
#include <fcntl.h>
#include <json-c/json.h>
#include <sys/ioctl.h>
// after sys/ioctl.h, whose macros it uses
#include <mtd/mtd-user.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "board.h"
#include "board_parts.h"
#include "devices.h"
#include "flash.h"
#include "flash_format.h"
#include "json_util.h"

namespace zq::sim {
namespace {

struct FlashConfig {
    uint32_t size = kDefaultMtd0Size;
    uint32_t eraseSize = kFlashEraseSize;
    uint32_t shortWrite = 0;
    int64_t powerCutAfter = -1;
    int64_t interruptAfter = -1;
};

FlashConfig config_from(json_object *root) {
    json_object *flash = json_get(root, "flash");
    FlashConfig c;
    c.size = static_cast<uint32_t>(json_number(flash, "mtd0_size", kDefaultMtd0Size));
    c.eraseSize = static_cast<uint32_t>(json_number(flash, "erase_size", kFlashEraseSize));
    c.shortWrite = static_cast<uint32_t>(json_number(flash, "short_write", 0));
    c.powerCutAfter = json_int64(flash, "power_cut_after", -1);
    c.interruptAfter = json_int64(flash, "interrupt_after", -1);
    if (c.eraseSize == 0) c.eraseSize = kFlashEraseSize;
    return c;
}

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

bool whole_blocks(const FlashConfig &c, uint64_t start, uint64_t length) {
    return start % c.eraseSize == 0 && length % c.eraseSize == 0 && start + length <= c.size;
}

int mtd_ioctl(int fd, unsigned long request, void *arg) {
    if (request != MEMERASE) {
        errno = ENOTTY;
        return -1;
    }
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    erase_info_user erase;
    std::memcpy(&erase, arg, sizeof erase);
    FlashConfig c = active_config();
    if (erase.length == 0 || !whole_blocks(c, erase.start, erase.length)) {
        journal("/dev/mtd0", "erase 0x%08X+0x%X refused: not whole erase blocks", erase.start,
                erase.length);
        errno = EINVAL;
        return -1;
    }
    std::vector<uint8_t> erased(erase.length, 0xFF);
    if (::pwrite(fd, erased.data(), erased.size(), erase.start) !=
        static_cast<ssize_t>(erased.size()))
        return -1;
    journal("/dev/mtd0", "erase 0x%08X+0x%X", erase.start, erase.length);
    return 0;
}

// Programming only clears bits: the cell keeps old AND new.
bool program(int fd, off_t at, const uint8_t *data, size_t n) {
    std::vector<uint8_t> cells(n);
    if (::pread(fd, cells.data(), n, at) != static_cast<ssize_t>(n)) return false;
    for (size_t i = 0; i < n; ++i) cells[i] &= data[i];
    return ::pwrite(fd, cells.data(), n, at) == static_cast<ssize_t>(n);
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
        errno = ENOSPC;
        return -1;
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

// ---- the board part: the flash image and "/proc/mtd" ----

void flash_defaults(json_object *root) {
    json_object *flash = json_object_new_object();
    json_object_object_add(flash, "mtd0_size", json_object_new_int64(kDefaultMtd0Size));
    json_object_object_add(flash, "erase_size", json_object_new_int64(kFlashEraseSize));
    json_object_object_add(flash, "short_write", json_object_new_int64(0));
    json_object_object_add(flash, "power_cut_after", json_object_new_int64(-1));
    json_object_object_add(flash, "interrupt_after", json_object_new_int64(-1));
    json_object_object_add(root, "flash", flash);
}

std::string image_path(const std::string &dir) {
    return dir + "/dev/mtd0";
}

// Grows (with erased bytes) or shrinks the image to size.
bool fit_image(const std::string &dir, uint32_t size) {
    std::string path = image_path(dir);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    off_t had = ::lseek(fd, 0, SEEK_END);
    bool ok = had >= 0;
    if (ok && had < static_cast<off_t>(size)) {
        std::vector<uint8_t> erased(size - static_cast<size_t>(had), 0xFF);
        ok = ::pwrite(fd, erased.data(), erased.size(), had) == static_cast<ssize_t>(erased.size());
    } else if (ok && had > static_cast<off_t>(size)) {
        ok = ::ftruncate(fd, size) == 0;
    }
    ::close(fd);
    return ok;
}

bool flash_sync(const std::string &dir, json_object *root, std::string *error) {
    FlashConfig c = config_from(root);
    char table[256];
    std::snprintf(table, sizeof table,
                  "dev:    size   erasesize  name\n"
                  "mtd0: %08x %08x \"boot\"\n"
                  "mtd1: 00300000 %08x \"kernel\"\n"
                  "mtd2: 00c00000 %08x \"rootfs\"\n",
                  c.size, c.eraseSize, c.eraseSize, c.eraseSize);
    std::ofstream(dir + "/proc/mtd", std::ios::trunc) << table;
    if (!fit_image(dir, c.size)) {
        *error = image_path(dir) + ": cannot be sized";
        return false;
    }
    return true;
}

// A new board: erased flash, a factory identity record with placeholder
// UUID and KEY, and a boot environment that starts the main application.
bool flash_create(const std::string &dir, json_object *root, std::string *error) {
    if (!flash_sync(dir, root, error)) return false;
    Identity factory;
    factory.uuid = "ZQ-UUID-PLACEHOLDER-0001";
    factory.key = "ZQ-KEY-PLACEHOLDER-0000000000000001";
    bool ok = write_sn_record(dir, make_identity(factory), 0x300) &&
              write_env_image(dir, {"bootdelay=1", "baudrate=115200", "zqauto=1"});
    if (!ok) *error = image_path(dir) + ": cannot be written";
    return ok;
}

}  // namespace

extern const Device kMtdDevice;
const Device kMtdDevice = {"/dev/mtd0", 0, mtd_ioctl, nullptr, mtd_write, nullptr, nullptr};

extern const BoardPart kFlashPart;
const BoardPart kFlashPart = {"flash", flash_defaults, flash_create, flash_sync};

// ---- test-facing ----

uint32_t board_flash_size(const std::string &dir) {
    json_object *root = json_load_file(dir + "/" + kBoardFile, nullptr);
    // A board being made has no board.json yet: its flash has the default size.
    uint32_t size = root ? config_from(root).size : kDefaultMtd0Size;
    json_object_put(root);
    return size;
}

namespace {
bool set_flash_value(const std::string &dir, const char *key, int64_t value) {
    return edit_board(dir, [&](json_object *root) {
        json_object_object_add(json_member(root, "flash", json_type_object), key,
                               json_object_new_int64(value));
    });
}
}  // namespace

bool set_flash_size(const std::string &dir, uint32_t mtd0Size) {
    return set_flash_value(dir, "mtd0_size", mtd0Size);
}
bool set_flash_short_write(const std::string &dir, uint32_t bytes) {
    return set_flash_value(dir, "short_write", bytes);
}
bool set_flash_power_cut(const std::string &dir, int64_t afterBytes) {
    return set_flash_value(dir, "power_cut_after", afterBytes);
}
bool set_flash_interrupt(const std::string &dir, int64_t afterBytes) {
    return set_flash_value(dir, "interrupt_after", afterBytes);
}

std::vector<uint8_t> read_flash(const std::string &dir, uint32_t offset, uint32_t length) {
    std::vector<uint8_t> bytes;
    int fd = ::open(image_path(dir).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    off_t size = ::lseek(fd, 0, SEEK_END);
    if (size > static_cast<off_t>(offset)) {
        bytes.resize(
            static_cast<size_t>(std::min<uint64_t>(length, static_cast<uint64_t>(size) - offset)));
        ssize_t got = ::pread(fd, bytes.data(), bytes.size(), offset);
        bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    }
    ::close(fd);
    return bytes;
}

bool poke_flash(const std::string &dir, uint32_t offset, const std::vector<uint8_t> &bytes) {
    int fd = ::open(image_path(dir).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok =
        ::pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    return ok;
}

bool write_env_image(const std::string &dir, const std::vector<std::string> &entries) {
    const EnvPlace place = env_place(board_flash_size(dir));
    std::vector<uint8_t> image = read_flash(dir, place.offset, place.size);
    image.resize(place.size, 0xFF);
    image = make_env(image, place.listEnd, entries);
    return !image.empty() && poke_flash(dir, place.offset, image);
}

bool write_sn_record(const std::string &dir, const std::vector<uint8_t> &payload,
                     uint32_t version) {
    if (payload.size() > kRecordMaxPayload) return false;
    return poke_flash(dir, kRecordFlashOffset, make_record(payload, version));
}

}  // namespace zq::sim
