// The simplest emulators' hardware rules: the log sink, NOR flash, the
// drivers' state files; the audio devices, whole 320-byte frames paced at
// 20 ms of board time, a speaker.wav read back after every write, microphone
// frames of mic.wav from each open's start, then silence; and the uevent feed,
// where a board's events reach its own listeners only, ports and protocols are
// the kernel's, and waits run on the board clock. Then the vboard command.
#include "emul/board.h"

#include <fcntl.h>
#include <linux/netlink.h>
#include <signal.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "emul/audio.h"
#include "emul/flash.h"
#include "emul/state_file.h"
#include "emul/uevent.h"
#include "flash/flash_block.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_log.h"

namespace port = zq::port;
namespace sim = zq::sim;
using zq::flash::EraseInfoUser;
using zq::flash::kMemErase;

namespace {

class BoardTest : public VBoardTest {};

// Level-table names fill all their 8 bytes, without a terminator, or are cut.
TEST_F(BoardTest, LogSinkKeepsEarlierRecordsAndGivesLevelNamesOfEightBytes) {
    ASSERT_TRUE(sim::set_log_levels(dir(), {{"12345678", 2}, {"toolongname", 1}}));
    MpiLogLevelEntry table[10];
    for (const char *record : {"first\n", "second\n"}) {
        FILE *f = port::fopen("/dev/log", "w");
        ASSERT_NE(f, nullptr);
        std::fputs(record, f);
        ASSERT_EQ(port::ioctl(fileno(f), ZQ_MPI_LOG_GET_LEVELS, table), 0);
        port::fclose(f);
    }
    EXPECT_EQ(sim::read_board_file(dir(), "/dev/log"), "first\nsecond\n");
    EXPECT_EQ(std::memcmp(table[0].szName, "12345678", 8), 0);
    EXPECT_EQ(std::memcmp(table[1].szName, "toolongn", 8), 0);
}

TEST_F(BoardTest, FlashKeepsNorRules) {
    int fd = port::open("/dev/mtd0", O_RDWR);
    ASSERT_GE(fd, 0);
    EraseInfoUser half{0, 0x8000}, beyond{0x30000, 0x10000}, first{0, 0x10000};
    EXPECT_EQ(port::ioctl(fd, kMemErase, &half), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(port::ioctl(fd, kMemErase, &beyond), -1);
    ASSERT_EQ(port::ioctl(fd, kMemErase, &first), 0);
    EXPECT_EQ(sim::read_flash(dir(), 0, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));

    std::vector<uint8_t> ones(0x10000, 0xF0), more(0x10000, 0x3C);
    ASSERT_EQ(port::lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(port::write(fd, ones.data(), ones.size()), 0x10000);
    ASSERT_EQ(port::lseek(fd, 0, SEEK_SET), 0);
    ASSERT_EQ(port::write(fd, more.data(), more.size()), 0x10000);  // without an erase
    EXPECT_EQ(sim::read_flash(dir(), 0, 0x10000), std::vector<uint8_t>(0x10000, 0x30));

    // The partition end cuts a write, then refuses one.
    ASSERT_EQ(port::lseek(fd, 0x2FFFF, SEEK_SET), 0x2FFFF);
    EXPECT_EQ(port::write(fd, ones.data(), 16), 1);
    EXPECT_EQ(port::write(fd, ones.data(), 16), -1);
    EXPECT_EQ(errno, ENOSPC);
    port::close(fd);
    ASSERT_TRUE(sim::set_flash_size(dir(), 0x40000));  // grown: the new block is erased
    EXPECT_EQ(sim::read_flash(dir(), 0x30000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
}

// A missing, empty, cut-short or foreign file reads as power-on; each store
// moves the stamp readers cache by; writers take turns and lose no change.
TEST_F(BoardTest, StateFilesReadSpoiltFilesAsPowerOnAndWritersTakeTurns) {
    const std::string path = host("/dev/state");
    auto count_of_file = [](json_object *root) { return sim::json_int64(root, "n", -1); };
    auto read_count = [&] { return sim::LockedFile(path, O_RDONLY).load(count_of_file); };
    EXPECT_EQ(read_count(), -1);
    for (const char *spoilt : {"", "{\"n\": 4", "[4]", "4", "\xFF{"}) {
        write_board_file(dir(), "/dev/state", spoilt);
        EXPECT_EQ(read_count(), -1) << spoilt;
    }
    auto add = [&](int times) {
        for (int i = 0; i < times; ++i) {
            sim::LockedFile file(path, O_RDWR | O_CREAT);
            json_object *root = json_object_new_object();
            json_object_object_add(root, "n", json_object_new_int64(file.load(count_of_file) + 1));
            ASSERT_TRUE(file.store(root));
        }
    };
    add(1);
    const auto before = std::filesystem::last_write_time(path);
    add(1);
    EXPECT_NE(std::filesystem::last_write_time(path), before);
    EXPECT_EQ(read_count(), 1);  // from power-on (-1)
    std::thread other(add, 300);
    add(300);
    other.join();
    EXPECT_EQ(read_count(), 601);
    EXPECT_FALSE(sim::LockedFile(host("/dev/none"), O_RDWR).store(json_object_new_object()));
}

constexpr uint64_t kFrameNs = 20'000'000;

std::vector<int16_t> ramp(size_t n, int first) {
    std::vector<int16_t> samples(n);
    for (size_t i = 0; i < n; ++i) samples[i] = static_cast<int16_t>(first + static_cast<int>(i));
    return samples;
}

// The frame of v from sample from on, silence beyond its end.
std::vector<int16_t> slice(const std::vector<int16_t> &v, size_t from) {
    std::vector<int16_t> out(160, 0);
    for (size_t i = 0; i < 160 && from + i < v.size(); ++i) out[i] = v[from + i];
    return out;
}

class AudioDevicesTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(30);
    }
    std::vector<int16_t> read_frame(int fd) {
        std::vector<int16_t> frame(160, 0x5555);
        EXPECT_EQ(port::read(fd, frame.data(), 320), 320);
        return frame;
    }
};

TEST_F(AudioDevicesTest, SpeakerPlaysEachFrameFor20MsAndKeepsItsWavValid) {
    int fd = port::open("/dev/ao", O_WRONLY);
    ASSERT_GE(fd, 0);
    const uint64_t start = port::monotonic_ns();
    std::vector<int16_t> played;
    for (int i = 0; i < 5; ++i) {  // one or two frames a write
        std::vector<int16_t> frames = ramp(160 * size_t(1 + i % 2), i * 1000 - 2000);
        ASSERT_EQ(port::write(fd, frames.data(), frames.size() * 2), ssize_t(frames.size() * 2));
        played.insert(played.end(), frames.begin(), frames.end());
        EXPECT_EQ(sim::read_speaker(dir()), played);
    }
    EXPECT_EQ(port::monotonic_ns() - start, 7 * kFrameNs);
    for (size_t bad : {size_t{100}, size_t{321}}) {
        EXPECT_EQ(port::write(fd, played.data(), bad), -1);
        EXPECT_EQ(errno, EINVAL);
    }
    port::close(fd);
}

TEST_F(AudioDevicesTest, MicGivesMicWavFromTheStartOfEachOpenThenSilence) {
    std::vector<int16_t> heard = ramp(400, -200);
    ASSERT_TRUE(sim::write_mic(dir(), heard));
    int fd = port::open("/dev/ai", O_RDONLY);
    ASSERT_GE(fd, 0);
    const uint64_t start = port::monotonic_ns();
    for (size_t at = 0; at < 640; at += 160) EXPECT_EQ(read_frame(fd), slice(heard, at)) << at;
    EXPECT_EQ(port::monotonic_ns() - start, 4 * kFrameNs);
    int other = port::open("/dev/ai", O_RDONLY);
    EXPECT_EQ(read_frame(other), slice(heard, 0));
    port::close(other);
    port::close(fd);
}

class UeventTest : public VBoardTest {
  protected:
    // A uevent socket bound to port, in the uevent group or not; -1 when the bind fails.
    static int listen(uint32_t portId, uint32_t groups = 1) {
        int fd = port::socket(AF_NETLINK, SOCK_DGRAM, NETLINK_KOBJECT_UEVENT);
        sockaddr_nl address{AF_NETLINK, 0, portId, groups};
        if (port::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) return fd;
        port::close(fd);
        return -1;
    }
    // The datagram waiting on fd, or "" when none is.
    static std::string take(int fd) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 0) != 1) return "";
        char buf[512];
        ssize_t n = port::recv(fd, buf, sizeof buf, 0);
        return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
    }
};

