#include "support/host_safety.h"

#include <filesystem>
#include <sstream>

namespace {

struct Word {
    std::string text;
    bool redirection = false;  // the target of <, > or >>
};

// Splits a command text into simple commands of words, as the shell would
// (quotes and backslashes; | & ; && || ( ) end a command).
std::vector<std::vector<Word>> simple_commands(const std::string &command) {
    std::vector<std::vector<Word>> out(1);
    Word word;
    bool inWord = false, nextIsTarget = false;
    auto finish = [&]() {
        if (!inWord) return;
        word.redirection = nextIsTarget;
        nextIsTarget = false;
        out.back().push_back(word);
        word = Word();
        inWord = false;
    };
    for (size_t i = 0; i < command.size(); ++i) {
        char c = command[i];
        if (c == '\'' || c == '"') {
            size_t end = command.find(c, i + 1);
            if (end == std::string::npos) end = command.size();
            word.text += command.substr(i + 1, end - i - 1);
            inWord = true;
            i = end;
        } else if (c == '\\' && i + 1 < command.size()) {
            word.text += command[++i];
            inWord = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            finish();
        } else if (c == '<' || c == '>') {
            // "2>&1" and ">&2" name descriptors, not files.
            if (inWord && word.text.find_first_not_of("0123456789") == std::string::npos) {
                word = Word();
                inWord = false;
            }
            finish();
            if (i + 1 < command.size() && command[i + 1] == '>') ++i;
            if (i + 1 < command.size() && command[i + 1] == '&') {
                ++i;
                while (i + 1 < command.size() &&
                       std::isdigit(static_cast<unsigned char>(command[i + 1])))
                    ++i;
                continue;
            }
            nextIsTarget = true;
        } else if (c == '|' || c == '&' || c == ';' || c == '(' || c == ')') {
            finish();
            nextIsTarget = false;
            if (!out.back().empty()) out.emplace_back();
        } else {
            word.text += c;
            inWord = true;
        }
    }
    finish();
    return out;
}

bool outside(const std::string &path, const std::string &root) {
    if (path == "/dev/null") return false;
    std::string normal = std::filesystem::path(path).lexically_normal().string();
    return normal.compare(0, root.size() + 1, root + "/") != 0;
}

// The paths a word names: itself when absolute, what follows "=" or a
// one-letter option ("-c/etc/x").
std::vector<std::string> paths_in(const std::string &word) {
    std::vector<std::string> paths;
    if (!word.empty() && word[0] == '/') paths.push_back(word);
    size_t eq = word.find('=');
    if (eq != std::string::npos && eq + 1 < word.size() && word[eq + 1] == '/')
        paths.push_back(word.substr(eq + 1));
    if (word.size() > 2 && word[0] == '-' && word[1] != '-' && word[2] == '/')
        paths.push_back(word.substr(2));
    return paths;
}

bool command_outside(const std::string &command, const std::string &root) {
    for (const std::vector<Word> &words : simple_commands(command)) {
        std::string name = words.empty() ? "" : words[0].text;
        name = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
        // The first operand of these is a pattern or a program, not a file.
        bool patternFirst = name == "sed" || name == "grep" || name == "egrep" || name == "awk";
        bool patternSeen = false;
        for (size_t k = 0; k < words.size(); ++k) {
            const Word &w = words[k];
            if (k > 0 && patternFirst && !patternSeen && !w.redirection && w.text[0] != '-') {
                patternSeen = true;
                continue;
            }
            for (const std::string &path : paths_in(w.text))
                if (outside(path, root)) return true;
        }
    }
    return false;
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
        size_t first = line.find(' '),
               second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second == std::string::npos) continue;
        std::string rest = line.substr(second + 1);
        bool bad = rest.compare(0, 6, "shell ") == 0
                       ? command_outside(rest.substr(6), root)
                       : rest.find(": outside the board") != std::string::npos;
        if (bad) offending.push_back(line);
    }
    return offending;
}
