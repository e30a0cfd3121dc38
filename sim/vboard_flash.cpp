// vboard env and vboard id: the boot environment and the identity record of
// a board's flash. They are shown by the board's own reading of the flash
// formats, so that a bad CRC shows as bad; changes go through the SDK's own
// calls, as an application on the board makes them. With --image they work
// on a raw flash dump instead of a board.
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "board.h"
#include "flash.h"
#include "flash_format.h"
#include "hw_info.h"
#include "vboard_verbs.h"
#include "zq_flash.h"
#include "zq_log.h"

namespace zq::sim {

const char *const kEnvUsage =
    "usage: vboard env DIR print [NAME]\n"
    "       vboard env DIR set NAME [VALUE]\n"
    "       vboard env --image FILE --mtd0-size N print|set ...\n"
    "Prints the boot environment (or one variable), or sets a variable and\n"
    "saves the environment to flash. Without VALUE the variable is set empty.\n"
    "An environment whose CRC does not match is reported as bad (exit 1).\n"
    "--image works on a raw dump of mtd0 of N bytes (0x30000, say); set\n"
    "writes the changed dump back to FILE.\n";

const char *const kIdUsage =
    "usage: vboard id DIR show\n"
    "       vboard id DIR write [--app-id TEXT] [--uuid TEXT] [--key TEXT]\n"
    "                           [--mac XX:XX:XX:XX:XX:XX] [--version N]\n"
    "       vboard id --image FILE --mtd0-size N show|write ...\n"
    "Shows the device identity record, or writes a new one. Fields not given\n"
    "are kept from the stored record when it is valid; the version defaults\n"
    "to 0x301. --image works on a raw dump of mtd0 of N bytes.\n";

namespace {

int fail(const std::string &message) {
    std::fprintf(stderr, "vboard: %s\n", message.c_str());
    return 1;
}

bool parse_number(const std::string &text, unsigned long long *value) {
    char *end = nullptr;
    errno = 0;
    *value = std::strtoull(text.c_str(), &end, 0);
    return !text.empty() && *end == '\0' && errno == 0;
}

// The board a verb works on: a board directory, or a scratch board made
// around a flash dump (and the dump written back when asked).
struct Target {
    std::string dir;
    std::string image;  // non-empty with --image
    std::string scratch;
};

// Takes DIR or --image FILE --mtd0-size N off the front of args.
std::optional<Target> open_target(Args &args, std::string *error) {
    Target t;
    unsigned long long size = 0;
    bool sized = false;
    while (!args.empty() && (args[0] == "--image" || args[0] == "--mtd0-size")) {
        if (args.size() < 2) break;
        if (args[0] == "--image") t.image = args[1];
        // A first partition holds a boot loader and its data: whole 64 KiB
        // blocks, 256 MiB at the most.
        if (args[0] == "--mtd0-size" &&
            !(sized = parse_number(args[1], &size) && size >= 0x10000 && size <= 0x10000000 &&
                      size % 0x10000 == 0)) {
            *error = "--mtd0-size wants a byte count in whole 64 KiB blocks, 64 KiB to 256 MiB";
            return std::nullopt;
        }
        args.erase(args.begin(), args.begin() + 2);
    }
    if (t.image.empty()) {
        if (args.empty() || args[0][0] == '-') {
            *error = "which board?";
            return std::nullopt;
        }
        t.dir = args[0];
        args.erase(args.begin());
        if (!std::filesystem::exists(t.dir + "/" + kBoardFile)) {
            *error = t.dir + " is not a virtual board (no board.json)";
            return std::nullopt;
        }
        return t;
    }
    if (!sized) {
        *error = "--image needs --mtd0-size";
        return std::nullopt;
    }
    std::ifstream in(t.image, std::ios::binary);
    std::vector<uint8_t> dump((std::istreambuf_iterator<char>(in)), {});
    if (!in.good() && !in.eof()) {
        *error = t.image + ": cannot be read";
        return std::nullopt;
    }
    if (dump.size() > size) {
        *error = t.image + ": larger than --mtd0-size";
        return std::nullopt;
    }
    char pattern[] = "/tmp/vboard-image.XXXXXX";
    if (!mkdtemp(pattern)) {
        *error = "cannot make a scratch board";
        return std::nullopt;
    }
    t.scratch = pattern;
    t.dir = t.scratch + "/board";
    if (!create_board(t.dir, error) || !set_flash_size(t.dir, static_cast<uint32_t>(size)))
        return std::nullopt;
    dump.resize(static_cast<size_t>(size), 0xFF);
    if (!poke_flash(t.dir, 0, dump)) {
        *error = "cannot load the image";
        return std::nullopt;
    }
    return t;
}

// Writes the dump back after a change, and removes the scratch board.
bool close_target(const Target &t, bool changed) {
    bool ok = true;
    if (!t.image.empty() && changed) {
        std::vector<uint8_t> flash = read_flash(t.dir, 0, 0xFFFFFFFFu);
        std::ofstream out(t.image, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(flash.data()),
                  static_cast<std::streamsize>(flash.size()));
        ok = static_cast<bool>(out);
    }
    if (!t.scratch.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(t.scratch, ec);
    }
    return ok;
}

// From here on the SDK in this process works on the target board; only its
// warnings and errors are shown.
void use_board(const Target &t) {
    setenv("ZQ_VBOARD", t.dir.c_str(), 1);
    ZQSDK_SetLogLevel(ZQ_LOG_WARN);
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

// Every variable, or only name's entry.
int print_env(const Target &t, const std::string *name) {
    const uint32_t size = board_flash_size(t.dir);
    const EnvImage env = parse_env(read_flash(t.dir, 0, size), size);
    if (!env.whole)
        return fail("the flash image ends before the boot environment (mtd0 is " +
                    std::to_string(size) + " bytes)");
    if (!env.valid())
        return fail("bad CRC in the boot environment (stored " + hex32(env.storedCrc) +
                    ", computed " + hex32(env.computedCrc) +
                    "): the boot loader and the SDK read no variables from it");
    for (const std::string &entry : env.entries) {
        if (name && entry.compare(0, name->size() + 1, *name + "=") != 0) continue;
        std::printf("%s\n", entry.c_str());
        if (name) return 0;
    }
    return name ? fail(*name + " is not set") : 0;
}

int env_verb(const Target &t, const Args &args, bool *changed) {
    if (args.empty()) return fail("env: print or set? (see vboard env --help)");
    if (args[0] == "print" && args.size() <= 2)
        return print_env(t, args.size() == 2 ? &args[1] : nullptr);
    if (args[0] == "set" && (args.size() == 2 || args.size() == 3)) {
        use_board(t);
        const char *v = args.size() == 3 ? args[2].c_str() : nullptr;
        if (ZQSDK_EnvWriteKeyValue(args[1].c_str(), v) != 0) return fail("cannot set " + args[1]);
        *changed = true;
        std::printf("%s=%s saved\n", args[1].c_str(), v ? v : "");
        return 0;
    }
    return fail("env: unexpected arguments (see vboard env --help)");
}

bool parse_mac(const std::string &text, uint8_t mac[6]) {
    unsigned b[6];
    char tail;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1], &b[2], &b[3], &b[4],
                    &b[5], &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i]);
    return true;
}

