/* The first camera program: capture on input channel 0, show it on the
 * panel, put a clock overlay and a cover on it, then grab frames and check
 * their numbers and times.
 *
 *   ZQ_VBOARD=board ./camera_demo
 *   vboard vo board snapshot display.png      # what the panel shows
 *
 * The capture keeps 15 of the sensor's 30 frames a second, so the frames
 * this program gets are every second one of the sensor's, 1/15 s apart. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "zq_rgn.h"
#include "zq_sys.h"
#include "zq_vi.h"
#include "zq_vo.h"

#define VI_CHN 0
#define VO_LAYER 0
#define VO_CHN 0
#define PICTURE_W 640
#define PICTURE_H 360
#define FRAMES 10

/* The clock overlay: 8 characters of a 3 x 5 font, each pixel 4 x 4, on a
 * dark band; 4 bits a pixel (a palette index), first pixel in the high bits. */
#define GLYPH_SCALE 4
#define CLOCK_W (8 * 4 * GLYPH_SCALE)
#define CLOCK_H (7 * GLYPH_SCALE)
#define INK 1
#define BAND 2

static const unsigned char kGlyphs[11][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
    {0, 2, 0, 2, 0}, /* ':' */
};

static unsigned char g_clock[CLOCK_W * CLOCK_H / 2];

static void put_pixel(int x, int y, unsigned index) {
    unsigned char *byte = &g_clock[(y * CLOCK_W + x) / 2];
    *byte = (unsigned char)(x % 2 ? (*byte & 0xF0) | index : (*byte & 0x0F) | (index << 4));
}

/* Draws "HH:MM:SS" of the board's calendar into the overlay's bitmap. */
static void draw_clock(void) {
    char text[9];
    time_t now = time(NULL);
    struct tm local;
    int c, row, col, dy, dx;

    localtime_r(&now, &local);
    strftime(text, sizeof text, "%H:%M:%S", &local);
    for (row = 0; row < CLOCK_H; ++row)
        for (col = 0; col < CLOCK_W; ++col) put_pixel(col, row, BAND);
    for (c = 0; c < 8; ++c) {
        const unsigned char *glyph = kGlyphs[text[c] == ':' ? 10 : text[c] - '0'];
        for (row = 0; row < 5; ++row)
            for (col = 0; col < 3; ++col)
                if (glyph[row] & (4 >> col))
                    for (dy = 0; dy < GLYPH_SCALE; ++dy)
                        for (dx = 0; dx < GLYPH_SCALE; ++dx)
                            put_pixel((c * 4 + col) * GLYPH_SCALE + dx + GLYPH_SCALE / 2,
                                      (row + 1) * GLYPH_SCALE + dy, INK);
    }
}

static int check(const char *what, s32 ret) {
    if (ret != 0) fprintf(stderr, "%s failed: 0x%08x\n", what, (unsigned)ret);
    return ret != 0;
}

static int set_up_display(void) {
    VoPubAttr pub;
    VoChnAttr chn;

    memset(&pub, 0, sizeof pub);
    pub.u32BgColor = 0x203040;
    pub.enIntfType = VO_INTF_LCD;
    pub.enIntfSync = VO_SYNC_800X480;
    memset(&chn, 0, sizeof chn);
    chn.stRect.s32X = 80;
    chn.stRect.s32Y = 60;
    chn.stRect.u32Width = PICTURE_W;
    chn.stRect.u32Height = PICTURE_H;
    return check("display timing", ZQ_MPI_VO_SetPubAttr(0, &pub)) ||
           check("display channel", ZQ_MPI_VO_SetChnAttr(VO_LAYER, VO_CHN, &chn)) ||
           check("display channel on", ZQ_MPI_VO_EnableChn(VO_LAYER, VO_CHN));
}

static int set_up_capture(void) {
    ViChnAttr attr;
    ViBindDest display = {ZQ_MOD_VO, 0, VO_CHN};

    memset(&attr, 0, sizeof attr);
    attr.stCapRect.u32Width = 1920;
    attr.stCapRect.u32Height = 1080;
    attr.stDestSize.u32Width = PICTURE_W;
    attr.stDestSize.u32Height = PICTURE_H;
    attr.s32SrcFrameRate = 30;
    attr.s32FrameRate = 15;
    return check("capture attributes", ZQ_MPI_VI_SetChnAttr(VI_CHN, &attr)) ||
           check("frame rate", ZQ_MPI_VI_SetFrmRate(VI_CHN, 30, 15)) ||
           check("capture on", ZQ_MPI_VI_EnableChn(VI_CHN)) ||
           check("bind to the display", ZQ_MPI_VI_Bind(VI_CHN, &display));
}

