// The process utilities on the real kernel: shell statuses, the descriptors
// a command inherits, and the killer reading command lines from the real
// /proc, against decoys started under the names it looks for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "kernel_support.h"
#include "zq_system.h"

namespace {

// Starts the decoy program as /tmp/decoys/NAME with args; its pid.
std::string start_decoy(const std::string &name, const std::string &args) {
    const auto run =
        kb::sh("mkdir -p /tmp/decoys && cp -f kernel_decoy '/tmp/decoys/" + name +
               "' && { '/tmp/decoys/" + name + "' " + args + " >/dev/null 2>&1 & echo $!; }");
    kb::sh("sleep 0.3");  // past exec: its command line is the decoy's own
    return run.out.substr(0, run.out.find('\n'));
}
bool alive(const std::string &pid) {
    // A killed child of the shell stays a zombie until reaped: not alive.
    const auto state = kb::sh("cat /proc/" + pid + "/stat 2>/dev/null | awk '{print $3}'").out;
    return !state.empty() && state != "Z\n";
}

TEST(ProcessTest, SafeSystemStatusesAndInheritedDescriptors) {
    EXPECT_EQ(ZQSDK_SafeSystem("exit 0"), 0);
    EXPECT_EQ(ZQSDK_SafeSystem("exit 3"), 1);
    EXPECT_EQ(ZQSDK_SafeSystem("no-such-program-here"), 1);
    EXPECT_EQ(ZQSDK_SafeSystem("kill -9 $$"), -1);
    EXPECT_EQ(ZQSDK_SafeSystem(nullptr), -1);

    // A descriptor of ours without close-on-exec, and one far up.
    const int open = ::open("/proc/version", O_RDONLY);
    ASSERT_GE(open, 3);
    ASSERT_EQ(dup2(open, 900), 900);
    // Listed from a child while the shell only waits: setting up a pipeline
    // or a redirection, the shell holds descriptors of its own for a while.
    ASSERT_EQ(ZQSDK_SafeSystem("(sleep 0.5; ls /proc/$$/fd >/tmp/fds) & wait"), 0);
    EXPECT_EQ(kb::read_file("/tmp/fds"), "0\n1\n2\n");
    ::close(900);
    ::close(open);
}

TEST(ProcessTest, KillerMatchesTheRealCommandLines) {
    const std::string morva = start_decoy("Morva", "-c /etc/morva.conf");
    const std::string named_later = start_decoy("watcher", "Morva udhcpc");
    const std::string station = start_decoy("udhcpc", "-i wlan0 -s /usr/wifi/udhcpc.script");
    const std::string wired = start_decoy("udhcpc", "-i eth0");

    EXPECT_EQ(ZQSDK_Superkiller("Morva", nullptr), 0);
    EXPECT_FALSE(alive(morva));
    EXPECT_TRUE(alive(named_later)) << "a name in a later argument only is no match";

    EXPECT_EQ(ZQSDK_Superkiller("udhcpc", "-i wlan0"), 0);
    EXPECT_FALSE(alive(station));
    EXPECT_TRUE(alive(wired));
    // The caller itself is never killed, whatever its name matches.
    EXPECT_EQ(ZQSDK_Superkiller("kernel_system_test", nullptr), 0);

    kb::sh("kill " + named_later + " " + wired);
}

// Not root: a process of another user cannot be killed, and the killer
// says so instead of reporting success; a process of our own user is killed.
TEST(ProcessTest, KillerReportsARefusedKill) {
    const std::string own = start_decoy("udhcpc", "--uid 1000 -i wlan0");
    const std::string other = start_decoy("udhcpc", "--uid 1001 -i wlan0");
    ASSERT_TRUE(alive(own));
    ASSERT_TRUE(alive(other));

    const auto run = kb::in_child([](std::string &) {
        if (setgid(1000) != 0 || setuid(1000) != 0) return 100;
        return ZQSDK_Superkiller("udhcpc", "wlan0") == -1 ? 1 : 0;
    });
    EXPECT_EQ(run.status, 1) << "a refused kill must give -1";
    EXPECT_TRUE(alive(other));
    kb::sh("kill " + own + " " + other);
}

}  // namespace
