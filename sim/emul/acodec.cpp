// "/dev/acodec": the audio codec, its settings in its node file (emul/audio.h).
// Every request is journaled under "acodec".
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "emul/audio.h"
#include "emul/board.h"
#include "emul/devices.h"
#include "emul/state_file.h"

namespace zq::sim {
namespace {

constexpr const char *kAcodecNode = "/dev/acodec";
// The driver's requests, each with a pointer to a 32-bit value.
constexpr unsigned long kSetOutputVolume = _IOW('A', 1, int32_t);
constexpr unsigned long kSetOutputMute = _IOW('A', 3, int32_t);
constexpr unsigned long kGetOutputMute = _IOR('A', 4, int32_t);
constexpr unsigned long kSetInputVolume = _IOW('A', 5, int32_t);
constexpr int kMaxVolume = 100;

enum class Kind { SetVolume, SetSwitch, Get };

struct CodecRequest {
    unsigned long code;
    Kind kind;
    const char *setting;
    int CodecState::*field;
};

constexpr CodecRequest kRequests[] = {
    {kSetOutputVolume, Kind::SetVolume, "output volume", &CodecState::outputVolume},
    {kSetOutputMute, Kind::SetSwitch, "output mute", &CodecState::outputMute},
    {kGetOutputMute, Kind::Get, "output mute", &CodecState::outputMute},
    {kSetInputVolume, Kind::SetVolume, "input volume", &CodecState::inputVolume},
};

// The state file: the settings by name; power-on values where it says nothing.
const StateField<CodecState> kSettings[] = {
    ZQ_STATE_FIELD(CodecState, "output_volume", outputVolume),
    ZQ_STATE_FIELD(CodecState, "output_mute", outputMute),
    ZQ_STATE_FIELD(CodecState, "input_volume", inputVolume),
};

CodecState state_of(json_object *root) {
    CodecState state;
    read_fields(root, &state, kSettings);
    return state;
}

int acodec_ioctl(int, unsigned long code, void *arg) {
    const CodecRequest *request = nullptr;
    for (const CodecRequest &r : kRequests)
        if (r.code == code) request = &r;
    if (!request) {
        journal("acodec", "request 0x%08lX unknown", code);
        return fail(ENOTTY);
    }
    if (!arg) {
        journal("acodec", "%s %s refused: no argument", request->kind == Kind::Get ? "get" : "set",
                request->setting);
        return fail(EFAULT);
    }
    LockedFile file(resolve(kAcodecNode), O_RDWR);
    if (!file.is_open()) return -1;
    CodecState state = file.load(state_of);
    if (request->kind == Kind::Get) {
        int32_t value = state.*request->field;
        std::memcpy(arg, &value, sizeof value);
        journal("acodec", "get %s %d", request->setting, value);
        return 0;
    }
    auto value = record_of<int32_t>(arg);
    if (request->kind == Kind::SetVolume && (value < 0 || value > kMaxVolume)) {
        journal("acodec", "set %s %d refused: not 0..%d", request->setting, value, kMaxVolume);
        return fail(EINVAL);
    }
    // A mute is a switch: any non-zero value turns it on.
    state.*request->field = request->kind == Kind::SetSwitch ? value != 0 : value;
    if (!file.store(fields_json(state, kSettings))) return fail(EIO);
    journal("acodec", "set %s %d", request->setting, value);
    return 0;
}

}  // namespace

extern const Device kAcodecDevice = {kAcodecNode, 0, acodec_ioctl, refuse_read, refuse_write};

// ---- test-facing ----

CodecState read_codec(const std::string &dir) {
    return LockedFile(dir + kAcodecNode, O_RDONLY).load(state_of);
}

bool write_codec(const std::string &dir, const CodecState &state) {
    return LockedFile(dir + kAcodecNode, O_RDWR | O_CREAT).store(fields_json(state, kSettings));
}

}  // namespace zq::sim
