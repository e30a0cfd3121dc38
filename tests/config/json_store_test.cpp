// The JSON key store: typed get and set on class members, the exact lines it
// prints, what it leaves on disk, bad files that must fail cleanly, and use
// from several threads at once.
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "board.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_config.h"

namespace {

constexpr const char *kFile = "/usr/bin/device.json";

class JsonStoreTest : public VBoardTest {
  protected:
    void write(const std::string &boardPath, const std::string &text) {
        std::ofstream(host(boardPath), std::ios::binary | std::ios::trunc) << text;
    }
    std::string read(const std::string &boardPath) {
        return zq::sim::read_board_file(dir(), boardPath);
    }
    // The file as a document, compared without regard to layout.
    std::string canonical(const std::string &boardPath) {
        json_object *root = json_object_from_file(host(boardPath).c_str());
        std::string text = root ? json_object_to_json_string_ext(root, JSON_C_TO_STRING_PLAIN) : "";
        json_object_put(root);
        return text;
    }
};

TEST_F(JsonStoreTest, GetMatchesMemberNamesWithoutCaseButClassNamesExactly) {
    int gpio = 0;
    Captured c = capture_output([&] {
        EXPECT_EQ(json_store_get_value(kFile, "DeviceGpio", "aoenable", &gpio, 1), 0);
        EXPECT_EQ(json_store_get_value(kFile, "devicegpio", "AoEnable", &gpio, 1), -1);
    });
    EXPECT_EQ(gpio, 52);
    EXPECT_EQ(c.out,
              "Get data success: class [DeviceGpio] number [aoenable] value [52]\n"
              "Get devicegpio object error!\n");
}

TEST_F(JsonStoreTest, GetStoresEachTypeAndRefusesAMismatch) {
    write("/var/cfg.json",
          R"({"Net": {"Name": "cam-01", "Dhcp": true, "Off": false, "Mtu": 1500, "Gain": 1.5,)"
          R"( "None": null, "List": [1], "name": "second"}})");
    char name[16] = "?";
    u8 dhcp = 9, off = 9;
    int mtu = -1, untouched = 77;
    Captured c = capture_output([&] {
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "name", name, 0), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "DHCP", &dhcp, 2), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "Off", &off, 2), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "Mtu", &mtu, 1), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "Mtu", name, 0), -1);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "Dhcp", &untouched, 1), -1);
        for (const char *other : {"Gain", "None", "List", "Missing"})
            EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", other, &untouched, 1), 0);
    });
    EXPECT_STREQ(name, "cam-01");
    EXPECT_EQ(dhcp, 1);
    EXPECT_EQ(off, 0);
    EXPECT_EQ(mtu, 1500);
    EXPECT_EQ(untouched, 77);
    EXPECT_EQ(c.out,
              "Get data success: class [Net] number [name] value [cam-01]\n"
              "Get data success: class [Net] number [DHCP] value [1]\n"
              "Get data success: class [Net] number [Off] value [0]\n"
              "Get data success: class [Net] number [Mtu] value [1500]\n"
              "Parameter type does not match!\n"
              "Parameter type does not match!\n");
}

TEST_F(JsonStoreTest, BadFilesFailWithTheirLineAndAreLeftAsTheyWere) {
    struct Case {
        const char *text;
        const char *getLine;
        const char *setLine;
    };
    const Case cases[] = {
        {"", "Get ROOT object Failed!\n", "Parse josn file /var/bad.json failed\n"},
        {"{\"DeviceGpio\": ", "Get ROOT object Failed!\n",
         "Parse josn file /var/bad.json failed\n"},
        {"null", "Get ROOT object Failed!\n", "Parse josn file /var/bad.json failed\n"},
        {"[1, 2]", "Get DeviceGpio object error!\n", "Get DeviceGpio object error!"},
        {"{\"DeviceGpio\": 5}", "Get DeviceGpio object error!\n", "Get DeviceGpio object error!"},
        {"{\"DeviceGpio\": [{\"AoEnable\": 1}]}", "Get DeviceGpio object error!\n",
         "Get DeviceGpio object error!"},
        {"{\"Other\": {}}", "Get DeviceGpio object error!\n", "Get DeviceGpio object error!"},
    };
    for (const Case &bad : cases) {
        write("/var/bad.json", bad.text);
        int value = 3;
        Captured get = capture_output([&] {
            EXPECT_EQ(json_store_get_value("/var/bad.json", "DeviceGpio", "AoEnable", &value, 1),
                      -1);
        });
        Captured set = capture_output([&] {
            EXPECT_EQ(json_store_set_value("/var/bad.json", "DeviceGpio", "AoEnable", &value, 1),
                      -1);
        });
        EXPECT_EQ(get.out, bad.getLine) << bad.text;
        EXPECT_EQ(set.out, bad.setLine) << bad.text;
        EXPECT_EQ(read("/var/bad.json"), bad.text);
    }
    int value = 3;
    Captured missing = capture_output([&] {
        EXPECT_EQ(json_store_get_value("/var/none.json", "DeviceGpio", "AoEnable", &value, 1), -1);
    });
    EXPECT_EQ(missing.out, "");
}