static int set_up_regions(void) {
    RgnPallet pallet;
    RgnAttr clock, cover;
    RgnBitmap bitmap = {0, CLOCK_W, CLOCK_H, ZQ_RGN_FORMAT_4BPP, g_clock};

    memset(&pallet, 0, sizeof pallet);
    pallet.au32Color[INK] = 0xFFFFFFFF;  /* opaque white */
    pallet.au32Color[BAND] = 0xA0000000; /* dark, see-through */
    memset(&clock, 0, sizeof clock);
    clock.u32Handle = 0;
    clock.enType = ZQ_RGN_OSD;
    clock.unAttr.stOsd.u32Format = ZQ_RGN_FORMAT_4BPP;
    clock.unAttr.stOsd.stRect.s32X = 16;
    clock.unAttr.stOsd.stRect.s32Y = 16;
    clock.unAttr.stOsd.stRect.u32Width = CLOCK_W;
    clock.unAttr.stOsd.stRect.u32Height = CLOCK_H;
    memset(&cover, 0, sizeof cover);
    cover.u32Handle = 0;
    cover.enType = ZQ_RGN_COVER;
    cover.unAttr.stCover.u32Color = 0xE07020;
    cover.unAttr.stCover.stRect.s32X = 440;
    cover.unAttr.stCover.stRect.s32Y = 220;
    cover.unAttr.stCover.stRect.u32Width = 160;
    cover.unAttr.stCover.stRect.u32Height = 100;
    draw_clock();
    return check("palette", ZQ_MPI_RGN_SetPallet(VI_CHN, &pallet)) ||
           check("clock overlay", ZQ_MPI_RGN_Create(VI_CHN, &clock)) ||
           check("clock bitmap", ZQ_MPI_RGN_SetBitMap(VI_CHN, &bitmap)) ||
           check("clock on", ZQ_MPI_RGN_Enable(VI_CHN, 0, ZQ_RGN_OSD)) ||
           check("cover", ZQ_MPI_RGN_Create(VI_CHN, &cover)) ||
           check("cover on", ZQ_MPI_RGN_Enable(VI_CHN, 0, ZQ_RGN_COVER));
}

/* The number the first luma row of a frame carries: 32 bits, most
 * significant first, bit i in pixels 8i..8i+7 (bright for 1). */
static unsigned frame_number(const unsigned char *luma) {
    unsigned number = 0;
    int bit;
    for (bit = 0; bit < 32; ++bit) number = number << 1 | (luma[bit * 8 + 4] > 128);
    return number;
}

/* Grabs FRAMES frames: each must be two sensor frames and 1/15 s after the
 * one before. */
static int grab_frames(void) {
    unsigned last = 0;
    u64 lastPts = 0;
    int i, bad = 0;

    for (i = 0; i < FRAMES; ++i) {
        ViFrameInfo frame;
        const unsigned char *luma;
        unsigned number;

        if (check("get frame", ZQ_MPI_VI_GetFrame(VI_CHN, &frame))) return 1;
        luma = ZQ_MPI_SYS_Mmap(frame.u32PhyAddrY, frame.u32Width);
        number = luma ? frame_number(luma) : 0;
        if (luma) ZQ_MPI_SYS_Munmap((void *)luma, frame.u32Width);
        printf("frame %2d: sensor frame %u, %ux%u, captured at %llu us\n", i, number,
               (unsigned)frame.u32Width, (unsigned)frame.u32Height,
               (unsigned long long)frame.u64Pts);
        if (i > 0 && (number != last + 2 || frame.u64Pts - lastPts < 66666 ||
                      frame.u64Pts - lastPts > 66667)) {
            fprintf(stderr, "frame %d does not follow the one before\n", i);
            bad = 1;
        }
        last = number;
        lastPts = frame.u64Pts;
        if (check("release frame", ZQ_MPI_VI_ReleaseFrame(VI_CHN, &frame))) return 1;
    }
    return bad;
}

int main(void) {
    if (check("media start-up", ZQ_MPI_SYS_Init()) || set_up_display() || set_up_capture() ||
        set_up_regions())
        return 1;
    printf("capturing 640x360 on input channel 0, shown at 80,60 of an 800x480 panel,\n"
           "with a clock overlay and a cover\n");
    if (grab_frames()) return 1;
    printf("%d frames in order; the panel keeps showing the capture\n", FRAMES);
    return 0;
}
