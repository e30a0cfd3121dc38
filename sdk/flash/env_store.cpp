// The boot environment: name=value entries in a checksummed image that the
// boot loader shares, loaded once per process and saved whole after every
// change.
#include "flash/env_store.h"

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "flash/flash_block.h"
#include "port/port.h"
#include "zq_flash.h"
#include "zq_log.h"

namespace port = zq::port;
using namespace zq::flash;

namespace {

struct EnvStore {
    int loaded = 0;
    uint8_t *image = nullptr;  // size bytes, owned for the life of the process
    uint32_t offset = 0;
    uint32_t size = 0;
    uint32_t eraseSize = 0;
    int descriptor = -1;
    // Where the entry list must end: the image end, or, where the identity
    // record shares the erase block, the start of that record, so that the
    // list can never grow over it.
    uint32_t listLimit = 0;
    bool sharesRecordBlock = false;
    std::mutex lock;  // one public call at a time
};

EnvStore g_EnvStore;

constexpr const char *kUnit = "env";

uint8_t *list() {
    return g_EnvStore.image + kEnvHeader;
}
int list_end() {
    return static_cast<int>(g_EnvStore.listLimit - kEnvHeader);
}

// Index of the NUL that ends the entry starting at start, or the list end
// when the image holds none (erased flash).
int entry_end(int start) {
    const uint8_t *l = list();
    int end = list_end();
    while (start < end && l[start] != 0) ++start;
    return start;
}

// Calls visit(start, length) for each entry; stops early when it returns true.
template <typename Visit>
void walk_entries(Visit visit) {
    int end = list_end();
    for (int i = 0; i < end && list()[i] != 0;) {
        int stop = entry_end(i);
        if (visit(i, stop - i)) return;
        i = stop + 1;
    }
}

void close_device() {
    port::close(g_EnvStore.descriptor);
    g_EnvStore.descriptor = -1;
}

// An image whose CRC does not match (a save cut short, erased or foreign
// flash) is no environment: the boot loader then runs on its built-in
// defaults. The SDK knows none of them, so it starts from an empty list:
// reads find nothing, and the next save writes a valid environment that
// holds what was set since.
void start_empty_unless_valid() {
    EnvStore &s = g_EnvStore;
    uint32_t stored = 0, computed = 0;
    if (env_crc_valid(s.image, s.size, &stored, &computed)) return;
    sdk_log(ZQ_LOG_ERROR, kUnit, "env_init", __LINE__,
            "Bad environment CRC [%x,%x], using an empty environment\n", stored, computed);
    std::memset(s.image + kEnvHeader, 0, s.listLimit - kEnvHeader);
}

int env_init_unlocked() {
    EnvStore &s = g_EnvStore;
    if (s.loaded) return 0;
    uint32_t mtd0Size = 0;
    if (!read_mtd0_size(&mtd0Size)) return -1;  // no layout can be chosen
    EnvLayout layout = env_layout_for_size(mtd0Size);

    s.descriptor = port::open(kMtdDevice, O_RDWR);
    if (s.descriptor < 0) {
        sdk_log(ZQ_LOG_ERROR, kUnit, "env_init", __LINE__, "Open Mtd0 Failed\n");
        return -1;
    }
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[layout.size]);
    if (!image) {
        sdk_log(ZQ_LOG_ERROR, kUnit, "env_init", __LINE__, "Cannot Malloc Memory For Buf At %s\n",
                "env_init");
        close_device();
        return -1;
    }
    std::memset(image.get(), 0, layout.size);
    // A read of nothing leaves an all-zero image (whose CRC then fails).
    ssize_t got = port::lseek(s.descriptor, static_cast<off_t>(layout.offset), SEEK_SET) < 0
                      ? -1
                      : port::read(s.descriptor, image.get(), layout.size);
    if (got < 0 || static_cast<uint64_t>(got) % layout.eraseSize != 0) {
        close_device();
        return -1;
    }
    s.image = image.release();
    s.offset = layout.offset;
    s.size = layout.size;
    s.eraseSize = layout.eraseSize;
    s.sharesRecordBlock = env_shares_record_block(layout);
    s.listLimit = s.sharesRecordBlock ? kRecordOffset : s.size;
    s.loaded = 1;
    start_empty_unless_valid();
    return 0;
}

