// The table of board parts: what a new board derives in code. Its fixed
// files, board.json's defaults among them, are data (sim/board/files).
#include "board/parts.h"

#include <iterator>

namespace zq::sim {

extern const BoardPart kFlashPart;
extern const BoardPart kNetPart;
extern const BoardPart kWifiPart;
extern const BoardPart kSpeakerPart;
extern const BoardPart kPromptPart;

namespace {
const BoardPart *const kParts[] = {&kFlashPart, &kNetPart, &kWifiPart, &kSpeakerPart, &kPromptPart};
}  // namespace

const BoardPart *const *board_parts(size_t *count) {
    *count = std::size(kParts);
    return kParts;
}

}  // namespace zq::sim
