// udhcpc, udhcpd and dnsd as busybox has them: the client leases the
// address of the network its interface joined and runs its event script,
// the server and the DNS responder read their configuration and run as
// board processes whose records say what they serve.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "board/wifi_radio.h"
#include "board/wifi_records.h"
#include "tools/tool.h"

namespace zq::sim::tools {
namespace {

// Board seconds: between discovers, the server's answers, the pause after three discovers.
constexpr double kDiscoverInterval = 3.0, kAnswer = 0.5, kPauseAfterTries = 20.0;

// The network the interface's station joined, while its supplicant runs.
bool joined_network(const Tool &tool, const std::string &interface, RadioNetwork *network) {
    ToolRecord link;
    if (!running_tool(tool.dir, "wpa_supplicant", interface, &link) ||
        link.fields["state"] != "completed")
        return false;
    for (RadioNetwork &n : radio_networks(tool.dir))
        if (n.bssid == link.fields["bssid"]) {
            *network = std::move(n);
            return true;
        }
    return false;
}

void say(const std::string &tool, const std::string &text) {
    std::printf("%s: %s\n", tool.c_str(), text.c_str());
    std::fflush(stdout);
}

// The words of a configuration line before its comment: the first, and the
// rest without the white space around it.
bool split_line(const std::string &line, std::string *first, std::string *rest) {
    std::istringstream words(line.substr(0, line.find('#')));
    if (!(words >> *first)) return false;
    std::getline(words >> std::ws, *rest);
    rest->erase(rest->find_last_not_of(" \t\r") + 1);
    return true;
}

}  // namespace

// "udhcpc -i IF [-s SCRIPT] [-q]": the other options are taken and have no effect.
int udhcpc_main(Tool &tool) {
    Options o;
    if (!parse_options(tool, "istTApxVOrFH", "fbqnRSBv", 0,
                       "Usage: udhcpc [-fbqRB] [-t N] [-T SEC] [-A SEC|-n] [-i IFACE] "
                       "[-s PROG] [-p PIDFILE]",
                       &o))
        return 1;
    std::string interface = o.get('i', "eth0");
    std::string script = board_file("/usr/share/udhcpc/default.script");
    if (o.has('s') && !path_argument(tool, o.get('s'), &script)) return 1;
    say("udhcpc", "started, v1.36.1");
    if (!find_interface(tool, interface, nullptr)) {
        say("udhcpc", "SIOCGIFINDEX: No such device");
        return 1;
    }
    run_script(tool, script, {"deconfig"}, {"interface=" + interface});
    RadioNetwork network;
    for (int sent = 1;; ++sent) {
        say("udhcpc", "broadcasting discover");
        if (joined_network(tool, interface, &network)) break;
        if (!board_wait(tool, kDiscoverInterval + (sent % 3 ? 0 : kPauseAfterTries))) return 0;
    }
    Lease lease;
    parse_lease(network.lease, &lease);
    if (!board_wait(tool, kAnswer)) return 0;
    say("udhcpc", "broadcasting select for " + lease.address + ", server " + lease.router);
    if (!board_wait(tool, kAnswer)) return 0;
    say("udhcpc",
        "lease of " + lease.address + " obtained from " + lease.router + ", lease time 86400");
    run_script(tool, script, {"bound"},
               {"interface=" + interface, "ip=" + lease.address, "siaddr=" + lease.router,
                "subnet=" + lease.netmask, "mask=" + std::to_string(lease.prefix),
                "broadcast=" + lease.broadcast, "router=" + lease.router, "dns=" + lease.router,
                "serverid=" + lease.router, "lease=86400", "opt53=05"});
    record(tool, interface,
           {{"ip", lease.address}, {"subnet", lease.netmask}, {"router", lease.router}});
    note(tool, "%s leased %s/%d from %s", interface.c_str(), lease.address.c_str(), lease.prefix,
         lease.router.c_str());
    // The lease lasts a day: the client waits to renew it, which no test lives to see.
    return o.has('q') ? 0 : serve(tool, false, [] {});
}

// "udhcpd [-fS] [CONFIG]" (-I, -a and -P are taken and have no effect).
int udhcpd_main(Tool &tool) {
    Options o;
    if (!parse_options(tool, "IaP", "fSv", 1,
                       "Usage: udhcpd [-fS] [-I ADDR] [-a MSEC] [-P PORT] [CONFFILE]", &o))
        return 1;
    std::string given = o.operands.empty() ? "/etc/udhcpd.conf" : o.operands[0];
    std::string host = board_file(given), text;
    if (!o.operands.empty() && !path_argument(tool, given, &host)) return 1;
    // The server's messages: the board's syslog with -S, else standard output.
    auto said = [&](const std::string &message) {
        if (!o.has('S')) return say("udhcpd", message);
        append_text(board_file("/var/log/messages"),
                    "udhcpd[" + std::to_string(::getpid()) + "]: " + message + "\n");
    };
    // As busybox reads it: a keyword, white space, its value ("opt"/"option":
    // the option's name, white space, its value). A line of one word
    // ("interface=wlan0") is reported and skipped: its setting keeps its default.
    std::map<std::string, std::string> pool = {{"start", "192.168.0.20"},
                                               {"end", "192.168.0.254"},
                                               {"max_leases", "235"},
                                               {"lease_file", "/var/lib/misc/udhcpd.leases"},
                                               {"config", board_terms(tool, host)}};
    std::string interface = "eth0";
    if (!read_text(host, &text)) said("can't open '" + given + "': No such file or directory");
    std::vector<std::string> lines = lines_of(text);
    for (size_t k = 0; k < lines.size(); ++k) {
        std::string keyword, value;
        if (!split_line(lines[k], &keyword, &value)) continue;
        std::transform(keyword.begin(), keyword.end(), keyword.begin(), ::tolower);
        if (value.empty())
            said("bad line " + std::to_string(k + 1) + ": 1 tokens found, 2 needed");
        else if (keyword == "interface")
            interface = value;
        else if (keyword != "opt" && keyword != "option")
            pool[keyword] = value;
        else if (split_line(value, &keyword, &value) && !value.empty())
            pool[keyword] = value;
    }
    uint32_t first = 0, last = 0;
    NetInterface i;
    if (ipv4_value(pool["start"], &first) && ipv4_value(pool["end"], &last) && first > last) {
        said("bad start/end IP range in " + given);
        return 1;
    }
    if (!find_interface(tool, interface, &i) || i.ipv4.empty()) {
        said("is interface " + interface + " up and configured?: Cannot assign requested address");
        return 1;
    }
    return serve(tool, !o.has('f'), [&] {
        said("started, v1.36.1");
        record(tool, interface, pool);
        note(tool, "serving %s-%s on %s", pool["start"].c_str(), pool["end"].c_str(),
             interface.c_str());
    });
}

// "dnsd [-dv] [-c CONFFILE] [-p PORT] [-i ADDR]" (-t and -s are taken and
// have no effect): it binds no socket and answers no query, so its names
// ("name address" lines) are not read.
int dnsd_main(Tool &tool) {
    Options o;
    if (!parse_options(tool, "ctpi", "dvs", 0,
                       "Usage: dnsd [-dvs] [-c CONFFILE] [-t TTL_SEC] [-p PORT] [-i ADDR]", &o))
        return 1;
    std::string given = o.get('c', "/etc/dnsd.conf"), host = board_file(given), text;
    if (o.has('c') && !path_argument(tool, given, &host)) return 1;
    if (!read_text(host, &text)) {
        std::fprintf(stderr, "dnsd: can't open '%s': No such file or directory\n", given.c_str());
        return 1;
    }
    std::string address = o.get('i', "0.0.0.0") + ":" + o.get('p', "53");
    return serve(tool, o.has('d'), [&] {
        if (o.has('v')) say("dnsd", "accepting UDP packets on " + address);
        record(tool, "", {{"config", board_terms(tool, host)}, {"listen", address}});
        note(tool, "answering on %s", address.c_str());
    });
}

}  // namespace zq::sim::tools
