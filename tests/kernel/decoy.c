/* A process that waits for ever under whatever name and arguments it is
 * started with; with "--uid N" as its first arguments it first becomes that
 * user. The kernel-board tests copy it under the names the killers look for. */
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc > 2 && strcmp(argv[1], "--uid") == 0) {
        const unsigned id = (unsigned)strtoul(argv[2], NULL, 10);
        if (setgid(id) != 0 || setuid(id) != 0) return 1;
    }
    for (;;) pause();
}
