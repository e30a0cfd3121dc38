// The boot environment's save on the kernel board's real SPI NOR chip
// (emulated, so only ratios mean anything): the SDK's save of one variable
// against Debian's fw_setenv of the same variable, in the same guest run,
// and the identity record's write of its 64 KiB block for scale. Run by
// make bench-kernel.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zq_flash.h"

namespace {

double seconds_of(const std::chrono::steady_clock::time_point &start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The run's time of command, or a negative value when it failed.
double timed_shell(const std::string &command) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double took = seconds_of(start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took : -1;
}

}  // namespace

int main() {
    // A fresh chip: fw_setenv refuses an erased environment, so the SDK's
    // first save makes it.
    if (timed_shell("flash_erase -q /dev/mtd0 0x20000 16 && flash_erase -q /dev/mtd0 0x40000 64") <
        0) {
        std::fprintf(stderr, "env_save_bench: no chip to erase\n");
        return 1;
    }
    if (ZQSDK_EnvWriteKeyValue("bootdelay", "3") != 0) {
        std::fprintf(stderr, "env_save_bench: the SDK's first save failed\n");
        return 1;
    }
    const int rounds = 2;
    double sdk = 0, tool = 0;
    for (int round = 0; round < rounds; ++round) {
        // Each save changes the value: fw_setenv writes nothing for a value
        // the variable already has.
        const std::string value = std::to_string(round);
        auto start = std::chrono::steady_clock::now();
        if (ZQSDK_EnvWriteKeyValue("zqbench", ("sdk-" + value).c_str()) != 0) return 1;
        const double sdkTook = seconds_of(start);
        const double toolTook = timed_shell("fw_setenv zqbench tool-" + value);
        if (toolTook < 0) {
            std::fprintf(stderr, "env_save_bench: fw_setenv failed\n");
            return 1;
        }
        std::printf("round %d: SDK save %.2f s, fw_setenv %.2f s\n", round, sdkTook, toolTook);
        sdk += sdkTook;
        tool += toolTook;
    }
    std::printf("environment save (256 KiB): SDK %.2f s, fw_setenv %.2f s, SDK/fw_setenv %.2f\n",
                sdk / rounds, tool / rounds, sdk / tool);

    unsigned char payload[134] = {'b', 'e', 'n', 'c', 'h'};
    auto start = std::chrono::steady_clock::now();
    if (ZQSDK_WriteSeriesNum(payload, sizeof payload, 0x301) != 0) return 1;
    std::printf("identity record write (64 KiB block): %.2f s\n", seconds_of(start));
    return 0;
}
