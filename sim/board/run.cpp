// Board processes started from the host (vboard run, tests), and board.json
// edits by dotted path (vboard set).
#include <fcntl.h>
#include <json-c/json.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "emul/board.h"
#include "emul/json_util.h"
#include "emul/process_table.h"

extern char **environ;

namespace zq::sim {
namespace {

namespace fs = std::filesystem;

bool executable(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The program as a host path: the board's bin/ first, then the host's PATH.
std::string find_program(const std::string &root, const std::string &program) {
    if (program.find('/') != std::string::npos) return program;
    std::string path = root + "/bin";
    if (const char *host = std::getenv("PATH")) path += std::string(":") + host;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        std::string candidate = path.substr(start, end - start) + "/" + program;
        if (end > start && executable(candidate)) return candidate;
        start = end + 1;
    }
    return {};
}

std::vector<std::string> board_process_environment(const std::string &root) {
    std::vector<std::string> env;
    std::string path = "PATH=" + root + "/bin";
    for (char **e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "PATH=", 5) == 0)
            path += std::string(":") + (*e + 5);
        else if (std::strncmp(*e, "ZQ_VBOARD=", 10) != 0)
            env.emplace_back(*e);
    }
    env.push_back(path);
    env.push_back("ZQ_VBOARD=" + root);
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> out;
    for (std::string &t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

}  // namespace

pid_t start_board_process(const std::string &dir, const std::string &program,
                          const std::vector<std::string> &argv, std::string *error,
                          const std::string &user) {
    std::string root = board_root(dir);
    auto fail = [&](const std::string &why) {
        if (error) *error = why;
        return static_cast<pid_t>(-1);
    };
    if (argv.empty()) return fail("no command line");
    if (!fs::exists(root + "/" + kBoardFile)) return fail(dir + " is not a virtual board");
    std::string path = find_program(root, program);
    if (path.empty()) return fail(program + ": no such program");
    std::vector<std::string> args = argv, env = board_process_environment(root);
    std::vector<char *> argp = pointers(args), envp = pointers(env);
    int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out =
        ::open((root + "/processes.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    int go[2] = {-1, -1}, status[2] = {-1, -1};
    if (in < 0 || out < 0 || ::pipe2(go, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0) {
        for (int fd : {in, out, go[0], go[1], status[0], status[1]})
            if (fd >= 0) ::close(fd);
        return fail(std::string("cannot prepare the process: ") + std::strerror(errno));
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until the exec.
        ::setsid();
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        char ready;
        if (::read(go[0], &ready, 1) == 1) ::execve(path.c_str(), argp.data(), envp.data());
        int why = errno;
        (void)!::write(status[1], &why, sizeof why);
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(go[0]);
    ::close(status[1]);
    if (pid < 0) {
        ::close(go[1]);
        ::close(status[0]);
        return fail(std::string("cannot start a process: ") + std::strerror(errno));
    }
    // Listed before the program runs, so that the board never shows it
    // with the host's command line.
    register_board_process(root, pid, argv);
    if (!user.empty()) set_board_process_user(root, pid, user);
    (void)!::write(go[1], "g", 1);
    ::close(go[1]);
    int why = 0;
    ssize_t n;
    while ((n = ::read(status[0], &why, sizeof why)) < 0 && errno == EINTR) {
    }
    ::close(status[0]);
    if (n > 0) {
        ::waitpid(pid, nullptr, 0);
        std::error_code ec;
        fs::remove_all(root + "/proc/" + std::to_string(pid), ec);
        return fail(path + ": " + std::strerror(why));
    }
    return pid;
}

bool set_board_value(const std::string &dir, const std::string &dottedPath,
                     const std::string &value, std::string *error) {
    if (dottedPath.empty() || dottedPath.front() == '.' || dottedPath.back() == '.' ||
        dottedPath.find("..") != std::string::npos) {
        if (error) *error = "'" + dottedPath + "' is not a dotted path such as temperature.value";
        return false;
    }
    json_object *parsed = json_tokener_parse(value.c_str());
    bool isJson = parsed || value == "null";
    bool placed = false;
    bool ok = edit_board(dir, [&](json_object *root) {
        json_object *at = root;
        size_t start = 0, dot;
        while ((dot = dottedPath.find('.', start)) != std::string::npos) {
            std::string key = dottedPath.substr(start, dot - start);
            start = dot + 1;
            json_object *next = json_get(at, key.c_str());
            if (next && !json_object_is_type(next, json_type_object)) return;
            at = json_member(at, key.c_str(), json_type_object);
        }
        json_object *v = isJson ? json_object_get(parsed) : json_object_new_string(value.c_str());
        json_object_object_add(at, dottedPath.substr(start).c_str(), v);
        placed = true;
    });
    json_object_put(parsed);
    if (!ok && error) *error = dir + " is not a virtual board (no readable board.json)";
    if (ok && !placed && error)
        *error = "'" + dottedPath + "' runs through a value that is not an object";
    return ok && placed;
}

}  // namespace zq::sim
