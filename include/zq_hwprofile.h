/* The board's hardware profile: a JSON file that says how the sensor is
 * captured, what the encoders may produce, which GPIOs serve the image-side
 * peripherals and the 4G module. ZQSDK_ParseJson reads it into g_HwProfile
 * and prints a summary at the SDK log's NOTICE level.
 *
 * Members of the root, of "Venc" and of "Isp" are found by exact name;
 * members inside "Vi", inside each "ViX", "VencX" and "Jpeg" entry and inside
 * the GPIO objects are matched without regard to case, in file order, a later
 * one overwriting an earlier one. A member of another JSON type than the one
 * expected (or null) counts as absent. Integers are read as json-c converts
 * them, clamped to the signed 32-bit range (NaN reads 0); a missing array
 * element reads 0, as do a missing "CapSize", "MaxSize" or "Quality".
 *
 * The steps take json-c values. g_HwProfile is not guarded: parse from one
 * thread at a time. */
#ifndef ZQ_HWPROFILE_H
#define ZQ_HWPROFILE_H

#include "zq_common.h"

#ifdef __cplusplus
extern "C" {
#endif

struct json_object;

#define ZQ_HW_VI_CHANNELS 3   /* astViChn, by VI channel number */
#define ZQ_HW_VENC_CHANNELS 5 /* astVencChn: encoder channels 0 to 3, then JPEG */
#define ZQ_HW_JPEG_CHANNEL 4  /* the JPEG entry, also filled by a "VencX" channel 4 */
/* Profiles larger than this are refused like unreadable ones. */
#define ZQ_HW_PROFILE_MAX_BYTES 65536

typedef struct GpioConfig {
    s32 s32GpioValue; /* GPIO number */
    s32 bSwapFlag;    /* 0 or 1 */
    s32 bValid;       /* 1 when the object was in the file (never set for the 4G module) */
} GpioConfig;

typedef struct IspConfig {
    s32 bNtsc; /* 1 for "NTSC", 0 for PAL */
    GpioConfig stInfrared;
    GpioConfig stIrCut;
    GpioConfig stWLight;
    GpioConfig stIrLight;
} IspConfig;

typedef struct ViChnConfig {
    s32 bEnable;
    s32 s32Width;
    s32 s32Height;
} ViChnConfig;

typedef struct ViConfig {
    s32 s32SensorIfs;
    s32 s32SensorFps; /* the sensor's source frame rate */
    s32 s32CapX;
    s32 s32CapY;
    s32 s32CapW;
    s32 s32CapH;
    ViChnConfig astViChn[ZQ_HW_VI_CHANNELS];
} ViConfig;

typedef struct VencChnConfig {
    s32 bEnable;
    s32 s32Channel;
    s32 s32MaxWidth;
    s32 s32MaxHeight;
    s32 s32Quality;
} VencChnConfig;

typedef struct VencConfig {
    s32 s32Format; /* 2 "H265", 1 "H264PLUS" (any case), 0 any other text or none */
    VencChnConfig astVencChn[ZQ_HW_VENC_CHANNELS];
} VencConfig;

typedef struct HwProfile {
    IspConfig stIsp;
    ViConfig stVi;
    VencConfig stVenc;
    GpioConfig st4gModule;
} HwProfile;

ZQ_LAYOUT_CHECK(GpioConfig, sizeof(GpioConfig) == 12 && offsetof(GpioConfig, bValid) == 8);
ZQ_LAYOUT_CHECK(IspConfig, sizeof(IspConfig) == 52 && offsetof(IspConfig, stInfrared) == 4 &&
                               offsetof(IspConfig, stIrCut) == 16 &&
                               offsetof(IspConfig, stWLight) == 28 &&
                               offsetof(IspConfig, stIrLight) == 40);
ZQ_LAYOUT_CHECK(ViChnConfig, sizeof(ViChnConfig) == 12 && offsetof(ViChnConfig, s32Height) == 8);
ZQ_LAYOUT_CHECK(ViConfig, sizeof(ViConfig) == 60 && offsetof(ViConfig, s32CapX) == 8 &&
                              offsetof(ViConfig, s32CapW) == 16 &&
                              offsetof(ViConfig, astViChn) == 24);
ZQ_LAYOUT_CHECK(VencChnConfig, sizeof(VencChnConfig) == 20 &&
                                   offsetof(VencChnConfig, s32Channel) == 4 &&
                                   offsetof(VencChnConfig, s32Quality) == 16);
ZQ_LAYOUT_CHECK(VencConfig, sizeof(VencConfig) == 104 && offsetof(VencConfig, astVencChn) == 4);
ZQ_LAYOUT_CHECK(HwProfile, sizeof(HwProfile) == 228 && offsetof(HwProfile, stVi) == 52 &&
                               offsetof(HwProfile, stVenc) == 112 &&
                               offsetof(HwProfile, st4gModule) == 216);

/* The profile of the last ZQSDK_ParseJson; all zero until then. */
extern ZQ_API HwProfile g_HwProfile;

/* Reads the profile file at path (a board path) into g_HwProfile and prints
 * the summary. 0 when read; -1 when path is null or names no file (the
 * profile keeps its previous contents), when the file cannot be read, is
 * larger than ZQ_HW_PROFILE_MAX_BYTES or is not JSON (the profile is then
 * cleared); otherwise the negative result of the "Vi" or "Venc" section that
 * failed, with the profile as far as it was filled. */
ZQ_API s32 ZQSDK_ParseJson(const char *path) ZQ_NOEXCEPT;

/* The sections. 0, or -1 when the section is missing or bad (or out is
 * null). "Isp" and "4GModule" are optional: their steps return 0 when they
 * are missing. */
ZQ_API s32 ZQJSON_ParseVi(struct json_object *root, ViConfig *pstVi) ZQ_NOEXCEPT;
ZQ_API s32 ZQJSON_ParseVenc(struct json_object *root, VencConfig *pstVenc) ZQ_NOEXCEPT;
ZQ_API s32 ZQJSON_ParseIsp(struct json_object *root, IspConfig *pstIsp) ZQ_NOEXCEPT;
ZQ_API s32 ZQJSON_Parse4gMoudle(struct json_object *root, GpioConfig *pst4gModule) ZQ_NOEXCEPT;

/* The "ViX" array into astViChn; -1 when it is empty or an entry is bad. */
ZQ_API s32 ZQJSON_ParseViX(struct json_object *array,
                           ViChnConfig astViChn[ZQ_HW_VI_CHANNELS]) ZQ_NOEXCEPT;
/* One "ViX" entry, stored enabled at its channel; the channel number, or -1. */
ZQ_API s32 ZQJSON_ParseOneViChannel(struct json_object *entry,
                                    ViChnConfig astViChn[ZQ_HW_VI_CHANNELS]) ZQ_NOEXCEPT;
/* The "VencX" array of the "Venc" object into astVencChn. */
ZQ_API s32 ZQJSON_ParseVencX(struct json_object *venc,
                             VencChnConfig astVencChn[ZQ_HW_VENC_CHANNELS]) ZQ_NOEXCEPT;
/* The members of one entry that are present into pstChn; the channel
 * number, or -1 (no "Channel", or one outside 0 to 4). */
ZQ_API s32 ZQJSON_ParseOneVencChannel(struct json_object *entry, VencChnConfig *pstChn) ZQ_NOEXCEPT;
/* The "Jpeg" object of the "Venc" object into pstJpeg (the JPEG entry). */
ZQ_API s32 ZQJSON_ParseJpeg(struct json_object *venc, VencChnConfig *pstJpeg) ZQ_NOEXCEPT;
/* The GPIO object name of the "Isp" object; -1 when it is missing. */
ZQ_API s32 ZQJSON_ParseGpio(struct json_object *isp, const char *name,
                            GpioConfig *pstGpio) ZQ_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* ZQ_HWPROFILE_H */
