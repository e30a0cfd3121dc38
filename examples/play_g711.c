/* Plays a headerless G.711 A-law file (8000 samples per second, mono)
 * through the speaker, as a board application would.
 *
 *   ./play_g711 prompt.pcm
 *   ZQ_VBOARD=board ./play_g711 board/mnt/factory/shaoxiechenggong.pcm
 *
 * On a virtual board the sound ends up in board/speaker.wav. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <time.h>

#include "zq_adec.h"
#include "zq_ao.h"
#include "zq_audio.h"

#define AO_DEV 0
#define ADEC_CHN 0
#define BLOCK_BYTES 320 /* 40 ms of A-law; one call decodes up to 512 bytes */

static int set_up_output(void) {
    AudioAttr attr = {8000, 1, 0, 0, 1, 30, ZQ_AUDIO_FRAME_SAMPLES, 2, 1};
    AdecChnAttr adec = {ADEC_TYPE_G711A, 8, 0};
    s32 ret;

    if ((ret = ZQ_MPI_AUDIO_Init()) != 0 || (ret = ZQ_MPI_AO_SetPubAttr(AO_DEV, &attr)) != 0 ||
        (ret = ZQ_MPI_AO_Enable(AO_DEV)) != 0 || (ret = ZQ_MPI_AO_SetVolume(AO_DEV, 80)) != 0 ||
        (ret = ZQ_MPI_ADEC_CreateChn(ADEC_CHN, &adec)) != 0) {
        fprintf(stderr, "audio set-up failed: 0x%x\n", (unsigned)ret);
        return -1;
    }
    return 0;
}

/* Blocking sends wait for room in the playback ring, so the file is read
 * no faster than the speaker plays it. */
static int play(FILE *file) {
    u8 block[BLOCK_BYTES];
    size_t got;

    while ((got = fread(block, 1, sizeof block, file)) > 0) {
        AudioStream stream = {0};
        s32 ret;
        stream.pStream = block;
        stream.u32Len = (u32)got;
        ret = ZQ_MPI_ADEC_SendStream(ADEC_CHN, &stream, 1);
        if (ret != 0) {
            fprintf(stderr, "send failed: 0x%x\n", (unsigned)ret);
            return -1;
        }
    }
    return 0;
}

int main(int argc, char **argv) {
    /* What is still queued (up to half a second) reaches the speaker. */
    const struct timespec drain = {1, 0};
    FILE *file;
    int rc;

    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE.pcm (G.711 A-law, 8 kHz, mono)\n", argv[0]);
        return 2;
    }
    file = fopen(argv[1], "rb");
    if (!file) {
        perror(argv[1]);
        return 1;
    }
    rc = set_up_output() == 0 && play(file) == 0 ? 0 : 1;
    fclose(file);
    nanosleep(&drain, NULL);
    ZQ_MPI_AO_Disable(AO_DEV);
    ZQ_MPI_ADEC_DestroyChn(ADEC_CHN);
    ZQ_MPI_ADEC_ReleaseBuf(ADEC_CHN);
    return rc;
}
