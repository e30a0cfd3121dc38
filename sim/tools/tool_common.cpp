// What the fake tools share: board terms, path checks, the board clock,
// board processes and board.json edits.
#include <fcntl.h>
#include <json-c/json.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "board/wifi_radio.h"
#include "board/wifi_records.h"
#include "emul/board.h"
#include "emul/file_util.h"
#include "emul/json_util.h"
#include "emul/process_table.h"
#include "tools/tool.h"

namespace zq::sim::tools {
namespace {

namespace fs = std::filesystem;

void pause_host(long nanoseconds) {
    struct timespec pause {
        0, nanoseconds
    };
    ::nanosleep(&pause, nullptr);
}

double clock_speed() {
    json_object *root = board_json();
    double speed = json_double(json_get(root, "clock"), "speed", 1.0);
    json_object_put(root);
    return speed;
}

}  // namespace

bool parse_options(const Tool &tool, const char *withValue, const char *flags, size_t maxOperands,
                   const char *usage, Options *options) {
    const std::vector<std::string> &a = tool.args;
    bool ok = true;
    for (size_t k = 0; k < a.size() && ok; ++k) {
        if (a[k].size() < 2 || a[k][0] != '-') {
            options->operands.push_back(a[k]);
            continue;
        }
        for (size_t c = 1; c < a[k].size() && ok; ++c) {
            char o = a[k][c];
            if (std::strchr(withValue, o)) {
                std::string v = c + 1 < a[k].size() ? a[k].substr(c + 1)
                                : k + 1 < a.size()  ? a[++k]
                                                    : "";
                ok = !v.empty();
                options->values[o] = v;
                break;
            }
            ok = std::strchr(flags, o) != nullptr;
            options->values[o] = "1";
        }
    }
    ok = ok && options->operands.size() <= maxOperands;
    if (!ok) std::fprintf(stderr, "%s\n", usage);
    return ok;
}

std::string board_terms(const Tool &tool, const std::string &text) {
    std::string out;
    std::string prefix = tool.dir + "/";
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, prefix.size(), prefix) == 0) {
            out += '/';
            i += prefix.size();
            continue;
        }
        auto c = static_cast<unsigned char>(text[i++]);
        out += c < 0x20 || c == 0x7F ? escape_byte(c) : std::string(1, static_cast<char>(c));
    }
    return out;
}

std::vector<std::string> board_argv(const Tool &tool) {
    std::vector<std::string> argv{tool.as};
    for (const std::string &arg : tool.args) argv.push_back(board_terms(tool, arg));
    return argv;
}

void note(const Tool &tool, const char *format, ...) {
    char text[400];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    journal(tool.name, "%s", board_terms(tool, text).c_str());
}

bool path_argument(const Tool &tool, const std::string &given, std::string *host) {
    std::error_code ec;
    fs::path absolute = fs::absolute(given, ec);
    // Links are followed as the kernel would, so a board file that links out is refused too.
    std::string real = ec ? "" : fs::weakly_canonical(absolute, ec).string();
    std::string root = fs::weakly_canonical(tool.dir, ec).string();
    if (given.empty() || ec || real.compare(0, root.size() + 1, root + "/") != 0) {
        std::fprintf(stderr, "%s: %s: outside the virtual board\n", tool.name.c_str(),
                     given.c_str());
        journal(tool.name, "refused %s: outside the board", board_terms(tool, given).c_str());
        return false;
    }
    *host = real;
    return true;
}

std::string board_file(const std::string &boardPath) {
    return resolve(boardPath.empty() || boardPath[0] != '/' ? "/" + boardPath : boardPath);
}

bool read_text(const std::string &hostPath, std::string *text) {
    int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    *text = read_all(fd);
    return ::close(fd) == 0;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool append_text(const std::string &hostPath, const std::string &text) {
    int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_APPEND, 0644);
    if (fd < 0) return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    return ::close(fd) == 0 && ok;
}

