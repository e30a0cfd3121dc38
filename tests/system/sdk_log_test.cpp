// The SDK log: exact bytes of every level's line, streams, the level filter,
// redirection to a file with its failure paths, and the wrap-around.

#include <cstring>

#include "emul/board.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace {

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

TEST_F(SdkLogTest, EachLevelHasItsTemplateAndStream) {
    ZQSDK_SetLogLevel(5);
    Captured c = capture_output([] {
        sdk_log(ZQ_LOG_ERROR, "env", "ZQSDK_EnvReadKeyValue", 42, "crc %s", "bad");
        sdk_log(ZQ_LOG_WARN, "sn", "ZQSDK_ReadSeriesNum", 7, "w");
        sdk_log(ZQ_LOG_NOTICE, "wifi", "ZQSDK_WifiInit", 8, "n\n");
        sdk_log(ZQ_LOG_INFO, "wifi", "ZQSDK_WifiInit", 9, "i");
        sdk_log(ZQ_LOG_DEBUG, "json_parse", "ZQJSON_ParseVi", 10, "d%d", 1);
    });
    EXPECT_EQ(c.err, line("1;31", "<env> ==> ZQSDK_EnvReadKeyValue(42)[ERROR]: crc bad"));
    EXPECT_EQ(c.out, line("1;33", "<sn> ==> ZQSDK_ReadSeriesNum(7)[WARN]: w") + "\033[1;33m[" +
                         kTime + "] ==> ZQSDK_WifiInit(8)[NOTICE]: n\n\033[0;39m\n" +
                         line("1;32", "==> ZQSDK_WifiInit(9)[INFO]: i") +
                         line("1;34", "==> ZQJSON_ParseVi(10)[DEBUG]: d1"));
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

TEST_F(SdkLogTest, SetLog2FileRefusesBadRequestsAndKeepsTheConsole) {
    LogParam bad[] = {param("/var/sdk.log", 5242880), param("", 0), param("/nowhere/sdk.log", 0),
                      param("", 0)};
    std::memset(bad[3].szFilePath, 'p', sizeof bad[3].szFilePath);  // unterminated
    Captured c = capture_output([&] {
        EXPECT_EQ(ZQSDK_SetLog2File(nullptr), -1);
        for (LogParam &p : bad) EXPECT_EQ(ZQSDK_SetLog2File(&p), -1);
        sdk_log(ZQ_LOG_ERROR, "zq_system", "f", 1, "still on the console");
    });
    EXPECT_EQ(c.out, "");
    for (const std::string &text : std::initializer_list<std::string>{
             "<zq_system> ==> ZQSDK_SetLog2File(", ")[ERROR]: pstLogParam is NULL!\n\033[0;39m\n",
             ")[ERROR]: Log size more than 5M kbs!\n\033[0;39m\n",
             ")[ERROR]: Redirect log to file[] failed!\n\033[0;39m\n",
             ")[ERROR]: Redirect log to file[/nowhere/sdk.log] failed, No such file or directory\n",
             ")[ERROR]: Redirect log to file[" + std::string(128, 'p') + "] failed!\n",
             line("1;31", "<zq_system> ==> f(1)[ERROR]: still on the console")})
        EXPECT_NE(c.err.find(text), std::string::npos) << text;
}

TEST_F(SdkLogTest, RedirectionTakesEveryLineAndAnnouncesOnTheConsole) {
    LogParam p = param("/var/sdk.log", 5242879), second = param("/var/other.log", 0);
    ZQSDK_SetLogLevel(0);  // the success line shows whatever the level
    Captured c = capture_output([&] { EXPECT_EQ(ZQSDK_SetLog2File(&p), 0); });
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
    EXPECT_NE(text.find(line("1;31", "<wifi> ==> g(3)[ERROR]: into the file")), std::string::npos);
    EXPECT_NE(text.find(")[ERROR]: The log file is already open!\n"), std::string::npos);
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

// A wrap size of 0 selects 64 KiB.
TEST_F(SdkLogTest, DefaultSizeWrapsAt64KiB) {
    LogParam p = param("/var/big.log", 0);
    capture_output([&] { ASSERT_EQ(ZQSDK_SetLog2File(&p), 0); });
    const std::string text(200, 'x');
    const size_t lineSize = line("1;32", "==> f(1)[INFO]: " + text).size();
    size_t written = 0;
    for (; written < 65536; written += lineSize)
        sdk_log(ZQ_LOG_INFO, "u", "f", 1, "%s", text.c_str());
    sdk_log(ZQ_LOG_INFO, "u", "f", 1, "%s", "wrapped");
    EXPECT_EQ(board_file("/var/big.log").size(), written);
}

}  // namespace
