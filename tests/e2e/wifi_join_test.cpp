// The Wi-Fi example as a user runs it: on a fresh board with two networks in
// range it lists them strongest first, joins the one it is given, and the
// link and the interface then report that network and the leased address.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "emul/board.h"
#include "support/text_parts.h"
#include "support/vboard_fixture.h"

namespace {

using WifiJoinExampleTest = VBoardTest;

// Output goes to a file, not a pipe: the DHCP client the example leaves
// running keeps the standard error it was started with.
std::string run(const std::string &command, const std::string &outFile, int *status) {
    *status = std::system((command + " >" + outFile + " 2>&1").c_str());
    std::ifstream in(outFile);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(WifiJoinExampleTest, ListsTheNetworksAndJoinsOne) {
    ASSERT_TRUE(zq::sim::set_clock_speed(dir(), 20));
    CliRun add = vboard("wifi " + dir() +
                        " add Garden --passphrase 'green leaves' --signal -45 --channel 11"
                        " --lease 192.168.7.20");
    ASSERT_EQ(add.status, 0) << add.out;
    add = vboard("wifi " + dir() + " add 'Cafe Corner' --signal -75 --channel 1");
    ASSERT_EQ(add.status, 0) << add.out;

    int status = -1;
    std::string out = run("ZQ_VBOARD=" + dir() + " " ZQ_WIFI_JOIN " Garden 'green leaves'",
                          dir() + "/../example.out", &status);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    size_t garden = out.find(" Garden\n"), cafe = out.find(" Cafe Corner\n");
    ASSERT_NE(cafe, std::string::npos) << out;
    EXPECT_LT(garden, cafe) << "strongest first\n" << out;
    EXPECT_EQ(missing(out, {"2 networks in range", "  100%  ch 11 ",
                            "joined\nlink: Garden, quality ", "%, wpa2\n",
                            "address 192.168.7.20 netmask 255.255.255.0 gateway 192.168.7.1\n"}),
              "")
        << out;
}

}  // namespace