void run_script(const Tool &tool, const std::string &script, const std::vector<std::string> &args,
                const std::vector<std::string> &variables) {
    std::vector<std::string> words{script};
    words.insert(words.end(), args.begin(), args.end());
    std::string shown;
    for (const std::string &w : words) shown += (shown.empty() ? "" : " ") + w;
    note(tool, "script %s", shown.c_str());
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        const char *hostPath = std::getenv("PATH");
        ::setenv("PATH", (tool.dir + "/bin:" + (hostPath ? hostPath : "/usr/bin:/bin")).c_str(), 1);
        for (const std::string &v : variables) ::putenv(const_cast<char *>(v.c_str()));
        std::vector<char *> argv;
        for (std::string &w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        ::execv(script.c_str(), argv.data());
        std::fprintf(stderr, "%s: can't execute '%s': %s\n", tool.name.c_str(), script.c_str(),
                     std::strerror(errno));
        ::_exit(127);
    }
    int status = 0;
    if (child > 0)
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
}

bool board_gone(const Tool &tool) {
    return ::access((tool.dir + "/" + kBoardFile).c_str(), F_OK) != 0;
}

bool board_wait(const Tool &tool, double seconds) {
    reload_if_active(tool.dir);
    if (clock_speed() <= 0) {
        pause_host(10'000'000);
        return !board_gone(tool);
    }
    int64_t until = board_monotonic_ns() + static_cast<int64_t>(seconds * 1e9);
    // Short host slices, so that a board that goes away, or a clock that
    // changes speed, is seen soon.
    for (;;) {
        if (board_gone(tool)) return false;
        int64_t now = board_monotonic_ns();
        if (now >= until) return true;
        double speed = clock_speed();
        if (speed <= 0) return true;
        double hostNs = static_cast<double>(until - now) / speed;
        pause_host(hostNs < 20e6 ? static_cast<long>(hostNs) + 1 : 20'000'000);
        reload_if_active(tool.dir);
    }
}

bool start(const Tool &tool, bool background, const std::function<void()> &setUp) {
    int ready[2] = {-1, -1};
    std::fflush(nullptr);
    pid_t child = background && ::pipe2(ready, O_CLOEXEC) == 0 ? ::fork() : -1;
    if (child > 0) {
        // Listed before the parent ends, so that the board's /proc has the
        // daemon as soon as the command that started it returns.
        register_board_process(tool.dir, child, board_argv(tool));
        ::close(ready[1]);
        char byte;
        while (::read(ready[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::close(ready[0]);
        return true;
    }
    if (child == 0) {
        ::setsid();
        int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        for (int fd : {0, 1, 2}) ::dup2(null, fd);
        if (null > 2) ::close(null);
        register_board_process(tool.dir, ::getpid(), board_argv(tool));
    }
    setUp();
    for (int fd : ready)
        if (fd >= 0) ::close(fd);  // the parent goes
    return false;
}

int serve(const Tool &tool, bool background, const std::function<void()> &setUp) {
    if (!start(tool, background, setUp))
        while (board_wait(tool, 1.0)) {
        }
    return 0;
}

void record(const Tool &tool, const std::string &interface,
            const std::map<std::string, std::string> &fields) {
    ToolRecord r{tool.name, ::getpid(), interface, fields};
    edit_board(tool.dir, [&](json_object *root) { set_tool_record(root, tool.dir, r); });
}

std::vector<NetInterface> interfaces(const Tool &tool) {
    json_object *root = json_load_file(tool.dir + "/" + kBoardFile, nullptr);
    std::vector<NetInterface> out = net_interfaces(root);
    json_object_put(root);
    return out;
}

bool find_interface(const Tool &tool, const std::string &name, NetInterface *found) {
    for (NetInterface &i : interfaces(tool)) {
        if (i.name != name) continue;
        if (found) *found = std::move(i);
        return true;
    }
    return false;
}

void change_interface(const Tool &tool, const std::string &name,
                      const std::function<void(NetInterface &)> &change) {
    edit_board(tool.dir, [&](json_object *root) {
        for (NetInterface &i : net_interfaces(root))
            if (i.name == name) {
                change(i);
                set_interface_json(root, i);
            }
    });
}

}  // namespace zq::sim::tools
