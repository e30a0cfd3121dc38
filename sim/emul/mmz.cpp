// "/dev/mmz": the media memory zone's driver. It hands out named,
// page-aligned buffers from the zone of board.json "mmz" (base and size),
// and maps any physical range of the board's memory: the same `dev/mem`
// that "/dev/mem" and the video emulators use, shared (MAP_SHARED), so
// what one process or emulator writes, every other sees.
//
// The zone's table lives in the node file itself (a locked state file: name,
// length, physical address and cached flag of each buffer), so every process
// on the board shares it.
#include "emul/mmz.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"
#include "emul/mem.h"
#include "emul/state_file.h"
#include "zq_sys.h"

namespace zq::sim {
namespace {

constexpr uint64_t kPage = 4096;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

const StateField<MmzBuffer> kFields[] = {
    ZQ_STATE_FIELD(MmzBuffer, "length", length),
    ZQ_STATE_FIELD(MmzBuffer, "phys", phys),
    ZQ_STATE_FIELD(MmzBuffer, "cached", cached),
};

std::vector<MmzBuffer> table_of(json_object *root) {
    std::vector<MmzBuffer> table;
    for (size_t i = 0; json_object *entry = json_at(json_get(root, "buffers"), i); ++i) {
        table.push_back({json_string(entry, "name", ""), 0, 0, false});
        read_fields(entry, &table.back(), kFields);
    }
    return table;
}

json_object *table_json(const std::vector<MmzBuffer> &table) {
    json_object *root = json_object_new_object(), *list = json_object_new_array();
    for (const MmzBuffer &b : table) {
        json_object *entry = fields_json(b, kFields);
        json_object_object_add(entry, "name", json_object_new_string(b.name.c_str()));
        json_object_array_add(list, entry);
    }
    json_object_object_add(root, "buffers", list);
    return root;
}

struct MmzZone {
    uint32_t base;
    uint32_t size;
};

MmzZone active_mmz_zone() {
    json_object *root = board_json();
    json_object *mmz = json_get(root, "mmz");
    MmzZone zone{static_cast<uint32_t>(json_int64(mmz, "base", kMmzDefaultBase)),
                 static_cast<uint32_t>(json_int64(mmz, "size", kMmzDefaultSize))};
    json_object_put(root);
    return zone;
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

int allocate(MmzRequest *request, bool cached) {
    uint64_t length = (uint64_t{request->u32Len} + kPage - 1) / kPage * kPage;
    std::string name(request->szMmbName, strnlen(request->szMmbName, sizeof request->szMmbName));
    if (length == 0) {
        journal("mmz", "alloc \"%s\" of 0 bytes refused", name.c_str());
        return fail(EINVAL);
    }
    LockedFile file(resolve(kMmzDevice), O_RDWR);
    if (!file.is_open()) return -1;
    std::vector<MmzBuffer> table = file.load(table_of);
    uint32_t phys = first_fit(table, active_mmz_zone(), length);
    if (phys == 0) {
        journal("mmz", "alloc \"%s\" of %u bytes refused: the zone is full", name.c_str(),
                request->u32Len);
        return fail(ENOMEM);
    }
    MmzBuffer b{name, static_cast<uint32_t>(length), phys, cached};
    auto after = [&](const MmzBuffer &x) { return x.phys > phys; };
    table.insert(std::find_if(table.begin(), table.end(), after), b);
    if (!file.store(table_json(table))) return fail(EIO);
    request->u32Len = b.length;
    request->u32PhyAddr = phys;
    journal("mmz", "alloc \"%s\" %u bytes at 0x%08X%s", name.c_str(), b.length, phys,
            cached ? " (cached)" : "");
    return 0;
}

int look_up(MmzRequest *request) {
    std::string name(request->szMmbName, strnlen(request->szMmbName, sizeof request->szMmbName));
    for (const MmzBuffer &b : LockedFile(resolve(kMmzDevice), O_RDONLY).load(table_of)) {
        if (b.name != name) continue;
        request->u32Len = b.length;
        request->u32PhyAddr = b.phys;
        journal("mmz", "look-up \"%s\": 0x%08X, %u bytes", name.c_str(), b.phys, b.length);
        return 0;
    }
    journal("mmz", "look-up \"%s\": no such buffer", name.c_str());
    return fail(ENOENT);
}

RequestLog g_seen;

int mmz_ioctl(int, unsigned long request, void *arg) {
    g_seen.add(request, request == ZQ_MMZ_RESET ? nullptr : arg, sizeof(MmzRequest));
    if (request == ZQ_MMZ_RESET) {
        journal("mmz", "reset");
        return LockedFile(resolve(kMmzDevice), O_RDWR).store(table_json({})) ? 0 : fail(EIO);
    }
    auto *r = static_cast<MmzRequest *>(arg);
    switch (request) {
        case ZQ_MMZ_ALLOC:
        case ZQ_MMZ_ALLOC_CACHED:
            return r ? allocate(r, request == ZQ_MMZ_ALLOC_CACHED) : fail(EFAULT);
        case ZQ_MMZ_GET_ADDR:
            return r ? look_up(r) : fail(EFAULT);
        case ZQ_MMZ_FLUSH_CACHE:
            if (!r) return fail(EFAULT);
            journal("mmz", "flush 0x%08X, %u bytes", r->u32PhyAddr, r->u32Len);
            return 0;
        case ZQ_MMZ_MAP:
        case ZQ_MMZ_MAP_CACHED:
            if (!r) return fail(EFAULT);
            journal("mmz", "map 0x%08X, %u bytes%s", r->u32PhyAddr, r->u32Len,
                    request == ZQ_MMZ_MAP_CACHED ? " (cached)" : "");
            return 0;
        default:
            return fail(ENOTTY);
    }
}

// A shared mapping of the board's memory file "dev/mem". A shared mapping
// past the file's end faults: the memory file spans the whole address space
// (sparse, so it costs nothing), and every process grows it to the same
// size, so none can shrink it under another.
void *share_memory(int, size_t length, int prot, int, off_t offset) {
    int memory = ::open(resolve(kMemDevice).c_str(), O_RDWR | O_CLOEXEC);
    if (memory < 0) return MAP_FAILED;
    struct stat st {};
    if (::fstat(memory, &st) == 0 && static_cast<uint64_t>(st.st_size) < kAddressSpace)
        (void)::ftruncate(memory, static_cast<off_t>(kAddressSpace));
    void *base = ::mmap(nullptr, length, prot, MAP_SHARED, memory, offset);
    int saved = errno;
    ::close(memory);
    errno = saved;
    return base;
}

void *mmz_mmap(int fd, size_t length, int prot, int flags, off_t offset) {
    return map_physical(kMmzDevice, fd, length, prot, flags, offset, share_memory);
}

int mmz_munmap(void *addr, size_t length) {
    journal(kMmzDevice, "munmap length %zu", length);
    return ::munmap(addr, length);
}

}  // namespace

std::vector<MmzRequestSeen> mmz_requests() {
    return g_seen.list();
}

std::vector<MmzBuffer> mmz_buffers(const std::string &dir) {
    return LockedFile(dir + kMmzDevice, O_RDONLY).load(table_of);
}

extern const Device kMmzDeviceEmulator = {kMmzDevice,   0,        mmz_ioctl, refuse_read,
                                          refuse_write, mmz_mmap, mmz_munmap};

}  // namespace zq::sim
