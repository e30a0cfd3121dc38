// The network part of the virtual board keeps the kernel's rules: the route
// table and address files in the kernel's text layout, an ifconfig listing,
// and address requests answered like the kernel answers them.
#include "net_board.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

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
        char buf[256];
        for (size_t n; pipe && (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) text.append(buf, n);
        if (pipe) port::pclose(pipe);
        return text;
    }
    // The address request's answer, or the errno of its refusal.
    int request(unsigned long code, const char *name, size_t nameLength, std::string *address) {
        int sock = port::ops().socket(AF_INET, SOCK_DGRAM, 0);
        struct ifreq req {};
        std::memcpy(req.ifr_name, name, nameLength);
        int rc = port::ioctl(sock, code, &req);
        int error = rc < 0 ? errno : 0;
        port::close(sock);
        sockaddr_in in{};
        std::memcpy(&in, &req.ifr_addr, sizeof in);
        char text[INET_ADDRSTRLEN] = "";
        if (rc == 0 && in.sin_family == AF_INET)
            inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
        *address = text;
        return error;
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
}

TEST_F(NetBoardTest, EditsRewriteAndRemoveTheInterfaceFiles) {
    sim::NetInterface wlan;
    wlan.name = "wlan0";
    wlan.mac = "02:5A:51:00:00:07";
    wlan.monitor = true;
    sim::NetRoute hostRoute;
    hostRoute.destination = "10.1.2.3";
    hostRoute.gateway = "10.0.0.1";
    hostRoute.mask = "255.255.255.255";
    hostRoute.metric = 5;
    hostRoute.mtu = 1400;
    wlan.routes = {hostRoute};
    ASSERT_TRUE(sim::set_interface(dir(), wlan));
    EXPECT_EQ(file("/sys/class/net/wlan0/address"), "02:5a:51:00:00:07\n");
    EXPECT_NE(file("/proc/net/route")
                  .find(padded("wlan0\t0302010A\t0100000A\t0007\t0\t0\t5\tFFFFFFFF\t1400\t0\t0")),
              std::string::npos);
    EXPECT_EQ(
        run("ifconfig -a wlan0"),
        "wlan0     Link encap:UNSPEC  HWaddr 02-5A-51-00-00-07-00-00-00-00-00-00-00-00-00-00  \n"
        "          UP BROADCAST RUNNING MULTICAST  MTU:1500  Metric:1\n"
        "          RX packets:0 errors:0 dropped:0 overruns:0 frame:0\n"
        "          TX packets:0 errors:0 dropped:0 overruns:0 carrier:0\n"
        "          collisions:0 txqueuelen:1000 \n"
        "          RX bytes:0 (0.0 B)  TX bytes:0 (0.0 B)\n\n");

    ASSERT_TRUE(sim::remove_interface(dir(), "eth2"));
    EXPECT_FALSE(std::filesystem::exists(host("/sys/class/net/eth2")));
    EXPECT_EQ(file("/proc/net/route").find("eth2"), std::string::npos);
    EXPECT_EQ(run("ifconfig eth2 2>&1"),
              "ifconfig: eth2: error fetching interface information: Device not found\n");
    std::string all = run("ifconfig -a");
    EXPECT_EQ(all.find("lo        Link encap:Local Loopback  \n"
                       "          inet addr:127.0.0.1  Mask:255.0.0.0\n"
                       "          UP LOOPBACK RUNNING  MTU:65536  Metric:1\n"),
              0u);
    EXPECT_NE(all.find("\nwlan0     Link encap:UNSPEC"), std::string::npos);
}

TEST_F(NetBoardTest, AddressRequestsAnswerLikeTheKernel) {
    sim::NetInterface bare;
    bare.name = "wlan0";
    bare.mac = "02:5a:51:00:00:07";
    ASSERT_TRUE(sim::set_interface(dir(), bare));
    std::string address;
    EXPECT_EQ(request(SIOCGIFADDR, "eth2", 4, &address), 0);
    EXPECT_EQ(address, "192.168.1.88");
    EXPECT_EQ(request(SIOCGIFNETMASK, "eth2", 4, &address), 0);
    EXPECT_EQ(address, "255.255.255.0");
    EXPECT_EQ(request(SIOCGIFADDR, "eth9", 4, &address), ENODEV);
    EXPECT_EQ(request(SIOCGIFADDR, "wlan0", 5, &address), EADDRNOTAVAIL);
    EXPECT_EQ(request(SIOCGIFBRDADDR, "eth2", 4, &address), ENOTTY);
    // The kernel reads at most 15 characters of an unterminated name.
    EXPECT_EQ(request(SIOCGIFADDR, "eth2\0\0\0\0\0\0\0\0\0\0\0X", IFNAMSIZ, &address), 0);
    ASSERT_TRUE(sim::refuse_request(dir(), "socket:inet", SIOCGIFADDR, 1, 1, EIO));
    EXPECT_EQ(request(SIOCGIFADDR, "eth2", 4, &address), 0);
    EXPECT_EQ(request(SIOCGIFADDR, "eth2", 4, &address), EIO);
    EXPECT_EQ(request(SIOCGIFADDR, "eth2", 4, &address), 0);
}

}  // namespace