TEST_F(JsonStoreTest, SetReplacesTheMatchingMemberAndAddsNewOnesSilently) {
    int seven = 7;
    u8 yes = 1;
    Captured c = capture_output([&] {
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "AoEnable", &seven, 1), 0);
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "LedRed", "on", 0), 0);
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "ledred", "off", 0), 0);
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "IrCut", &yes, 2), 0);
    });
    EXPECT_EQ(c.out,
              "Save data success: class [DeviceGpio] number [AoEnable] value [7]\n"
              "Save data success: class [DeviceGpio] number [ledred] value [off]\n");
    // A member set under another letter case keeps its stored name: the file
    // never holds it twice, so a later get cannot find the old value.
    EXPECT_EQ(canonical(kFile), R"({"DeviceGpio":{"AoEnable":7,"LedRed":"off","IrCut":true}})");

    Captured mismatch = capture_output(
        [&] { EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "aoENABLE", "x", 0), -1); });
    EXPECT_EQ(mismatch.out, "Parameter type does not match!\n");
    EXPECT_EQ(canonical(kFile), R"({"DeviceGpio":{"AoEnable":7,"LedRed":"off","IrCut":true}})");
}

TEST_F(JsonStoreTest, SetOnAMissingFileCreatesItWithOneClassAndMember) {
    int four = 4;
    Captured c = capture_output([&] {
        EXPECT_EQ(json_store_set_value("/var/new.json", "DeviceGpio", "AoEnable", &four, 1), 0);
        EXPECT_EQ(json_store_set_value("/var/no/such/dir/new.json", "C", "M", &four, 1), -1);
    });
    EXPECT_EQ(c.out, "Create json file /var/no/such/dir/new.json failed\n");
    EXPECT_EQ(canonical("/var/new.json"), R"({"DeviceGpio":{"AoEnable":4}})");
}

TEST_F(JsonStoreTest, RefusedArgumentsTouchNothing) {
    int value = 1;
    for (int type : {-1, 3, 255})
        EXPECT_EQ(json_store_set_value("/var/t.json", "C", "M", &value, type), -1);
    EXPECT_EQ(json_store_set_value(nullptr, "C", "M", &value, 1), -1);
    EXPECT_EQ(json_store_set_value("/var/t.json", nullptr, "M", &value, 1), -1);
    EXPECT_EQ(json_store_set_value("/var/t.json", "C", nullptr, &value, 1), -1);
    EXPECT_EQ(json_store_set_value("/var/t.json", "C", "M", nullptr, 1), -1);
    EXPECT_EQ(json_store_get_value(kFile, "DeviceGpio", "AoEnable", nullptr, 1), -1);
    EXPECT_EQ(json_store_get_value(kFile, "DeviceGpio", "AoEnable", &value, 7), -1);
    EXPECT_FALSE(std::filesystem::exists(host("/var/t.json")));
    EXPECT_EQ(value, 1);
}

TEST_F(JsonStoreTest, FailedSaveIsReported) {
    std::string big(4096, 'x');
    write("/var/big.json", "{\"C\": {\"Text\": \"" + big + "\"}}");
    // Writes past 1 KiB fail (EFBIG) instead of stopping the process.
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{1024, 1024};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    int one = 1;
    Captured c = capture_output(
        [&] { EXPECT_EQ(json_store_set_value("/var/big.json", "C", "New", &one, 1), -1); });
    EXPECT_EQ(c.out, "Save to Json file Failed!\n");
}

TEST_F(JsonStoreTest, ThreadsSettingTheirOwnMembersLoseNoUpdate) {
    constexpr int kThreads = 4, kRounds = 20;
    std::vector<std::thread> threads;
    Captured c = capture_output([&] {
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                std::string member = "Member" + std::to_string(t);
                for (int round = 1; round <= kRounds; ++round) {
                    int value = round, back = 0;
                    EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", member.c_str(), &value, 1),
                              0);
                    EXPECT_EQ(json_store_get_value(kFile, "DeviceGpio", member.c_str(), &back, 1),
                              0);
                    EXPECT_EQ(back, round);
                }
            });
        }
        for (std::thread &thread : threads) thread.join();
    });
    // The first set of each member adds it silently; every other call prints one whole line.
    size_t lines = 0;
    for (char ch : c.out) lines += ch == '\n';
    EXPECT_EQ(lines, size_t{kThreads * (2 * kRounds - 1)});
    for (int t = 0; t < kThreads; ++t) {
        int value = 0;
        std::string member = "Member" + std::to_string(t);
        capture_output(
            [&] { json_store_get_value(kFile, "DeviceGpio", member.c_str(), &value, 1); });
        EXPECT_EQ(value, kRounds) << member;
    }
}

}  // namespace
