// "/dev/log": a text sink that keeps every record it is given, and answers
// the level-table request with the table of board.json.
#include <fcntl.h>
#include <json-c/json.h>

#include <cerrno>
#include <fstream>

#include "board.h"
#include "board_parts.h"
#include "devices.h"
#include "zq_log.h"

namespace zq::sim {
namespace {

int log_ioctl(int, unsigned long request, void *arg) {
    if (request != ZQ_MPI_LOG_GET_LEVELS) {
        errno = ENOTTY;
        return -1;
    }
    if (!arg) {
        errno = EFAULT;
        return -1;
    }
    log_levels(arg);
    return 0;
}

// The driver's table on a new board: the SDK's own initial levels.
void log_defaults(json_object *root) {
    set_log_levels_json(root, {{"sys", 3},
                               {"ai", 3},
                               {"ao", 3},
                               {"aenc", 3},
                               {"adec", 3},
                               {"rgn", 3},
                               {"vi", 3},
                               {"vo", 3},
                               {"venc", 3},
                               {"vdec", 3}});
}

bool log_create(const std::string &dir, json_object *, std::string *error) {
    std::ofstream sink(dir + "/dev/log", std::ios::trunc);
    if (!sink && error) *error = dir + "/dev/log: cannot be made";
    return static_cast<bool>(sink);
}

}  // namespace

extern const BoardPart kLogPart;
const BoardPart kLogPart = {"log", log_defaults, log_create, nullptr};

extern const Device kLogDevice;
const Device kLogDevice = {"/dev/log", O_APPEND, log_ioctl, nullptr, nullptr, nullptr, nullptr};

}  // namespace zq::sim