// Removes the first entry named name; later entries move down.
void remove_entry(const char *name) {
    walk_entries([&](int start, int length) {
        if (env_match(name, start) < 0) return false;
        uint8_t *l = list();
        int next = start + length + 1;
        int tail = next;  // the end-of-list NUL after the entries that follow
        while (tail < list_end() && l[tail] != 0) tail = std::min(entry_end(tail) + 1, list_end());
        if (next < tail) {
            std::memmove(l + start, l + next, static_cast<size_t>(tail - next));
            l[start + (tail - next)] = 0;
        } else {
            // The last entry: the list now ends where it began (two NULs at
            // the very start when it was the only one).
            l[start] = 0;
            if (start == 0 && list_end() > 1) l[1] = 0;
        }
        return true;
    });
}

// Where a new entry goes: over the end-of-list NUL, or at the very start of
// an empty list. -1 when the list has no end inside the image.
int insertion_point() {
    const uint8_t *l = list();
    int end = list_end();
    if (end >= 2 && l[0] == 0 && l[1] == 0) return 0;
    for (int p = 0; p + 1 < end; ++p)
        if (l[p] == 0 && l[p + 1] == 0) return p + 1;
    return -1;
}

bool do_setenv(const char *name, const char *value) {
    remove_entry(name);
    size_t nameLen = std::strlen(name), valueLen = std::strlen(value);
    int at = insertion_point();
    if (at < 0 || nameLen + valueLen + 3 > static_cast<size_t>(list_end() - at)) {
        sdk_log(ZQ_LOG_ERROR, kUnit, "do_setenv", __LINE__,
                "Environment Overflow, \"%s\" Deleted\n", name);
        return false;
    }
    uint8_t *p = list() + at;
    std::memcpy(p, name, nameLen);
    p[nameLen] = '=';
    std::memcpy(p + nameLen + 1, value, valueLen);
    p[nameLen + 1 + valueLen] = 0;
    p[nameLen + 2 + valueLen] = 0;
    return true;
}

// Takes the identity record's current bytes from flash into the image, so
// that a save never brings back an older record than the one in flash.
bool refresh_sn_record() {
    EnvStore &s = g_EnvStore;
    return block_read(s.descriptor, s.offset + kRecordOffset, s.image + kRecordOffset, kRecordSize);
}

// Called once the store is loaded: the CRC over the whole image.
void env_crc_update() {
    env_crc_set(g_EnvStore.image, g_EnvStore.size);
}

bool do_saveenv() {
    EnvStore &s = g_EnvStore;
    if (uint64_t{s.offset} % uint64_t{s.eraseSize} != 0) {
        sdk_log(ZQ_LOG_ERROR, kUnit, "do_saveenv", __LINE__, "Address Doesn't Alias 0x1000 %s\n",
                "do_saveenv");
        return false;
    }
    switch (program_erase_range(s.descriptor, s.offset, s.image, s.size)) {
        case BlockWrite::EraseFailed:
            sdk_log(ZQ_LOG_ERROR, kUnit, "do_saveenv", __LINE__, "Mem Erase Failed\n");
            return false;
        case BlockWrite::WriteFailed:
            sdk_log(ZQ_LOG_ERROR, kUnit, "do_saveenv", __LINE__, "Write Mtd Failed\n");
            return false;
        case BlockWrite::Done:
            break;
    }
    return true;
}

bool fits(const char *text, size_t max) {
    return std::strlen(text) <= max;
}

}  // namespace

