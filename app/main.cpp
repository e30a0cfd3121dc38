// zqprovision: the factory provisioning tool. One argument: the path of the
// provisioning file.
#include <cstdio>

#include "provision.h"

int main(int argc, char **argv) {
    // Each line reaches the console (or a pipe) as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    return provision_main(argc, argv);
}
