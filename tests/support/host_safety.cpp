#include "support/host_safety.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sstream>

namespace {

bool outside(const std::string &path, const std::string &root) {
    if (path == "/dev/null") return false;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    return normal.compare(0, root.size() + 1, root + "/") != 0;
}

// Whether a word names a path outside root: itself when absolute, what
// follows "=" or a one-letter option ("-c/etc/x").
bool names_outside(const std::string &word, const std::string &root) {
    const size_t eq = word.find('=');
    return (word[0] == '/' && outside(word, root)) ||
           (eq != std::string::npos && word.compare(eq + 1, 1, "/") == 0 &&
            outside(word.substr(eq + 1), root)) ||
           (word.size() > 2 && word[0] == '-' && word[1] != '-' && word[2] == '/' &&
            outside(word.substr(2), root));
}

// Whether a command names such a path, read as the shell would (quotes and
// backslashes; | & ; ( ) end a simple command). The first operand of sed,
// grep, egrep and awk is a pattern, not a path.
bool command_outside(const std::string &command, const std::string &root) {
    std::string word;
    bool inWord = false, target = false, patternDue = false, found = false;
    size_t words = 0;  // of the simple command so far
    auto finish = [&] {
        if (!inWord) return;
        if (words++ == 0) {
            const std::string name = word.substr(word.rfind('/') + 1);
            patternDue = name == "sed" || name == "grep" || name == "egrep" || name == "awk";
        } else if (patternDue && !target && word[0] != '-') {
            patternDue = false;
            word.clear();  // the pattern names no path
        }
        found = found || names_outside(word, root);
        word.clear();
        inWord = target = false;
    };
    for (size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == '\'' || c == '"') {
            const size_t end = std::min(command.find(c, i + 1), command.size());
            word += command.substr(i + 1, end - i - 1);
            inWord = true;
            i = end;
        } else if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            finish();
        } else if (c == '<' || c == '>') {
            // "2>&1" and ">&2" name descriptors, not files.
            if (inWord && word.find_first_not_of("0123456789") == std::string::npos) {
                word.clear();
                inWord = false;
            }
            finish();
            if (command.compare(i + 1, 1, ">") == 0) ++i;
            target = command.compare(i + 1, 1, "&") != 0;
            if (!target) ++i;  // the descriptor after "&" is no file either
            while (!target && i + 1 < command.size() &&
                   std::isdigit(static_cast<unsigned char>(command[i + 1])))
                ++i;
        } else if (c == '|' || c == '&' || c == ';' || c == '(' || c == ')') {
            finish();
            target = false;
            words = 0;
        } else {
            word += c;
            inWord = true;
        }
    }
    finish();
    return found;
}

}  // namespace

std::vector<std::string> host_paths_outside_board(const std::string &journalText,
                                                  const std::string &boardDir) {
    std::string root = std::filesystem::absolute(boardDir).lexically_normal().string();
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::vector<std::string> offending;
    std::istringstream in(journalText);
    for (std::string line; std::getline(in, line);) {
        // "<seconds> <pid> <subject> <event>"
        const size_t first = line.find(' '),
                     second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos) continue;
        const std::string rest = line.substr(second + 1);
        if (rest.rfind("shell ", 0) == 0 ? command_outside(rest.substr(6), root)
                                         : rest.find(": outside the board") != std::string::npos)
            offending.push_back(line);
    }
    return offending;
}
