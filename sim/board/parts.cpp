// The table of board parts: what a new board derives in code. Its fixed
// files, board.json's defaults among them, are data (sim/board/files).
#include "board/parts.h"

#include <fcntl.h>
#include <unistd.h>

#include <iterator>

namespace zq::sim {

extern const BoardPart kFlashPart;
extern const BoardPart kNetPart;
extern const BoardPart kWifiPart;
extern const BoardPart kSpeakerPart;
extern const BoardPart kAcodecPart;
extern const BoardPart kPromptPart;
extern const BoardPart kMmzPart;
extern const BoardPart kVoPart;
extern const BoardPart kViPart;
extern const BoardPart kRgnPart;

namespace {
const BoardPart *const kParts[] = {
    &kFlashPart, &kNetPart, &kWifiPart, &kSpeakerPart, &kAcodecPart,
    &kPromptPart, &kMmzPart,  &kVoPart,  &kViPart,      &kRgnPart,
};
}  // namespace

bool make_node(const std::string &dir, const char *boardPath, std::string *error) {
    int node = ::open((dir + boardPath).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (node < 0) {
        if (error) *error = dir + boardPath + ": cannot be made";
        return false;
    }
    ::close(node);
    return true;
}

const BoardPart *const *board_parts(size_t *count) {
    *count = std::size(kParts);
    return kParts;
}

}  // namespace zq::sim
