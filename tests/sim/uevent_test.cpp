// The board's uevent feed: a board's events reach its own listeners only,
// ports and protocols are the kernel's, and waits run on the board clock.
#include "emul/uevent.h"

#include <linux/netlink.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "emul/board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

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

}  // namespace
