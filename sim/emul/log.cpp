// "/dev/log": a text sink that keeps every record it is given, and answers
// the level-table request with the table of board.json.
#include <fcntl.h>
#include <json-c/json.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"
#include "zq_log.h"

namespace zq::sim {
namespace {

int log_ioctl(int, unsigned long request, void *arg) {
    if (!known_request(request, ZQ_MPI_LOG_GET_LEVELS, arg)) return -1;
    MpiLogLevelEntry table[ZQ_MPI_LOG_LEVEL_ENTRIES] = {};
    json_object *root = board_json();
    json_object *levels = json_get(json_get(root, "log"), "levels");
    for (size_t i = 0; i < ZQ_MPI_LOG_LEVEL_ENTRIES; ++i) {
        json_object *entry = json_at(levels, i);
        table[i].s32Level = static_cast<s32>(json_int64(entry, "level", 0));
        // A driver may fill all 8 name bytes; so may the board.
        std::string name = json_string(entry, "name", "");
        std::memcpy(table[i].szName, name.data(), std::min(name.size(), sizeof table[i].szName));
    }
    json_object_put(root);
    std::memcpy(arg, table, sizeof table);
    return 0;
}

}  // namespace

extern const Device kLogDevice = {"/dev/log", O_APPEND, log_ioctl};

}  // namespace zq::sim
