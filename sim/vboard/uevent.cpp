// vboard uevent: kernel device events for the programs listening on a board.
#include "emul/uevent.h"

#include <cstdio>
#include <string>

#include "emul/board.h"
#include "vboard/verbs.h"

namespace zq::sim {

const char *const kUeventUsage =
    "usage: vboard uevent DIR HEADER [KEY=VALUE...]\n"
    "       vboard uevent DIR sd add|remove\n"
    "       vboard uevent DIR usb-eth N add|remove\n"
    "Sends kernel device events to the programs that listen for them on the\n"
    "board (such as a hot-plug monitor), and prints each header with the number\n"
    "of listeners it reached.\n"
    "  HEADER [KEY=VALUE...]  one event as given: HEADER is ACTION@DEVPATH, the\n"
    "                         datagram \"HEADER\\0KEY=VALUE\\0...\"\n"
    "  sd add|remove          an SD card inserted or removed: the card, its block\n"
    "                         device mmcblk0 and its first partition\n"
    "  usb-eth N add|remove   a USB network adapter on port 1-1 that is interface\n"
    "                         ethN: the device, its interface, ethN and its queues\n"
    "The last two send what the kernel sends, numbered with the board's SEQNUM.\n";

namespace {

bool action_of(const std::string &word, UeventAction *action) {
    if (word != "add" && word != "remove") return false;
    *action = word == "add" ? UeventAction::Add : UeventAction::Remove;
    return true;
}

// The events that the arguments after DIR ask for; false when they ask for
// nothing sensible.
bool events_of(const Args &args, std::vector<Uevent> *events, bool *numbered) {
    UeventAction action;
    *numbered = true;
    if (args[1] == "sd") {
        if (args.size() != 3 || !action_of(args[2], &action)) return false;
        *events = sd_card_uevents(action);
        return true;
    }
    if (args[1] == "usb-eth") {
        long long n = 0;
        if (args.size() != 4 || !parse_number(args[2], 0, 9999, &n) || !action_of(args[3], &action))
            return false;
        *events = usb_ethernet_uevents(static_cast<int>(n), action);
        return true;
    }
    *numbered = false;
    if (args[1].find('@') == std::string::npos) return false;
    Uevent one{args[1], Args(args.begin() + 2, args.end())};
    for (const std::string &line : one.env)
        if (line.find('=') == std::string::npos) return false;
    *events = {one};
    return true;
}

}  // namespace

int run_uevent(const Args &args) {
    if (args.size() < 2) return fail("uevent", "which board, and which events?");
    if (!is_board(args[0])) return fail("uevent", not_a_board(args[0]));
    std::vector<Uevent> events;
    bool numbered = false;
    if (!events_of(args, &events, &numbered)) return fail("uevent", "unexpected arguments");
    for (Uevent &e : events) {
        if (numbered) e.env.push_back("SEQNUM=" + std::to_string(next_uevent_seqnum(args[0])));
        int reached = send_uevent(args[0], e.header, e.env);
        if (reached < 0) return fail("uevent", "no socket to send with");
        std::printf("%s: %d listener%s\n", e.header.c_str(), reached, reached == 1 ? "" : "s");
    }
    return 0;
}

}  // namespace zq::sim
