// ZQSDK_WifiGetEthAttr: the record it fills, the state each failure leaves
// it in, and what it tells the caller.
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "net_fixture.h"
#include "port/port.h"
#include "support/capture.h"

namespace {

namespace sim = zq::sim;

struct Query {
    int rc = 0;
    std::string record;  // all 66 bytes
    std::string err;
};

// With withoutDescriptors, every descriptor is taken while the query runs.
Query query(const std::string &name, bool withoutDescriptors = false) {
    Query q;
    EthAttr attr;
    std::memset(&attr, 0x5A, sizeof attr);
    struct rlimit saved {};
    getrlimit(RLIMIT_NOFILE, &saved);
    q.err = without_line_numbers(capture_output([&] {
                                     int lowest = dup(0);  // every descriptor below it is in use
                                     close(lowest);
                                     struct rlimit tight = saved;
                                     tight.rlim_cur = static_cast<rlim_t>(lowest);
                                     if (withoutDescriptors) setrlimit(RLIMIT_NOFILE, &tight);
                                     q.rc = ZQSDK_WifiGetEthAttr(name.c_str(), &attr);
                                     setrlimit(RLIMIT_NOFILE, &saved);
                                 }).err);
    q.record.assign(reinterpret_cast<const char *>(&attr), sizeof attr);
    return q;
}

const std::string kEth2 =
    record("02:5a:51:3e:08:12", "192.168.1.88", "255.255.255.0", "192.168.1.1");
const std::string kNoRecord = record("", "", "", "");

std::string perror_line(int error) {
    return std::string("ioctl SIOCGIFBRDADDR error: ") + std::strerror(error) + "\n";
}

class EthAttrTest : public NetTest {};

TEST_F(EthAttrTest, FillsAllFourFieldsOfANewBoardsEth2) {
    Query q = query("eth2");
    EXPECT_EQ(q.rc, 0);
    EXPECT_EQ(q.record, kEth2);
    EXPECT_EQ(q.err, "");
    EXPECT_TRUE(
        journal_has(" shell cat " + dir() +
                    "/proc/net/route \\| awk '\\{print \\$1,\\$3,\\$4,\\$7,\\$8,\\$9\\}'$"));
    EXPECT_TRUE(journal_has(" socket:inet ioctl 0x0000891B ok$"));

    EthAttr attr;
    std::memset(&attr, 0x5A, sizeof attr);
    EXPECT_EQ(ZQSDK_WifiGetEthAttr(nullptr, &attr), -1);
    EXPECT_EQ(ZQSDK_WifiGetEthAttr("eth2", nullptr), -1);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(&attr), sizeof attr), std::string(66, 0x5A));
}

TEST_F(EthAttrTest, TheGatewayIsThatOfTheInterfacesFirstRoutingRow) {
    sim::NetInterface other = eth2(), iface = eth2();
    other.name = "eth20";  // listed first, and only a longer name
    other.routes = {route("0.0.0.0", "10.0.0.1", "0.0.0.0")};
    iface.routes = {route("192.168.1.0", "0.0.0.0", "255.255.255.0"),
                    route("0.0.0.0", "192.168.1.1", "0.0.0.0")};
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2") && sim::set_interface(dir(), other) &&
                sim::set_interface(dir(), iface));
    EXPECT_EQ(query("eth2").record,
              record("02:5a:51:3e:08:12", "192.168.1.88", "255.255.255.0", "0.0.0.0"));
    iface.routes.clear();
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    Query q = query("eth2");
    EXPECT_EQ(q.rc, 0);
    EXPECT_EQ(q.record, record("02:5a:51:3e:08:12", "192.168.1.88", "255.255.255.0", ""));
}

