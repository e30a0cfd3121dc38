// The verbs of the vboard command beyond create and journal.
#pragma once

#include <string>
#include <vector>

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

}  // namespace zq::sim
