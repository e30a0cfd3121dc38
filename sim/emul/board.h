// The virtual board: a directory that stands for the board's root file
// system, with board.json describing the virtual hardware and its faults.
//
// Two faces: the seam-facing one (activate, resolve, clock, faults, journal),
// used by the seam's virtual backend, and the test-facing one (create a board,
// change its clock, levels and faults, read what happened), used by tests and
// by the vboard command.
#pragma once

#include <json-c/json.h>
#include <poll.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zq::sim {

constexpr const char *kBoardFile = "board.json";
constexpr const char *kJournalFile = "journal";

// ---- seam-facing: the board this process runs on ----

// The absolute, normalised form of a board directory: the ZQ_VBOARD of the
// board's processes.
std::string board_root(const std::string &dir);

// Loads the board at dir and makes it this process's board.
bool activate(const std::string &dir, std::string *error);
bool is_active();
const std::string &active_dir();
// Re-reads board.json when dir is this process's board (after an edit).
void reload_if_active(const std::string &dir);

// Host path of an absolute board path, as if the process ran chrooted in the
// board directory: ".." never climbs above the board root, and links are
// followed inside the board (an absolute target starts at the board root).
// Relative paths stay relative to the working directory.
std::string resolve(std::string_view boardPath);
// Folds ".", ".." and repeated slashes of an absolute path.
std::string normalize(std::string_view boardPath);

// Appends one line "<board seconds> <pid> <subject> <text>" to the journal.
void journal(std::string_view subject, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Board clocks: CLOCK_MONOTONIC and CLOCK_REALTIME run at the board's speed.
void clock_read(clockid_t clock, struct timespec *ts);
void clock_sleep(int64_t ns);
// Sleeps on the board clock until its monotonic time reaches boardNs.
void sleep_until(int64_t boardNs);
// poll with a timeout (> 0) in board time: at speed S it lasts timeoutMs / S.
// At a stopped clock, when nothing is ready, the timeout passes at once and
// moves the clock on as a sleep does.
int clock_poll(struct pollfd *fds, nfds_t count, int timeoutMs);
int64_t board_monotonic_ns();

// Fault knobs.
bool device_missing(std::string_view boardPath);
// Whether a system operation ("fork", "wait", "reboot") is made to fail.
bool operation_fails(std::string_view operation);
// 0 when the request may go on, else the errno the driver answers with.
int request_refusal(std::string_view boardPath, unsigned long request);

// A copy of the active board's board.json as last loaded, owned by the
// caller (release it with json_object_put); null when no board is active.
json_object *board_json();
// Counts the loads of board.json, so that emulators can cache what they read.
unsigned board_generation();

// What Read makes of board.json, kept per thread until board.json is loaded anew.
template <auto Read>
auto cached_board_json() {
    static thread_local unsigned generation = ~0u;
    static thread_local decltype(Read(nullptr)) value;
    if (generation != board_generation()) {
        generation = board_generation();
        json_object *root = board_json();
        value = Read(root);
        json_object_put(root);
    }
    return value;
}

// ---- test-facing ----

struct ClockSetting {
    double speed = 1.0;        // board seconds per host second; 0 stops the clock
    int64_t monotonic_ns = 0;  // board monotonic time now
    int64_t realtime_ns = 0;   // board calendar time now (since the epoch)
};

// Makes a ready board at dir (created when missing, must not hold a board).
bool create_board(const std::string &dir, std::string *error);

// Applies edit to board.json; when this process runs on that board, the
// change takes effect at once.
bool edit_board(const std::string &dir, const std::function<void(json_object *root)> &edit);

bool set_clock(const std::string &dir, const ClockSetting &setting);
bool set_clock_speed(const std::string &dir, double speed);
bool set_log_levels(const std::string &dir, const std::vector<std::pair<std::string, int>> &levels);
void set_log_levels_json(json_object *root, const std::vector<std::pair<std::string, int>> &levels);
bool set_device_missing(const std::string &dir, const std::string &boardPath, bool missing);
// Makes a system operation ("fork", "wait", "reboot") fail, or work again.
bool set_operation_failing(const std::string &dir, const std::string &operation, bool failing);
// Sets the number key of board.json's section (made when missing).
bool set_board_number(const std::string &dir, const char *section, const char *key, int64_t value);
// Refuses request on the device: lets `after` such requests pass first, then
// refuses `count` of them (-1: all), answering errno `error`.
bool refuse_request(const std::string &dir, const std::string &boardPath, unsigned long request,
                    int after = 0, int count = -1, int error = 1 /* EPERM */);

std::string read_board_file(const std::string &dir, const std::string &boardPath);

// Starts program (the board's bin/ first in its PATH) in the background as a
// process of the board at dir, with argv as its command line (argv[0] is the
// name the board sees). Its output goes to processes.log in the board
// directory. With a user it is a process of that other user, whose kills
// the board refuses (EPERM). The pid, or -1 with a reason.
pid_t start_board_process(const std::string &dir, const std::string &program,
                          const std::vector<std::string> &argv, std::string *error,
                          const std::string &user = {});

// Sets the board.json value at a dotted path ("temperature.value"); a value
// that reads as JSON is stored as such, anything else as text.
bool set_board_value(const std::string &dir, const std::string &dottedPath,
                     const std::string &value, std::string *error);
std::vector<std::string> journal_lines(const std::string &dir);

}  // namespace zq::sim
