// The media memory zone family and its driver on a virtual board.
#include "emul/mmz.h"

#include <cstring>

#include "emul/board.h"
#include "emul/mem.h"
#include "support/capture.h"
#include "support/first_call_race.h"
#include "support/vboard_fixture.h"
#include "zq_sys.h"
#include "zq_system.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kNotMapped = s32(0xA0028003), kRefused = s32(0xA0028005), kNull = s32(0xA0028006);
constexpr s32 kAllocRefused = s32(0xA002800C), kOpenFailed = s32(0xA0028010);
constexpr size_t npos = std::string::npos;

using MmzTest = VBoardTest;

TEST_F(MmzTest, BuffersAreSharedThroughTheBoardsMemoryAndFreedMappingsEnd) {
    u32 phys = 0, again = 0, next = 0, length = 0;
    void *virt = nullptr, *second = nullptr, *third = nullptr;
    ASSERT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "frames", "anyzone", 10000), 0);
    EXPECT_EQ(phys, sim::kMmzDefaultBase);
    std::memcpy(virt, "\x11\x22\x33\x44", 4);
    EXPECT_EQ(sim::read_phys_word(dir(), phys), 0x44332211u);
    ASSERT_EQ(ZQ_MPI_SYS_MmzGetAddr(&again, &second, "frames", nullptr, &length), 0);
    EXPECT_EQ(again, phys);
    EXPECT_EQ(length, 12288u);  // whole pages
    EXPECT_EQ(std::memcmp(second, virt, 4), 0);
    ASSERT_EQ(ZQ_MPI_SYS_MmzAlloc_Cached(&next, &third, "osd", nullptr, 1), 0);
    EXPECT_EQ(next, phys + 12288);
    EXPECT_TRUE(sim::mmz_buffers(dir()).at(1).cached);

    // Every alloc and free cycle gives its mapping back.
    for (void *p : {virt, second, third, static_cast<void *>(nullptr)})
        EXPECT_EQ(ZQ_MPI_SYS_MmzFree(0, p), 0);
    const std::string journal = sim::read_board_file(dir(), "/journal");
    EXPECT_EQ(count_of(journal, "/dev/mmz mmap 0x"), 3u);
    EXPECT_EQ(count_of(journal, "/dev/mmz munmap"), 3u);
    ASSERT_EQ(ZQ_MPI_SYS_MmzReset(), 0);
    EXPECT_TRUE(sim::mmz_buffers(dir()).empty());
}

// Every request the family sends, as the driver receives it.
TEST_F(MmzTest, RequestRecordsReachTheDriverByteForByte) {
    auto record = [](const std::string &name, u32 len, u32 phys, u32 virt) {
        std::vector<uint8_t> bytes(44, 0);
        const u32 words[] = {len, phys, virt};  // in the board's byte order, which is ours
        std::memcpy(bytes.data(), name.data(), name.size());
        std::memcpy(bytes.data() + 32, words, sizeof words);
        return bytes;
    };
    u32 phys = 0, length = 0;
    void *virt = nullptr;
    ASSERT_EQ(ZQ_MPI_SYS_MmzReset(), 0);
    ASSERT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "osd", nullptr, 100), 0);
    ASSERT_EQ(ZQ_MPI_SYS_MmzAlloc_Cached(&phys, &virt, std::string(40, 'c').c_str(), nullptr, 5),
              0);
    ASSERT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, "osd", nullptr, &length), 0);
    ASSERT_EQ(ZQ_MPI_SYS_MmzFlushCache(0x90000010, reinterpret_cast<void *>(0x1234), 64), 0);
    ASSERT_NE(ZQ_MPI_SYS_MmapCache(0x90002000, 8), nullptr);
    using Sent = std::vector<std::pair<unsigned long, std::vector<uint8_t>>>;
    const Sent want = {
        {ZQ_MMZ_RESET, {}},
        {ZQ_MMZ_ALLOC, record("osd", 100, 0, 0)},
        {ZQ_MMZ_ALLOC_CACHED, record(std::string(32, 'c'), 5, 0, 0)},
        {ZQ_MMZ_GET_ADDR, record("osd", 0, 0, 0)},
        {ZQ_MMZ_MAP, record("", 4096, 0x90000000, 0)},  // the look-up's mapping
        {ZQ_MMZ_FLUSH_CACHE, record("", 64, 0x90000010, 0x1234)},
        {ZQ_MMZ_MAP_CACHED, record("", 8, 0x90002000, 0)},
    };
    Sent seen;
    for (const zq::sim::MmzRequestSeen &r : zq::sim::mmz_requests())
        seen.emplace_back(r.code, r.record);
    EXPECT_EQ(seen, want);
}

