// vboard env and vboard id: the boot environment and the identity record of
// a board's flash, or of a raw flash dump (--image), read and written with
// the board's own code for the flash formats, never the SDK's.
#include "emul/flash.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "board/flash_format.h"
#include "emul/board.h"
#include "vboard/verbs.h"

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

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

// The flash a verb works on: a board's mtd0, or a raw dump of one.
struct Target {
    std::string dir;    // a board, or
    std::string image;  // a dump file
    uint32_t size = 0;  // mtd0's size
    std::vector<uint8_t> flash;
    bool changed = false;
};

// Takes DIR, or --image FILE --mtd0-size N, off the front of args and reads
// that flash; what is wrong, or empty.
std::string open_target(Args &args, Target *t) {
    long long size = 0;
    while (args.size() >= 2 && (args[0] == "--image" || args[0] == "--mtd0-size")) {
        // A first partition holds a boot loader and its data: whole 64 KiB
        // blocks, 256 MiB at the most.
        if (args[0] == "--image")
            t->image = args[1];
        else if (!parse_number(args[1], 0x10000, 0x10000000, &size, 0) || size % 0x10000)
            return "--mtd0-size wants a byte count in whole 64 KiB blocks, 64 KiB to 256 MiB";
        args.erase(args.begin(), args.begin() + 2);
    }
    if (t->image.empty()) {
        if (args.empty() || args[0][0] == '-') return "which board?";
        t->dir = args[0];
        args.erase(args.begin());
        if (!is_board(t->dir)) return not_a_board(t->dir);
        t->size = board_flash_size(t->dir);
        t->flash = read_flash(t->dir, 0, t->size);  // short when the image is
        return {};
    }
    if (size == 0) return "--image needs --mtd0-size";
    t->size = static_cast<uint32_t>(size);
    t->flash.resize(t->size + 1);
    std::ifstream in(t->image, std::ios::binary);
    in.read(reinterpret_cast<char *>(t->flash.data()), t->size + 1);
    if (!in.is_open() || in.bad()) return t->image + ": cannot be read";
    if (in.gcount() > size) return t->image + ": larger than --mtd0-size";
    t->flash.resize(static_cast<size_t>(in.gcount()));
    t->flash.resize(t->size, 0xFF);  // a dump cut short: the rest is erased
    return {};
}

// Stores the changed flash where it came from.
bool close_target(const Target &t) {
    if (!t.dir.empty()) return poke_flash(t.dir, 0, t.flash);
    std::ofstream out(t.image, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(t.flash.data()),
              static_cast<std::streamsize>(t.flash.size()));
    return static_cast<bool>(out);
}

// Every variable, or only name's entry.
int print_env(const Target &t, const std::string *name) {
    const EnvImage env = parse_env(t.flash, t.size);
    if (!env.whole)
        return fail("the flash image ends before the boot environment (mtd0 is " +
                    std::to_string(t.size) + " bytes)");
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

// The boot loader's limits: names of 1 to 23 characters without "=", values
// of up to 31.
int set_variable(Target &t, const std::string &name, const std::string &value) {
    if (name.empty() || name.size() > 23 || name.find('=') != std::string::npos ||
        value.size() > 31)
        return fail("cannot set " + name + ": names of 1 to 23 characters without '=', values " +
                    "of up to 31");
    if (!set_env(t.flash, t.size, name, value))
        return fail("cannot set " + name + ": no room, or no environment in this flash");
    t.changed = true;
    std::printf("%s=%s saved\n", name.c_str(), value.c_str());
    return 0;
}

int env_verb(Target &t, const Args &args) {
    if (args.empty()) return fail("env", "print or set?");
    if (args[0] == "print" && args.size() <= 2)
        return print_env(t, args.size() == 2 ? &args[1] : nullptr);
    if (args[0] == "set" && (args.size() == 2 || args.size() == 3))
        return set_variable(t, args[1], args.size() == 3 ? args[2] : "");
    return fail("env", "unexpected arguments");
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

bool set_text(std::string &field, size_t size, const std::string &text) {
    field = text;
    return text.size() < size;
}

void show_record(const std::vector<uint8_t> &payload, uint32_t version) {
    std::printf("version: 0x%x\nlength: %zu\n", version, payload.size());
    if (payload.size() != kIdentitySize) {
        for (size_t i = 0; i < payload.size(); ++i)
            std::printf("%02x%s", payload[i], (i + 1) % 16 ? " " : "\n");
        if (payload.size() % 16) std::printf("\n");
        return;
    }
    const Identity id = parse_identity(payload);
    std::printf("APP_ID: [%s]\nUUID: [%s]\nKEY: [%s]\nMAC: %02x:%02x:%02x:%02x:%02x:%02x\n",
                id.appId.c_str(), id.uuid.c_str(), id.key.c_str(), id.mac[0], id.mac[1], id.mac[2],
                id.mac[3], id.mac[4], id.mac[5]);
}

int id_verb(Target &t, const Args &args) {
    if (args.empty()) return fail("id", "show or write?");
    std::vector<uint8_t> bytes(16 + kRecordMaxPayload, 0xFF);
    if (t.flash.size() > kRecordFlashOffset)
        std::copy(
            t.flash.begin() + kRecordFlashOffset,
            t.flash.begin() + std::min<size_t>(t.flash.size(), kRecordFlashOffset + bytes.size()),
            bytes.begin());
    const Record stored = parse_record(bytes);
    if (args[0] == "show" && args.size() == 1) {
        if (!stored.valid())
            return fail("no valid identity record (magic " + hex32(stored.magic) + ", CRC stored " +
                        hex32(stored.storedCrc) + ", computed " + hex32(stored.computedCrc) +
                        ", length " + std::to_string(stored.length) + ")");
        show_record(stored.payload, stored.version);
        return 0;
    }
    if (args[0] != "write") return fail("id", "unexpected '" + args[0] + "'");
    Identity id = stored.valid() ? parse_identity(stored.payload) : Identity{};
    long long version = 0x301;
    for (size_t i = 1; i < args.size(); i += 2) {
        if (i + 1 >= args.size()) return fail(args[i] + " wants a value");
        const std::string &key = args[i], &value = args[i + 1];
        bool ok = key == "--app-id"    ? set_text(id.appId, 32, value)
                  : key == "--uuid"    ? set_text(id.uuid, 32, value)
                  : key == "--key"     ? set_text(id.key, 64, value)
                  : key == "--mac"     ? parse_mac(value, id.mac)
                  : key == "--version" ? parse_number(value, 0, 0xFFFFFFFF, &version, 0)
                                       : false;
        if (!ok) return fail("bad " + key + " '" + value + "' (see vboard id --help)");
    }
    const std::vector<uint8_t> payload = make_identity(id);
    if (!set_record(t.flash, t.size, payload, static_cast<uint32_t>(version)))
        return fail("the identity record cannot be written (the flash ends before it)");
    t.changed = true;
    show_record(payload, static_cast<uint32_t>(version));
    return 0;
}

int run_on_target(Args args, int (*verb)(Target &, const Args &)) {
    Target target;
    std::string error = open_target(args, &target);
    if (!error.empty()) return fail(error);
    int rc = verb(target, args);
    if (target.changed && !close_target(target))
        return fail((target.image.empty() ? target.dir : target.image) + ": cannot be written");
    return rc;
}

}  // namespace

int run_env(const Args &args) {
    return run_on_target(args, env_verb);
}

int run_id(const Args &args) {
    return run_on_target(args, id_verb);
}

}  // namespace zq::sim
