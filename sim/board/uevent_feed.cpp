// The board's uevent feed, test-facing (emul/uevent.h).
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>

#include "emul/devices.h"
#include "emul/state_file.h"
#include "emul/uevent.h"

namespace zq::sim {
namespace {

// A board that has booted has numbered its own devices' events already.
constexpr uint64_t kFirstSeqnum = 1000;

// The sockets in uevent/ (other files are not listeners).
std::vector<std::string> listeners(const std::string &dir) {
    std::vector<std::string> paths;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(dir + "/" + kUeventDir, ec))
        if (entry.symlink_status(ec).type() == std::filesystem::file_type::socket)
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// Delivers datagram to the socket at path; a socket whose listener has gone
// is removed.
bool deliver(int sender, const std::string &path, const std::string &datagram) {
    sockaddr_un address;
    socklen_t length;
    if (!unix_socket_address(path, &address, &length)) return false;
    if (::sendto(sender, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr *>(&address), length) >= 0)
        return true;
    if (errno == ECONNREFUSED) ::unlink(path.c_str());
    return false;
}

Uevent event(UeventAction action, const std::string &devpath, const char *subsystem,
             std::vector<std::string> more) {
    const char *verb = action == UeventAction::Add ? "add" : "remove";
    Uevent e{std::string(verb) + "@" + devpath,
             {std::string("ACTION=") + verb, "DEVPATH=" + devpath,
              std::string("SUBSYSTEM=") + subsystem}};
    e.env.insert(e.env.end(), more.begin(), more.end());
    return e;
}

}  // namespace

int send_uevent(const std::string &dir, const std::string &header,
                const std::vector<std::string> &env) {
    std::string datagram = header + '\0';
    for (const std::string &line : env) datagram += line + '\0';
    int sender = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sender < 0) return -1;
    // The kernel never waits for a listener; the feed waits a little, so that
    // a listener busy for a moment still hears every event of a burst.
    struct timeval patience {
        1, 0
    };
    ::setsockopt(sender, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    int reached = 0;
    for (const std::string &path : listeners(dir)) reached += deliver(sender, path, datagram);
    ::close(sender);
    return reached;
}

uint64_t next_uevent_seqnum(const std::string &dir) {
    std::string where = dir + "/" + kUeventDir;
    ::mkdir(where.c_str(), 0755);
    LockedFile file(where + "/seqnum", O_RDWR | O_CREAT);
    if (!file.is_open()) return kFirstSeqnum;
    const auto last = file.load([](json_object *root) { return json_int64(root, "seqnum", 0); });
    uint64_t seqnum = last > 0 ? static_cast<uint64_t>(last) + 1 : kFirstSeqnum;
    json_object *root = json_object_new_object();
    json_object_object_add(root, "seqnum", json_object_new_int64(static_cast<int64_t>(seqnum)));
    return file.store(root) ? seqnum : kFirstSeqnum;
}

int send_uevents(const std::string &dir, const std::vector<Uevent> &events) {
    int delivered = 0;
    for (const Uevent &e : events) {
        std::vector<std::string> env = e.env;
        env.push_back("SEQNUM=" + std::to_string(next_uevent_seqnum(dir)));
        int reached = send_uevent(dir, e.header, env);
        if (reached < 0) return -1;
        delivered += reached;
    }
    return delivered;
}

std::vector<Uevent> sd_card_uevents(UeventAction action) {
    const std::string card = "/devices/platform/soc/arasan-sdhci.0/mmc_host/mmc0/mmc0:aaaa";
    const std::string disk = card + "/block/mmcblk0";
    std::vector<Uevent> burst = {
        event(action, card, "mmc", {"MMC_TYPE=SD", "MMC_NAME=SD16G", "MODALIAS=mmc:block"}),
        event(action, disk, "block", {"MAJOR=179", "MINOR=0", "DEVNAME=mmcblk0", "DEVTYPE=disk"}),
        event(action, disk + "/mmcblk0p1", "block",
              {"MAJOR=179", "MINOR=1", "DEVNAME=mmcblk0p1", "DEVTYPE=partition", "PARTN=1"}),
    };
    if (action == UeventAction::Remove) std::reverse(burst.begin(), burst.end());
    return burst;
}

std::vector<Uevent> usb_ethernet_uevents(int n, UeventAction action) {
    const std::string device = "/devices/platform/soc/ehci-platform.0/usb1/1-1";
    const std::string interface = device + "/1-1:1.0";
    const std::string name = "eth" + std::to_string(n);
    const std::string net = interface + "/net/" + name;
    const char *product = "PRODUCT=abcd/1234/100";
    std::vector<Uevent> burst = {
        event(action, device, "usb",
              {"MAJOR=189", "MINOR=1", "DEVNAME=bus/usb/001/002", "DEVTYPE=usb_device", product,
               "TYPE=0/0/0", "BUSNUM=001", "DEVNUM=002"}),
        event(action, interface, "usb",
              {"DEVTYPE=usb_interface", product, "TYPE=0/0/0", "INTERFACE=255/255/0",
               "MODALIAS=usb:vABCDp1234d0100dc00dsc00dp00icFFiscFFip00in00"}),
        event(action, net, "net", {"INTERFACE=" + name, "IFINDEX=" + std::to_string(3 + n)}),
        event(action, net + "/queues/rx-0", "queues", {}),
        event(action, net + "/queues/tx-0", "queues", {}),
    };
    // Going, the interface's queues go first (receive, then send), then the
    // interface, the USB interface and the device.
    if (action == UeventAction::Remove) {
        std::reverse(burst.begin(), burst.end());
        std::swap(burst[0], burst[1]);
    }
    return burst;
}

}  // namespace zq::sim
