// "/dev/mmz": the media memory zone's driver. It hands out named,
// page-aligned buffers from the zone of board.json "mmz" (base and size),
// and maps any physical range of the board's memory: the same `dev/mem`
// that "/dev/mem" and the video emulators use, shared (MAP_SHARED), so
// what one process or emulator writes, every other sees.
//
// The zone's table lives in the node file itself, one 44-byte record a
// buffer (name, length, physical address, cached flag), under a file lock,
// so every process on the board shares it.
#include <fcntl.h>
#include <json-c/json.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"
#include "emul/mem.h"
#include "emul/mmz.h"
#include "zq_sys.h"

namespace zq::sim {
namespace {

constexpr uint64_t kPage = 4096;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

struct FileLock {
    int fd;
    explicit FileLock(int f) : fd(f) { ::flock(fd, LOCK_EX); }
    ~FileLock() { ::flock(fd, LOCK_UN); }
};

std::vector<MmzBuffer> read_table(int fd) {
    std::vector<MmzBuffer> table;
    MmzRequest record;
    for (off_t at = 0; ::pread(fd, &record, sizeof record, at) == sizeof record;
         at += static_cast<off_t>(sizeof record)) {
        MmzBuffer b;
        b.name.assign(record.szMmbName, strnlen(record.szMmbName, sizeof record.szMmbName));
        b.length = record.u32Len;
        b.phys = record.u32PhyAddr;
        b.cached = record.u32VirAddr != 0;
        table.push_back(b);
    }
    return table;
}

bool write_table(int fd, const std::vector<MmzBuffer> &table) {
    std::vector<MmzRequest> records(table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        std::memset(&records[i], 0, sizeof records[i]);
        std::memcpy(records[i].szMmbName, table[i].name.data(),
                    std::min(table[i].name.size(), sizeof records[i].szMmbName));
        records[i].u32Len = table[i].length;
        records[i].u32PhyAddr = table[i].phys;
        records[i].u32VirAddr = table[i].cached ? 1 : 0;
    }
    size_t bytes = records.size() * sizeof(MmzRequest);
    return ::ftruncate(fd, 0) == 0 &&
           ::pwrite(fd, records.data(), bytes, 0) == static_cast<ssize_t>(bytes);
}

// The first gap of the zone that holds length bytes; 0 when there is none.
uint32_t first_fit(const std::vector<MmzBuffer> &table, const MmzZone &zone, uint64_t length) {
    uint64_t at = zone.base;
    for (const MmzBuffer &b : table) {  // the table is kept in address order
        if (b.phys >= at + length) break;
        at = std::max<uint64_t>(at, (uint64_t{b.phys} + b.length + kPage - 1) / kPage * kPage);
    }
    return at + length <= uint64_t{zone.base} + zone.size ? static_cast<uint32_t>(at) : 0;
}

int allocate(int fd, MmzRequest *request, bool cached) {
    uint64_t length = (uint64_t{request->u32Len} + kPage - 1) / kPage * kPage;
    std::string name(request->szMmbName, strnlen(request->szMmbName, sizeof request->szMmbName));
    if (length == 0) {
        journal("mmz", "alloc \"%s\" of 0 bytes refused", name.c_str());
        errno = EINVAL;
        return -1;
    }
    FileLock hold(fd);
    std::vector<MmzBuffer> table = read_table(fd);
    uint32_t phys = first_fit(table, active_mmz_zone(), length);
    if (phys == 0) {
        journal("mmz", "alloc \"%s\" of %u bytes refused: the zone is full", name.c_str(),
                request->u32Len);
        errno = ENOMEM;
        return -1;
    }
    MmzBuffer b{name, static_cast<uint32_t>(length), phys, cached};
    table.insert(
        std::upper_bound(table.begin(), table.end(), b,
                         [](const MmzBuffer &x, const MmzBuffer &y) { return x.phys < y.phys; }),
        b);
    if (!write_table(fd, table)) return -1;
    request->u32Len = b.length;
    request->u32PhyAddr = phys;
    journal("mmz", "alloc \"%s\" %u bytes at 0x%08X%s", name.c_str(), b.length, phys,
            cached ? " (cached)" : "");
    return 0;
}

int look_up(int fd, MmzRequest *request) {
    std::string name(request->szMmbName, strnlen(request->szMmbName, sizeof request->szMmbName));
    FileLock hold(fd);
    for (const MmzBuffer &b : read_table(fd)) {
        if (b.name != name) continue;
        request->u32Len = b.length;
        request->u32PhyAddr = b.phys;
        journal("mmz", "look-up \"%s\": 0x%08X, %u bytes", name.c_str(), b.phys, b.length);
        return 0;
    }
    journal("mmz", "look-up \"%s\": no such buffer", name.c_str());
    errno = ENOENT;
    return -1;
}

// What this process's requests looked like when they arrived.
struct SeenRequests {
    std::mutex lock;
    std::vector<MmzRequestSeen> requests;
};
SeenRequests g_seen;

void remember(unsigned long request, const void *arg) {
    MmzRequestSeen seen{request, {}};
    if (arg && request != ZQ_MMZ_RESET) {
        const auto *bytes = static_cast<const uint8_t *>(arg);
        seen.record.assign(bytes, bytes + sizeof(MmzRequest));
    }
    std::lock_guard<std::mutex> hold(g_seen.lock);
    g_seen.requests.push_back(std::move(seen));
}

int mmz_ioctl(int fd, unsigned long request, void *arg) {
    remember(request, arg);
    if (request == ZQ_MMZ_RESET) {
        FileLock hold(fd);
        journal("mmz", "reset");
        return ::ftruncate(fd, 0);
    }
    if (!arg) {
        errno = request == ZQ_MMZ_ALLOC || request == ZQ_MMZ_ALLOC_CACHED ||
                        request == ZQ_MMZ_GET_ADDR || request == ZQ_MMZ_FLUSH_CACHE ||
                        request == ZQ_MMZ_MAP || request == ZQ_MMZ_MAP_CACHED
                    ? EFAULT
                    : ENOTTY;
        return -1;
    }
    auto *r = static_cast<MmzRequest *>(arg);
    switch (request) {
        case ZQ_MMZ_ALLOC:
        case ZQ_MMZ_ALLOC_CACHED:
            return allocate(fd, r, request == ZQ_MMZ_ALLOC_CACHED);
        case ZQ_MMZ_GET_ADDR:
            return look_up(fd, r);
        case ZQ_MMZ_FLUSH_CACHE:
            journal("mmz", "flush 0x%08X, %u bytes", r->u32PhyAddr, r->u32Len);
            return 0;
        case ZQ_MMZ_MAP:
        case ZQ_MMZ_MAP_CACHED:
            journal("mmz", "map 0x%08X, %u bytes%s", r->u32PhyAddr, r->u32Len,
                    request == ZQ_MMZ_MAP_CACHED ? " (cached)" : "");
            return 0;
        default:
            errno = ENOTTY;
            return -1;
    }
}

void *mmz_mmap(int fd, size_t length, int prot, int flags, off_t offset) {
    auto phys = static_cast<unsigned long long>(offset);
    if (int refusal = mapping_refusal(kMmzDevice, fd, length, prot, flags, offset)) {
        journal(kMmzDevice, "mmap 0x%08llX length %zu refused: %s", phys, length,
                std::strerror(refusal));
        errno = refusal;
        return MAP_FAILED;
    }
    int memory = ::open(resolve(kMemDevice).c_str(), O_RDWR | O_CLOEXEC);
    if (memory < 0) return MAP_FAILED;
    // A shared mapping past the file's end faults: the memory file spans the
    // whole address space (sparse, so it costs nothing), and every process
    // grows it to the same size, so none can shrink it under another.
    struct stat st {};
    if (::fstat(memory, &st) == 0 && static_cast<uint64_t>(st.st_size) < kAddressSpace)
        (void)::ftruncate(memory, static_cast<off_t>(kAddressSpace));
    void *base = ::mmap(nullptr, length, prot, MAP_SHARED, memory, offset);
    int saved = errno;
    ::close(memory);
    if (base == MAP_FAILED) {
        errno = saved;
        return MAP_FAILED;
    }
    journal(kMmzDevice, "mmap 0x%08llX length %zu", phys, length);
    return base;
}

int mmz_munmap(void *addr, size_t length) {
    journal(kMmzDevice, "munmap length %zu", length);
    return ::munmap(addr, length);
}

}  // namespace

MmzZone active_mmz_zone() {
    json_object *root = board_json();
    json_object *mmz = json_get(root, "mmz");
    MmzZone zone{static_cast<uint32_t>(json_int64(mmz, "base", kMmzDefaultBase)),
                 static_cast<uint32_t>(json_int64(mmz, "size", kMmzDefaultSize))};
    json_object_put(root);
    return zone;
}

std::vector<MmzRequestSeen> mmz_requests() {
    std::lock_guard<std::mutex> hold(g_seen.lock);
    return g_seen.requests;
}

std::vector<MmzBuffer> mmz_buffers(const std::string &dir) {
    int fd = ::open((dir + kMmzDevice).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    std::vector<MmzBuffer> table;
    {
        FileLock hold(fd);
        table = read_table(fd);
    }
    ::close(fd);
    return table;
}

extern const Device kMmzDeviceEmulator;
const Device kMmzDeviceEmulator = {kMmzDevice,   0,        mmz_ioctl, refuse_read,
                                   refuse_write, mmz_mmap, mmz_munmap};

}  // namespace zq::sim