TEST_F(MmzTest, BadArgumentsAndMissingOrRefusingDriverGiveTheirCodes) {
    u32 phys = 7, named = 0, length = 0;
    void *virt = nullptr, *mapped = nullptr;
    ASSERT_TRUE(sim::set_device_missing(dir(), sim::kMmzDevice, true));
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "x", nullptr, 16), kOpenFailed);
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, "x", nullptr, &length), kOpenFailed);
    EXPECT_EQ(ZQ_MPI_SYS_MmzFlushCache(0, nullptr, 0), kOpenFailed);
    EXPECT_EQ(ZQ_MPI_SYS_Mmap(0x1000, 16), nullptr);
    ASSERT_TRUE(sim::set_device_missing(dir(), sim::kMmzDevice, false));  // tried again

    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, nullptr, "x", nullptr, 16), kNull);
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, "x", nullptr, nullptr), kNull);
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, nullptr, nullptr, &length), kNull);
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&named, &mapped, "other", nullptr, &length), kRefused);

    // A buffer that cannot be mapped is not handed out.
    ASSERT_TRUE(sim::refuse_request(dir(), sim::kMmzDevice, sim::kMapRequest));
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "x", nullptr, 16), kAllocRefused);
    EXPECT_EQ(phys, 7u);
    EXPECT_EQ(virt, nullptr);
    for (unsigned long request : {ZQ_MMZ_ALLOC, ZQ_MMZ_FLUSH_CACHE, ZQ_MMZ_RESET})
        ASSERT_TRUE(sim::refuse_request(dir(), sim::kMmzDevice, request));
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "x", nullptr, 16), kAllocRefused);
    EXPECT_EQ(ZQ_MPI_SYS_MmzFlushCache(0x90000000, nullptr, 16), kRefused);
    EXPECT_EQ(ZQ_MPI_SYS_MmzReset(), kOpenFailed);
}

TEST_F(MmzTest, MappingsCoverWholePagesAndNeverWrapOrReachForeignMemory) {
    ASSERT_TRUE(sim::write_phys_word(dir(), 0x1678, 0xCAFEF00D));
    auto *one = static_cast<u32 *>(ZQ_MPI_SYS_Mmap(0x1678, 16));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(*one, 0xCAFEF00Du);
    void *two = ZQ_MPI_SYS_MmapCache(0x1FF8, 16);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(ZQ_MPI_SYS_Mmap(0xFFFFF000, 0x2000), nullptr);  // past 4 GiB
    EXPECT_EQ(ZQ_MPI_SYS_Mmap(0x2000, 0), nullptr);

    alignas(4096) static char foreign[4096] = "ours";
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(foreign, sizeof foreign), kNotMapped);
    EXPECT_STREQ(foreign, "ours");
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(one, 16), 0);
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(one, 16), kNotMapped);  // once only
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(two, 16), 0);
}

TEST_F(MmzTest, RacingFirstCallsKeepOneDescriptor) {
    expect_racing_first_calls_keep_one_descriptor(dir(), "/dev/mmz",
                                                  [](int) { return ZQ_MPI_SYS_MmzReset(); });
}

TEST_F(MmzTest, ExtraMemoryIsANamedBufferOfTheZone) {
    void *virt = nullptr;
    u32 phys = 0;
    capture_output([&] {
        EXPECT_EQ(ZQSDK_ExtraMemoryAlloc(0, &virt, &phys), -1);
        EXPECT_EQ(ZQSDK_ExtraMemoryAlloc(64, nullptr, &phys), -1);
        EXPECT_EQ(ZQSDK_ExtraMemoryFree(nullptr), -1);
    });
    ASSERT_EQ(ZQSDK_ExtraMemoryAlloc(64, &virt, &phys), 0);
    EXPECT_EQ(sim::mmz_buffers(dir()).at(0).name, "extra");
    EXPECT_EQ(ZQSDK_ExtraMemoryFree(virt), 0);
    ASSERT_TRUE(sim::refuse_request(dir(), sim::kMmzDevice, ZQ_MMZ_ALLOC));
    capture_output([&] { EXPECT_EQ(ZQSDK_ExtraMemoryAlloc(64, &virt, &phys), -1); });
}

// Start-up brings the families up in order, and one audio thread however
// often it is called.
TEST_F(MmzTest, MediaStartUpInitialisesInOrderOnce) {
    EXPECT_EQ(ZQ_MPI_SYS_Init(), 0);
    EXPECT_EQ(ZQ_MPI_SYS_Init(), 0);
    const std::string journal = sim::read_board_file(dir(), "/journal");
    size_t at = 0;
    for (const char *step : {" mmz reset", " /dev/vi open", " /dev/vo open", " /dev/rgn open",
                             " sched audio_process"}) {
        const size_t next = journal.find(step);
        ASSERT_NE(next, npos) << step << "\n" << journal;
        EXPECT_LE(at, next) << step;
        at = next;
    }
    EXPECT_EQ(count_of(journal, " sched audio_process"), 1u);
}

}  // namespace
