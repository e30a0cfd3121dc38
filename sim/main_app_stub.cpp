// The main camera application's stand-in: "/usr/bin/Morva" on a new board
// says that it ran and ends at once.
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "board_parts.h"

namespace zq::sim {
namespace {

constexpr const char *kStubText =
    "#!/bin/sh\n"
    "# Stands in for the main camera application on the virtual board.\n"
    "echo \"Morva: main camera application started (virtual board stub)\"\n"
    "exit 0\n";

bool stub_create(const std::string &dir, json_object *, std::string *error) {
    const std::string path = dir + "/usr/bin/Morva";
    std::ofstream(path, std::ios::trunc) << kStubText;
    if (::chmod(path.c_str(), 0755) != 0) {
        *error = path + ": cannot be made executable";
        return false;
    }
    return true;
}

}  // namespace

extern const BoardPart kMainAppPart;
const BoardPart kMainAppPart = {"main application", nullptr, stub_create, nullptr};

}  // namespace zq::sim