int env_init() {
    std::lock_guard<std::mutex> hold(g_EnvStore.lock);
    return env_init_unlocked();
}

int env_match(const char *name, int index) {
    if (!name || !g_EnvStore.loaded || index < 0) return -1;
    const uint8_t *l = list();
    int end = list_end();
    for (int i = index;; ++i, ++name) {
        if (i >= end) return -1;
        char c = static_cast<char>(l[i]);
        if (*name != c) return *name == '\0' && c == '=' ? i + 1 : -1;
        if (c == '=') return i + 1;
        if (c == '\0') return -1;  // the entry has no "=": not a variable
    }
}

namespace zq::flash {

bool env_for_each(const std::function<void(std::string_view entry)> &visit) {
    std::lock_guard<std::mutex> hold(g_EnvStore.lock);
    if (env_init_unlocked() != 0) return false;
    walk_entries([&](int start, int length) {
        visit(std::string_view(reinterpret_cast<const char *>(list() + start),
                               static_cast<size_t>(length)));
        return false;
    });
    return true;
}

bool env_use_image(const uint8_t *image, uint32_t size, bool sharesRecordBlock) {
    if (!image || size <= kEnvHeader + 1 || (sharesRecordBlock && size <= kRecordOffset))
        return false;
    std::lock_guard<std::mutex> hold(g_EnvStore.lock);
    EnvStore &s = g_EnvStore;
    uint8_t *copy = new (std::nothrow) uint8_t[size];
    if (!copy) return false;
    std::memcpy(copy, image, size);
    delete[] s.image;
    s.image = copy;
    s.offset = 0;
    s.size = s.eraseSize = size;
    s.sharesRecordBlock = sharesRecordBlock;
    s.listLimit = sharesRecordBlock ? kRecordOffset : size;
    s.loaded = 1;
    return true;
}

}  // namespace zq::flash

extern "C" {

int ZQSDK_EnvReadKeyValue(const char *name, char *buffer, int size) noexcept {
    if (!name || !buffer || size <= 0) return -1;
    std::lock_guard<std::mutex> hold(g_EnvStore.lock);
    if (env_init_unlocked() != 0) return -1;
    int found = -1;
    walk_entries([&](int start, int length) {
        int value = env_match(name, start);
        if (value < 0) return false;
        // A bounded string copy that also never reads past the entry.
        int valueLen = start + length - value;
        int n = valueLen < size ? valueLen : size;
        std::memcpy(buffer, list() + value, static_cast<size_t>(n));
        std::memset(buffer + n, 0, static_cast<size_t>(size - n));
        found = 0;
        return true;
    });
    return found;
}

int ZQSDK_EnvWriteKeyValue(const char *name, const char *value) noexcept {
    if (!name) return -1;
    // Longer names or values, or a name with "=", would spoil the list.
    if (!*name || !fits(name, ZQ_ENV_NAME_MAX) || std::strchr(name, '=') ||
        (value && !fits(value, ZQ_ENV_VALUE_MAX))) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "Bad environment variable name or value\n");
        return -1;
    }
    char nameBuf[24] = {}, valueBuf[32] = {};
    std::strcpy(nameBuf, name);
    if (value) std::strcpy(valueBuf, value);

    std::lock_guard<std::mutex> hold(g_EnvStore.lock);
    if (env_init_unlocked() != 0) return -1;
    if (!do_setenv(nameBuf, valueBuf)) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "Set Environmeent To Flash Fail\n");
        return -1;
    }
    if (g_EnvStore.sharesRecordBlock && !refresh_sn_record()) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "save environmeent to flash fail\n");
        return -1;
    }
    env_crc_update();
    if (!do_saveenv()) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kUnit, "save environmeent to flash fail\n");
        return -1;
    }
    ZQSDK_LOG(ZQ_LOG_INFO, kUnit, "Save environment ok: %s = %s\n", name, value ? value : "(null)");
    return 0;
}

}  // extern "C"
