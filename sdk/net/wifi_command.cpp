// Building and running the Wi-Fi unit's commands.
#include "net/wifi_command.h"

#include <climits>
#include <cstdlib>
#include <vector>

#include "net/wifi_state.h"
#include "port/port.h"
#include "zq_system.h"

namespace zq::wifi {
namespace {

bool is_plain_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_./:=@%+,-").find(c) != std::string_view::npos;
}

// The seam's translation; empty when it does not fit any buffer we offer.
std::string host_of(std::string_view boardPath) {
    std::string path(boardPath);
    std::vector<char> out(PATH_MAX + path.size() + 1);
    if (zq::port::host_path(path.c_str(), out.data(), out.size()) != 0) return {};
    return out.data();
}

}  // namespace

size_t put_shell_word(std::string_view word, char *out, size_t size) {
    bool plain = !word.empty();
    for (char c : word) plain = plain && is_plain_char(c);
    size_t length = 0;
    auto put = [&](std::string_view piece) {
        for (char c : piece) {
            if (length + 1 < size) out[length] = c;
            ++length;
        }
    };
    if (plain) {
        put(word);
    } else {
        put("'");
        for (char c : word) put(c == '\'' ? std::string_view("'\\''") : std::string_view(&c, 1));
        put("'");
    }
    if (size > 0) out[length < size ? length : size - 1] = '\0';
    return length;
}

std::string shell_word(std::string_view word) {
    std::string quoted(put_shell_word(word, nullptr, 0), '\0');
    put_shell_word(word, quoted.data(), quoted.size() + 1);
    return quoted;
}

std::string board_word(std::string_view boardPath, std::string_view leaf) {
    std::string host = host_of(boardPath);
    if (host.empty()) return {};
    return shell_word(host + std::string(leaf));
}

std::string board_link_word(std::string_view boardPath) {
    size_t slash = boardPath.rfind('/');
    if (slash == std::string_view::npos || slash == 0) return board_word(boardPath);
    return board_word(boardPath.substr(0, slash), boardPath.substr(slash));
}

std::string tool_word(std::string_view leaf) {
    return board_word(g_WifiState.g_ConfigPath, leaf);
}

std::string compose(std::initializer_list<std::string> pieces) {
    std::string command;
    for (const std::string &piece : pieces) {
        if (piece.empty()) return {};
        command += piece;
    }
    return command;
}

int run_command(const std::string &command) {
    if (command.empty()) return -1;
    return ZQSDK_SafeSystem(command.c_str());
}

FILE *open_pipeline(const std::string &command) {
    return zq::port::popen(command.c_str(), "r");
}

int close_pipeline(FILE *pipe) {
    return zq::port::pclose(pipe);
}

bool read_line(FILE *stream, std::string *line) {
    line->clear();
    // One lock for the whole line: a scan's output is read a character at a
    // time, and a locked read per character would cost more than the parse.
    flockfile(stream);
    int c;
    while ((c = getc_unlocked(stream)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
    funlockfile(stream);
    return c == '\n' || !line->empty();
}

}  // namespace zq::wifi