TEST_F(UeventTest, OnlyTheBoardsOwnListenersHearItsEvents) {
    std::string other = dir() + "/tmp/other", error;
    ASSERT_TRUE(sim::create_board(other, &error)) << error;
    int a = listen(101), b = listen(102), deaf = listen(103, 0);
    // A listener of the other board, where its emulator puts one.
    std::filesystem::create_directory(other + "/uevent");
    int stranger = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un at{AF_UNIX, {}};
    std::snprintf(at.sun_path, sizeof at.sun_path, "%s/uevent/101", other.c_str());
    ASSERT_EQ(::bind(stranger, reinterpret_cast<sockaddr *>(&at), sizeof at), 0);

    EXPECT_EQ(sim::send_uevent(dir(), "add@/devices/x", {"ACTION=add", "SEQNUM=7"}), 2);
    for (int fd : {a, b})
        EXPECT_EQ(take(fd), std::string("add@/devices/x\0ACTION=add\0SEQNUM=7\0", 35));
    EXPECT_EQ(take(deaf), "");
    EXPECT_EQ(take(stranger), "");
    EXPECT_EQ(sim::send_uevent(other, "remove@/devices/y", {}), 1);
    EXPECT_EQ(take(a), "");
    EXPECT_EQ(take(stranger), std::string("remove@/devices/y\0", 18));
    for (int fd : {a, b, deaf}) port::close(fd);
    ::close(stranger);
}

