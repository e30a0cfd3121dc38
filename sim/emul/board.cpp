// The board this process runs on: loading board.json, path resolution, the
// board clock, fault knobs and the journal.
#include "emul/board.h"

#include <fcntl.h>
#include <json-c/json.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "emul/file_util.h"
#include "emul/json_util.h"

namespace zq::sim {
namespace {

struct Refusal {
    std::string device;
    unsigned long request = 0;
    int after = 0;
    int count = -1;
    int error = EPERM;
    int seen = 0;
};

// The board clock: board time = anchor + host time elapsed since the anchor
// times the speed. At speed 0 the clock stands, and only this process's own
// sleeps move it on (at once), which makes timing tests exact.
struct BoardClock {
    double speed = 1.0;
    int64_t monotonic0 = 0;
    int64_t realtime0 = 0;
    int64_t host0 = 0;
    int64_t slept = 0;  // used at speed 0
};

struct Board {
    std::mutex lock;
    std::string dir;
    int journalFd = -1;
    BoardClock clock;
    std::vector<std::string> missing;
    std::vector<std::string> failing;  // system operations that fail: "fork", "wait", "reboot"
    std::vector<Refusal> refusals;
    json_object *root = nullptr;  // board.json as last loaded
    struct stat rootFile {};      // and the file it was loaded from
    unsigned generation = 0;
};

Board g_board;

int64_t host_monotonic_ns() {
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

struct timespec to_timespec(int64_t ns) {
    return {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

int64_t elapsed_ns(const BoardClock &c) {
    if (c.speed <= 0) return c.slept;
    int64_t host = host_monotonic_ns() - c.host0;
    return host > 0 ? static_cast<int64_t>(static_cast<double>(host) * c.speed) : 0;
}

void load_clock(json_object *root, BoardClock &c) {
    json_object *clock = json_get(root, "clock");
    c.speed = json_double(clock, "speed", 1.0);
    if (c.speed < 0) c.speed = 0;
    c.monotonic0 = json_int64(clock, "monotonic_ns", 0);
    c.realtime0 = json_int64(clock, "realtime_ns", 0);
    c.host0 = json_int64(clock, "host_anchor_ns", host_monotonic_ns());
    c.slept = 0;
}

void load_faults(json_object *root, Board &b) {
    json_object *faults = json_get(root, "faults");
    b.missing.clear();
    for (const std::string &path : json_strings(json_get(faults, "missing")))
        b.missing.push_back(normalize(path));
    b.failing = json_strings(json_get(faults, "fail"));
    // Rules that stay across a reload keep counting where they were.
    std::vector<Refusal> before = std::move(b.refusals);
    b.refusals.clear();
    json_object *refuse = json_get(faults, "refuse");
    size_t n = json_object_is_type(refuse, json_type_array) ? json_object_array_length(refuse) : 0;
    for (size_t i = 0; i < n; ++i) {
        json_object *rule = json_object_array_get_idx(refuse, i);
        Refusal r;
        r.device = normalize(json_string(rule, "device", ""));
        r.request = static_cast<unsigned long>(json_number(rule, "request", 0));
        r.after = static_cast<int>(json_int64(rule, "after", 0));
        r.count = static_cast<int>(json_int64(rule, "count", -1));
        r.error = static_cast<int>(json_int64(rule, "errno", EPERM));
        if (i < before.size() && before[i].device == r.device && before[i].request == r.request)
            r.seen = before[i].seen;
        b.refusals.push_back(r);
    }
}

bool load(Board &b, const std::string &dir, std::string *error) {
    struct stat file {};
    ::stat((dir + "/" + kBoardFile).c_str(), &file);
    json_object *root = json_load_file(dir + "/" + kBoardFile, error);
    if (!root) return false;
    load_clock(root, b.clock);
    load_faults(root, b);
    json_object_put(b.root);
    b.root = root;
    b.rootFile = file;
    ++b.generation;
    return true;
}

}  // namespace

std::string board_root(const std::string &dir) {
    std::string root = std::filesystem::absolute(dir).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    return root;
}

bool activate(const std::string &where, std::string *error) {
    // An absolute root, so that commands run elsewhere still find the board.
    std::string dir = board_root(where);
    std::lock_guard<std::mutex> hold(g_board.lock);
    if (!load(g_board, dir, error)) return false;
    g_board.dir = dir;
    g_board.journalFd =
        ::open((dir + "/" + kJournalFile).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    return true;
}

bool is_active() {
    std::lock_guard<std::mutex> hold(g_board.lock);
    return !g_board.dir.empty();
}

const std::string &active_dir() {
    return g_board.dir;
}

void reload_if_active(const std::string &dir) {
    std::lock_guard<std::mutex> hold(g_board.lock);
    if (g_board.dir != dir) return;
    load(g_board, dir, nullptr);
}

namespace {

std::string board_join(const std::vector<std::string> &parts) {
    std::string out = g_board.dir;
    for (const std::string &part : parts) out += "/" + part;
    return out;
}

constexpr int kMaxLinks = 40;  // as the kernel's own limit

// Walks a board path into *done as the kernel does for a process chrooted
// in the board (emul/board.h: normalize, and resolve with follow), so that
// no link on the board can lead outside it. False after too many links.
bool walk(std::string_view path, bool follow, std::vector<std::string> *done) {
    std::string rest(path);
    int links = 0;
    for (size_t i = 0; i < rest.size();) {
        size_t j = std::min(rest.find('/', i), rest.size());
        std::string part = rest.substr(i, j - i);
        i = j + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!done->empty()) done->pop_back();
            continue;
        }
        done->push_back(part);
        char target[PATH_MAX];
        ssize_t n = follow ? ::readlink(board_join(*done).c_str(), target, sizeof target - 1) : 0;
        if (n <= 0) continue;
        if (++links > kMaxLinks) return false;
        target[n] = '\0';
        done->pop_back();
        if (target[0] == '/') done->clear();
        rest = std::string(target) + "/" + (i < rest.size() ? rest.substr(i) : std::string());
        i = 0;
    }
    return true;
}

}  // namespace

std::string normalize(std::string_view path) {
    std::vector<std::string> parts;
    walk(path, false, &parts);
    std::string out;
    for (const std::string &part : parts) out += "/" + part;
    return out.empty() ? "/" : out;
}

std::string resolve(std::string_view boardPath) {
    if (boardPath.empty() || boardPath[0] != '/') return std::string(boardPath);
    std::vector<std::string> done;
    // Too many links: a path under a plain file, which no call can open.
    if (!walk(boardPath, true, &done)) return g_board.dir + "/" + kBoardFile + "/link-loop";
    return board_join(done);
}

void journal(std::string_view subject, const char *format, ...) {
    int fd = g_board.journalFd;
    if (fd < 0) return;
    char line[512];
    int64_t now = board_monotonic_ns();
    int n = std::snprintf(
        line, sizeof line, "%lld.%06lld %d %.*s ", static_cast<long long>(now / 1000000000),
        static_cast<long long>(now % 1000000000 / 1000), static_cast<int>(::getpid()),
        static_cast<int>(subject.size()), subject.data());
    if (n < 0 || static_cast<size_t>(n) >= sizeof line) return;
    va_list args;
    va_start(args, format);
    int m = std::vsnprintf(line + n, sizeof line - static_cast<size_t>(n), format, args);
    va_end(args);
    if (m < 0) return;
    size_t len = std::min(static_cast<size_t>(n) + static_cast<size_t>(m), sizeof line - 2);
    line[len++] = '\n';
    // One write per line: O_APPEND keeps lines of several processes whole.
    (void)!::write(fd, line, len);
}

int64_t board_monotonic_ns() {
    std::lock_guard<std::mutex> hold(g_board.lock);
    return g_board.clock.monotonic0 + elapsed_ns(g_board.clock);
}

void clock_read(clockid_t clock, struct timespec *ts) {
    int64_t ns;
    {
        std::lock_guard<std::mutex> hold(g_board.lock);
        const BoardClock &c = g_board.clock;
        bool wall = clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE;
        ns = (wall ? c.realtime0 : c.monotonic0) + elapsed_ns(c);
    }
    *ts = to_timespec(ns);
}

void clock_sleep(int64_t ns) {
    double speed;
    {
        std::lock_guard<std::mutex> hold(g_board.lock);
        speed = g_board.clock.speed;
        if (speed <= 0) g_board.clock.slept += ns;
    }
    if (speed <= 0) {
        ::sched_yield();
        return;
    }
    struct timespec real = to_timespec(static_cast<int64_t>(static_cast<double>(ns) / speed));
    ::nanosleep(&real, nullptr);
}

void sleep_until(int64_t boardNs) {
    // A signal may end a sleep early; the board time decides when we are there.
    for (int64_t now = board_monotonic_ns(); now < boardNs; now = board_monotonic_ns())
        clock_sleep(boardNs - now);
}

int clock_poll(struct pollfd *fds, nfds_t count, int timeoutMs) {
    int64_t ns = int64_t{timeoutMs} * 1000000;
    double speed;
    {
        std::lock_guard<std::mutex> hold(g_board.lock);
        speed = g_board.clock.speed;
    }
    if (speed <= 0) {
        int ready = ::poll(fds, count, 0);
        if (ready == 0) clock_sleep(ns);
        return ready;
    }
    // Rounded up: the wait never ends before its board time has passed.
    struct timespec real =
        to_timespec(static_cast<int64_t>(std::ceil(static_cast<double>(ns) / speed)));
    return ::ppoll(fds, count, &real, nullptr);
}

bool device_missing(std::string_view boardPath) {
    std::string path = normalize(boardPath);
    std::lock_guard<std::mutex> hold(g_board.lock);
    return std::find(g_board.missing.begin(), g_board.missing.end(), path) != g_board.missing.end();
}

bool operation_fails(std::string_view operation) {
    std::lock_guard<std::mutex> hold(g_board.lock);
    return std::find(g_board.failing.begin(), g_board.failing.end(), operation) !=
           g_board.failing.end();
}

int request_refusal(std::string_view boardPath, unsigned long request) {
    std::string path = normalize(boardPath);
    std::lock_guard<std::mutex> hold(g_board.lock);
    for (Refusal &r : g_board.refusals) {
        if (r.device != path || r.request != request) continue;
        ++r.seen;
        if (r.seen > r.after && (r.count < 0 || r.seen - r.after <= r.count)) return r.error;
    }
    return 0;
}

namespace {

// The board's tools (ifconfig, route, the Wi-Fi daemons) and vboard edit
// board.json from other processes: what they changed is read afresh. Under
// g_board.lock.
void reload_if_changed() {
    struct stat file {};
    if (!g_board.dir.empty() && ::stat((g_board.dir + "/" + kBoardFile).c_str(), &file) == 0 &&
        !same_stamp(file, g_board.rootFile))
        load(g_board, g_board.dir, nullptr);
}

}  // namespace

json_object *board_json() {
    // A copy of its own for the caller: json-c's reference counts are not
    // atomic here, so threads must not share one tree.
    std::lock_guard<std::mutex> hold(g_board.lock);
    reload_if_changed();
    json_object *copy = nullptr;
    if (g_board.root && json_object_deep_copy(g_board.root, &copy, nullptr) != 0) copy = nullptr;
    return copy;
}

unsigned board_generation() {
    std::lock_guard<std::mutex> hold(g_board.lock);
    reload_if_changed();
    return g_board.generation;
}

}  // namespace zq::sim
