// The factory provisioning run: write the device identity record from a
// provisioning file and the MAC of eth2, leave a success marker, announce
// the outcome by voice; on a provisioned board start the main application.
#include "provision.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "hw_info.h"
#include "port/port.h"
#include "prompt_player.h"
#include "zq_config.h"
#include "zq_flash.h"
#include "zq_net.h"
#include "zq_reg.h"

namespace port = zq::port;

namespace {

constexpr size_t kPathSize = 50;  // provisioning path, directory, marker path
constexpr size_t kPromptPathSize = 100;
constexpr size_t kLineSize = 128;
constexpr size_t kValueSize = 64;
constexpr const char *kMainApp = "/usr/bin/Morva";

// One key of the provisioning file: its line pattern, its value buffer and
// the payload field it fills. The buffer is kept from line to line, as the
// tool has always done: a character left by a longer earlier value of the
// key can stop the trim of a later, shorter one.
struct KeyField {
    const char *pattern;  // "KEY=%63s": the value ends at white space, 63 characters at most
    char value[kValueSize];
    char *field;
    size_t fieldSize;
};

bool exists(const char *path) {
    return port::access(path, F_OK) == 0;
}

// Copies at most size - 1 characters of from into the NUL-padded field.
void copy_text(char *field, size_t size, const char *from) {
    std::memset(field, 0, size);
    std::memcpy(field, from, strnlen(from, size - 1));
}

// The directory part of path, as POSIX dirname gives it.
std::string directory_of(const char *path) {
    std::string p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    p.erase(slash);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p.empty() ? "/" : p;
}

// Characters that need no quoting in a shell word.
bool plain_word(const std::string &text) {
    for (unsigned char c : text)
        if (!std::isalnum(c) && !std::strchr("/._-+,:@%", c)) return false;
    return !text.empty();
}

// The path as one shell word: as it is when that is safe, else in single
// quotes, so that spaces, quotes, "$" or ";" in a directory stay text.
std::string shell_word(const std::string &text) {
    if (plain_word(text)) return text;
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string host_path_of(const char *boardPath) {
    char host[4096];
    return port::host_path(boardPath, host, sizeof host) == 0 ? host : boardPath;
}

int run_main_app_if_wanted() {
    if (read_auto_start_flag() == 1) {
        std::printf("auto start to app \n");
        std::fflush(stdout);
        port::system(shell_word(host_path_of(kMainApp)).c_str());
    } else {
        std::printf("do not auto to start app\n");
    }
    return 0;
}

// Reads what fgets would (at most size - 1 bytes, up to and including a
// newline) and returns how many bytes that was, so that a NUL byte in the
// file does not hide where its line ends.
size_t read_piece(FILE *file, char *piece, size_t size) {
    size_t n = 0;
    for (int c; n + 1 < size && (c = std::getc(file)) != EOF;) {
        piece[n++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    piece[n] = '\0';
    return n;
}

// Fills the six MAC bytes from eth2's address text; false without one.
bool read_mac(HwInfo &info) {
    EthAttr attr;
    std::memset(&attr, 0, sizeof attr);
    ZQSDK_WifiGetEthAttr("eth2", &attr);
    char mac[18];
    std::memcpy(mac, attr.szMac, sizeof mac);
    mac[sizeof mac - 1] = '\0';
    if (mac[0] == '\0') return false;
    u8 *b = info.au8Mac;
    std::sscanf(mac, "%02hhx:%02hhx:%02hhx:%02hhx:%02hhx:%02hhx", &b[0], &b[1], &b[2], &b[3], &b[4],
                &b[5]);
    std::printf("mac %s hwmac %02x%02x%02x%02x%02x%02x\n", mac, b[0], b[1], b[2], b[3], b[4], b[5]);
    return true;
}

// Writes the record with the stored UUID and KEY and reads it back into stored.
bool write_record(HwInfo &payload, HwInfo &stored) {
    u32 version = 0;
    if (ZQSDK_ReadSeriesNum(&stored, sizeof stored, &version) != 0) {
        std::printf("Error: Get hwinfo failed\n");
        return false;
    }
    copy_text(payload.szUuid, sizeof payload.szUuid, stored.szUuid);
    copy_text(payload.szKey, sizeof payload.szKey, stored.szKey);
    if (ZQSDK_WriteSeriesNum(&payload, sizeof payload, HWINFO_VERSION) != 0) {
        std::printf("Error: ZQSDK_WriteSeriesNum failed\n");
        return false;
    }
    std::memset(&stored, 0, sizeof stored);
    version = 0;
    if (ZQSDK_ReadSeriesNum(&stored, sizeof stored, &version) != 0) {
        std::printf("Error: Get hwinfo failed\n");
        return false;
    }
    const u8 *m = stored.au8Mac;
    std::printf("version:%x\nAPP_ID: [%.31s]\nUUID: [%.31s]\nKEY: [%.63s]\n", version,
                stored.szAppId, stored.szUuid, stored.szKey);
    std::printf("enc_mac:%02x%02x%02x%02x%02x%02x\n", m[0], m[1], m[2], m[3], m[4], m[5]);
    return true;
}

void write_marker(const char *markerPath) {
    std::string command =
        "echo 'auto write hw info sucess'  >" + shell_word(host_path_of(markerPath));
    std::fflush(stdout);
    port::system(command.c_str());
}

[[noreturn]] void idle_for_ever() {
    std::fflush(stdout);
    for (;;) port::sleep_ms(1000);
}

}  // namespace

int read_key_lines(FILE *file, HwInfo &info, unsigned *keysSeen) {
    KeyField keys[] = {
        {"APP_ID=%63s", {}, info.szAppId, sizeof info.szAppId},
        {"UUID=%63s", {}, info.szUuid, sizeof info.szUuid},
        {"KEY=%63s", {}, info.szKey, sizeof info.szKey},
    };
    int accepted = 0;
    unsigned seen = 0;
    char line[kLineSize];
    bool lineStart = true;
    for (size_t length; (length = read_piece(file, line, sizeof line)) > 0;) {
        // A line longer than 127 characters arrives in pieces; only the first
        // piece is the start of a line that can name a key.
        const bool startsLine = lineStart;
        lineStart = line[length - 1] == '\n';
        if (lineStart) line[length - 1] = '\0';
        if (!startsLine) continue;
        for (size_t k = 0; k < std::size(keys); ++k) {
            KeyField &key = keys[k];
            // Only a line that begins "KEY=" and holds a value counts; any
            // other leaves the value buffer as it was and counts nothing.
            if (std::sscanf(line, key.pattern, key.value) != 1) continue;
            key.value[kValueSize - 1] = '\0';
            trim_trailing_non_alnum(key.value, kValueSize);
            if (key.value[0] == '\0') continue;
            copy_text(key.field, key.fieldSize, key.value);
            ++accepted;
            seen |= 1u << k;
        }
    }
    if (keysSeen) *keysSeen = seen;
    return accepted;
}

void trim_trailing_non_alnum(char *buffer, size_t size) {
    for (size_t i = size; i-- > 0;) {
        unsigned char c = static_cast<unsigned char>(buffer[i]);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return;
        buffer[i] = '\0';
    }
}

int read_auto_start_flag() {
    // Five bytes as stored, and a terminator of our own after them.
    char value[6] = {};
    ZQSDK_EnvReadKeyValue("zqauto", value, 5);
    if (value[0] == '\0') {
        std::printf("Get zqauto Fialed ,zqauto = 1\n");
        return 1;
    }
    const char *p = value;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    int number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) number = number * 10 + (*p - '0');
    return negative ? -number : number;
}

int enable_speaker_amplifier() {
    int gpio = 0;
    u8 level = 1;
    int rc = json_store_get_value("/usr/bin/device.json", "DeviceGpio", "AoEnable", &gpio, 1);
    if (rc < 0) {
        std::printf("Get AudioEn [%d] failed\n", gpio);
        return rc;
    }
    if (gpio != 0) ZQ_GPIO_Write(gpio, level);
    return rc;
}

int provision_main(int argc, char **argv) {
    if (argc < 2 || !argv[1] || std::strcmp(argv[1], " ") == 0) return -1;
    // Paths of 50 characters or more do not fit the tool's buffers.
    if (std::strlen(argv[1]) >= kPathSize) {
        std::printf("Provisioning path too long (%zu characters, at most %zu): %s\n",
                    std::strlen(argv[1]), kPathSize - 1, argv[1]);
        return -1;
    }
    const char *path = argv[1];
    const std::string dir = directory_of(path);
    if (dir.empty()) return -1;
    // A cut marker path would name another file (the provisioning file
    // itself, say) and turn the next run into an already-provisioned one.
    const std::string marker = dir + "/sucess";
    if (marker.size() >= kPathSize) {
        std::printf("Marker path too long (%zu characters, at most %zu): %s\n", marker.size(),
                    kPathSize - 1, marker.c_str());
        return -1;
    }

    enable_speaker_amplifier();

    char markerPath[kPathSize], okPrompt[kPromptPathSize], failPrompt[kPromptPathSize];
    std::snprintf(markerPath, sizeof markerPath, "%s", marker.c_str());
    std::snprintf(okPrompt, sizeof okPrompt, "%s/shaoxiechenggong.pcm", dir.c_str());
    std::snprintf(failPrompt, sizeof failPrompt, "%s/shaoxieshibai.pcm", dir.c_str());

    if (!exists(path)) {
        std::printf("Not find config file %s\n", path);
        return -1;
    }
    if (exists(markerPath)) return run_main_app_if_wanted();

    FILE *file = port::fopen(path, "r");
    if (!file) {
        std::printf("open file %s failed, %s\n", path, std::strerror(errno));
        return -1;
    }
    std::printf("open file sucess %s\n", path);
    HwInfo payload;
    std::memset(&payload, 0, sizeof payload);
    unsigned keysSeen = 0;
    int accepted = read_key_lines(file, payload, &keysSeen);
    port::fclose(file);

    if (!read_mac(payload)) return -1;
    HwInfo stored;
    if (!write_record(payload, stored)) return -1;
    write_marker(markerPath);

    std::fflush(stdout);
    // Three accepted lines are a success only when they are the three keys.
    constexpr unsigned kAllKeys = 7;
    play_prompt(exists(okPrompt) && accepted == 3 && keysSeen == kAllKeys ? okPrompt : failPrompt);
    idle_for_ever();
}
