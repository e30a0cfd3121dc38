// ZQSDK_WifiGetEthAttr: the record it fills, the state each failure leaves
// it in, and what it tells the caller.
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <iterator>

#include "net_fixture.h"
#include "port/port.h"
#include "support/capture.h"

namespace {

namespace sim = zq::sim;

struct Query {
    int rc;
    EthAttr attr;
    std::string err;
};

Query query(const char *name) {
    Query q{};
    std::memset(&q.attr, 0x5A, sizeof q.attr);
    q.err = without_line_numbers(
        capture_output([&] { q.rc = ZQSDK_WifiGetEthAttr(name, &q.attr); }).err);
    return q;
}

const EthAttr kEth2 = record("02:5a:51:3e:08:12", "192.168.1.88", "255.255.255.0", "192.168.1.1");

class EthAttrTest : public NetTest {};

TEST_F(EthAttrTest, FillsAllFourFieldsOfANewBoardsEth2) {
    Query q = query("eth2");
    EXPECT_EQ(q.rc, 0);
    EXPECT_RECORD(q.attr, kEth2);
    EXPECT_EQ(q.err, "");
    // The route table is read through the board's path; the addresses through the socket.
    EXPECT_TRUE(
        journal_has(" shell cat " + dir() +
                    "/proc/net/route \\| awk '\\{print \\$1,\\$3,\\$4,\\$7,\\$8,\\$9\\}'$"));
    EXPECT_TRUE(journal_has(" socket:inet ioctl 0x00008915 ok$"));
    EXPECT_TRUE(journal_has(" socket:inet ioctl 0x0000891B ok$"));
}

TEST_F(EthAttrTest, NullArgumentsLeaveTheRecordUntouched) {
    EthAttr attr;
    std::memset(&attr, 0x5A, sizeof attr);
    EXPECT_EQ(ZQSDK_WifiGetEthAttr(nullptr, &attr), -1);
    EXPECT_EQ(ZQSDK_WifiGetEthAttr("eth2", nullptr), -1);
    for (size_t i = 0; i < sizeof attr; ++i)
        ASSERT_EQ(reinterpret_cast<unsigned char *>(&attr)[i], 0x5A) << i;
    EXPECT_FALSE(journal_has(" shell "));
}

TEST_F(EthAttrTest, TheFirstRoutingRowOfTheInterfaceGivesTheGateway) {
    // A longer name listed first must not match; eth2's first row is a network route.
    ASSERT_TRUE(sim::remove_interface(dir(), "eth2"));
    sim::NetInterface other = eth2();
    other.name = "eth20";
    other.routes = {route("0.0.0.0", "10.0.0.1", "0.0.0.0")};
    ASSERT_TRUE(sim::set_interface(dir(), other));
    sim::NetInterface iface = eth2();
    iface.routes = {route("192.168.1.0", "0.0.0.0", "255.255.255.0"),
                    route("0.0.0.0", "192.168.1.1", "0.0.0.0")};
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    Query q = query("eth2");
    EXPECT_EQ(q.rc, 0);
    EXPECT_RECORD(q.attr, record("02:5a:51:3e:08:12", "192.168.1.88", "255.255.255.0", "0.0.0.0"));

    iface.routes = {route("0.0.0.0", "172.16.254.253", "0.0.0.0")};
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    EXPECT_STREQ(query("eth2").attr.szGateway, "172.16.254.253");
}

TEST_F(EthAttrTest, AnInterfaceWithoutRoutesStillSucceedsWithAnEmptyGateway) {
    sim::NetInterface iface = eth2();
    iface.routes.clear();
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    Query q = query("eth2");
    EXPECT_EQ(q.rc, 0);
    EXPECT_RECORD(q.attr, record("02:5a:51:3e:08:12", "192.168.1.88", "255.255.255.0", ""));
}

TEST_F(EthAttrTest, WithoutADescriptorForTheRoutePipelineTheRecordStaysEmpty) {
    zq::port::access("/", F_OK);  // the board is active before the descriptors run out
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    Query q{};
    q.err = without_line_numbers(capture_output([&] {
                                     // Every descriptor below the lowest free one is taken: no pipe
                                     // can be made.
                                     int lowest = dup(0);
                                     close(lowest);
                                     struct rlimit tight = saved;
                                     tight.rlim_cur = static_cast<rlim_t>(lowest);
                                     setrlimit(RLIMIT_NOFILE, &tight);
                                     q.rc = ZQSDK_WifiGetEthAttr("eth2", &q.attr);
                                     setrlimit(RLIMIT_NOFILE, &saved);
                                 }).err);
    EXPECT_EQ(q.rc, -1);
    EXPECT_RECORD(q.attr, record("", "", "", ""));
    EXPECT_EQ(q.err, error_line("ZQSDK_WifiGetEthAttr", "open file /proc/net/route failed\n"));
}

TEST_F(EthAttrTest, AMissingAddressFileNamesItsPathAndKeepsTheGateway) {
    Query q = query("eth9");
    EXPECT_EQ(q.rc, -1);
    EXPECT_RECORD(q.attr, record("", "", "", ""));
    EXPECT_EQ(q.err,
              error_line("ZQSDK_WifiGetEthAttr", "open /sys/class/net/eth9/address failed\n"));

    std::filesystem::remove_all(host("/sys/class/net/eth2"));
    q = query("eth2");
    EXPECT_EQ(q.rc, -1);
    EXPECT_RECORD(q.attr, record("", "", "", "192.168.1.1"));
    EXPECT_EQ(q.err,
              error_line("ZQSDK_WifiGetEthAttr", "open /sys/class/net/eth2/address failed\n"));
}

TEST_F(EthAttrTest, AnInterfaceWithoutIPv4AddressStillGivesItsMac) {
    sim::NetInterface iface = eth2();
    iface.ipv4.clear();
    iface.netmask.clear();
    ASSERT_TRUE(sim::set_interface(dir(), iface));
    Query q = query("eth2");
    EXPECT_EQ(q.rc, -1);
    EXPECT_RECORD(q.attr, record("02:5a:51:3e:08:12", "", "", "192.168.1.1"));
    EXPECT_EQ(q.err,
              std::string("ioctl SIOCGIFBRDADDR error: ") + std::strerror(EADDRNOTAVAIL) + "\n");
}

TEST_F(EthAttrTest, ARefusedNetmaskRequestKeepsTheAddress) {
    ASSERT_TRUE(sim::refuse_request(dir(), "socket:inet", SIOCGIFNETMASK, 0, -1, EPERM));
    Query q = query("eth2");
    EXPECT_EQ(q.rc, -1);
    EXPECT_RECORD(q.attr, record("02:5a:51:3e:08:12", "192.168.1.88", "", "192.168.1.1"));
    EXPECT_EQ(q.err, std::string("ioctl SIOCGIFBRDADDR error: ") + std::strerror(EPERM) + "\n");

    ASSERT_TRUE(sim::refuse_request(dir(), "socket:inet", SIOCGIFADDR, 0, -1, EIO));
    q = query("eth2");
    EXPECT_RECORD(q.attr, record("02:5a:51:3e:08:12", "", "", "192.168.1.1"));
    EXPECT_EQ(q.err, std::string("ioctl SIOCGIFBRDADDR error: ") + std::strerror(EIO) + "\n");
}

// The kernel refuses AF_INET sockets to this process (seccomp), with error.
bool refuse_inet_sockets(int error) {
#if defined(__x86_64__)
    constexpr __u32 kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
    constexpr __u32 kArch = AUDIT_ARCH_AARCH64;
#elif defined(__arm__)
    constexpr __u32 kArch = AUDIT_ARCH_ARM;
#else
    return false;
#endif
    constexpr __u32 kFamilyOffset =
        offsetof(seccomp_data, args) + (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFamilyOffset),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_INET, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<__u32>(error) & 0xFFFF)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Whether a child process can be made to lose its AF_INET sockets (not under qemu-user).
bool socket_refusal_available() {
    pid_t pid = fork();
    if (pid == 0)
        _exit(refuse_inet_sockets(EMFILE) && socket(AF_INET, SOCK_DGRAM, 0) < 0 && errno == EMFILE
                  ? 0
                  : 1);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(EthAttrTest, ARefusedSocketKeepsGatewayAndMac) {
    if (!socket_refusal_available()) GTEST_SKIP() << "seccomp filters unavailable";
    // In a child process, so that the filter dies with it.
    EXPECT_EXIT(
        {
            EthAttr attr;
            std::memset(&attr, 0x5A, sizeof attr);
            bool refused = refuse_inet_sockets(EMFILE);
            int rc = ZQSDK_WifiGetEthAttr("eth2", &attr);
            EthAttr want = record("02:5a:51:3e:08:12", "", "", "192.168.1.1");
            std::fprintf(stderr, "[%s]\n", describe(attr).c_str());
            _exit(refused && rc == -1 && std::memcmp(&attr, &want, sizeof attr) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "create socket failed:: Too many open files\n\\[mac=");
}

TEST_F(EthAttrTest, TheMacIsTheFirstNonEmptyLineCutTo17Characters) {
    struct {
        const char *file, *mac;
    } cases[] = {
        {"02:5a:51:3e:08:12", "02:5a:51:3e:08:12"},  // no newline
        {"\n\n0a:0b:0c:0d:0e:0f\n", "0a:0b:0c:0d:0e:0f"},
        {"00:11:22:33:44:55:66:77:88\n", "00:11:22:33:44:55"},
        {"junk\nff:ff:ff:ff:ff:ff\n", "junk"},
        {"", ""},
        {"\n", ""},
    };
    for (const auto &c : cases) {
        write_board_file("/sys/class/net/eth2/address", c.file);
        Query q = query("eth2");
        EXPECT_EQ(q.rc, 0) << c.file;
        EXPECT_RECORD(q.attr, record(c.mac, "192.168.1.88", "255.255.255.0", "192.168.1.1"));
    }
}

TEST_F(EthAttrTest, NamesNoInterfaceCanHaveReachNeitherFilesNorRequests) {
    // "eth2/../lo" would name lo's address file; a 16-character name would be
    // cut by the kernel to the 15-character interface.
    sim::NetInterface longest = eth2();
    longest.name = "wlx0a0b0c0d0e0f";
    ASSERT_TRUE(sim::set_interface(dir(), longest));
    std::filesystem::create_directories(host("/sys/class/net/wlx0a0b0c0d0e0fX"));
    write_board_file("/sys/class/net/wlx0a0b0c0d0e0fX/address", "02:00:00:00:00:99\n");
    std::string huge(300, 'e');
    for (const std::string &name : {std::string("eth2/../lo"), std::string("wlx0a0b0c0d0e0fX"),
                                    std::string("eth2;reboot"), huge}) {
        Query q = query(name.c_str());
        EXPECT_EQ(q.rc, -1) << name;
        EXPECT_RECORD(q.attr, record("", "", "", ""));
        std::string path = ("/sys/class/net/" + name + "/address").substr(0, 127);
        EXPECT_EQ(q.err, error_line("ZQSDK_WifiGetEthAttr", "open " + path + " failed\n"));
    }
    EXPECT_FALSE(journal_has(" socket:inet ioctl "));

    Query q = query("wlx0a0b0c0d0e0f");  // the longest name the kernel allows
    EXPECT_EQ(q.rc, 0);
    EXPECT_RECORD(q.attr, kEth2);
}

}  // namespace
