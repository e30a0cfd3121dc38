#include "support/wifi_parsers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// ZQ_WIFI_PARSERS, or where scripts/fetch-wifi-parsers.sh puts the tools
// when it could; empty when there are none.
std::string tools_root() {
    const char *root = std::getenv("ZQ_WIFI_PARSERS");
    if (root && *root) return root;
    const std::string fetched = ZQ_WIFI_PARSERS_DIR;
    return ::access((fetched + "/usr/sbin/hostapd").c_str(), X_OK) == 0 ? fetched : "";
}

std::string library_path(const std::string &root) {
    return "LD_LIBRARY_PATH=" + root + "/lib/x86_64-linux-gnu:" + root + "/usr/lib/x86_64-linux-gnu";
}

}  // namespace

const char *wifi_parsers_missing(bool namespaces) {
    if (tools_root().empty())
        return "Debian's Wi-Fi tools are not unpacked (scripts/fetch-wifi-parsers.sh)";
    if (namespaces && std::system("unshare -n -m -p -f --mount-proc true >/dev/null 2>&1") != 0)
        return "no network, mount and process namespaces can be made here (unshare, as root)";
    return nullptr;
}

bool wifi_parsers_required() {
    const char *ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

std::string parser_complaints(bool accessPoint, const std::string &configuration) {
    const std::string root = tools_root();
    if (root.empty()) return "no parsers";
    char path[] = "/tmp/zqparse.XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return "no temporary file";
    ::close(fd);
    std::istringstream in(configuration);
    std::ofstream file(path);
    for (std::string line; std::getline(in, line);) {
        if (line.find("ctrl_interface") != std::string::npos) continue;
        file << (line.rfind("interface=", 0) == 0 ? "interface=zqcheck0" : line) << '\n';
    }
    file.close();
    const std::string program =
        accessPoint ? "/usr/sbin/hostapd " : "/sbin/wpa_supplicant -Dnone -izqcheck0 -c ";
    const std::string out =
        run_command(library_path(root) + " timeout 10 " + root + program + path + " 2>&1").out;
    ::unlink(path);
    const bool complains = out.find("Line ") != std::string::npos ||
                           out.find("errors found") != std::string::npos ||
                           out.find("Failed to read or parse configuration") != std::string::npos;
    return complains ? out : "";
}

CliRun run_with_real_tools(const std::string &board, const std::string &script) {
    const std::string root = tools_root(), bin = board + "/real-tools";
    if (root.empty()) return {-1, "no real tools"};
    ::mkdir(bin.c_str(), 0755);
    for (const char *applet : {"udhcpc", "udhcpd", "ifconfig", "route"})
        ::symlink((root + "/bin/busybox").c_str(), (bin + "/" + applet).c_str());
    for (const char *tool : {"/sbin/wpa_supplicant", "/sbin/wpa_cli", "/usr/sbin/hostapd"})
        ::symlink((root + tool).c_str(), (bin + std::strrchr(tool, '/')).c_str());
    const std::string file = board + "/real-check.sh";
    std::ofstream(file) << script;
    return run_command("env PATH=" + bin + ":/usr/sbin:/usr/bin:/sbin:/bin " + library_path(root) +
                       " ZQ_VBOARD=" + board +
                       " timeout 60 unshare -n -m -p -f --mount-proc --kill-child sh " + file +
                       " 2>&1");
}
