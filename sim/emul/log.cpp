// "/dev/log": a text sink that keeps every record it is given, and answers
// the level-table request with the table of board.json.
#include <fcntl.h>
#include <json-c/json.h>

#include <cerrno>

#include "emul/board.h"
#include "emul/devices.h"
#include "zq_log.h"

namespace zq::sim {
namespace {

int log_ioctl(int, unsigned long request, void *arg) {
    if (!known_request(request, ZQ_MPI_LOG_GET_LEVELS, arg)) return -1;
    log_levels(arg);
    return 0;
}

}  // namespace

extern const Device kLogDevice = {"/dev/log", O_APPEND, log_ioctl};

}  // namespace zq::sim
