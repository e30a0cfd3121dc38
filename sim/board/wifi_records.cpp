// board.json's "wifi.running": the records of the fake Wi-Fi tools that run.
#include "board/wifi_records.h"

#include <json-c/json.h>

#include "emul/board.h"
#include "emul/json_util.h"
#include "emul/process_table.h"

namespace zq::sim {
namespace {

// An entry that is no object (a spoilt board.json) reads as an ended tool.
ToolRecord record_from_json(json_object *entry) {
    ToolRecord r;
    if (!json_object_is_type(entry, json_type_object)) return r;
    json_object_object_foreach(entry, key, value) {
        std::string k = key;
        if (k == "pid")
            r.pid = json_object_get_int(value);
        else if (json_object_is_type(value, json_type_string))
            (k == "tool"        ? r.tool
             : k == "interface" ? r.interface
                                : r.fields[k]) = json_object_get_string(value);
    }
    return r;
}

}  // namespace

std::vector<ToolRecord> running_tools(const std::string &dir) {
    json_object *root = json_load_file(dir + "/" + kBoardFile, nullptr);
    json_object *array = json_get(json_get(root, "wifi"), "running");
    std::vector<ToolRecord> out;
    size_t n = json_object_is_type(array, json_type_array) ? json_object_array_length(array) : 0;
    for (size_t k = 0; k < n; ++k) {
        ToolRecord r = record_from_json(json_object_array_get_idx(array, k));
        if (r.pid > 0 && runs_on_board(board_root(dir), r.pid, false)) out.push_back(std::move(r));
    }
    json_object_put(root);
    return out;
}

bool running_tool(const std::string &dir, const std::string &tool, const std::string &interface,
                  ToolRecord *record) {
    for (ToolRecord &r : running_tools(dir)) {
        if (r.tool != tool || (!interface.empty() && r.interface != interface)) continue;
        if (record) *record = std::move(r);
        return true;
    }
    return false;
}

void set_tool_record(json_object *root, const std::string &dir, const ToolRecord &record) {
    std::string board = board_root(dir);
    json_object *wifi = json_member(root, "wifi", json_type_object);
    rewrite_array(wifi, "running", [&](json_object *entry) -> json_object * {
        ToolRecord r = record_from_json(entry);
        bool kept = (r.tool != record.tool || r.interface != record.interface) && r.pid > 0 &&
                    r.pid != record.pid && runs_on_board(board, r.pid, false);
        return kept ? json_object_get(entry) : nullptr;
    });
    json_object *entry = json_object_new_object();
    json_object_object_add(entry, "tool", json_object_new_string(record.tool.c_str()));
    json_object_object_add(entry, "pid", json_object_new_int(record.pid));
    json_object_object_add(entry, "interface", json_object_new_string(record.interface.c_str()));
    for (const auto &[key, value] : record.fields)
        json_object_object_add(entry, key.c_str(), json_object_new_string(value.c_str()));
    json_object_array_add(json_member(wifi, "running", json_type_array), entry);
}

}  // namespace zq::sim