TEST_F(UeventTest, NoOtherNetlinkAndNoSocketPathBeyondItsLimit) {
    // A board whose directory leaves no room for a socket's path.
    std::string deep = dir() + "/tmp/" + std::string(100, 'd'), error;
    ASSERT_TRUE(sim::create_board(deep, &error)) << error;
    setenv("ZQ_VBOARD", deep.c_str(), 1);
    errno = 0;
    EXPECT_EQ(port::socket(AF_NETLINK, SOCK_DGRAM, NETLINK_ROUTE), -1);
    EXPECT_EQ(errno, EPROTONOSUPPORT);
    EXPECT_EQ(listen(1), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
}

// At a stopped clock a wait with nothing to read passes at once and moves
// the clock by its timeout; one with something to read moves nothing.
TEST_F(UeventTest, WaitsRunOnTheBoardClock) {
    freeze_clock(100.0);
    int fd = listen(5);
    pollfd ready{fd, POLLIN, 0};
    EXPECT_EQ(port::poll(&ready, 1, 3000), 0);
    EXPECT_EQ(port::monotonic_ns(), 103'000'000'000u);
    ASSERT_EQ(sim::send_uevent(dir(), "add@/x", {}), 1);
    EXPECT_EQ(port::poll(&ready, 1, 3000), 1);
    EXPECT_EQ(port::monotonic_ns(), 103'000'000'000u);
    port::close(fd);
}

// Runs vboard with args: it ends with status and prints exactly out
// (or, with outPart, something that holds it).
void expect_vboard(const std::string &args, int status, const std::string &out,
                   bool outPart = false) {
    CliRun run = vboard(args);
    EXPECT_EQ(run.status, status) << args << "\n" << run.out;
    if (outPart)
        EXPECT_NE(run.out.find(out), std::string::npos) << args << "\n" << run.out;
    else
        EXPECT_EQ(run.out, out) << args;
}

using VboardCliTest = VBoardTest;

// An id write changes only the fields it is given and keeps the environment valid.
TEST_F(VboardCliTest, EnvAndIdReadAndWriteTheFlash) {
    const std::string env = "env " + dir(), id = "id " + dir();
    expect_vboard(id + " write --app-id app-7 --mac 02:00:5e:10:20:30", 0, "", true);
    expect_vboard(id + " show", 0,
                  "version: 0x301\nlength: 134\nAPP_ID: [app-7]\nUUID: [ZQ-UUID-PLACEHOLDER-0001]\n"
                  "KEY: [ZQ-KEY-PLACEHOLDER-0000000000000001]\nMAC: 02:00:5e:10:20:30\n");
    expect_vboard(env + " print", 0, "bootdelay=1\nbaudrate=115200\nzqauto=1\n");
    expect_vboard(env + " set zqauto 0", 0, "zqauto=0 saved\n");
    expect_vboard(env + " print zqauto", 0, "zqauto=0\n");
    expect_vboard(env + " print nothere", 1, "vboard: nothere is not set\n");
}

// A dump is read and written without a board, with a size that fits it; a
// spoilt CRC, or flash that ends before the environment, shows as bad.
TEST_F(VboardCliTest, DumpsWorkWithoutABoardAndBadCrcsShowAsBad) {
    std::string dump = dir() + "/tmp/mtd0.bin";
    ASSERT_TRUE(std::filesystem::copy_file(host("/dev/mtd0"), dump));
    std::string image = "--image " + dump + " --mtd0-size 0x30000";
    EXPECT_EQ(vboard("env " + image + " set zqauto 5").status, 0);
    expect_vboard("env " + image + " print zqauto", 0, "zqauto=5\n");
    expect_vboard("env " + dir() + " print zqauto", 0, "zqauto=1\n");  // the board is not the dump
    // No size, a dump too big for it, a size beyond any partition.
    for (const char *size : {"", "--mtd0-size 0x10000 ", "--mtd0-size 0xFFFF0000 "})
        EXPECT_EQ(vboard("env --image " + dump + " " + size + "print").status, 1) << size;
    ASSERT_TRUE(sim::poke_flash(dir(), 0x20004, {'B'}));   // "bootdelay" is now "Bootdelay"
    ASSERT_TRUE(sim::poke_flash(dir(), 0x2F830, {0x00}));  // the record's UUID, cut
    std::filesystem::copy_file(host("/dev/mtd0"), dump,
                               std::filesystem::copy_options::overwrite_existing);
    for (const std::string &where : {dir(), image}) {
        expect_vboard("env " + where + " print", 1, "vboard: bad CRC in the boot environment",
                      true);
        expect_vboard("id " + where + " show", 1,
                      "vboard: no valid identity record (magic 0xfead5238", true);
    }
    std::filesystem::resize_file(host("/dev/mtd0"), 0);
    expect_vboard("env " + dir() + " print", 1, "the flash image ends before the boot environment",
                  true);
}

// Each verb's main use as a user types it, on a board vboard makes.
TEST_F(VboardCliTest, EachVerbDoesItsMainJob) {
    const std::string made = " " + dir() + "/../made";
    const struct {
        std::string args;
        int status;
        const char *out;
    } rows[] = {
        {"create" + made, 0, "virtual board ready in"},
        {"create" + made, 1, "already holds a board"},
        {"set" + made + " clock.speed 2", 0, ""},
        {"journal" + made, 0, ""},
        {"uevent" + made + " sd add", 0, "block/mmcblk0/mmcblk0p1: 0 listeners"},
        {"wifi" + made + " add Home --passphrase 'pass word1' --channel 6", 0, ""},
        {"wifi" + made + " list", 0, " 6 wpa2-psk ok 192.168.147.20/24 Home\n"},
        {"wifi" + made + " remove Home", 0, ""},
        {"mmz" + made + " list", 0, ""},
        {"vi" + made + " show", 0, "chn 5 disabled 640x360"},
        {"vo" + made + " show", 0, "timing not set\n"},
        {"rgn" + made + " show", 0, "no regions"},
        {"nosuch" + made, 2, "vboard: no verb 'nosuch'"},
    };
    for (const auto &r : rows) expect_vboard(r.args, r.status, r.out, true);
    EXPECT_NE(sim::read_board_file(dir() + "/../made", "/board.json").find("\"speed\": 2"),
              std::string::npos);
}

// A started process is the board's, under the name it was given.
TEST_F(VboardCliTest, RunStartsABoardProcessUnderTheGivenName) {
    std::ofstream(host("/bin/idle")) << "#!/bin/sh\nexec sleep 60\n";
    std::filesystem::permissions(host("/bin/idle"), std::filesystem::perms::owner_all);
    CliRun run = vboard("run " + dir() + " --as udhcpc -- idle -i wlan0");
    ASSERT_EQ(run.status, 0) << run.out;
    pid_t pid = std::stoi(run.out);
    EXPECT_EQ(sim::read_board_file(dir(), "/proc/" + std::to_string(pid) + "/cmdline"),
              std::string("udhcpc\0-i\0wlan0\0", 16));
    kill(pid, SIGKILL);
}

}  // namespace
