// The MPI log: the exact line in the log driver, the driver's level table and
// its prefix matching, the 255-character cut, and the failure paths.

#include <thread>

#include "emul/board.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace {

class MpiLogTest : public VBoardTest {
  protected:
    void driver_levels(const std::vector<std::pair<std::string, int>> &levels) {
        ASSERT_TRUE(zq::sim::set_log_levels(dir(), levels));
    }
};

TEST_F(MpiLogTest, LineCarriesUptimeLevelModuleAndMessageCutTo255Characters) {
    freeze_clock(12.005);
    EXPECT_EQ(mpi_log(3, 2, "MmzReset failed\n"), 0);
    EXPECT_EQ(log_text(), "12.5 <3>sys MmzReset failed\n\n");
    freeze_clock(7.999);
    EXPECT_EQ(mpi_log(3, ZQ_MOD_AO, "volume %d out of range", 130), 0);
    std::string expected = "12.5 <3>sys MmzReset failed\n\n7.999 <3>ao volume 130 out of range\n";
    EXPECT_EQ(log_text(), expected);
    // Modules without a name are dropped by the board's own table.
    for (s32 module : {0, 1, 3, 17, 25, -1, 1000}) EXPECT_EQ(mpi_log(1, module, "x\n"), 0);
    freeze_clock(70.25);
    mpi_log(3, ZQ_MOD_VO, "%s", std::string(400, 'z').c_str());
    EXPECT_EQ(log_text(), expected + "70.250 <3>vo " + std::string(255, 'z') + "\n");
}

TEST_F(MpiLogTest, DriverTableDecidesByFirstPrefixMatch) {
    driver_levels({{"a", 6}, {"ao", 1}, {"sys", 2}});
    freeze_clock(50);
    for (s32 module : {ZQ_MOD_AI, ZQ_MOD_AO, ZQ_MOD_AENC, ZQ_MOD_ADEC}) mpi_log(6, module, "t\n");
    mpi_log(3, ZQ_MOD_SYS, "dropped: sys only takes 2 and below\n");
    mpi_log(2, ZQ_MOD_SYS, "kept\n");
    mpi_log(3, ZQ_MOD_VI, "vi falls to an unused entry at level 0\n");
    driver_levels({{"adecxxxx", 9}, {"adec", 6}});  // a full eight-byte name stays in its entry
    mpi_log(6, ZQ_MOD_ADEC, "y\n");
    driver_levels({{"", 3}});  // the only entry that takes modules without a name
    for (s32 module : {0, 99, static_cast<s32>(ZQ_MOD_RGN)}) mpi_log(3, module, "z\n");
    EXPECT_EQ(log_text(),
              "50.0 <6>ai t\n\n50.0 <6>ao t\n\n50.0 <6>aenc t\n\n50.0 <6>adec t\n\n50.0 <2>sys "
              "kept\n\n50.0 <6>adec y\n\n50.0 <3> z\n\n50.0 <3> z\n\n50.0 <3>rgn z\n\n");
}

// A failed open of the log driver is tried again at the next line. The
// driver's table is first asked for at one second of uptime, the initial
// table (failures written, traces dropped) serving until then; a refused
// request keeps the last table.
TEST_F(MpiLogTest, MissingDriverTriedAgainAndTableFromOneSecondOnKeptWhenARefreshIsRefused) {
    driver_levels({{"sys", 6}});
    ASSERT_TRUE(zq::sim::refuse_request(dir(), "/dev/log", ZQ_MPI_LOG_GET_LEVELS, 1));
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/log", true));
    freeze_clock(0.5);
    EXPECT_EQ(mpi_log(3, ZQ_MOD_SYS, "lost\n"), -1);
    ASSERT_TRUE(zq::sim::set_device_missing(dir(), "/dev/log", false));
    EXPECT_EQ(mpi_log(6, ZQ_MOD_SYS, "early trace\n"), 0);
    EXPECT_EQ(mpi_log(3, ZQ_MOD_VDEC, "fail\n"), 0);
    EXPECT_EQ(count_of(zq::sim::read_board_file(dir(), "/journal"), "ioctl"), 0u);
    freeze_clock(1.0);
    mpi_log(6, ZQ_MOD_SYS, "one\n");  // answered
    mpi_log(6, ZQ_MOD_SYS, "two\n");  // refused: the driver's table stays
    EXPECT_EQ(log_text(), "0.500 <3>vdec fail\n\n1.0 <6>sys one\n\n1.0 <6>sys two\n\n");
    EXPECT_EQ(count_of(zq::sim::read_board_file(dir(), "/journal"), " ioctl 0x800C4C00 refused"),
              1u);
}

TEST_F(MpiLogTest, ConcurrentLinesStayWhole) {
    freeze_clock(100);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) mpi_log(3, ZQ_MOD_AI, "thread %d line %d\n", t, i);
        });
    for (std::thread &t : threads) t.join();
    std::string text = log_text();
    EXPECT_EQ(count_of(text, "100.0 <3>ai thread "), 800u);
    EXPECT_EQ(text.size(), 800u * std::string("100.0 <3>ai thread 0 line 000\n\n").size() -
                               4u * (10u * 2 + 90u * 1));  // one- and two-digit line numbers
}

}  // namespace
