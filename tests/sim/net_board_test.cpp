// The network part of the virtual board keeps the kernel's rules: the route
// table and address files in the kernel's text layout, an ifconfig listing,
// and address requests answered as the kernel answers them.
#include "net_board.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"

namespace port = zq::port;
namespace sim = zq::sim;

namespace {

class NetBoardTest : public VBoardTest {
  protected:
    std::string file(const std::string &path) { return sim::read_board_file(dir(), path); }
    std::string run(const std::string &command) {
        std::string text;
        FILE *pipe = port::popen(command.c_str(), "r");
        for (int c; (c = std::fgetc(pipe)) != EOF;) text += static_cast<char>(c);
        port::pclose(pipe);
        return text;
    }
    // The answered address, or the errno of the refusal.
    std::string request(unsigned long code, const std::string &name) {
        int sock = port::ops().socket(AF_INET, SOCK_DGRAM, 0);
        struct ifreq req {};
        name.copy(req.ifr_name, IFNAMSIZ);
        int error = port::ioctl(sock, code, &req) < 0 ? errno : 0;
        port::close(sock);
        if (error) return "errno " + std::to_string(error);
        return inet_ntoa(reinterpret_cast<sockaddr_in *>(&req.ifr_addr)->sin_addr);
    }
};

std::string padded(const std::string &line) {
    return line + std::string(127 - line.size(), ' ') + "\n";
}

TEST_F(NetBoardTest, ANewBoardHasLoopbackAndEth2WithADefaultRoute) {
    EXPECT_EQ(file("/sys/class/net/eth2/address"), "02:5a:51:3e:08:12\n");
    EXPECT_EQ(file("/sys/class/net/lo/address"), "00:00:00:00:00:00\n");
    EXPECT_EQ(file("/proc/net/route"),
              padded("Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow"
                     "\tIRTT") +
                  padded("eth2\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0") +
                  padded("eth2\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0"));
    EXPECT_EQ(run("ifconfig -a | sed -n 9,11p"),
              "eth2      Link encap:Ethernet  HWaddr 02:5A:51:3E:08:12  \n"
              "          inet addr:192.168.1.88  Bcast:192.168.1.255  Mask:255.255.255.0\n"
              "          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n");
}

TEST_F(NetBoardTest, EditsRewriteAndRemoveTheInterfaceFiles) {
    sim::NetInterface wlan;
    wlan.name = "wlan0";
    wlan.mac = "02:5A:51:00:00:07";
    wlan.monitor = true;
    wlan.routes = {{"10.1.2.3", "10.0.0.1", "255.255.255.255", -1, 5}};  // flags derived, metric 5
    ASSERT_TRUE(sim::set_interface(dir(), wlan));
    EXPECT_EQ(file("/sys/class/net/wlan0/address"), "02:5a:51:00:00:07\n");
    EXPECT_NE(file("/proc/net/route")
                  .find(padded("wlan0\t0302010A\t0100000A\t0007\t0\t0\t5\tFFFFFFFF\t0\t0\t0")),
              std::string::npos);
    EXPECT_EQ(
        run("ifconfig -a wlan0 | head -2"),
        "wlan0     Link encap:UNSPEC  HWaddr 02-5A-51-00-00-07-00-00-00-00-00-00-00-00-00-00  "
        "\n          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n");

    ASSERT_TRUE(sim::remove_interface(dir(), "eth2"));
    EXPECT_FALSE(std::filesystem::exists(host("/sys/class/net/eth2")));
    EXPECT_EQ(file("/proc/net/route").find("eth2"), std::string::npos);
    EXPECT_EQ(run("ifconfig eth2 2>&1"),
              "ifconfig: eth2: error fetching interface information: Device not found\n");
}

TEST_F(NetBoardTest, AddressRequestsAreAnsweredAsTheKernelAnswersThem) {
    // Answers and EADDRNOTAVAIL are checked through the interface queries.
    EXPECT_EQ(request(SIOCGIFADDR, "eth9"), "errno " + std::to_string(ENODEV));
    EXPECT_EQ(request(SIOCGIFBRDADDR, "eth2"), "errno " + std::to_string(ENOTTY));
    // An unterminated name is read up to its 15th character.
    EXPECT_EQ(request(SIOCGIFADDR, std::string("eth2\0\0\0\0\0\0\0\0\0\0\0X", 16)), "192.168.1.88");
}

}  // namespace
