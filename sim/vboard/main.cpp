// vboard: make virtual boards and look into them from the command line.
#include <cmath>
#include <cstdio>
#include <string>

#include "emul/board.h"
#include "vboard/verbs.h"

namespace {

using namespace zq::sim;

struct Verb {
    const char *name;
    const char *summary;
    const char *usage;  // full help of the verb
    int (*run)(const Args &args);
};

int run_create(const Args &args) {
    std::string dir;
    double speed = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--speed" && i + 1 < args.size()) {
            if (!parse_real(args[++i], &speed) || !std::isfinite(speed) || speed < 0)
                return fail("--speed wants a number of 0 or more");
        } else if (dir.empty() && args[i][0] != '-') {
            dir = args[i];
        } else {
            return fail("create", "unexpected '" + args[i] + "'");
        }
    }
    if (dir.empty()) return fail("create", "which directory?");
    std::string error;
    if (!create_board(dir, &error)) return fail(error);
    if (speed >= 0 && !set_clock_speed(dir, speed))
        return fail(dir + ": cannot set the clock speed");
    std::printf("virtual board ready in %s\n", dir.c_str());
    return 0;
}

int run_journal(const Args &args) {
    if (args.size() != 1 || args[0][0] == '-') return fail("journal", "which board?");
    if (!is_board(args[0])) return fail(not_a_board(args[0]));
    for (const std::string &line : journal_lines(args[0])) std::printf("%s\n", line.c_str());
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
    {"env", "print or set the boot environment in flash", kEnvUsage, run_env},
    {"id", "show or write the device identity record", kIdUsage, run_id},
    {"run", "start a program as a process of the board", kRunUsage, run_run},
    {"mmz", "list the media memory zone's buffers", kMmzUsage, run_mmz},
    {"set", "change a board.json setting by its dotted path", kSetUsage, run_set},
    {"uevent", "send kernel device events (SD card, USB network adapter, any)", kUeventUsage,
     run_uevent},
    {"vi", "show the input channels, save a channel's picture, set what it sees", kViUsage, run_vi},
    {"vo", "show the video output's state, save its display as PNG or a video", kVoUsage, run_vo},
    {"rgn", "show the regions the region driver holds", kRgnUsage, run_rgn},
    {"wifi", "add, remove or list the networks the board's radio hears", kWifiUsage, run_wifi},
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
