// The parts of the virtual hardware that a new board derives in code (its
// fixed files, board.json's defaults among them, are data: sim/board/files).
// Each part makes its files once on a new board (a flash image, say), and
// derives board files from board.json after every change (such as
// "/proc/mtd" from the flash size).
#pragma once

#include <string>

struct json_object;

namespace zq::sim {

struct BoardPart {
    const char *name;
    // Makes the part's files on a new board (may be null).
    bool (*create)(const std::string &dir, json_object *root, std::string *error);
    // Rewrites the board files that follow from board.json (may be null).
    bool (*sync)(const std::string &dir, json_object *root, std::string *error);
};

extern const BoardPart kFlashPart, kNetPart, kWifiPart, kSpeakerPart, kPromptPart;

// Every part, in the order they are made.
inline const BoardPart *const kBoardParts[] = {&kFlashPart, &kNetPart, &kWifiPart, &kSpeakerPart,
                                               &kPromptPart};

}  // namespace zq::sim
