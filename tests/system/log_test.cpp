// The MPI log's lines in the log driver and the driver's level table; the SDK
// log's lines, level filter, and redirection to a file that wraps.
#include <cstring>

#include "emul/board.h"
#include "support/capture.h"
#include "support/text_parts.h"
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
    freeze_clock(7.999);
    EXPECT_EQ(mpi_log(3, ZQ_MOD_AO, "volume %d out of range", 130), 0);
    freeze_clock(70.25);
    mpi_log(3, ZQ_MOD_VO, "%s", std::string(400, 'z').c_str());
    EXPECT_EQ(log_text(),
              "12.5 <3>sys MmzReset failed\n\n7.999 <3>ao volume 130 out of range\n"
              "70.250 <3>vo " +
                  std::string(255, 'z') + "\n");
}

TEST_F(MpiLogTest, DriverTableDecidesByFirstPrefixMatch) {
    driver_levels({{"a", 6}, {"ao", 1}});
    freeze_clock(50);
    for (s32 module : {ZQ_MOD_AI, ZQ_MOD_AO, ZQ_MOD_AENC, ZQ_MOD_ADEC}) mpi_log(6, module, "t\n");
    mpi_log(3, ZQ_MOD_VI, "vi falls to an unused entry at level 0\n");
    driver_levels({{"adecxxxx", 9}, {"adec", 6}});  // a full eight-byte name stays in its entry
    mpi_log(6, ZQ_MOD_ADEC, "y\n");
    driver_levels({{"", 3}});  // the only entry that takes modules without a name
    for (s32 module : {0, 99, static_cast<s32>(ZQ_MOD_RGN)}) mpi_log(3, module, "z\n");
    EXPECT_EQ(log_text(),
              "50.0 <6>ai t\n\n50.0 <6>ao t\n\n50.0 <6>aenc t\n\n50.0 <6>adec t\n\n"
              "50.0 <6>adec y\n\n50.0 <3> z\n\n50.0 <3> z\n\n50.0 <3>rgn z\n\n");
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
    freeze_clock(1.0);
    mpi_log(6, ZQ_MOD_SYS, "one\n");  // answered
    mpi_log(6, ZQ_MOD_SYS, "two\n");  // refused: the driver's table stays
    EXPECT_EQ(log_text(), "0.500 <3>vdec fail\n\n1.0 <6>sys one\n\n1.0 <6>sys two\n\n");
}

// Board calendar time 1767323045 s is 2026-01-02 03:04:05 UTC.
constexpr const char *kTime = "2026-01-02 03:04:05";

class SdkLogTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(100);
    }
    static LogParam param(const char *path, u32 size) {
        LogParam p{};
        std::strncpy(p.szFilePath, path, sizeof p.szFilePath - 1);
        p.u32MaxSize = size;
        return p;
    }
    std::string board_file(const std::string &path) {
        std::fflush(nullptr);
        return zq::sim::read_board_file(dir(), path);
    }
};

std::string line(const char *colour, const std::string &body) {
    return std::string("\033[") + colour + "m[" + kTime + "] " + body + "\033[0;39m\n";
}

TEST_F(SdkLogTest, LevelFiltersAndSetLogLevelNotice) {
    Captured c = capture_output([] {
        sdk_log(ZQ_LOG_DEBUG, "env", "f", 1, "hidden at the initial level");
        sdk_log(ZQ_LOG_INFO, "env", "f", 2, "shown");
        ZQSDK_SetLogLevel(2);  // no notice at 2 and below
        sdk_log(ZQ_LOG_NOTICE, "env", "f", 3, "hidden");
        sdk_log(ZQ_LOG_WARN, "env", "f", 4, "warn");
        ZQSDK_SetLogLevel(0);
        sdk_log(ZQ_LOG_ERROR, "env", "f", 5, "silenced");
        ZQSDK_SetLogLevel(3);
        sdk_log(ZQ_LOG_INFO, "env", "f", 6, "hidden");
        // Not formatted when filtered: a bad argument is never touched.
        sdk_log(ZQ_LOG_DEBUG, "env", "f", 7, "%s", reinterpret_cast<const char *>(16));
        sdk_log(9, "env", "f", 8, "no such level");
        sdk_log(-1, "env", "f", 9, "no such level");
    });
    EXPECT_EQ(c.err, "");
    std::string notice =
        c.out.substr(c.out.find("\033[1;33m[2026-01-02 03:04:05] ==> ZQSDK_SetLogLevel("));
    EXPECT_NE(notice.find(")[NOTICE]: set zqsdk log 3\n\033[0;39m\n"), std::string::npos);
    EXPECT_EQ(c.out.substr(0, c.out.size() - notice.size()),
              line("1;32", "==> f(2)[INFO]: shown") + line("1;33", "<env> ==> f(4)[WARN]: warn"));
}

