// "/dev/acodec": the audio codec. It keeps the output volume, the output
// mute and the input volume in its node file "dev/acodec" (a small JSON
// object), so that every process on the board, and a test, sees the same
// settings. Every request is journaled under "acodec".
#include <fcntl.h>
#include <json-c/json.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>

#include "emul/audio.h"
#include "emul/board.h"
#include "emul/devices.h"
#include "emul/json_util.h"

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

const CodecRequest *find_request(unsigned long code) {
    for (const CodecRequest &r : kRequests)
        if (r.code == code) return &r;
    return nullptr;
}

struct Setting {
    const char *key;
    int CodecState::*field;
};

constexpr Setting kSettings[] = {
    {"output_volume", &CodecState::outputVolume},
    {"output_mute", &CodecState::outputMute},
    {"input_volume", &CodecState::inputVolume},
};

// The settings in the node file open at fd; power-on values where it says nothing.
CodecState load_state(int fd) {
    CodecState state;
    std::string text;
    char chunk[256];
    for (off_t at = 0;;) {
        ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
        if (n <= 0) break;
        text.append(chunk, static_cast<size_t>(n));
        at += n;
    }
    json_object *root = json_tokener_parse(text.c_str());
    for (const Setting &s : kSettings)
        state.*s.field = static_cast<int>(json_int64(root, s.key, state.*s.field));
    json_object_put(root);
    return state;
}

bool store_state(int fd, const CodecState &state) {
    json_object *root = json_object_new_object();
    for (const Setting &s : kSettings)
        json_object_object_add(root, s.key, json_object_new_int(state.*s.field));
    std::string text = json_object_to_json_string_ext(root, JSON_C_TO_STRING_SPACED);
    json_object_put(root);
    text += '\n';
    return ::ftruncate(fd, 0) == 0 &&
           ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

// The node file, open and locked for one request or one test-facing access.
struct CodecFile {
    int fd;
    CodecFile(const std::string &path, int create)
        : fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | create, 0644)) {
        if (fd >= 0) ::flock(fd, LOCK_EX);
    }
    ~CodecFile() {
        if (fd >= 0) ::close(fd);
    }
};

int fail(int error) {
    errno = error;
    return -1;
}

int acodec_ioctl(int, unsigned long code, void *arg) {
    const CodecRequest *request = find_request(code);
    if (!request) {
        journal("acodec", "request 0x%08lX unknown", code);
        return fail(ENOTTY);
    }
    if (!arg) {
        journal("acodec", "%s %s refused: no argument", request->kind == Kind::Get ? "get" : "set",
                request->setting);
        return fail(EFAULT);
    }
    CodecFile file(resolve(kAcodecNode), 0);
    if (file.fd < 0) return -1;
    CodecState state = load_state(file.fd);
    int32_t value;
    if (request->kind == Kind::Get) {
        value = state.*request->field;
        std::memcpy(arg, &value, sizeof value);
        journal("acodec", "get %s %d", request->setting, value);
        return 0;
    }
    std::memcpy(&value, arg, sizeof value);
    if (request->kind == Kind::SetVolume && (value < 0 || value > kMaxVolume)) {
        journal("acodec", "set %s %d refused: not 0..%d", request->setting, value, kMaxVolume);
        return fail(EINVAL);
    }
    // A mute is a switch: any non-zero value turns it on.
    state.*request->field = request->kind == Kind::SetSwitch ? value != 0 : value;
    if (!store_state(file.fd, state)) return fail(EIO);
    journal("acodec", "set %s %d", request->setting, value);
    return 0;
}

// The settings are reached by requests only.
ssize_t acodec_read(int, void *, size_t) {
    return fail(EINVAL);
}

ssize_t acodec_write(int, const void *, size_t) {
    return fail(EINVAL);
}

}  // namespace

extern const Device kAcodecDevice;
const Device kAcodecDevice = {kAcodecNode,  0,       acodec_ioctl, acodec_read,
                              acodec_write, nullptr, nullptr};

// ---- test-facing ----

CodecState read_codec(const std::string &dir) {
    CodecFile file(dir + kAcodecNode, 0);
    return file.fd >= 0 ? load_state(file.fd) : CodecState{};
}

bool write_codec(const std::string &dir, const CodecState &state) {
    CodecFile file(dir + kAcodecNode, O_CREAT);
    return file.fd >= 0 && store_state(file.fd, state);
}

}  // namespace zq::sim
