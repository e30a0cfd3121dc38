// A file that a fresh board gets as it is, built into the board's code from
// the tree by cmake/embed_files.cmake.
#pragma once

namespace zq::sim {

struct EmbeddedFile {
    const char *name;  // null ends a table
    unsigned mode;
    const char *text;
};

// sdk/net/wifi_tool_dir, as the board build installs it.
extern const EmbeddedFile kWifiToolDirFiles[];
// sim/board/files: the board's fixed files, its default board.json among them.
extern const EmbeddedFile kBoardFiles[];
// sim/board/templates: the board's scripts that code fills in.
extern const EmbeddedFile kBoardTemplates[];

}  // namespace zq::sim
