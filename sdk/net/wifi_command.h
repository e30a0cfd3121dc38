// Command texts of the Wi-Fi unit and the way they are run.
//
// Every board path in a command is translated by the seam (the identity on
// the board, a path inside the board directory on a virtual board) and
// written as one shell word: quoted when it holds anything but
// [A-Za-z0-9_./:=@%+,-], so that on the board the texts stay byte for byte
// the plain ones. Texts are std::string: no command is ever cut.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zq::wifi {

// word as one shell word: unchanged when plain, else in single quotes.
std::string shell_word(std::string_view word);
// The same into out (size bytes, the terminator included, cut to fit); the
// length the whole word has, so that a result of size or more was cut.
size_t put_shell_word(std::string_view word, char *out, size_t size);

// The host form of a board path, as one shell word, with leaf (a plain
// text such as "/iw") appended before quoting. Empty when the seam cannot
// translate it.
std::string board_word(std::string_view boardPath, std::string_view leaf = {});

// The host form of a board path whose last part must not be followed when
// it is a link ("rm" and "ln -s" act on the link itself): its directory is
// translated and the last part appended.
std::string board_link_word(std::string_view boardPath);

// The tool directory's program or file name as one shell word ("<T>/iw").
std::string tool_word(std::string_view leaf);

// The pieces joined into one command; empty when a piece is (a board path
// the seam could not translate), so that no half command ever runs.
std::string compose(std::initializer_list<std::string> pieces);

// Runs a command through the system unit's shell runner: 0 when it exited
// with status 0. An empty text (a path the seam refused) runs nothing.
int run_command(const std::string &command);

// Opens a pipeline for reading through the seam; null when it cannot start.
FILE *open_pipeline(const std::string &command);
int close_pipeline(FILE *pipe);

// Reads one whole line of any length (one trailing newline removed); false
// at the end.
bool read_line(FILE *stream, std::string *line);

}  // namespace zq::wifi
