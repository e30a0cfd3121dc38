// The main camera application's stand-in: "/usr/bin/Morva" on a new board
// says that it ran and ends at once.
#include <string>

#include "board/parts.h"
#include "emul/file_util.h"

namespace zq::sim {
namespace {

constexpr const char *kStubText =
    "#!/bin/sh\n"
    "# Stands in for the main camera application on the virtual board.\n"
    "echo \"Morva: main camera application started (virtual board stub)\"\n"
    "exit 0\n";

bool stub_create(const std::string &dir, json_object *, std::string *error) {
    return write_file_whole(dir + "/usr/bin/Morva", kStubText, 0755, error);
}

}  // namespace

extern const BoardPart kMainAppPart;
const BoardPart kMainAppPart = {"main application", nullptr, stub_create, nullptr};

}  // namespace zq::sim
