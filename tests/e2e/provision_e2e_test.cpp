// The provisioning tool end to end: the built program run as a child process
// on fresh boards, the way the factory runs it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "board/prompt_files.h"
#include "emul/audio.h"
#include "emul/board.h"
#include "emul/flash.h"
#include "emul/mem.h"
#include "emul/net.h"
#include "flash/flash_block.h"
#include "hw_info.h"
#include "support/vboard_fixture.h"

extern char **environ;

namespace sim = zq::sim;

namespace {

constexpr const char *kProvisioning = "/mnt/factory/provision.txt";
constexpr const char *kAmp = "Get data success: class [DeviceGpio] number [AoEnable] value [52]\n";
constexpr const char *kOpened = "open file sucess /mnt/factory/provision.txt\n";
constexpr const char *kMac = "mac 02:5a:51:3e:08:12 hwmac 025a513e0812\n";
constexpr const char *kPlaceholders =
    "UUID: [ZQ-UUID-PLACEHOLDER-0001]\nKEY: [ZQ-KEY-PLACEHOLDER-0000000000000001]\n"
    "enc_mac:025a513e0812\n";

struct ToolRun {
    std::string out, err;  // kept on the board as "/tool.out" and "/tool.err"
    int exitStatus = -1;   // -1 when it did not exit by itself
    bool idled = false;    // played its prompt and went on idling (stopped by us)
};

class ProvisionTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        ASSERT_TRUE(sim::set_clock_speed(dir(), 10));  // the prompt plays in a tenth of its length
    }
    void provisioning_file(const std::string &text, const std::string &path = kProvisioning) {
        std::ofstream(host(path), std::ios::binary | std::ios::trunc) << text;
    }
    int output_closes() {
        const std::vector<std::string> events = journal_events("/dev/ao");
        return static_cast<int>(std::count(events.begin(), events.end(), "close"));
    }
    // Runs the tool with args. A run that reaches its voice prompt is stopped
    // once the prompt has played and the output device closed.
    ToolRun run_tool(const std::vector<std::string> &args) {
        const std::string outPath = host("/tool.out"), errPath = host("/tool.err");
        setenv("ZQ_VBOARD", dir().c_str(), 1);  // the child inherits our environment
        std::string tool = ZQ_PROVISION_TOOL;
        std::vector<std::string> argStore(args);
        std::vector<char *> argv{tool.data()};
        for (std::string &a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (auto [fd, path] : {std::pair{1, &outPath}, std::pair{2, &errPath}})
            posix_spawn_file_actions_addopen(&actions, fd, path->c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = -1;
        ToolRun run;
        const int closesBefore = output_closes();
        int rc = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) return run;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (int status = 0;; std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
            if (waitpid(pid, &status, WNOHANG) == pid) {
                if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
                break;
            }
            if (output_closes() > closesBefore || std::chrono::steady_clock::now() > deadline) {
                // Let it reach its idle loop, then stop it there.
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                run.idled = output_closes() > closesBefore && waitpid(pid, &status, WNOHANG) == 0;
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
        }
        run.out = sim::read_board_file(dir(), "/tool.out");
        run.err = sim::read_board_file(dir(), "/tool.err");
        return run;
    }
    ToolRun run(const std::string &path = kProvisioning) { return run_tool({path}); }
    std::vector<uint8_t> record_area() {
        return sim::read_flash(dir(), zq::flash::kRecordBlockOffset + zq::flash::kRecordOffset,
                               2048);
    }
    bool marker_written(const std::string &dirPath = "/mnt/factory") {
        return sim::read_board_file(dir(), dirPath + "/sucess") == "auto write hw info sucess\n";
    }
    // The speaker played, after any leading silence, exactly the prompt and
    // then only silence.
    bool played(sim::Prompt which) {
        std::vector<int16_t> heard = sim::read_speaker(dir());
        heard.erase(heard.begin(),
                    std::find_if(heard.begin(), heard.end(), [](int16_t v) { return v; }));
        std::vector<int16_t> expected = sim::speaker_samples(sim::prompt_bytes(which));
        expected.resize(std::max(expected.size(), heard.size()), 0);
        return heard == expected;
    }
    // A run that ends with status 255 and out, leaving record and marker alone.
    void expect_failed(const std::vector<std::string> &args, const std::string &out,
                       const std::string &errPart = "") {
        SCOPED_TRACE(out);
        const std::vector<uint8_t> before = record_area();
        ToolRun r = run_tool(args);
        EXPECT_EQ(r.exitStatus, 255);
        EXPECT_EQ(r.out, out);
        EXPECT_NE(r.err.find(errPart), std::string::npos) << r.err;
        EXPECT_EQ(record_area(), before);
        EXPECT_FALSE(marker_written());
    }
    HwInfo stored_record() {
        HwInfo info;
        std::memcpy(&info, record_area().data() + 16, sizeof info);
        return info;
    }
};

// From a directory whose name a shell would misread: the marker command
// stays one harmless command. The record printed is what the tool read back.
TEST_F(ProvisionTest, ProvisioningWritesTheRecordMarksAndPlaysSuccess) {
    const std::string odd = "/mnt/a b'$(touch x);c";  // 21 characters: path stays under 50
    std::filesystem::create_directories(host(odd));
    ASSERT_TRUE(sim::write_prompt_files(dir(), odd));
    provisioning_file("APP_ID=abc\r\nUUID=u-1\r\nKEY=k\r\n", odd + "/p.txt");
    ToolRun r = run(odd + "/p.txt");
    EXPECT_TRUE(r.idled);
    EXPECT_EQ(r.out, std::string(kAmp) + "open file sucess " + odd + "/p.txt\n" + kMac +
                         "version:301\nAPP_ID: [abc]\n" + kPlaceholders);
    EXPECT_TRUE(marker_written(odd));
    EXPECT_FALSE(std::filesystem::exists("x"));  // "$(touch x)" stayed text (the tool runs here)
    int markerCommands = 0;
    for (const std::string &command : journal_events("shell"))
        markerCommands += command.rfind("echo 'auto write hw info sucess'  >'", 0) == 0;
    EXPECT_EQ(markerCommands, 1);
    EXPECT_EQ(sim::read_gpio_pad(dir(), 52), 0xC00u);  // amplifier on
    EXPECT_TRUE(played(sim::Prompt::Success));
}

TEST_F(ProvisionTest, EveryFileWritesTheRecordAndOnlyThreeKeyLinesPlaySuccess) {
    struct {
        std::string name, text, appId;
        sim::Prompt prompt;
        bool withoutSuccessPrompt = false;
    } cases[] = {
        {"two keys, last line without newline", "APP_ID=ab-\nKEY=k", "ab", sim::Prompt::Failure},
        {"a 200-character line arrives in pieces",
         "APP_ID=" + std::string(200, 'a') + "\nUUID=u\nKEY=k\n", std::string(31, 'a'),
         sim::Prompt::Success},
        {"a line led by a NUL byte ends at its newline",
         std::string("\0\xff\xfe garbage\nAPP_ID=ok\nUUID=u\nKEY=k\n", 35), "ok",
         sim::Prompt::Success},
        {"APP_ID twice and KEY", "APP_ID=a\nAPP_ID=b\nKEY=k\n", "b", sim::Prompt::Failure},
        {"a key after 127 characters of one line", std::string(127, '#') + "APP_ID=evil\n", "",
         sim::Prompt::Failure},
        {"three key lines, but no success prompt beside them", "APP_ID=abc\nUUID=u\nKEY=k\n", "abc",
         sim::Prompt::Failure, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(host("/mnt/factory/sucess").c_str());
        if (c.withoutSuccessPrompt) std::remove(host("/mnt/factory/shaoxiechenggong.pcm").c_str());
        ASSERT_TRUE(sim::clear_speaker(dir()));
        provisioning_file(c.text);
        EXPECT_TRUE(run().idled);
        EXPECT_STREQ(stored_record().szAppId, c.appId.c_str());
        EXPECT_TRUE(marker_written());
        EXPECT_TRUE(played(c.prompt));
    }
}

TEST_F(ProvisionTest, FailedRunsEndWithTheirMessageAndTouchNothing) {
    const std::string longPath = "/mnt/factory/" + std::string(37, 'p');  // 50 characters
    const std::string head = std::string(kAmp) + kOpened;
    provisioning_file("APP_ID=abc\nUUID=u\nKEY=k\n");
    expect_failed({}, "");
    expect_failed({"/mnt/factory/none.txt"},
                  std::string(kAmp) + "Not find config file /mnt/factory/none.txt\n");
    provisioning_file("APP_ID=a\n", longPath);
    expect_failed({longPath},
                  "Provisioning path too long (50 characters, at most 49): " + longPath + "\n");
    const std::string deep = "/mnt/" + std::string(42, 'd');  // "<deep>/s" has 49 characters
    expect_failed({deep + "/s"},
                  "Marker path too long (54 characters, at most 49): " + deep + "/sucess\n");
    ASSERT_TRUE(sim::refuse_request(dir(), "/dev/mtd0", zq::flash::kMemErase));
    expect_failed({kProvisioning}, head + kMac + "Error: ZQSDK_WriteSeriesNum failed\n",
                  ")[ERROR]: mem erase failed\n");
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2"));
    expect_failed({kProvisioning}, head);
    sim::NetInterface eth2;
    eth2.name = "eth2";
    eth2.mac = "02:5a:51:3e:08:12";
    ASSERT_TRUE(sim::set_interface(dir(), eth2));  // up, without an address
    ASSERT_TRUE(sim::poke_flash(dir(), 0x2F800, std::vector<uint8_t>(2048, 0xFF)));
    expect_failed({kProvisioning}, head + kMac + "Error: Get hwinfo failed\n", "magic:ffffffff");
}

// Amplifier problems (the last two) do not stop the run.
TEST_F(ProvisionTest, ProvisionedBoardFollowsZqauto) {
    provisioning_file("APP_ID=abc\n");
    std::ofstream(host("/mnt/factory/sucess")) << "auto write hw info sucess\n";
    const std::string started =
        "auto start to app \nMorva: main camera application started (virtual board stub)\n";
    const std::string stay = std::string(kAmp) + "do not auto to start app\n";
    const std::string unset = std::string(kAmp) + "Get zqauto Fialed ,zqauto = 1\n" + started;
    struct {
        const char *entry;                 // nullptr: no zqauto at all
        std::string out, deviceJson = "";  // "": as a new board has it
    } cases[] = {
        {"zqauto=1", kAmp + started},
        {"zqauto=0", stay},
        {nullptr, unset},
        {"zqauto=12345678", stay},
        {"zqauto=1", "Get ROOT object Failed!\nGet AudioEn [0] failed\n" + started, "not json"},
        {"zqauto=1",
         "Get data success: class [DeviceGpio] number [AoEnable] value [-67141632]\n" + started,
         "{\"DeviceGpio\": {\"AoEnable\": -67141632}}"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry ? c.entry : "none");
        std::vector<std::string> entries = {"bootdelay=1"};
        if (c.entry) entries.push_back(c.entry);
        ASSERT_TRUE(sim::write_env_image(dir(), entries));
        if (!c.deviceJson.empty())
            std::ofstream(host("/usr/bin/device.json"), std::ios::trunc) << c.deviceJson;
        const std::vector<uint8_t> before = sim::read_flash(dir(), 0, 0x30000);
        ToolRun r = run();
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(sim::read_flash(dir(), 0, 0x30000), before);  // flash is not touched
    }
    EXPECT_EQ(sim::read_phys_word(dir(), 0), 0u);  // (n + 0x4008000) * 4 would be address 0
    // The provisioning file is never opened.
    for (const std::string &line : sim::journal_lines(dir()))
        EXPECT_EQ(line.find("provision.txt"), std::string::npos) << line;
}

}  // namespace
