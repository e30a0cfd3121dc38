/* A board application in C99, built against the installed SDK. */
#include <stdio.h>

#include <string.h>

#include "zq_flash.h"
#include "zq_g711.h"
#include "zq_log.h"

int main(int argc, char **argv) {
    /* "flash": one read through the SDK's seam (a board's flash). */
    if (argc > 1 && strcmp(argv[1], "flash") == 0) {
        char value[32];
        if (ZQSDK_EnvReadKeyValue("zqauto", value, (int)sizeof value) != 0) return 1;
        printf("zqsdk: zqauto=%s\n", value);
        return 0;
    }
    const s16 samples[4] = {0, 1000, -1000, 32767};
    u8 codes[4];
    s16 back[4];
    u32 coded = 0, decoded = 0;
    g711a_encode(samples, codes, sizeof samples, &coded);
    g711a_decode(codes, back, coded, &decoded);
    printf("zqsdk: %u samples, %u bytes back, last %d\n", (unsigned)coded, (unsigned)decoded,
           back[3]);
    return coded == 4 && decoded == sizeof back ? 0 : 1;
}
