// The media memory zone family and its driver on a virtual board.
#include "mmz.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "board.h"
#include "mem_device.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_sys.h"
#include "zq_system.h"

namespace {

class MmzTest : public VBoardTest {};

TEST_F(MmzTest, BuffersAreSharedThroughTheBoardsMemoryAndFreedMappingsEnd) {
    u32 phys = 0;
    void *virt = nullptr;
    ASSERT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "frames", "anyzone", 10000), 0);
    EXPECT_EQ(phys, zq::sim::kMmzDefaultBase);
    std::memcpy(virt, "\x11\x22\x33\x44", 4);
    EXPECT_EQ(zq::sim::read_phys_word(dir(), phys), 0x44332211u);

    u32 again = 0, length = 0;
    void *second = nullptr;
    ASSERT_EQ(ZQ_MPI_SYS_MmzGetAddr(&again, &second, "frames", nullptr, &length), 0);
    EXPECT_EQ(again, phys);
    EXPECT_EQ(length, 12288u);  // whole pages
    EXPECT_EQ(std::memcmp(second, virt, 4), 0);

    u32 next = 0;
    void *third = nullptr;
    ASSERT_EQ(ZQ_MPI_SYS_MmzAlloc_Cached(&next, &third, "osd", nullptr, 1), 0);
    EXPECT_EQ(next, phys + 12288);
    auto buffers = zq::sim::mmz_buffers(dir());
    ASSERT_EQ(buffers.size(), 2u);
    EXPECT_TRUE(buffers[1].cached);

    // Every alloc and free cycle gives its mapping back.
    for (void *p : {virt, second, third}) EXPECT_EQ(ZQ_MPI_SYS_MmzFree(0, p), 0);
    EXPECT_EQ(ZQ_MPI_SYS_MmzFree(0, nullptr), 0);
    auto mmaps = count_of(zq::sim::read_board_file(dir(), "/journal"), "/dev/mmz mmap 0x");
    auto munmaps = count_of(zq::sim::read_board_file(dir(), "/journal"), "/dev/mmz munmap");
    EXPECT_EQ(mmaps, 3u);
    EXPECT_EQ(munmaps, 3u);

    ASSERT_EQ(ZQ_MPI_SYS_MmzReset(), 0);
    EXPECT_TRUE(zq::sim::mmz_buffers(dir()).empty());
}

TEST_F(MmzTest, NamesAndPointersAreChecked) {
    u32 phys = 0, length = 0;
    void *virt = nullptr;
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, nullptr, "x", nullptr, 16), static_cast<s32>(0xA0028006));
    EXPECT_NE(log_text().find(", ppVitAddr=(nil)\n"), std::string::npos) << log_text();
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, "x", nullptr, nullptr),
              static_cast<s32>(0xA0028006));
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, nullptr, nullptr, &length),
              static_cast<s32>(0xA0028006));

    const std::string name32(32, 'n');
    ASSERT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, (name32 + "tail").c_str(), nullptr, 16), 0);
    EXPECT_EQ(zq::sim::mmz_buffers(dir()).at(0).name, name32);
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, name32.c_str(), nullptr, &length), 0);
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, "other", nullptr, &length),
              static_cast<s32>(0xA0028005));
    EXPECT_NE(log_text().find("MmzGetAddr failed\n"), std::string::npos);
}

TEST_F(MmzTest, DriverFailuresGiveTheirCodesAndMessages) {
    u32 phys = 7;
    void *virt = nullptr;
    ASSERT_TRUE(zq::sim::refuse_request(dir(), zq::sim::kMmzDevice, zq::sim::kMapRequest));
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "x", nullptr, 16), static_cast<s32>(0xA002800C));
    EXPECT_NE(log_text().find("Memory Map Failed For Address\n"), std::string::npos);
    EXPECT_EQ(phys, 7u);  // nothing handed out
    EXPECT_EQ(virt, nullptr);

    ASSERT_TRUE(zq::sim::refuse_request(dir(), zq::sim::kMmzDevice, ZQ_MMZ_ALLOC));
    ASSERT_TRUE(zq::sim::refuse_request(dir(), zq::sim::kMmzDevice, ZQ_MMZ_FLUSH_CACHE));
    ASSERT_TRUE(zq::sim::refuse_request(dir(), zq::sim::kMmzDevice, ZQ_MMZ_RESET));
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "x", nullptr, 16), static_cast<s32>(0xA002800C));
    EXPECT_EQ(ZQ_MPI_SYS_MmzFlushCache(0x90000000, nullptr, 16), static_cast<s32>(0xA0028005));
    EXPECT_EQ(ZQ_MPI_SYS_MmzReset(), static_cast<s32>(0xA0028010));
    for (const char *text : {"MmzAlloc failed\n", "MmzFlushCache failed\n", "MmzReset failed\n"})
        EXPECT_NE(log_text().find(text), std::string::npos) << text;
}

