// Bounded reads of process command lines.
#include "system/command_line.h"

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

bool command_matches(const CommandLine &line, const char *name, const char *arg) {
    if (!name || !*name) return false;
    if (line.program().find(name) == std::string_view::npos) return false;
    return !arg || line.whole().find(arg) != std::string_view::npos;
}

}  // namespace zq::system
