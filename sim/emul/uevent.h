// The board's kernel device events (uevents). A program on the board listens
// with a netlink socket of the uevent protocol bound to the uevent group; the
// board makes it a unix datagram socket in the board directory's uevent/,
// named by its port id, and the feed below sends each event to every socket
// there. So only this board's events reach its programs, never the host's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zq::sim {

// The listeners' sockets, inside the board directory; the feed's sequence
// number lives there too, in the file "seqnum".
constexpr const char *kUeventDir = "uevent";

// ---- test-facing ----

struct Uevent {
    std::string header;            // "ACTION@DEVPATH"
    std::vector<std::string> env;  // "ACTION=add", "DEVPATH=...", ...: KEY=VALUE lines
};

enum class UeventAction { Add, Remove };

// Sends one datagram "header\0KEY=VALUE\0...\0", as the kernel does, to every
// listener of the board at dir. Returns the number of listeners reached, or
// -1 with errno when no socket could be made. A listener whose queue stays
// full for a second misses the event, as a slow reader of the kernel's does.
int send_uevent(const std::string &dir, const std::string &header,
                const std::vector<std::string> &env);

// The board's next SEQNUM (counted in the board directory, so that every
// process numbers on).
uint64_t next_uevent_seqnum(const std::string &dir);

// Sends the events in order, each with the next SEQNUM appended. Returns the
// datagrams delivered (summed over listeners), or -1.
int send_uevents(const std::string &dir, const std::vector<Uevent> &events);

// What the kernel sends when an SD card comes or goes on the SD host: the
// card, its block device .../block/mmcblk0 and its first partition (removed
// in the reverse order).
std::vector<Uevent> sd_card_uevents(UeventAction action);

// What the kernel sends when a USB network adapter on port 1-1 comes or goes
// as interface eth<n>: the USB device, its interface, the network interface
// .../net/eth<n> and its two queues (removed in the reverse order).
std::vector<Uevent> usb_ethernet_uevents(int n, UeventAction action);

}  // namespace zq::sim