TEST_F(MmzTest, MissingDriverIsTriedAgainOnTheNextCall) {
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), zq::sim::kMmzDevice, true));
    u32 phys = 0, length = 0;
    void *virt = nullptr;
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "x", nullptr, 16), static_cast<s32>(0xA0028010));
    EXPECT_EQ(ZQ_MPI_SYS_MmzGetAddr(&phys, &virt, "x", nullptr, &length),
              static_cast<s32>(0xA0028010));
    EXPECT_EQ(ZQ_MPI_SYS_MmzFlushCache(0, nullptr, 0), static_cast<s32>(0xA0028010));
    EXPECT_EQ(ZQ_MPI_SYS_Mmap(0x1000, 16), nullptr);
    EXPECT_EQ(count_of(log_text(), "/dev/mmz open failed\n"), 2u);
    EXPECT_EQ(count_of(log_text(), "/dev/mem open failed\n"), 2u);
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), zq::sim::kMmzDevice, false));
    EXPECT_EQ(ZQ_MPI_SYS_MmzAlloc(&phys, &virt, "x", nullptr, 16), 0);
}

TEST_F(MmzTest, MappingsCoverWholePagesAndNeverWrapOrReachForeignMemory) {
    ASSERT_TRUE(zq::sim::write_phys_word(dir(), 0x1678, 0xCAFEF00D));
    auto *one = static_cast<u32 *>(ZQ_MPI_SYS_Mmap(0x1678, 16));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(*one, 0xCAFEF00Du);
    void *two = ZQ_MPI_SYS_MmapCache(0x1FF8, 16);
    ASSERT_NE(two, nullptr);
    std::vector<std::string> maps = journal_events("/dev/mmz");
    EXPECT_NE(std::find(maps.begin(), maps.end(), "mmap 0x00001000 length 4096"), maps.end());
    EXPECT_NE(std::find(maps.begin(), maps.end(), "mmap 0x00001000 length 8192"), maps.end());
    EXPECT_EQ(ZQ_MPI_SYS_Mmap(0xFFFFF000, 0x2000), nullptr);  // past 4 GiB
    EXPECT_EQ(ZQ_MPI_SYS_Mmap(0x2000, 0), nullptr);

    alignas(4096) static char foreign[4096] = "ours";
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(foreign, sizeof foreign), static_cast<s32>(0xA0028003));
    EXPECT_STREQ(foreign, "ours");
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(one, 16), 0);
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(one, 16), static_cast<s32>(0xA0028003));  // once only
    EXPECT_EQ(ZQ_MPI_SYS_Munmap(two, 16), 0);
}

TEST_F(MmzTest, RacingFirstCallsKeepOneDescriptor) {
    std::thread a([] { ZQ_MPI_SYS_MmzReset(); });
    std::thread b([] { ZQ_MPI_SYS_MmzReset(); });
    a.join();
    b.join();
    std::vector<std::string> events = journal_events("/dev/mmz");
    EXPECT_EQ(std::count(events.begin(), events.end(), "open") -
                  std::count(events.begin(), events.end(), "close"),
              1);
}

TEST_F(MmzTest, ExtraMemoryIsANamedBufferOfTheZone) {
    void *virt = nullptr;
    u32 phys = 0;
    Captured refused = capture_output([&] {
        EXPECT_EQ(ZQSDK_ExtraMemoryAlloc(0, &virt, &phys), -1);
        EXPECT_EQ(ZQSDK_ExtraMemoryAlloc(64, nullptr, &phys), -1);
        EXPECT_EQ(ZQSDK_ExtraMemoryFree(nullptr), -1);
    });
    EXPECT_EQ(count_of(refused.err, "size can't be zero!\n"), 2u);
    ASSERT_EQ(ZQSDK_ExtraMemoryAlloc(64, &virt, &phys), 0);
    EXPECT_EQ(zq::sim::mmz_buffers(dir()).at(0).name, "extra");
    EXPECT_EQ(ZQSDK_ExtraMemoryFree(virt), 0);
    ASSERT_TRUE(zq::sim::refuse_request(dir(), zq::sim::kMmzDevice, ZQ_MMZ_ALLOC));
    refused = capture_output([&] { EXPECT_EQ(ZQSDK_ExtraMemoryAlloc(64, &virt, &phys), -1); });
    EXPECT_NE(refused.err.find("ZQ_MPI_SYS_MmzAlloc error\n"), std::string::npos);
}

// Start-up brings the families up in order, and one audio thread however
// often it is called.
TEST_F(MmzTest, MediaStartUpInitialisesInOrderOnce) {
    EXPECT_EQ(ZQ_MPI_SYS_Init(), 0);
    EXPECT_EQ(ZQ_MPI_SYS_Init(), 0);
    std::string journal = zq::sim::read_board_file(dir(), "/journal");
    size_t reset = journal.find(" mmz reset"), vi = journal.find(" /dev/vi open"),
           vo = journal.find(" /dev/vo open"), rgn = journal.find(" /dev/rgn open"),
           audio = journal.find(" sched audio_process");
    ASSERT_NE(audio, std::string::npos) << journal;
    EXPECT_LT(reset, vi);
    EXPECT_LT(vi, vo);
    EXPECT_LT(vo, rgn);
    EXPECT_LT(rgn, audio);
    EXPECT_EQ(count_of(journal, " sched audio_process"), 1u);
}

}  // namespace
