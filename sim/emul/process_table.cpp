// A process belongs to the board when it runs with this board's ZQ_VBOARD
// in its environment, or when it joined the board after it started (an SDK
// program whose ZQ_VBOARD was set in the process) and holds the lock of its
// entry; one may be marked as a process of another user (its entry's "user"
// file), whose kills the board refuses. Programs started as board processes
// register the command line they were given; a process that joined
// registers its own; the rest (fake tools, shells) are listed with their
// host command line in board terms: host paths inside the board become
// board paths, and the interpreter of a script or the emulator of a foreign
// program is left out.
#include "emul/process_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "emul/file_util.h"

namespace zq::sim {
namespace {

namespace fs = std::filesystem;

std::string entry_dir(const std::string &dir, pid_t pid) {
    return dir + "/proc/" + std::to_string(pid);
}

// The processes a directory has entries for, named by their ids as in /proc.
std::vector<pid_t> pids_in(const std::string &path) {
    std::vector<pid_t> pids;
    DIR *listing = ::opendir(path.c_str());
    while (struct dirent *e = listing ? ::readdir(listing) : nullptr) {
        std::string name = e->d_name;
        if (!name.empty() && name.size() <= 9 &&
            name.find_first_not_of("0123456789") == name.npos && std::stoi(name) > 0)
            pids.push_back(std::stoi(name));
    }
    if (listing) ::closedir(listing);
    return pids;
}

std::vector<std::string> split_nul(const std::string &text) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, '\0');) parts.push_back(part);
    return parts;
}

std::string base_name(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool emulator_option_with_value(const std::string &option) {
    static const char *const kWithValue[] = {"-L", "-E",    "-U",     "-0",     "-cpu", "-g",
                                             "-s", "-d",    "-D",     "-p",     "-r",   "-B",
                                             "-R", "-seed", "-trace", "-plugin"};
    return std::find(std::begin(kWithValue), std::end(kWithValue), option) != std::end(kWithValue);
}

// The host command line of a board process in board terms.
std::vector<std::string> board_view(const std::string &dir, std::vector<std::string> args) {
    if (!args.empty() && base_name(args[0]).rfind("qemu-", 0) == 0) {
        size_t i = 1;
        while (i < args.size() && args[i].size() > 1 && args[i][0] == '-')
            i += emulator_option_with_value(args[i]) ? 2 : 1;
        args.erase(args.begin(), args.begin() + static_cast<long>(std::min(i, args.size())));
    }
    static const char *const kShells[] = {"sh", "dash", "bash"};
    if (args.size() >= 2 && args[1].rfind(dir + "/", 0) == 0 &&
        std::find(std::begin(kShells), std::end(kShells), base_name(args[0])) != std::end(kShells))
        args.erase(args.begin());
    for (std::string &arg : args)
        if (arg.rfind(dir + "/", 0) == 0) arg.erase(0, dir.size());
    return args;
}

std::string joined_with_nul(const std::vector<std::string> &argv) {
    std::string text;
    for (const std::string &arg : argv) text.append(arg).push_back('\0');
    return text;
}

// The lock a process that joined its board holds for as long as it lives.
int g_ownerLock = -1;

bool owner_lock_held(const std::string &dir, pid_t pid) {
    int fd = ::open((entry_dir(dir, pid) + "/owner").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

// Whether the process of a /proc directory is gone or a zombie.
bool ended(const std::string &proc) {
    std::string stat = read_file(proc + "/stat");
    size_t paren = stat.rfind(')');
    return paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] == 'Z' ||
           stat[paren + 2] == 'X';
}

}  // namespace

bool runs_on_board(const std::string &dir, pid_t pid, bool patient) {
    std::string proc = "/proc/" + std::to_string(pid);
    std::string want = "ZQ_VBOARD=" + dir;
    // Between two programs (exec) a process's environment reads empty for a
    // moment; a patient caller looks again before saying no, unless the
    // process has ended and only waits to be reaped.
    for (int attempt = 0; attempt < (patient ? 20 : 1); ++attempt) {
        std::string environment = read_file(proc + "/environ");
        if (!environment.empty()) {
            for (const std::string &entry : split_nul(environment))
                if (entry == want) return true;
            break;
        }
        if (!patient || ended(proc)) break;
        ::usleep(1000);
    }
    return owner_lock_held(dir, pid);
}

bool register_board_process(const std::string &dir, pid_t pid,
                            const std::vector<std::string> &argv) {
    std::string entry = entry_dir(dir, pid);
    std::error_code ec;
    fs::create_directories(entry, ec);
    // A new process of a pid is the board's own, whatever the last one was.
    fs::remove(entry + "/user", ec);
    return write_file_whole(entry + "/cmdline", joined_with_nul(argv), 0644, nullptr);
}

bool set_board_process_user(const std::string &dir, pid_t pid, const std::string &user) {
    std::string path = entry_dir(dir, pid) + "/user";
    std::error_code ec;
    if (user.empty()) return fs::remove(path, ec) || !ec;
    return write_file_whole(path, user, 0644, nullptr);
}

std::string board_process_user(const std::string &dir, pid_t pid) {
    return read_file(entry_dir(dir, pid) + "/user");
}

void join_board(const std::string &dir) {
    pid_t self = ::getpid();
    // Read by this process, the command line is its own even under an
    // emulator, which shows the emulated program's.
    std::string own = read_file("/proc/self/cmdline");
    if (!register_board_process(dir, self, split_nul(own))) return;
    int fd =
        ::open((entry_dir(dir, self) + "/owner").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    if (g_ownerLock >= 0) ::close(g_ownerLock);
    g_ownerLock = fd;
}

void refresh_board_processes(const std::string &dir) {
    std::error_code ec;
    for (pid_t pid : pids_in(dir + "/proc"))  // ended processes leave the table
        if (!runs_on_board(dir, pid, true)) fs::remove_all(entry_dir(dir, pid), ec);
    for (pid_t pid : pids_in("/proc")) {  // board processes nobody registered join it
        if (::access((entry_dir(dir, pid) + "/cmdline").c_str(), F_OK) == 0 ||
            !runs_on_board(dir, pid, false))
            continue;
        std::string cmdline = read_file("/proc/" + std::to_string(pid) + "/cmdline");
        if (!cmdline.empty()) register_board_process(dir, pid, board_view(dir, split_nul(cmdline)));
    }
}

}  // namespace zq::sim
