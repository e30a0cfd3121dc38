// The flash of a board: its part of board.json, the image and "/proc/mtd"
// of a new board, and the test-facing face (sizes, fault knobs, raw bytes,
// environment and identity fixtures written with the board's own format code).
#include <fcntl.h>
#include <json-c/json.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <vector>

#include "board/flash_format.h"
#include "board/parts.h"
#include "emul/board.h"
#include "emul/flash.h"
#include "emul/json_util.h"

namespace zq::sim {
namespace {

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

const BoardPart kFlashPart = {"flash", flash_create, flash_sync};

// ---- test-facing ----

uint32_t board_flash_size(const std::string &dir) {
    json_object *root = json_load_file(dir + "/" + kBoardFile, nullptr);
    // A board being made has no board.json yet: its flash has the default size.
    uint32_t size = root ? config_from(root).size : kDefaultMtd0Size;
    json_object_put(root);
    return size;
}

bool set_flash_size(const std::string &dir, uint32_t mtd0Size) {
    return set_board_number(dir, "flash", "mtd0_size", mtd0Size);
}
bool set_flash_short_write(const std::string &dir, uint32_t bytes) {
    return set_board_number(dir, "flash", "short_write", bytes);
}
bool set_flash_power_cut(const std::string &dir, int64_t afterBytes) {
    return set_board_number(dir, "flash", "power_cut_after", afterBytes);
}
bool set_flash_interrupt(const std::string &dir, int64_t afterBytes) {
    return set_board_number(dir, "flash", "interrupt_after", afterBytes);
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