bool set_text(char *field, size_t size, const std::string &text) {
    if (text.size() >= size) return false;
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size());
    return true;
}

void show_record(const uint8_t *payload, uint32_t len, uint32_t version) {
    std::printf("version: 0x%x\nlength: %u\n", version, len);
    if (len != sizeof(HwInfo)) {
        for (uint32_t i = 0; i < len; ++i)
            std::printf("%02x%s", payload[i], (i + 1) % 16 ? " " : "\n");
        if (len % 16) std::printf("\n");
        return;
    }
    HwInfo info;
    std::memcpy(&info, payload, sizeof info);
    std::printf(
        "APP_ID: [%.31s]\nUUID: [%.31s]\nKEY: [%.63s]\nMAC: %02x:%02x:%02x:%02x:%02x:%02x\n",
        info.szAppId, info.szUuid, info.szKey, info.au8Mac[0], info.au8Mac[1], info.au8Mac[2],
        info.au8Mac[3], info.au8Mac[4], info.au8Mac[5]);
}

Record stored_record(const Target &t) {
    return parse_record(read_flash(t.dir, kRecordFlashOffset, 16 + kRecordMaxPayload));
}

int id_verb(const Target &t, Args args, bool *changed) {
    if (args.empty()) return fail("id: show or write? (see vboard id --help)");
    const Record stored = stored_record(t);
    if (args[0] == "show" && args.size() == 1) {
        if (!stored.valid())
            return fail("no valid identity record (magic " + hex32(stored.magic) + ", CRC stored " +
                        hex32(stored.storedCrc) + ", computed " + hex32(stored.computedCrc) +
                        ", length " + std::to_string(stored.length) + ")");
        show_record(stored.payload.data(), stored.length, stored.version);
        return 0;
    }
    if (args[0] != "write") return fail("id: unexpected '" + args[0] + "' (see vboard id --help)");
    HwInfo info{};
    if (stored.valid() && stored.length >= sizeof info)
        std::memcpy(&info, stored.payload.data(), sizeof info);
    unsigned long long newVersion = HWINFO_VERSION;
    for (size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return fail(args[i] + " wants a value");
        const std::string &key = args[i], &value = args[i + 1];
        bool ok = key == "--app-id" ? set_text(info.szAppId, sizeof info.szAppId, value)
                  : key == "--uuid" ? set_text(info.szUuid, sizeof info.szUuid, value)
                  : key == "--key"  ? set_text(info.szKey, sizeof info.szKey, value)
                  : key == "--mac"  ? parse_mac(value, info.au8Mac)
                  : key == "--version"
                      ? parse_number(value, &newVersion) && newVersion <= 0xFFFFFFFFull
                      : false;
        if (!ok) return fail("bad " + key + " '" + value + "' (see vboard id --help)");
    }
    use_board(t);
    if (ZQSDK_WriteSeriesNum(&info, sizeof info, static_cast<uint32_t>(newVersion)) != 0)
        return fail("the identity record cannot be written");
    *changed = true;
    show_record(reinterpret_cast<const uint8_t *>(&info), sizeof info,
                static_cast<uint32_t>(newVersion));
    return 0;
}

int run_on_target(Args args, int (*verb)(const Target &, Args, bool *)) {
    std::string error;
    std::optional<Target> target = open_target(args, &error);
    if (!target) return fail(error);
    bool changed = false;
    int rc = verb(*target, args, &changed);
    if (!close_target(*target, changed)) return fail(target->image + ": cannot be written back");
    return rc;
}

}  // namespace

int run_env(const Args &args) {
    return run_on_target(
        args, [](const Target &t, Args a, bool *changed) { return env_verb(t, a, changed); });
}

int run_id(const Args &args) {
    return run_on_target(args, id_verb);
}

}  // namespace zq::sim
