// Command lines of the processes in "/proc", read with a bound and always
// terminated whatever the file holds; shared by every killer of the SDK.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string_view>

namespace zq::system {

constexpr size_t kCommandLineSize = 256;

struct CommandLine {
    char raw[kCommandLineSize];   // the bytes read, arguments separated by NULs
    size_t rawLength;             // 1 to 256
    char text[kCommandLineSize];  // the arguments joined by blanks, always terminated

    // The first argument (up to the first NUL of what was read).
    std::string_view program() const;
    // The whole command line, as text.
    std::string_view whole() const { return text; }
};

// Reads "/proc/<pidName>/cmdline": at most 256 bytes; every NUL but the
// last byte read becomes a blank, and a line of 256 bytes or more is cut so
// that the terminator fits. False when the file cannot be opened or holds
// nothing.
bool read_command_line(const char *pidName, CommandLine *out);
// The same for bytes already read (at most the first 256 count).
bool parse_command_line(const char *bytes, size_t length, CommandLine *out);

// An entry name of "/proc" that is a plain positive process number: digits
// only, no sign, no leading zero, in range.
bool plain_pid(const char *name, pid_t *pid);

// Walks the processes of "/proc" in its order, all but the calling one,
// with their command lines (a process that ends before its line is read is
// left out); the walk stops when visit returns false. False when "/proc"
// cannot be read. The caller holds its own killer's lock around it.
bool for_each_process(const std::function<bool(pid_t pid, const CommandLine &line)> &visit);

// Whether a command line is one to kill: its program name contains name (an
// empty name matches nothing) and, unless arg is null, its whole text
// contains arg.
bool command_matches(const CommandLine &line, const char *name, const char *arg);

// Whether a command line is exactly a given program's: its program's base
// name (after its last '/') is name and, when arg is not empty, one of the
// arguments after it is arg as a whole ("wlan0" is not "wlan01" nor
// "-iwlan0"). An argument cut by the 256-byte bound is not taken as whole.
bool command_is(const CommandLine &line, std::string_view name, std::string_view arg);

}  // namespace zq::system
