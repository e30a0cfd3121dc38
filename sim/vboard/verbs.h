// The verbs of the vboard command beyond create and journal, and what the
// verbs share.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "emul/board.h"

namespace zq::sim {

using Args = std::vector<std::string>;

int run_env(const Args &args);
int run_id(const Args &args);
int run_run(const Args &args);
int run_set(const Args &args);
int run_mmz(const Args &args);
int run_uevent(const Args &args);
int run_vi(const Args &args);
int run_vo(const Args &args);
int run_rgn(const Args &args);
int run_wifi(const Args &args);

extern const char *const kEnvUsage;
extern const char *const kIdUsage;
extern const char *const kRunUsage;
extern const char *const kSetUsage;
extern const char *const kMmzUsage;
extern const char *const kUeventUsage;
extern const char *const kViUsage;
extern const char *const kVoUsage;
extern const char *const kRgnUsage;
extern const char *const kWifiUsage;

// Says "vboard: message" on stderr; 1, the exit status of a failed verb.
inline int fail(const std::string &message) {
    std::fprintf(stderr, "vboard: %s\n", message.c_str());
    return 1;
}

// The same as "vboard: VERB: message (see vboard VERB --help)".
inline int fail(const std::string &verb, const std::string &message) {
    return fail(verb + ": " + message + " (see vboard " + verb + " --help)");
}

inline bool is_board(const std::string &dir) {
    return ::access((dir + "/" + kBoardFile).c_str(), F_OK) == 0;
}

inline std::string not_a_board(const std::string &dir) {
    return dir + " is not a virtual board (no board.json)";
}

// text as a whole number from low to high (base 0 takes 0x... and 0...).
inline bool parse_number(const std::string &text, long long low, long long high, long long *value,
                         int base = 10) {
    char *end = nullptr;
    errno = 0;
    *value = std::strtoll(text.c_str(), &end, base);
    return !text.empty() && !*end && errno == 0 && *value >= low && *value <= high;
}

// text as a number (such as -50 or 2.5).
inline bool parse_real(const std::string &text, double *value) {
    char *end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && !*end;
}

}  // namespace zq::sim
