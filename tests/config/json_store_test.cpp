// The JSON key store: typed get and set on class members, the exact lines it prints, what it
// leaves on disk, and bad files that must fail cleanly.
#include <json-c/json.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "emul/board.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_config.h"

namespace {

constexpr const char *kFile = "/usr/bin/device.json";
constexpr const char *kBad = "/var/bad.json";

class JsonStoreTest : public VBoardTest {
  protected:
    // The file as a document, compared without regard to layout.
    std::string canonical(const std::string &boardPath) {
        json_object *root = json_object_from_file(host(boardPath).c_str());
        std::string text = root ? json_object_to_json_string_ext(root, JSON_C_TO_STRING_PLAIN) : "";
        json_object_put(root);
        return text;
    }
};

TEST_F(JsonStoreTest, GetStoresEachTypeMatchingMembersWithoutCaseAndClassesExactly) {
    std::ofstream(host("/var/cfg.json"))
        << R"({"Net": {"Name": "cam-01", "Dhcp": true, "Mtu": 1500, "Gain": 1.5, "None": null,)"
           R"( "List": [1], "name": "second"}})";
    char name[16] = "?";
    u8 dhcp = 9;
    int gpio = 0, mtu = -1, untouched = 77;
    Captured c = capture_output([&] {
        EXPECT_EQ(json_store_get_value(kFile, "DeviceGpio", "aoenable", &gpio, 1), 0);
        EXPECT_EQ(json_store_get_value(kFile, "devicegpio", "AoEnable", &untouched, 1), -1);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "name", name, 0), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "DHCP", &dhcp, 2), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "Mtu", &mtu, 1), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "Dhcp", &untouched, 1), -1);
        for (const char *other : {"Gain", "None", "List", "Missing"})
            EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", other, &untouched, 1), 0);
        EXPECT_EQ(json_store_get_value("/var/cfg.json", "Net", "Mtu", &untouched, 3), -1);
        EXPECT_EQ(json_store_get_value("/var/none.json", "C", "M", &untouched, 1), -1);
    });
    EXPECT_EQ(std::make_tuple(gpio, std::string(name), int{dhcp}, mtu, untouched),
              std::make_tuple(52, std::string("cam-01"), 1, 1500, 77));
    EXPECT_EQ(c.out,
              "Get data success: class [DeviceGpio] number [aoenable] value [52]\n"
              "Get devicegpio object error!\n"
              "Get data success: class [Net] number [name] value [cam-01]\n"
              "Get data success: class [Net] number [DHCP] value [1]\n"
              "Get data success: class [Net] number [Mtu] value [1500]\n"
              "Parameter type does not match!\n");
}

TEST_F(JsonStoreTest, BadFilesFailWithTheirLineAndAreLeftAsTheyWere) {
    auto check = [&](const char *text, const char *lines) {
        std::ofstream(host(kBad), std::ios::trunc) << text;
        int v = 3;
        Captured c = capture_output([&] {
            EXPECT_EQ(json_store_get_value(kBad, "DeviceGpio", "AoEnable", &v, 1), -1);
            EXPECT_EQ(json_store_set_value(kBad, "DeviceGpio", "AoEnable", &v, 1), -1);
        });
        EXPECT_EQ(c.out, lines) << text;
        EXPECT_EQ(zq::sim::read_board_file(dir(), kBad), text);
    };
    check("{\"DeviceGpio\": ", "Get ROOT object Failed!\nParse josn file /var/bad.json failed\n");
    for (const char *text : {"{\"DeviceGpio\": 5}", "{\"Other\": {}}"})
        check(text, "Get DeviceGpio object error!\nGet DeviceGpio object error!");
}

TEST_F(JsonStoreTest, SetReplacesOrAddsAMemberAndCreatesAMissingFile) {
    int seven = 7, four = 4;
    u8 yes = 1;
    Captured c = capture_output([&] {
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "AoEnable", &seven, 1), 0);
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "LedRed", "on", 0), 0);
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "ledred", "off", 0), 0);
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "IrCut", &yes, 2), 0);
        EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "aoENABLE", "x", 0), -1);
        EXPECT_EQ(json_store_set_value("/var/new.json", "DeviceGpio", "AoEnable", &four, 1), 0);
        EXPECT_EQ(json_store_set_value("/var/no/dir/new.json", "C", "M", &four, 1), -1);
        EXPECT_EQ(json_store_set_value("/var/t.json", "C", "M", &four, 3), -1);
        EXPECT_EQ(json_store_set_value("/var/t.json", "C", nullptr, &four, 1), -1);
    });
    EXPECT_EQ(c.out,
              "Save data success: class [DeviceGpio] number [AoEnable] value [7]\n"
              "Save data success: class [DeviceGpio] number [ledred] value [off]\n"
              "Parameter type does not match!\n"
              "Create json file /var/no/dir/new.json failed\n");
    // Set under another letter case, a member keeps its stored name: the file
    // never holds it twice, so a later get cannot find the old value.
    EXPECT_EQ(canonical(kFile), R"({"DeviceGpio":{"AoEnable":7,"LedRed":"off","IrCut":true}})");
    EXPECT_EQ(canonical("/var/new.json"), R"({"DeviceGpio":{"AoEnable":4}})");
    EXPECT_FALSE(std::filesystem::exists(host("/var/t.json")));
}

// A save replaces the file whole; a link stays a link, and its absolute
// target is a board path.
TEST_F(JsonStoreTest, SaveGoesThroughLinksAndLeavesNoTemporaryFile) {
    std::filesystem::rename(host(kFile), host("/var/real.json"));
    std::filesystem::create_symlink("/var/real.json", host(kFile));
    int nine = 9;
    capture_output(
        [&] { EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", "AoEnable", &nine, 1), 0); });
    EXPECT_TRUE(std::filesystem::is_symlink(host(kFile)));
    EXPECT_NE(canonical("/var/real.json").find(R"("AoEnable":9)"), std::string::npos);
    for (const char *where : {"/var", "/usr/bin"})
        for (const auto &entry : std::filesystem::directory_iterator(host(where)))
            EXPECT_EQ(entry.path().filename().string().find(".json."), std::string::npos)
                << entry.path();
}

TEST_F(JsonStoreTest, ThreadsSettingTheirOwnMembersLoseNoUpdate) {
    // Each get must see its own set: another thread's save between would restore an older value.
    auto setAndGet = [](int thread) {
        std::string member = "Member" + std::to_string(thread);
        for (int round = 1, back = 0; round <= 20; ++round) {
            EXPECT_EQ(json_store_set_value(kFile, "DeviceGpio", member.c_str(), &round, 1), 0);
            EXPECT_EQ(json_store_get_value(kFile, "DeviceGpio", member.c_str(), &back, 1), 0);
            EXPECT_EQ(back, round);
        }
    };
    capture_output([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) threads.emplace_back(setAndGet, t);
        for (std::thread &thread : threads) thread.join();
    });
}

}  // namespace
