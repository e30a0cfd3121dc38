// The test-facing face of the virtual board: making a board, changing its
// clock, log levels and faults, and reading what happened on it.
#include <fcntl.h>
#include <json-c/json.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "board/embedded_file.h"
#include "board/parts.h"
#include "emul/board.h"
#include "emul/file_util.h"
#include "emul/json_util.h"
#include "emul/state_file.h"

namespace zq::sim {

namespace {

namespace fs = std::filesystem;

// The board's directories; device nodes and board files live below them.
constexpr const char *kBoardDirs[] = {"dev", "proc", "sys/class/net", "usr/bin",
                                      "bin", "var",  "tmp",           "etc"};

int64_t host_clock_ns(clockid_t clock) {
    struct timespec ts {};
    ::clock_gettime(clock, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

json_object *clock_json(const ClockSetting &s) {
    json_object *clock = json_object_new_object();
    json_object_object_add(clock, "speed", json_object_new_double(s.speed));
    json_object_object_add(clock, "monotonic_ns", json_object_new_int64(s.monotonic_ns));
    json_object_object_add(clock, "realtime_ns", json_object_new_int64(s.realtime_ns));
    json_object_object_add(clock, "host_anchor_ns",
                           json_object_new_int64(host_clock_ns(CLOCK_MONOTONIC)));
    return clock;
}

// The fixed files' board.json, with the clock set to run from the host's
// date: the speed and uptime are data.
json_object *default_board_json() {
    json_object *root = nullptr;
    for (const EmbeddedFile *f = kBoardFiles; f->name && !root; ++f)
        if (std::string(f->name) == kBoardFile) root = json_tokener_parse(f->text);
    if (!root) root = json_object_new_object();
    ClockSetting clock;
    json_object *data = json_get(root, "clock");
    clock.speed = json_double(data, "speed", 1.0);
    clock.monotonic_ns = json_int64(data, "monotonic_ns", 0);
    clock.realtime_ns = host_clock_ns(CLOCK_REALTIME);
    json_object_object_add(root, "clock", clock_json(clock));
    return root;
}

bool write_fixed_files(const std::string &dir, std::string *error) {
    for (const EmbeddedFile *f = kBoardFiles; f->name; ++f) {
        if (std::string(f->name) == kBoardFile) continue;
        fs::path path = fs::path(dir) / f->name;
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        if (!write_file_whole(path.string(), f->text, f->mode, error)) return false;
    }
    return true;
}

// Runs one hook of every part; stops at the first that fails.
bool run_parts(bool (*const BoardPart::*hook)(const std::string &, json_object *, std::string *),
               const std::string &dir, json_object *root, std::string *error) {
    for (const BoardPart *part : kBoardParts)
        if (part->*hook && !(part->*hook)(dir, root, error)) return false;
    return true;
}

// Adds name to, or removes it from, the text list faults.<list>.
bool edit_fault_list(const std::string &dir, const char *list, const std::string &name, bool on,
                     std::string (*canonical)(std::string_view)) {
    return edit_board(dir, [&](json_object *root) {
        json_object *faults = json_member(root, "faults", json_type_object);
        json_object *array = json_object_new_array();
        for (const std::string &p : json_strings(json_get(faults, list)))
            if (canonical(p) != canonical(name))
                json_object_array_add(array, json_object_new_string(p.c_str()));
        if (on) json_object_array_add(array, json_object_new_string(name.c_str()));
        json_object_object_add(faults, list, array);
    });
}

}  // namespace

bool create_board(const std::string &dir, std::string *error) {
    std::error_code ec;
    if (fs::exists(dir + "/" + kBoardFile, ec)) {
        if (error) *error = dir + " already holds a board";
        return false;
    }
    for (const char *sub : kBoardDirs) {
        fs::create_directories(dir + "/" + sub, ec);
        if (ec) {
            if (error) *error = dir + "/" + sub + ": " + ec.message();
            return false;
        }
    }
    std::string ignored;
    error = error ? error : &ignored;
    json_object *root = default_board_json();
    bool ok = write_file_whole(dir + "/" + kJournalFile, "", 0644, error) &&
              write_fixed_files(dir, error) && run_parts(&BoardPart::create, dir, root, error) &&
              run_parts(&BoardPart::sync, dir, root, error);
    // board.json comes last: a directory with one holds a whole board.
    if (ok && !json_save_file(dir + "/" + kBoardFile, root)) {
        *error = dir + "/" + kBoardFile + ": cannot be written";
        ok = false;
    }
    json_object_put(root);
    return ok;
}

bool edit_board(const std::string &dir, const std::function<void(json_object *)> &edit) {
    // The board directory's lock: edits by several processes (the tools of
    // a board change it as they run) must not lose each other's changes.
    LockedFile hold(dir, O_RDONLY | O_DIRECTORY);
    std::string path = dir + "/" + kBoardFile;
    json_object *root = json_load_file(path, nullptr);
    if (!root) return false;
    edit(root);
    std::string error;
    bool ok = json_save_file(path, root) && run_parts(&BoardPart::sync, dir, root, &error);
    json_object_put(root);
    if (ok) reload_if_active(dir);
    return ok;
}

bool set_clock(const std::string &dir, const ClockSetting &setting) {
    return edit_board(dir, [&](json_object *root) {
        json_object_object_add(root, "clock", clock_json(setting));
    });
}

bool set_clock_speed(const std::string &dir, double speed) {
    // Re-anchor at the present board time so that the clock does not jump.
    return edit_board(dir, [&](json_object *root) {
        json_object *clock = json_get(root, "clock");
        const double old = json_double(clock, "speed", 1.0);
        const int64_t host =
            host_clock_ns(CLOCK_MONOTONIC) - json_int64(clock, "host_anchor_ns", 0);
        const int64_t elapsed = old > 0 ? static_cast<int64_t>(static_cast<double>(host) * old) : 0;
        const ClockSetting now{speed, json_int64(clock, "monotonic_ns", 0) + elapsed,
                               json_int64(clock, "realtime_ns", 0) + elapsed};
        json_object_object_add(root, "clock", clock_json(now));
    });
}

void set_log_levels_json(json_object *root,
                         const std::vector<std::pair<std::string, int>> &levels) {
    json_object *array = json_object_new_array();
    for (const auto &[name, level] : levels) {
        json_object *entry = json_object_new_object();
        json_object_object_add(entry, "name", json_object_new_string(name.c_str()));
        json_object_object_add(entry, "level", json_object_new_int(level));
        json_object_array_add(array, entry);
    }
    json_object_object_add(json_member(root, "log", json_type_object), "levels", array);
}

bool set_log_levels(const std::string &dir,
                    const std::vector<std::pair<std::string, int>> &levels) {
    return edit_board(dir, [&](json_object *root) { set_log_levels_json(root, levels); });
}

bool set_device_missing(const std::string &dir, const std::string &boardPath, bool missing) {
    return edit_fault_list(dir, "missing", boardPath, missing, normalize);
}

bool set_operation_failing(const std::string &dir, const std::string &operation, bool failing) {
    return edit_fault_list(dir, "fail", operation, failing,
                           [](std::string_view text) { return std::string(text); });
}

bool refuse_request(const std::string &dir, const std::string &boardPath, unsigned long request,
                    int after, int count, int error) {
    return edit_board(dir, [&](json_object *root) {
        json_object *refuse =
            json_member(json_member(root, "faults", json_type_object), "refuse", json_type_array);
        char code[32];
        std::snprintf(code, sizeof code, "0x%08lX", request);
        json_object *rule = json_object_new_object();
        json_object_object_add(rule, "device", json_object_new_string(boardPath.c_str()));
        json_object_object_add(rule, "request", json_object_new_string(code));
        json_object_object_add(rule, "after", json_object_new_int(after));
        json_object_object_add(rule, "count", json_object_new_int(count));
        json_object_object_add(rule, "errno", json_object_new_int(error));
        json_object_array_add(refuse, rule);
    });
}

std::string read_board_file(const std::string &dir, const std::string &boardPath) {
    std::ifstream in(dir + normalize(boardPath), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> journal_lines(const std::string &dir) {
    std::ifstream in(dir + "/" + kJournalFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool set_board_number(const std::string &dir, const char *section, const char *key, int64_t value) {
    return edit_board(dir, [&](json_object *root) {
        json_object_object_add(json_member(root, section, json_type_object), key,
                               json_object_new_int64(value));
    });
}

}  // namespace zq::sim