TEST_F(EthAttrTest, EachFailureLeavesWhatWasReadBeforeIt) {
    Query q = query("eth9");
    EXPECT_EQ(q.rc, -1);
    EXPECT_EQ(q.record, kNoRecord);
    EXPECT_EQ(q.err,
              error_line("ZQSDK_WifiGetEthAttr", "open /sys/class/net/eth9/address failed\n"));

    sim::NetInterface iface = eth2();
    iface.ipv4 = iface.netmask = "";
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    q = query("eth2");
    EXPECT_EQ(q.rc, -1);
    EXPECT_EQ(q.record, record("02:5a:51:3e:08:12", "", "", "192.168.1.1"));
    EXPECT_EQ(q.err, perror_line(EADDRNOTAVAIL));

    ASSERT_TRUE(sim::set_interface(dir(), eth2()));
    ASSERT_TRUE(sim::refuse_request(dir(), "socket:inet", SIOCGIFNETMASK, 0, -1, EPERM));
    q = query("eth2");
    EXPECT_EQ(q.rc, -1);
    EXPECT_EQ(q.record, record("02:5a:51:3e:08:12", "192.168.1.88", "", "192.168.1.1"));
    EXPECT_EQ(q.err, perror_line(EPERM));

    std::filesystem::remove_all(host("/sys/class/net/eth2"));
    q = query("eth2");
    EXPECT_EQ(q.record, record("", "", "", "192.168.1.1"));
    EXPECT_EQ(q.err,
              error_line("ZQSDK_WifiGetEthAttr", "open /sys/class/net/eth2/address failed\n"));
}

TEST_F(EthAttrTest, WithoutADescriptorForTheRoutePipelineTheRecordStaysEmpty) {
    zq::port::access("/", F_OK);  // the board is active before the descriptors run out
    Query q = query("eth2", true);
    EXPECT_EQ(q.rc, -1);
    EXPECT_EQ(q.record, kNoRecord);
    EXPECT_EQ(q.err, error_line("ZQSDK_WifiGetEthAttr", "open file /proc/net/route failed\n"));
}

TEST_F(EthAttrTest, ARefusedSocketKeepsGatewayAndMac) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "socket:inet", true));
    Query q = query("eth2");
    EXPECT_EQ(q.rc, -1);
    EXPECT_EQ(q.record, record("02:5a:51:3e:08:12", "", "", "192.168.1.1"));
    EXPECT_EQ(q.err, "create socket failed:: Address family not supported by protocol\n");
}

TEST_F(EthAttrTest, TheMacIsTheFirstNonEmptyLineCutTo17Characters) {
    const char *cases[][2] = {
        {"02:5a:51:3e:08:12", "02:5a:51:3e:08:12"},  // no newline
        {"\n\n0a:0b:0c:0d:0e:0f\n", "0a:0b:0c:0d:0e:0f"},
        {"00:11:22:33:44:55:66:77:88\n", "00:11:22:33:44:55"},
        {"junk\nff:ff:ff:ff:ff:ff\n", "junk"},
        {"\n", ""},
    };
    for (const auto &c : cases) {
        std::ofstream(host("/sys/class/net/eth2/address"), std::ios::trunc) << c[0];
        EXPECT_EQ(query("eth2").record,
                  record(c[1], "192.168.1.88", "255.255.255.0", "192.168.1.1"));
    }
}

TEST_F(EthAttrTest, NamesNoInterfaceCanHaveReachNeitherFilesNorRequests) {
    // "eth2/../lo" names lo's address file; the kernel would cut a 16-character
    // name to the 15-character interface.
    sim::NetInterface longest = eth2();
    longest.name = "wlx0a0b0c0d0e0f";
    ASSERT_TRUE(sim::set_interface(dir(), longest));
    std::filesystem::create_directories(host("/sys/class/net/wlx0a0b0c0d0e0fX"));
    std::ofstream(host("/sys/class/net/wlx0a0b0c0d0e0fX/address")) << "02:00:00:00:00:99\n";
    for (const std::string &name : {std::string("eth2/../lo"), std::string("wlx0a0b0c0d0e0fX"),
                                    std::string("eth2;id"), std::string(300, 'e')}) {
        Query q = query(name);
        EXPECT_EQ(q.rc, -1) << name;
        EXPECT_EQ(q.record, kNoRecord);
        std::string path = ("/sys/class/net/" + name + "/address").substr(0, 127);
        EXPECT_EQ(q.err, error_line("ZQSDK_WifiGetEthAttr", "open " + path + " failed\n"));
    }
    EXPECT_FALSE(journal_has(" socket:inet ioctl "));
    EXPECT_EQ(query("wlx0a0b0c0d0e0f").record, kEth2);  // the longest name the kernel allows
}

}  // namespace
