// udhcpc, udhcpd and dnsd as busybox has them: the client leases the
// address of the network its interface joined and runs its event script,
// the server and the DNS responder read their configuration and run as
// board processes whose records say what they serve.
#include <json-c/json.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>

#include "emul/board.h"
#include "tools/tool.h"
#include "board/wifi_radio.h"
#include "board/wifi_records.h"

namespace zq::sim::tools {
namespace {

constexpr const char *kVersion = "v1.36.1";
// Board seconds: between discovers, the server's answers, the pause after three discovers.
constexpr double kDiscoverInterval = 3.0, kAnswer = 0.5, kPauseAfterTries = 20.0;

// Busybox-style options: "-i wlan0" and "-iwlan0"; flags may be grouped ("-fS").
bool parse(const Tool &tool, const std::string &withValue, const std::string &flags,
           std::map<char, std::string> *options, std::vector<std::string> *operands) {
    const std::vector<std::string> &a = tool.args;
    for (size_t k = 0; k < a.size(); ++k) {
        if (a[k].size() < 2 || a[k][0] != '-') {
            operands->push_back(a[k]);
            continue;
        }
        for (size_t c = 1; c < a[k].size(); ++c) {
            char o = a[k][c];
            if (withValue.find(o) != std::string::npos) {
                std::string v = c + 1 < a[k].size() ? a[k].substr(c + 1)
                                : k + 1 < a.size()  ? a[++k]
                                                    : "";
                if (v.empty()) return false;
                (*options)[o] = v;
                break;
            }
            if (flags.find(o) == std::string::npos) return false;
            (*options)[o] = "1";
        }
    }
    return true;
}

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

void say(const char *tool, const std::string &text) {
    std::printf("%s: %s\n", tool, text.c_str());
    std::fflush(stdout);
}

}  // namespace

// "udhcpc -i IF [-s SCRIPT] [-q] [-n] [-t N] [-T S] [-A S] [-p PIDFILE]"
int udhcpc_main(Tool &tool) {
    std::map<char, std::string> o;
    std::vector<std::string> operands;
    if (!parse(tool, "istTApxVOrFH", "fbqnRSBv", &o, &operands) || !operands.empty()) {
        std::fprintf(stderr,
                     "Usage: udhcpc [-fbqRB] [-t N] [-T SEC] [-A SEC|-n] [-i IFACE] "
                     "[-s PROG] [-p PIDFILE]\n");
        return 1;
    }
    std::string interface = o.count('i') ? o['i'] : "eth0";
    std::string script = board_file("/usr/share/udhcpc/default.script"), pidHost;
    if ((o.count('s') && !path_argument(tool, o['s'], &script)) ||
        (o.count('p') && !path_argument(tool, o['p'], &pidHost)))
        return 1;
    register_self(tool);
    say("udhcpc", std::string("started, ") + kVersion);
    if (!find_interface(tool, interface, nullptr)) {
        say("udhcpc", "SIOCGIFINDEX: No such device");
        return 1;
    }
    if (!pidHost.empty()) write_text(pidHost, std::to_string(::getpid()) + "\n");
    run_script(tool, script, {"deconfig"}, {"interface=" + interface});
    int tries = o.count('t') ? std::max(1, std::atoi(o['t'].c_str())) : 3;
    double interval = o.count('T') ? std::max(1, std::atoi(o['T'].c_str())) : kDiscoverInterval;
    double pause = o.count('A') ? std::max(0, std::atoi(o['A'].c_str())) : kPauseAfterTries;
    RadioNetwork network;
    for (int sent = 0;;) {
        say("udhcpc", "broadcasting discover");
        if (joined_network(tool, interface, &network)) break;
        if (!board_wait(tool, interval)) return 0;
        if (++sent < tries) continue;
        if (o.count('n')) {
            say("udhcpc", "no lease, failing");
            return 1;
        }
        sent = 0;
        if (!board_wait(tool, pause)) return 0;
    }
    Lease lease;
    parse_lease(network.lease, &lease);
    if (!board_wait(tool, kAnswer)) return 0;
    say("udhcpc", "broadcasting select for " + lease.address + ", server " + lease.router);
    if (!board_wait(tool, kAnswer)) return 0;
    say("udhcpc",
        "lease of " + lease.address + " obtained from " + lease.router + ", lease time 86400");
    uint32_t address = 0, mask = 0;
    ipv4_value(lease.address, &address);
    ipv4_value(lease.netmask, &mask);
    run_script(tool, script, {"bound"},
               {"interface=" + interface, "ip=" + lease.address, "siaddr=" + lease.router,
                "subnet=" + lease.netmask, "mask=" + std::to_string(lease.prefix),
                "broadcast=" + dotted(address | ~mask), "router=" + lease.router,
                "dns=" + lease.router, "serverid=" + lease.router, "lease=86400", "opt53=05"});
    edit(tool, [&](json_object *root) {
        ToolRecord r;
        r.tool = "udhcpc";
        r.pid = ::getpid();
        r.interface = interface;
        r.fields = {{"ip", lease.address}, {"subnet", lease.netmask}, {"router", lease.router}};
        set_tool_record(root, tool.dir, r);
    });
    note(tool, "%s leased %s/%d from %s", interface.c_str(), lease.address.c_str(), lease.prefix,
         lease.router.c_str());
    if (o.count('q')) return 0;
    // The lease lasts a day: the client waits to renew it, which no test lives to see.
    while (board_wait(tool, 5.0)) {
    }
    return 0;
}

namespace {

struct DhcpPool {
    std::string interface = "eth0", start = "192.168.0.20", end = "192.168.0.254";
    std::map<std::string, std::string> options;  // "dns", "router", "subnet", "lease", ...
    std::string leaseFile = "/var/lib/misc/udhcpd.leases", maxLeases = "235";
};

const char *const kDhcpOptions[] = {"dns",      "router",   "subnet",       "lease",
                                    "domain",   "hostname", "broadcast",    "wins",
                                    "ntpsrv",   "timezone", "mtu",          "tftp",
                                    "bootfile", "search",   "staticroutes", "msstaticroutes"};

// One keyword line of the server's configuration; false when its value does not parse.
bool pool_line(DhcpPool &pool, const std::string &keyword, const std::string &value) {
    uint32_t v = 0;
    if (keyword == "interface") {
        pool.interface = value;
        return usable_interface_name(value);
    }
    if (keyword == "start" || keyword == "end" || keyword == "siaddr") {
        if (!ipv4_value(value, &v)) return false;
        if (keyword != "siaddr") (keyword == "start" ? pool.start : pool.end) = value;
        return true;
    }
    if (keyword == "option" || keyword == "opt") {
        std::istringstream in(value);
        std::string name, rest;
        in >> name;
        std::getline(in >> std::ws, rest);
        bool known = std::any_of(std::begin(kDhcpOptions), std::end(kDhcpOptions),
                                 [&](const char *k) { return name == k; });
        if (!known || rest.empty()) return false;
        if ((name == "dns" || name == "router" || name == "subnet") &&
            !ipv4_value(rest.substr(0, rest.find_first_of(" \t")), &v))
            return false;
        pool.options[name] = rest;
        return true;
    }
    if (keyword == "max_leases" || keyword == "auto_time" || keyword == "decline_time" ||
        keyword == "conflict_time" || keyword == "offer_time" || keyword == "min_lease") {
        char *end = nullptr;
        std::strtoul(value.c_str(), &end, 10);
        if (keyword == "max_leases") pool.maxLeases = value;
        return !value.empty() && !*end;
    }
    if (keyword == "remaining") return value == "yes" || value == "no";
    if (keyword == "lease_file") pool.leaseFile = value;
    return true;  // pidfile, sname, boot_file, notify_file, staticlease, unknown words: ignored
}

// Reads the server's configuration as busybox does: "#" comments, keyword
// and value split by white space. A line of one word ("interface=wlan0") is
// reported and skipped, so its setting keeps its default.
void read_pool(const std::string &host, const std::string &shown, DhcpPool *pool,
               std::vector<std::string> *complaints) {
    std::string text;
    if (!read_text(host, &text)) {
        complaints->push_back("can't open '" + shown + "': No such file or directory");
        return;
    }
    std::istringstream in(text);
    int line = 0;
    for (std::string buf; std::getline(in, buf);) {
        ++line;
        buf = buf.substr(0, buf.find('#'));
        std::istringstream words(buf);
        std::string keyword, value;
        if (!(words >> keyword)) continue;
        std::getline(words >> std::ws, value);
        while (!value.empty() &&
               (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        if (value.empty()) {
            complaints->push_back("bad line " + std::to_string(line) +
                                  ": 1 tokens found, 2 needed");
            continue;
        }
        std::transform(keyword.begin(), keyword.end(), keyword.begin(), ::tolower);
        if (!pool_line(*pool, keyword, value))
            complaints->push_back("can't parse line " + std::to_string(line) + " in " + shown);
    }
}

// The server's messages: the board's syslog with -S, else standard output.
struct Messages {
    const Tool &tool;
    bool syslog;
    void say(const std::string &text) const {
        if (!syslog) return zq::sim::tools::say(tool.name.c_str(), text);
        write_text(board_file("/var/log/messages"),
                   tool.name + "[" + std::to_string(::getpid()) + "]: " + text + "\n", true);
    }
};

}  // namespace

// "udhcpd [-fS] [-I ADDR] [-a MSEC] [-P PORT] [CONFIG]"
int udhcpd_main(Tool &tool) {
    std::map<char, std::string> o;
    std::vector<std::string> operands;
    if (!parse(tool, "IaP", "fSv", &o, &operands) || operands.size() > 1) {
        std::fprintf(stderr, "Usage: udhcpd [-fS] [-I ADDR] [-a MSEC] [-P PORT] [CONFFILE]\n");
        return 1;
    }
    std::string given = operands.empty() ? "/etc/udhcpd.conf" : operands[0];
    std::string host = board_file(given);
    if (!operands.empty() && !path_argument(tool, given, &host)) return 1;
    Messages messages{tool, o.count('S') > 0};
    DhcpPool pool;
    std::vector<std::string> complaints;
    read_pool(host, given, &pool, &complaints);
    for (const std::string &c : complaints) messages.say(c);
    uint32_t start = 0, end = 0;
    ipv4_value(pool.start, &start);
    ipv4_value(pool.end, &end);
    if (start > end) {
        messages.say("bad start/end IP range in " + given);
        return 1;
    }
    NetInterface i;
    if (!find_interface(tool, pool.interface, &i) || i.ipv4.empty()) {
        messages.say("is interface " + pool.interface +
                     " up and configured?: Cannot assign requested address");
        return 1;
    }
    if (!o.count('f') && detach(tool)) return 0;
    if (o.count('f')) register_self(tool);
    messages.say(std::string("started, ") + kVersion);
    ToolRecord r;
    r.tool = "udhcpd";
    r.pid = ::getpid();
    r.interface = pool.interface;
    r.fields = {{"start", pool.start},
                {"end", pool.end},
                {"max_leases", pool.maxLeases},
                {"config", board_terms(tool, host)},
                {"lease_file", pool.leaseFile}};
    for (const auto &[name, value] : pool.options) r.fields[name] = value;
    edit(tool, [&](json_object *root) { set_tool_record(root, tool.dir, r); });
    note(tool, "serving %s-%s on %s", pool.start.c_str(), pool.end.c_str(), pool.interface.c_str());
    while (board_wait(tool, 1.0)) {
    }
    return 0;
}

// "dnsd [-dvs] [-c CONFFILE] [-t TTL] [-p PORT] [-i ADDR]"
int dnsd_main(Tool &tool) {
    std::map<char, std::string> o;
    std::vector<std::string> operands;
    if (!parse(tool, "ctpi", "dvs", &o, &operands) || !operands.empty()) {
        std::fprintf(stderr, "Usage: dnsd [-dvs] [-c CONFFILE] [-t TTL_SEC] [-p PORT] [-i ADDR]\n");
        return 1;
    }
    std::string given = o.count('c') ? o['c'] : "/etc/dnsd.conf";
    std::string host = board_file(given);
    if (o.count('c') && !path_argument(tool, given, &host)) return 1;
    std::string text;
    if (!read_text(host, &text)) {
        std::fprintf(stderr, "dnsd: can't open '%s': No such file or directory\n", given.c_str());
        return 1;
    }
    std::istringstream in(text);
    int line = 0, names = 0;
    for (std::string buf; std::getline(in, buf);) {
        ++line;
        std::istringstream words(buf.substr(0, buf.find('#')));
        std::string name, address;
        if (!(words >> name)) continue;
        uint32_t v = 0;
        if (!(words >> address) || !ipv4_value(address, &v))
            std::fprintf(stderr, "dnsd: error at line %d, skipping\n", line);
        else
            ++names;
    }
    if (o.count('d') && detach(tool)) return 0;
    if (!o.count('d')) register_self(tool);
    std::string address =
        (o.count('i') ? o['i'] : "0.0.0.0") + ":" + (o.count('p') ? o['p'] : "53");
    if (o.count('v')) say("dnsd", "accepting UDP packets on " + address);
    ToolRecord r;
    r.tool = "dnsd";
    r.pid = ::getpid();
    r.fields = {
        {"config", board_terms(tool, host)}, {"names", std::to_string(names)}, {"listen", address}};
    edit(tool, [&](json_object *root) { set_tool_record(root, tool.dir, r); });
    note(tool, "answering %d names on %s", names, address.c_str());
    while (board_wait(tool, 1.0)) {
    }
    return 0;
}

}  // namespace zq::sim::tools
