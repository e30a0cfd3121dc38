/* Records the microphone into a WAV file (16-bit mono, 8000 Hz), with the
 * chosen enhancement stages.
 *
 *   mic_record OUT.wav SECONDS [STAGES]
 *
 * STAGES names the stages to switch on, joined by commas: aec (echo
 * cancellation), anr (noise suppression), agc (gain control); "none" or
 * nothing records the raw microphone.
 * On a virtual board: ZQ_VBOARD=board ./mic_record out.wav 3 anr,agc */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zq_ai.h"

/* Reads the stage list into cfg; returns 0, or -1 for an unknown name. */
static int parse_stages(const char *list, VqeConfig *cfg) {
    char names[64];
    char *name;
    memset(cfg, 0, sizeof *cfg);
    if (!list || strcmp(list, "none") == 0) return 0;
    if (strlen(list) >= sizeof names) return -1;
    strcpy(names, list);
    for (name = strtok(names, ","); name; name = strtok(NULL, ",")) {
        if (strcmp(name, "aec") == 0)
            cfg->bAecOpen = 1;
        else if (strcmp(name, "anr") == 0)
            cfg->bAnrOpen = 1;
        else if (strcmp(name, "agc") == 0)
            cfg->bAgcOpen = 1;
        else
            return -1;
    }
    return 0;
}

static void put_le(unsigned char *at, unsigned long value, int bytes) {
    int i;
    for (i = 0; i < bytes; ++i) at[i] = (unsigned char)(value >> (8 * i));
}

/* The 44-byte header of a PCM WAV file holding dataBytes of samples. */
static int write_wav_header(FILE *out, unsigned long dataBytes) {
    unsigned char h[44];
    memcpy(h, "RIFF", 4);
    put_le(h + 4, 36 + dataBytes, 4);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le(h + 16, 16, 4);                       /* format chunk size */
    put_le(h + 20, 1, 2);                        /* PCM */
    put_le(h + 22, 1, 2);                        /* mono */
    put_le(h + 24, ZQ_AUDIO_SAMPLE_RATE, 4);     /* samples per second */
    put_le(h + 28, ZQ_AUDIO_SAMPLE_RATE * 2, 4); /* bytes per second */
    put_le(h + 32, 2, 2);                        /* bytes per sample frame */
    put_le(h + 34, 16, 2);                       /* bits per sample */
    memcpy(h + 36, "data", 4);
    put_le(h + 40, dataBytes, 4);
    return fwrite(h, sizeof h, 1, out) == 1 ? 0 : -1;
}

int main(int argc, char **argv) {
    AudioAttr attr = {8000, 1, 0, 0, 1, 30, ZQ_AUDIO_FRAME_SAMPLES, 2, 1};
    VqeConfig stages;
    u8 samples[ZQ_AUDIO_FRAME_BYTES];
    AudioFrame frame;
    unsigned long frames, n, dataBytes = 0;
    FILE *out;
    int seconds;
    s32 rc;

    if (argc < 3 || argc > 4 || (seconds = atoi(argv[2])) <= 0 ||
        parse_stages(argc == 4 ? argv[3] : NULL, &stages) != 0) {
        fprintf(stderr, "usage: %s OUT.wav SECONDS [aec,anr,agc|none]\n", argv[0]);
        return 2;
    }
    out = fopen(argv[1], "wb");
    if (!out || write_wav_header(out, 0) != 0) {
        perror(argv[1]);
        return 1;
    }

    ZQ_MPI_AUDIO_Init();
    if (ZQ_MPI_AI_SetPubAttr(0, &attr) != 0 || ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, &stages) != 0 ||
        ZQ_MPI_AI_Enable(0) != 0) {
        fprintf(stderr, "the microphone cannot be enabled\n");
        fclose(out);
        return 1;
    }
    frames = (unsigned long)seconds * (ZQ_AUDIO_SAMPLE_RATE / ZQ_AUDIO_FRAME_SAMPLES);
    for (n = 0; n < frames; ++n) {
        memset(&frame, 0, sizeof frame);
        frame.pData = samples;
        rc = ZQ_MPI_AI_GetFrame(0, 0, &frame, NULL, 1);
        if (rc != 0) {
            fprintf(stderr, "capture stopped: 0x%08X\n", (unsigned)rc);
            break;
        }
        if (fwrite(samples, frame.u32Len, 1, out) != 1) {
            perror(argv[1]);
            break;
        }
        dataBytes += frame.u32Len;
    }
    ZQ_MPI_AI_Disable(0);

    /* Now that the length is known, the header gets it. */
    rc = fseek(out, 0, SEEK_SET) == 0 && write_wav_header(out, dataBytes) == 0 ? 0 : -1;
    if (fclose(out) != 0 || rc != 0) {
        perror(argv[1]);
        return 1;
    }
    printf("%lu ms of audio in %s (aec %d, anr %d, agc %d)\n", dataBytes / 16, argv[1],
           stages.bAecOpen, stages.bAnrOpen, stages.bAgcOpen);
    return n == frames ? 0 : 1;
}
