// The boot environment and the identity record on a real SPI NOR chip (the
// kernel's spi-nor driver, /dev/mtd0 of 2 MiB in 4 KiB sectors), read and
// written by the SDK and by Debian's fw_printenv/fw_setenv on the same
// chip, and the provisioning tool end to end. The SDK loads the environment
// once per process, so each of its steps runs in a child of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "kernel_support.h"
#include "zq_flash.h"

namespace {

// The identity payload the provisioning tool writes: APP_ID, UUID, KEY, MAC.
struct Payload {
    char appId[32];
    char uuid[32];
    char key[64];
    unsigned char mac[6];
};
static_assert(sizeof(Payload) == 134);

void erase(const char *offset, int sectors) {
    ASSERT_TRUE(
        kb::ran(std::string("flash_erase -q /dev/mtd0 ") + offset + " " + std::to_string(sectors)));
}
constexpr const char *kEnvironment = "0x40000", *kRecordBlock = "0x20000";

int sdk_read(const char *name, std::string *value) {
    const auto run = kb::in_child([name](std::string &out) {
        char buffer[ZQ_ENV_VALUE_MAX + 2] = {};
        const int rc = ZQSDK_EnvReadKeyValue(name, buffer, ZQ_ENV_VALUE_MAX + 1);
        out = buffer;
        return rc == 0 ? 0 : 1;
    });
    *value = run.out;
    return run.status == 0 ? 0 : run.status == 1 ? -1 : 100 + run.status;
}

int sdk_write(const char *name, const char *value) {
    return kb::in_child(
               [&](std::string &) { return ZQSDK_EnvWriteKeyValue(name, value) == 0 ? 0 : 1; })
        .status;
}

int sdk_write_record(const Payload &payload, unsigned version) {
    return kb::in_child([&](std::string &) {
               return ZQSDK_WriteSeriesNum(&payload, sizeof payload, version) == 0 ? 0 : 1;
           })
        .status;
}

// The stored payload and version, or status 1 when the record is not valid.
kb::Run sdk_read_record() {
    return kb::in_child([](std::string &out) {
        Payload payload{};
        u32 version = 0;
        if (ZQSDK_ReadSeriesNum(&payload, sizeof payload, &version) != 0) return 1;
        out.assign(reinterpret_cast<const char *>(&payload), sizeof payload);
        out += std::to_string(version);
        return 0;
    });
}

Payload payload_of(const char *appId, const char *uuid, const char *key) {
    Payload payload{};
    std::strncpy(payload.appId, appId, sizeof payload.appId - 1);
    std::strncpy(payload.uuid, uuid, sizeof payload.uuid - 1);
    std::strncpy(payload.key, key, sizeof payload.key - 1);
    return payload;
}

// What sdk_read_record gives for a record of payload and version.
std::string stored_form(const Payload &payload, unsigned version) {
    return std::string(reinterpret_cast<const char *>(&payload), sizeof payload) +
           std::to_string(version);
}

TEST(NorFlashTest, EnvironmentIsSharedWithDebiansTools) {
    erase(kEnvironment, 64);
    std::string value;
    EXPECT_EQ(sdk_read("zqauto", &value), -1) << "an erased chip holds no variable";

    ASSERT_EQ(sdk_write("zqauto", "0"), 0);
    auto printed = kb::sh("fw_printenv zqauto 2>&1");
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.out, "zqauto=0\n");

    ASSERT_TRUE(kb::ran("fw_setenv bootdelay 3"));
    EXPECT_EQ(sdk_read("bootdelay", &value), 0);
    EXPECT_EQ(value, "3");
    EXPECT_EQ(sdk_read("zqauto", &value), 0);
    EXPECT_EQ(value, "0");

    // The SDK's second save keeps what fw_setenv added.
    ASSERT_EQ(sdk_write("zqauto", "1"), 0);
    printed = kb::sh("fw_printenv 2>&1");
    EXPECT_EQ(printed.status, 0);
    EXPECT_NE(printed.out.find("zqauto=1\n"), std::string::npos) << printed.out;
    EXPECT_NE(printed.out.find("bootdelay=3\n"), std::string::npos) << printed.out;
}

