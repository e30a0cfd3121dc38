// Bounded reads of process command lines.
#include "system/command_line.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "port/port.h"

namespace zq::system {

std::string_view CommandLine::program() const {
    const void *nul = std::memchr(raw, '\0', rawLength);
    return {raw, nul ? static_cast<size_t>(static_cast<const char *>(nul) - raw) : rawLength};
}

bool read_command_line(const char *pidName, CommandLine *out) {
    char path[256];
    int n = std::snprintf(path, sizeof path, "/proc/%s/cmdline", pidName);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) return false;
    FILE *file = port::fopen(path, "rb");
    if (!file) return false;
    char bytes[kCommandLineSize];
    size_t got = std::fread(bytes, 1, sizeof bytes, file);
    port::fclose(file);
    return parse_command_line(bytes, got, out);
}

bool parse_command_line(const char *bytes, size_t length, CommandLine *out) {
    if (length == 0) return false;
    if (length > sizeof out->raw) length = sizeof out->raw;
    std::memcpy(out->raw, bytes, length);
    out->rawLength = length;
    size_t kept = length < sizeof out->text ? length : sizeof out->text - 1;
    for (size_t i = 0; i < kept; ++i)
        out->text[i] = out->raw[i] == '\0' && i + 1 < length ? ' ' : out->raw[i];
    out->text[kept] = '\0';
    return true;
}

bool plain_pid(const char *name, pid_t *pid) {
    if (name[0] < '1' || name[0] > '9') return false;
    long long value = 0;
    for (const char *c = name; *c; ++c) {
        if (*c < '0' || *c > '9') return false;
        value = value * 10 + (*c - '0');
        if (value > 0x7FFFFFFF) return false;
    }
    *pid = static_cast<pid_t>(value);
    return true;
}

bool for_each_process(const std::function<bool(pid_t pid, const CommandLine &line)> &visit) {
    DIR *proc = zq::port::opendir("/proc");
    if (!proc) return false;
    const pid_t self = getpid();
    while (const struct dirent *entry = readdir(proc)) {
        pid_t pid = 0;
        if (!plain_pid(entry->d_name, &pid) || pid == self) continue;
        CommandLine line;
        if (!read_command_line(entry->d_name, &line)) continue;
        if (!visit(pid, line)) break;
    }
    closedir(proc);
    return true;
}

bool command_matches(const CommandLine &line, const char *name, const char *arg) {
    if (!name || !*name) return false;
    if (line.program().find(name) == std::string_view::npos) return false;
    return !arg || line.whole().find(arg) != std::string_view::npos;
}

bool command_is(const CommandLine &line, std::string_view name, std::string_view arg) {
    std::string_view program = line.program();
    size_t slash = program.rfind('/');
    if (name.empty() || program.substr(slash == std::string_view::npos ? 0 : slash + 1) != name)
        return false;
    if (arg.empty()) return true;
    std::string_view rest(line.raw, line.rawLength);
    rest.remove_prefix(std::min(rest.size(), program.size() + 1));
    while (!rest.empty()) {
        size_t nul = rest.find('\0');
        if (nul == std::string_view::npos) return false;  // cut or unterminated: not whole
        if (rest.substr(0, nul) == arg) return true;
        rest.remove_prefix(nul + 1);
    }
    return false;
}

}  // namespace zq::system
