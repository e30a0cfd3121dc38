#include "support/wifi_parsers.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// The configuration without its control socket lines, and with its
// interface (a line "interface=...") renamed to one no host has.
std::string harmless(const std::string &configuration) {
    std::istringstream in(configuration);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        if (line.find("ctrl_interface") != std::string::npos) continue;
        out += line.rfind("interface=", 0) == 0 ? "interface=zqcheck0" : line;
        out += '\n';
    }
    return out;
}

std::string run_parser(const char *program, const std::string &args,
                       const std::string &configuration) {
    const char *root = wifi_parsers_root();
    if (!root) return "no parsers";
    char path[] = "/tmp/zqparse.XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) return "no temporary file";
    ::close(fd);
    std::ofstream(path) << harmless(configuration);
    std::string r = root;
    std::string command = "LD_LIBRARY_PATH=" + r + "/lib/x86_64-linux-gnu:" + r +
                          "/usr/lib/x86_64-linux-gnu timeout 10 " + r + program + " " + args + " " +
                          path + " 2>&1";
    std::string out;
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
        ::pclose(pipe);
    }
    ::unlink(path);
    return out;
}

}  // namespace

const char *wifi_parsers_root() {
    const char *root = std::getenv("ZQ_WIFI_PARSERS");
    if (root && *root) return root;
    // Where scripts/fetch-wifi-parsers.sh puts them, when it could.
    std::string fetched = ZQ_WIFI_PARSERS_DIR;
    return ::access((fetched + "/usr/sbin/hostapd").c_str(), X_OK) == 0 ? ZQ_WIFI_PARSERS_DIR
                                                                        : nullptr;
}

std::string hostapd_complaints(const std::string &configuration) {
    return run_parser("/usr/sbin/hostapd", "", configuration);
}

std::string supplicant_complaints(const std::string &configuration) {
    return run_parser("/sbin/wpa_supplicant", "-Dnone -izqcheck0 -c", configuration);
}

bool parsers_complain(const std::string &output) {
    return output.find("Line ") != std::string::npos ||
           output.find("errors found") != std::string::npos ||
           output.find("Failed to read or parse configuration") != std::string::npos;
}

bool wifi_parsers_required() {
    const char *ci = std::getenv("CI");
    return ci && std::string(ci) == "true";
}

const char *wifi_parsers_missing(bool namespaces) {
    if (!wifi_parsers_root())
        return "Debian's Wi-Fi tools are not unpacked (scripts/fetch-wifi-parsers.sh)";
    if (namespaces && std::system("unshare -n -m -p -f --mount-proc true >/dev/null 2>&1") != 0)
        return "no network, mount and process namespaces can be made here (unshare, as root)";
    return nullptr;
}

RealRun run_with_real_tools(const std::string &board, const std::string &script) {
    const char *rootText = wifi_parsers_root();
    if (!rootText) return {-1, "no real tools"};
    const std::string root = rootText, bin = board + "/real-tools";
    ::mkdir(bin.c_str(), 0755);
    for (const char *applet : {"udhcpc", "udhcpd", "ifconfig", "route"})
        ::symlink((root + "/bin/busybox").c_str(), (bin + "/" + applet).c_str());
    for (const char *tool : {"/sbin/wpa_supplicant", "/sbin/wpa_cli", "/usr/sbin/hostapd"})
        ::symlink((root + tool).c_str(), (bin + std::strrchr(tool, '/')).c_str());
    const std::string file = board + "/real-check.sh";
    std::ofstream(file) << script;
    const std::string command =
        "env PATH=" + bin + ":/usr/sbin:/usr/bin:/sbin:/bin LD_LIBRARY_PATH=" + root +
        "/lib/x86_64-linux-gnu:" + root + "/usr/lib/x86_64-linux-gnu ZQ_VBOARD=" + board +
        " timeout 60 unshare -n -m -p -f --mount-proc --kill-child sh " + file + " 2>&1";
    RealRun run{-1, ""};
    if (FILE *pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) run.out.append(buf, n);
        int status = ::pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}
