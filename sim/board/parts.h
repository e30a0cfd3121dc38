// The parts of the virtual hardware. Each part adds its section to a new
// board.json, makes its files once on a new board (a flash image, say), and
// derives board files from board.json after every change (such as
// "/proc/mtd" from the flash size).
#pragma once

#include <string>

struct json_object;

namespace zq::sim {

struct BoardPart {
    const char *name;
    // Adds the part's defaults to a new board.json (may be null).
    void (*defaults)(json_object *root);
    // Makes the part's files on a new board (may be null).
    bool (*create)(const std::string &dir, json_object *root, std::string *error);
    // Rewrites the board files that follow from board.json (may be null).
    bool (*sync)(const std::string &dir, json_object *root, std::string *error);
};

// Makes the empty file of a device node on a new board.
bool make_node(const std::string &dir, const char *boardPath, std::string *error);

// Every part, in the order they are made.
const BoardPart *const *board_parts(size_t *count);

}  // namespace zq::sim