TEST_F(SdkLogTest, SetLog2FileRefusesBadRequestsAndThenTakesEveryLine) {
    LogParam bad[] = {param("/var/sdk.log", 5242880), param("", 0), param("/nowhere/sdk.log", 0),
                      param("", 0)};
    std::memset(bad[3].szFilePath, 'p', sizeof bad[3].szFilePath);  // unterminated
    Captured c = capture_output([&] {
        EXPECT_EQ(ZQSDK_SetLog2File(nullptr), -1);
        for (LogParam &p : bad) EXPECT_EQ(ZQSDK_SetLog2File(&p), -1);
        sdk_log(ZQ_LOG_ERROR, "zq_system", "f", 1, "still on the console");
    });
    EXPECT_EQ(c.out, "");
    EXPECT_EQ(
        missing(c.err, {")[ERROR]: Redirect log to file[/nowhere/sdk.log] failed, No such "
                        "file or directory\n",
                        ")[ERROR]: Redirect log to file[" + std::string(128, 'p') + "] failed!\n",
                        line("1;31", "<zq_system> ==> f(1)[ERROR]: still on the console")}),
        "")
        << c.err;

    // Success is announced on the console whatever the level.
    LogParam p = param("/var/sdk.log", 5242879), second = param("/var/other.log", 0);
    ZQSDK_SetLogLevel(0);
    c = capture_output([&] { EXPECT_EQ(ZQSDK_SetLog2File(&p), 0); });
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(c.out.rfind("\033[1;32m[2026-01-02 03:04:05] ==> ZQSDK_SetLog2File(", 0), 0u);
    EXPECT_NE(
        c.out.find(
            ")[INFO]: Redirect log to file[/var/sdk.log] success, max size 5242879\n\033[0;39m\n"),
        std::string::npos);
    ZQSDK_SetLogLevel(4);
    c = capture_output([&] {
        sdk_log(ZQ_LOG_ERROR, "wifi", "g", 3, "into the file");
        EXPECT_EQ(ZQSDK_SetLog2File(&second), -1);
    });
    EXPECT_EQ(c.out + c.err, "");
    const std::string text = board_file("/var/sdk.log");
    EXPECT_EQ(text.find(line("1;32", "==> ZQSDK_SetLogLevel")), std::string::npos);
    EXPECT_EQ(missing(text, {line("1;31", "<wifi> ==> g(3)[ERROR]: into the file"),
                             ")[ERROR]: The log file is already open!\n"}),
              "");
    EXPECT_EQ(board_file("/var/other.log"), "");
}

TEST_F(SdkLogTest, FileWrapsAtItsSizeButDebugLinesAppend) {
    const std::string one = line("1;32", "==> f(1)[INFO]: a");
    LogParam p = param("/var/wrap.log", static_cast<u32>(2 * one.size()));
    capture_output([&] {
        ZQSDK_SetLogLevel(5);
        ASSERT_EQ(ZQSDK_SetLog2File(&p), 0);
    });
    sdk_log(ZQ_LOG_INFO, "u", "f", 1, "a");
    sdk_log(ZQ_LOG_INFO, "u", "f", 1, "a");   // position now exactly the wrap size
    sdk_log(ZQ_LOG_DEBUG, "u", "f", 3, "c");  // appended, no wrap check
    sdk_log(ZQ_LOG_INFO, "u", "f", 2, "b");   // at offset 0
    EXPECT_EQ(board_file("/var/wrap.log"),
              line("1;32", "==> f(2)[INFO]: b") + one + line("1;34", "==> f(3)[DEBUG]: c"));
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
