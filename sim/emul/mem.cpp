// "/dev/mem": physical memory as the sparse board file "dev/mem" (file
// offset = physical address). A mapping is a private copy of its pages; when
// it ends, the words the program changed are written back, word by word so
// that concurrent mappings of one page keep each other's stores. The GPIO
// pad registers take effect at that moment, as the pad model (emul/mem.h)
// answers, and each store into the GPIO block is journaled.
//
// A store that leaves a word as it was cannot be told from no store; the
// level of an input pad is therefore refreshed whenever a mapping is made.
#include "emul/mem.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/file_util.h"
#include "emul/json_util.h"
#include "zq_reg.h"

namespace zq::sim {
namespace {

constexpr size_t kPageSize = 4096;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr uint64_t kGpioBlockEnd = ZQ_GPIO_REG_BASE + 4u * ZQ_GPIO_COUNT;

struct Mapping {
    uint8_t *base = nullptr;
    size_t length = 0;               // whole pages
    uint64_t phys = 0;               // physical address of the first byte
    int fd = -1;                     // the device, held while mapped (as the kernel holds it)
    bool writesBack = false;         // shared and writable
    std::vector<uint8_t> handedOut;  // the pages as the program first saw them
};

struct MemState {
    std::mutex lock;
    std::map<void *, Mapping> mappings;  // by address
};

MemState g_mem;

std::optional<unsigned> gpio_of(uint64_t phys) {
    if (phys < ZQ_GPIO_REG_BASE || phys >= kGpioBlockEnd || phys % 4 != 0) return std::nullopt;
    return static_cast<unsigned>((phys - ZQ_GPIO_REG_BASE) / 4);
}

bool is_input(uint32_t word) {
    return (word & ~ZQ_GPIO_PAD_LEVEL) == ZQ_GPIO_PAD_INPUT;
}

}  // namespace

void *map_physical(const char *device, int fd, size_t length, int prot, int flags, off_t offset,
                   PhysBacking back) {
    auto phys = static_cast<unsigned long long>(offset);
    int access = ::fcntl(fd, F_GETFL) & O_ACCMODE;
    bool sharedWrite = (flags & MAP_SHARED) && (prot & PROT_WRITE);
    bool inside = length > 0 && offset >= 0 && offset % static_cast<off_t>(kPageSize) == 0 &&
                  static_cast<uint64_t>(offset) + length <= kAddressSpace;
    int refusal = !inside ? EINVAL
                  : access == O_WRONLY || (sharedWrite && access != O_RDWR)
                      ? EACCES
                      : request_refusal(device, kMapRequest);
    if (refusal) {
        journal(device, "mmap 0x%08llX length %zu refused: %s", phys, length,
                std::strerror(refusal));
        errno = refusal;
        return MAP_FAILED;
    }
    void *base = back(fd, length, prot, flags, offset);
    if (base != MAP_FAILED) journal(device, "mmap 0x%08llX length %zu", phys, length);
    return base;
}

int input_level(json_object *board, unsigned gpio) {
    json_object *inputs = json_get(json_get(board, "gpio"), "inputs");
    return json_object_get_int(json_get(inputs, std::to_string(gpio).c_str())) != 0 ? 1 : 0;
}

uint32_t pad_reads(uint32_t word, int level) {
    return is_input(word) ? ZQ_GPIO_PAD_INPUT | (level ? ZQ_GPIO_PAD_LEVEL : 0) : word;
}

namespace {

void set_word_at(uint8_t *p, uint32_t word) {
    std::memcpy(p, &word, sizeof word);
}

// The GPIO pads inside a mapping read as the hardware answers them.
void show_input_levels(Mapping &m) {
    uint64_t first = std::max<uint64_t>(m.phys, ZQ_GPIO_REG_BASE);
    uint64_t end = std::min<uint64_t>(m.phys + m.length, kGpioBlockEnd);
    if (first >= end) return;
    json_object *board = board_json();
    for (uint64_t phys = first; phys < end; phys += 4) {
        uint8_t *word = m.base + (phys - m.phys);
        set_word_at(word, pad_reads(record_of<uint32_t>(word), input_level(board, *gpio_of(phys))));
    }
    json_object_put(board);
}

void journal_pad_store(unsigned gpio, uint32_t word, int level) {
    if (is_input(word))
        journal("gpio", "%u pad 0x%08X (input, level %d)", gpio, word, level);
    else
        journal("gpio", "%u pad 0x%08X%s", gpio, word,
                word == ZQ_GPIO_PAD_HIGH  ? " (high)"
                : word == ZQ_GPIO_PAD_LOW ? " (low)"
                                          : "");
}

// Writes back each run of changed words; pad stores take effect on the way.
void write_back(Mapping &m) {
    json_object *board = board_json();
    size_t runStart = 0;
    bool inRun = false;
    for (size_t at = 0; at <= m.length; at += 4) {
        bool changed = at < m.length &&
                       record_of<uint32_t>(m.base + at) != record_of<uint32_t>(&m.handedOut[at]);
        if (changed) {
            if (auto gpio = gpio_of(m.phys + at)) {
                int level = input_level(board, *gpio);
                journal_pad_store(*gpio, record_of<uint32_t>(m.base + at), level);
                set_word_at(m.base + at, pad_reads(record_of<uint32_t>(m.base + at), level));
            }
            if (!inRun) runStart = at;
            inRun = true;
        } else if (inRun) {
            inRun = false;
            if (!write_at(m.fd, m.base + runStart, at - runStart, m.phys + runStart))
                journal(kMemDevice, "store at 0x%08llX lost: %s",
                        static_cast<unsigned long long>(m.phys + runStart), std::strerror(errno));
        }
    }
    json_object_put(board);
}

bool read_pages(int fd, Mapping &m) {
    for (size_t done = 0; done < m.length;) {
        ssize_t n = ::pread(fd, m.base + done, m.length - done, static_cast<off_t>(m.phys + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // beyond the written part: zeros
        done += static_cast<size_t>(n);
    }
    return true;
}

// A private copy of the pages, written back word by word when it ends.
void *copy_pages(int fd, size_t length, int prot, int flags, off_t offset) {
    Mapping m;
    m.length = (length + kPageSize - 1) / kPageSize * kPageSize;
    m.phys = static_cast<uint64_t>(offset);
    void *base =
        ::mmap(nullptr, m.length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return MAP_FAILED;
    m.base = static_cast<uint8_t *>(base);
    m.fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (m.fd < 0 || !read_pages(fd, m)) {
        int saved = errno;
        if (m.fd >= 0) ::close(m.fd);
        ::munmap(base, m.length);
        errno = saved;
        return MAP_FAILED;
    }
    show_input_levels(m);
    m.writesBack = (flags & MAP_SHARED) && (prot & PROT_WRITE);
    if (m.writesBack) m.handedOut.assign(m.base, m.base + m.length);
    if (!(prot & PROT_WRITE)) ::mprotect(base, m.length, prot);
    std::lock_guard<std::mutex> hold(g_mem.lock);
    g_mem.mappings.emplace(base, std::move(m));
    return base;
}

void *mem_mmap(int fd, size_t length, int prot, int flags, off_t offset) {
    return map_physical(kMemDevice, fd, length, prot, flags, offset, copy_pages);
}

// Ends the whole mapping that starts at addr.
int mem_munmap(void *addr, size_t length) {
    Mapping m;
    {
        std::lock_guard<std::mutex> hold(g_mem.lock);
        auto entry = g_mem.mappings.extract(addr);
        if (!entry) return ::munmap(addr, length);
        m = std::move(entry.mapped());
    }
    if (m.writesBack) write_back(m);
    ::close(m.fd);
    journal(kMemDevice, "munmap 0x%08llX length %zu", static_cast<unsigned long long>(m.phys),
            length);
    return ::munmap(m.base, m.length);
}

}  // namespace

extern const Device kMemDeviceEmulator = {kMemDevice, 0,        nullptr,   nullptr,
                                          nullptr,    mem_mmap, mem_munmap};

}  // namespace zq::sim
