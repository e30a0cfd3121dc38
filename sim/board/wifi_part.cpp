// The board's Wi-Fi files: the tool directory "/usr/wifi" as the board build
// installs it (sdk/net/wifi_tool_dir), and the network tools of "/bin".
#include <json-c/json.h>

#include <filesystem>

#include "board/embedded_file.h"
#include "board/parts.h"
#include "board/tool_scripts.h"
#include "emul/file_util.h"
#include "emul/json_util.h"

namespace zq::sim {
namespace {

namespace fs = std::filesystem;

// The tools the board fakes and where their wrappers go. The board's own iw
// and hostapd stand in the tool directory, as a maker's programs would; its
// wpa_supplicant is the product's, which runs bin/'s with wpa_cli beside it.
const char *const kToolDirTools[] = {"iw", "hostapd"};
const char *const kBinTools[] = {"iw",     "wpa_supplicant", "wpa_cli", "hostapd",
                                 "udhcpc", "udhcpd",         "dnsd",    "route"};
// Network tools the board does not fake: without a refusing stub in bin/
// the host's own would run.
const char *const kRefusedTools[] = {
    "ip",          "iwconfig", "iwlist",   "iwpriv",
    "iwspy",       "iwgetid",  "iwevent",  "wpa_passphrase",
    "hostapd_cli", "brctl",    "dhclient", "dhcpcd",
    "dnsmasq",     "nmcli",    "ethtool",  "iptables",
    "ip6tables",   "nft",      "tc",       "arp",
    "ifup",        "ifdown",   "rfkill",   "vconfig",
    "udhcpc6",     "pump",     "netstat",
};

bool wifi_create(const std::string &dir, json_object *, std::string *error) {
    std::error_code ec;
    for (const char *sub : {"usr/wifi", "bin", "sbin", "etc", "usr/share/udhcpc", "var/run",
                            "var/lib/misc", "var/log"})
        fs::create_directories(dir + "/" + sub, ec);
    const std::string wifi = dir + "/usr/wifi/";
    bool ok = true;
    for (const EmbeddedFile *f = kWifiToolDirFiles; ok && f->name; ++f) {
        ok = write_file_whole(wifi + f->name, f->text, f->mode, error);
        // busybox's udhcpc runs this script when it is not given one.
        if (ok && std::string(f->name) == "udhcpc.script")
            ok =
                write_file_whole(dir + "/usr/share/udhcpc/default.script", f->text, f->mode, error);
    }
    ok = ok && write_file_whole(dir + "/sbin/dnsd", board_tool_script("dnsd"), 0755, error);
    for (const char *tool : kToolDirTools)
        ok = ok && write_file_whole(wifi + tool, board_tool_script(tool), 0755, error);
    for (const char *tool : kBinTools)
        ok = ok && write_file_whole(dir + "/bin/" + tool, board_tool_script(tool), 0755, error);
    for (const char *tool : kRefusedTools)
        ok = ok && write_file_whole(dir + "/bin/" + tool, refusing_tool_script(tool), 0755, error);
    return ok;
}

}  // namespace

const BoardPart kWifiPart = {"wifi", wifi_create, nullptr};

}  // namespace zq::sim