TEST(NorFlashTest, IdentityRecordRoundTripsAndLeavesTheEnvironmentValid) {
    erase(kRecordBlock, 16);
    auto stored = sdk_read_record();
    EXPECT_EQ(stored.status, 1) << "an erased block holds no record";

    ASSERT_TRUE(kb::ran("fw_setenv zqauto 0"));
    const Payload payload = payload_of("app-1", "uuid-1", "key-1");
    ASSERT_EQ(sdk_write_record(payload, 0x301), 0);

    stored = sdk_read_record();
    ASSERT_EQ(stored.status, 0);
    EXPECT_EQ(stored.out, stored_form(payload, 0x301));
    // On the chip where the record belongs: its magic word at 0x2F800.
    EXPECT_EQ(kb::sh("dd if=/dev/mtd0 bs=2048 skip=95 count=1 2>/dev/null | od -An -tx4 -N4").out,
              " fead5238\n");
    const auto printed = kb::sh("fw_printenv zqauto 2>&1");
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.out, "zqauto=0\n");
}

// The factory's run: eth2 (a dummy interface here) gives the MAC address,
// the record keeps the UUID and KEY already in flash. The board's audio and
// register drivers are absent: the tool must still end its record work, say
// so, and neither crash nor hang.
TEST(NorFlashTest, ProvisioningToolWritesTheRecordWithoutAudioDrivers) {
    ASSERT_TRUE(
        kb::ran("modprobe dummy numdummies=0 && ip link add eth2 type dummy && "
                "ip link set eth2 address 02:5a:51:00:00:02 && ip link set eth2 up"));
    erase(kRecordBlock, 16);
    ASSERT_EQ(sdk_write_record(payload_of("old-app", "uuid-stored", "key-stored"), 0x300), 0);
    ASSERT_TRUE(
        kb::ran("rm -rf /tmp/prov && mkdir /tmp/prov && "
                "printf 'APP_ID=app-7\\r\\nUUID=u-1\\r\\nKEY=k\\r\\n' >/tmp/prov/zq.txt && "
                "head -c 1600 /dev/zero | tr '\\0' '\\325' >/tmp/prov/shaoxiechenggong.pcm"));

    kb::sh("zqprovision /tmp/prov/zq.txt >/tmp/prov/out 2>&1 & echo $! >/tmp/prov/pid");
    const std::string pid = kb::read_file("/tmp/prov/pid");
    EXPECT_TRUE(kb::wait_for([] { return kb::exists("/tmp/prov/sucess"); }, 60));
    // It idles for ever once the prompt is done (or refused): still there.
    kb::sh("sleep 3");
    const std::string out = kb::read_file("/tmp/prov/out");
    std::printf("The tool said:\n%s", out.c_str());
    EXPECT_EQ(kb::sh("kill -0 " + pid).status, 0) << "the tool ended:\n" << out;
    kb::sh("kill " + pid);
    // No amplifier switch and no audio output here: said, not hidden.
    EXPECT_NE(out.find("AO_Enable  err:"), std::string::npos) << out;
    for (const char *line : {"version:301\n", "APP_ID: [app-7]\n", "UUID: [uuid-stored]\n",
                             "KEY: [key-stored]\n", "enc_mac:025a51000002\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << " missing from:\n" << out;
    }
    Payload written = payload_of("app-7", "uuid-stored", "key-stored");
    std::memcpy(written.mac, "\x02\x5a\x51\x00\x00\x02", 6);
    const auto stored = sdk_read_record();
    ASSERT_EQ(stored.status, 0);
    EXPECT_EQ(stored.out, stored_form(written, 0x301));

    // Provisioned: with no environment to say no, the tool starts the main
    // application, which this board does not have, and ends.
    erase(kEnvironment, 64);
    const auto again = kb::sh("timeout 60 zqprovision /tmp/prov/zq.txt 2>&1; echo status $?");
    EXPECT_EQ(again.out.find("status 124"), std::string::npos) << again.out;
    EXPECT_LT(std::stoi(again.out.substr(again.out.rfind("status ") + 7)), 128) << again.out;
}

}  // namespace
