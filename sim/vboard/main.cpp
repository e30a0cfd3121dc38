// vboard: make virtual boards and look into them from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "emul/board.h"
#include "vboard/verbs.h"

namespace {

using zq::sim::Args;

struct Verb {
    const char *name;
    const char *summary;
    const char *usage;  // full help of the verb
    int (*run)(const Args &args);
};

int fail(const std::string &message) {
    std::fprintf(stderr, "vboard: %s\n", message.c_str());
    return 1;
}

int run_create(const Args &args) {
    std::string dir;
    double speed = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--speed" && i + 1 < args.size()) {
            char *end = nullptr;
            speed = std::strtod(args[++i].c_str(), &end);
            if (*end || speed < 0) return fail("--speed wants a number of 0 or more");
        } else if (dir.empty() && args[i][0] != '-') {
            dir = args[i];
        } else {
            return fail("create: unexpected '" + args[i] + "' (see vboard create --help)");
        }
    }
    if (dir.empty()) return fail("create: which directory? (see vboard create --help)");
    std::string error;
    if (!zq::sim::create_board(dir, &error)) return fail(error);
    if (speed >= 0 && !zq::sim::set_clock_speed(dir, speed))
        return fail(dir + ": cannot set the clock speed");
    std::printf("virtual board ready in %s\n", dir.c_str());
    return 0;
}

int run_journal(const Args &args) {
    if (args.size() != 1 || args[0][0] == '-')
        return fail("journal: which board? (see vboard journal --help)");
    std::string error;
    std::string board = args[0] + "/" + zq::sim::kBoardFile;
    if (std::FILE *f = std::fopen(board.c_str(), "r"))
        std::fclose(f);
    else
        return fail(args[0] + " is not a virtual board (no board.json)");
    for (const std::string &line : zq::sim::journal_lines(args[0]))
        std::printf("%s\n", line.c_str());
    return 0;
}

const Verb kVerbs[] = {
    {"create", "make a ready virtual board in a directory",
     "usage: vboard create DIR [--speed S]\n"
     "Makes DIR (or fills it, if empty of a board) with board.json, the device\n"
     "nodes and an empty journal.\n"
     "  --speed S   board clock speed: board seconds per real second (0 stops\n"
     "              the clock; it then moves only with the program's sleeps)\n",
     run_create},
    {"journal", "print the board's journal",
     "usage: vboard journal DIR\n"
     "Prints one line per device request, tool run and notable event:\n"
     "  <board seconds> <pid> <subject> <event>\n",
     run_journal},
    {"env", "print or set the boot environment in flash", zq::sim::kEnvUsage, zq::sim::run_env},
    {"id", "show or write the device identity record", zq::sim::kIdUsage, zq::sim::run_id},
    {"run", "start a program as a process of the board", zq::sim::kRunUsage, zq::sim::run_run},
    {"mmz", "list the media memory zone's buffers", zq::sim::kMmzUsage, zq::sim::run_mmz},
    {"set", "change a board.json setting by its dotted path", zq::sim::kSetUsage, zq::sim::run_set},
    {"uevent", "send kernel device events (SD card, USB network adapter, any)",
     zq::sim::kUeventUsage, zq::sim::run_uevent},
    {"vi", "show the video input channels, or a channel's picture as PNG", zq::sim::kViUsage,
     zq::sim::run_vi},
    {"vo", "show the video output's state or save its display as PNG", zq::sim::kVoUsage,
     zq::sim::run_vo},
    {"rgn", "show the regions the region driver holds", zq::sim::kRgnUsage, zq::sim::run_rgn},
    {"wifi", "add, remove or list the networks the board's radio hears", zq::sim::kWifiUsage,
     zq::sim::run_wifi},
};

void usage(std::FILE *out) {
    std::fprintf(out, "usage: vboard VERB DIR [options]\n\nverbs:\n");
    for (const Verb &verb : kVerbs) std::fprintf(out, "  %-10s %s\n", verb.name, verb.summary);
    std::fprintf(out,
                 "\nvboard VERB --help tells more about a verb.\n"
                 "Programs use a board when ZQ_VBOARD names its directory.\n");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        usage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        usage(stdout);
        return 0;
    }
    Args args(argv + 2, argv + argc);
    for (const Verb &verb : kVerbs) {
        if (name != verb.name) continue;
        for (const std::string &a : args) {
            if (a == "--") break;  // what follows belongs to a command
            if (a == "--help" || a == "-h") {
                std::fputs(verb.usage, stdout);
                return 0;
            }
        }
        return verb.run(args);
    }
    std::fprintf(stderr, "vboard: no verb '%s'\n", name.c_str());
    usage(stderr);
    return 2;
}
