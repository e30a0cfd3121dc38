#include "support/capture.h"

#include <stdio.h>
#include <unistd.h>

namespace {

struct Redirect {
    int target;
    int saved;
    FILE *file;

    explicit Redirect(int fd) : target(fd), saved(dup(fd)), file(tmpfile()) {
        dup2(fileno(file), target);
    }

    std::string finish() {
        dup2(saved, target);
        close(saved);
        std::string text;
        rewind(file);
        char buf[4096];
        for (size_t n; (n = fread(buf, 1, sizeof buf, file)) > 0;) text.append(buf, n);
        fclose(file);
        return text;
    }
};

}  // namespace

Captured capture_output(const std::function<void()> &body) {
    fflush(stdout);
    fflush(stderr);
    Redirect out(STDOUT_FILENO), err(STDERR_FILENO);
    body();
    fflush(stdout);
    fflush(stderr);
    Captured c;
    c.out = out.finish();
    c.err = err.finish();
    return c;
}
