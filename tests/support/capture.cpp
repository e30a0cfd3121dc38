#include "support/capture.h"

#include <stdio.h>
#include <unistd.h>

Captured capture_output(const std::function<void()> &body) {
    FILE *files[2] = {tmpfile(), tmpfile()};  // standard output's, standard error's
    int saved[2];
    fflush(stdout);
    fflush(stderr);
    for (int i : {0, 1}) {
        saved[i] = dup(i + 1);
        dup2(fileno(files[i]), i + 1);
    }
    body();
    fflush(stdout);
    fflush(stderr);
    std::string text[2];
    for (int i : {0, 1}) {
        dup2(saved[i], i + 1);
        close(saved[i]);
        rewind(files[i]);
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, files[i])) > 0;) text[i].append(buf, n);
        fclose(files[i]);
    }
    return {text[0], text[1]};
}
