// The table of board parts; each part is defined beside its emulator.
#include "board_parts.h"

#include <iterator>

namespace zq::sim {

extern const BoardPart kLogPart;
extern const BoardPart kFlashPart;
extern const BoardPart kMemPart;
extern const BoardPart kDeviceJsonPart;
extern const BoardPart kNetPart;
extern const BoardPart kSpeakerPart;
extern const BoardPart kMicPart;
extern const BoardPart kAcodecPart;
extern const BoardPart kPromptPart;
extern const BoardPart kMainAppPart;
extern const BoardPart kTempSensorPart;

namespace {
const BoardPart *const kParts[] = {
    &kLogPart, &kFlashPart,  &kMemPart,    &kDeviceJsonPart, &kNetPart,        &kSpeakerPart,
    &kMicPart, &kAcodecPart, &kPromptPart, &kMainAppPart,    &kTempSensorPart,
};
}  // namespace

const BoardPart *const *board_parts(size_t *count) {
    *count = std::size(kParts);
    return kParts;
}

}  // namespace zq::sim
