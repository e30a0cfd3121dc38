// The hardware profile parser: the board's profile file into g_HwProfile,
// then a summary on the SDK log. The JSON tree lives only during the call.
//
// Every value is checked for its JSON type before use; one of another type,
// or null, counts as absent. The file is read whole through the seam, at most
// ZQ_HW_PROFILE_MAX_BYTES of it: a real profile is a few KiB, and the cap
// bounds the tree json-c builds from hostile input (64 KiB of empty objects
// make the largest, about 9 MiB on the board).
#include <strings.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "json-c/json.h"
#include "port/port.h"
#include "zq_hwprofile.h"
#include "zq_log.h"

HwProfile g_HwProfile;

namespace {

namespace port = zq::port;

constexpr const char *kStepUnit = "json_parse";
constexpr const char *kParseUnit = "zq_system";

// Logs under the step's own name from inside a member walk, where __func__
// would name the lambda.
#define ZQ_STEP_LOG(level, step, ...) sdk_log((level), kStepUnit, (step), __LINE__, __VA_ARGS__)

struct DocumentRelease {
    void operator()(json_object *document) const { json_object_put(document); }
};
using Document = std::unique_ptr<json_object, DocumentRelease>;

// The value when it has the given type, null otherwise.
json_object *typed(json_object *value, json_type type) {
    return json_object_is_type(value, type) ? value : nullptr;
}

// A member looked up by its exact name.
json_object *member(json_object *object, const char *name, json_type type) {
    json_object *value = nullptr;
    if (!json_object_is_type(object, json_type_object) ||
        !json_object_object_get_ex(object, name, &value))
        return nullptr;
    return typed(value, type);
}

// Calls visit(name, value) for each member in file order until it returns false.
template <typename Visit>
bool for_each_member(json_object *object, Visit visit) {
    for (lh_entry *entry = lh_table_head(json_object_get_object(object)); entry;
         entry = lh_entry_next(entry)) {
        if (!visit(static_cast<const char *>(lh_entry_k(entry)),
                   static_cast<json_object *>(lh_entry_v(entry))))
            return false;
    }
    return true;
}

bool is(const char *name, const char *key) {
    return strcasecmp(name, key) == 0;
}

// A JSON string equal to text without regard to case (a string with an
// embedded NUL never is).
bool text_is(json_object *value, const char *text) {
    if (!json_object_is_type(value, json_type_string)) return false;
    return static_cast<size_t>(json_object_get_string_len(value)) == std::strlen(text) &&
           strcasecmp(json_object_get_string(value), text) == 0;
}

// json-c's conversion, which already clamps to the signed 32-bit range; NaN
// would be an undefined cast there.
s32 integer(json_object *value) {
    if (json_object_is_type(value, json_type_double) && std::isnan(json_object_get_double(value)))
        return 0;
    return json_object_get_int(value);
}

// A missing element reads 0.
s32 element(json_object *array, size_t index) {
    return integer(json_object_array_get_idx(array, index));
}

// The channel member's value, when it is one of count channels.
bool valid_channel(s32 channel, u32 count) {
    return static_cast<u32>(channel) < count;
}

void read_gpio_members(json_object *object, GpioConfig *out) {
    for_each_member(object, [&](const char *name, json_object *value) {
        if (is(name, "GpioValue")) out->s32GpioValue = integer(value);
        if (is(name, "SwapFlag")) out->bSwapFlag = json_object_get_boolean(value) ? 1 : 0;
        return true;
    });
}

// The file's tree; null when it cannot be read, is too large or is not JSON.
Document load_profile(const char *path) {
    FILE *file = port::fopen(path, "r");
    if (!file) return nullptr;
    std::unique_ptr<char[]> text(new (std::nothrow) char[ZQ_HW_PROFILE_MAX_BYTES + 1]);
    size_t length = text ? std::fread(text.get(), 1, ZQ_HW_PROFILE_MAX_BYTES + 1, file) : 0;
    bool readWhole = text && !std::ferror(file) && length <= ZQ_HW_PROFILE_MAX_BYTES;
    port::fclose(file);
    if (!readWhole) return nullptr;
    text[length] = '\0';
    return Document(json_tokener_parse(text.get()));
}

#define ZQ_SUMMARY(...) sdk_log(ZQ_LOG_NOTICE, kParseUnit, "ZQSDK_ParseJson", __LINE__, __VA_ARGS__)

void print_summary(const HwProfile &profile) {
    const IspConfig &isp = profile.stIsp;
    ZQ_SUMMARY("ISP=> Svtd: %s\n", isp.bNtsc ? "NTSC" : "PAL");
    if (isp.stIrCut.bValid)
        ZQ_SUMMARY("IRCut: gpio %d Swap %d\n", isp.stIrCut.s32GpioValue, isp.stIrCut.bSwapFlag);
    if (isp.stInfrared.bValid)
        ZQ_SUMMARY("Infrared: gpio %d swap %d\n", isp.stInfrared.s32GpioValue,
                   isp.stInfrared.bSwapFlag);
    if (isp.stWLight.bValid)
        ZQ_SUMMARY("WLight: gpio %d swap %d\n", isp.stWLight.s32GpioValue, isp.stWLight.bSwapFlag);
    if (isp.stIrLight.bValid)
        ZQ_SUMMARY("IRLight: gpio %d swap %d", isp.stIrLight.s32GpioValue, isp.stIrLight.bSwapFlag);
    const ViConfig &vi = profile.stVi;
    ZQ_SUMMARY("Vi: sensorIFS=%d sensorFPS=%d, capW=%d,capH=%d,capX=%d,capY=%d\n", vi.s32SensorIfs,
               vi.s32SensorFps, vi.s32CapW, vi.s32CapH, vi.s32CapX, vi.s32CapY);
    ZQ_SUMMARY("ViChn  ImageSize");
    for (int i = 0; i < ZQ_HW_VI_CHANNELS && vi.astViChn[i].bEnable; ++i)
        ZQ_SUMMARY("%4d  [%4d, %4d]", i, vi.astViChn[i].s32Width, vi.astViChn[i].s32Height);
    ZQ_SUMMARY("VencChn MaxSize");
    const VencChnConfig *venc = profile.stVenc.astVencChn;
    for (int i = 0; i < ZQ_HW_JPEG_CHANNEL && venc[i].bEnable; ++i)
        ZQ_SUMMARY("%6d  [%4d %4d]", i, venc[i].s32MaxWidth, venc[i].s32MaxHeight);
    ZQ_SUMMARY("4GModule: gpio %d Swap %d\n", profile.st4gModule.s32GpioValue,
               profile.st4gModule.bSwapFlag);
}

#undef ZQ_SUMMARY

}  // namespace

extern "C" {

s32 ZQSDK_ParseJson(const char *path) noexcept {
    if (!path || port::access(path, F_OK) != 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kParseUnit, "no such file: %s\n", path ? path : "(null)");
        return -1;
    }
    g_HwProfile = HwProfile{};
    Document root = load_profile(path);
    if (!root) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kParseUnit, "Get ROOT object error!");
        return -1;
    }
    s32 result = ZQJSON_ParseVi(root.get(), &g_HwProfile.stVi);
    if (result < 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kParseUnit, "Parse Vi Failed!");
        return result;
    }
    result = ZQJSON_ParseVenc(root.get(), &g_HwProfile.stVenc);
    if (result < 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kParseUnit, "Parse Venc Failed!");
        return result;
    }
    ZQJSON_ParseIsp(root.get(), &g_HwProfile.stIsp);
    ZQJSON_Parse4gMoudle(root.get(), &g_HwProfile.st4gModule);
    print_summary(g_HwProfile);
    return 0;
}

s32 ZQJSON_ParseVi(json_object *root, ViConfig *pstVi) noexcept {
    if (!pstVi) return -1;
    json_object *vi = member(root, "Vi", json_type_object);
    if (!vi) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Get Vi object error!");
        return -1;
    }
    const char *const step = __func__;
    bool whole = for_each_member(vi, [&](const char *name, json_object *value) {
        if (is(name, "SensorIFS")) {
            pstVi->s32SensorIfs = integer(value);
            ZQ_STEP_LOG(ZQ_LOG_DEBUG, step, "SensorIFS = %d", pstVi->s32SensorIfs);
        } else if (is(name, "SensorFPS")) {
            pstVi->s32SensorFps = integer(value);
            ZQ_STEP_LOG(ZQ_LOG_DEBUG, step, "SensorSrcFrmRate = %d", pstVi->s32SensorFps);
        } else if (is(name, "CapWHXY") && typed(value, json_type_array)) {
            pstVi->s32CapW = element(value, 0);
            pstVi->s32CapH = element(value, 1);
            pstVi->s32CapX = element(value, 2);
            pstVi->s32CapY = element(value, 3);
            ZQ_STEP_LOG(ZQ_LOG_DEBUG, step, "Vi CapW %d, CapH %d, CapX %d, CapY %d", pstVi->s32CapW,
                        pstVi->s32CapH, pstVi->s32CapX, pstVi->s32CapY);
        } else if (is(name, "ViX") && typed(value, json_type_array)) {
            return ZQJSON_ParseViX(value, pstVi->astViChn) == 0;
        }
        return true;
    });
    if (!whole) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Parse ViX error!");
        return -1;
    }
    return 0;
}

s32 ZQJSON_ParseViX(json_object *array, ViChnConfig astViChn[ZQ_HW_VI_CHANNELS]) noexcept {
    if (!astViChn) return -1;
    size_t count = typed(array, json_type_array) ? json_object_array_length(array) : 0;
    if (count == 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "No ViChn Configs!");
        return -1;
    }
    for (size_t i = 0; i < count; ++i) {
        s32 channel = ZQJSON_ParseOneViChannel(json_object_array_get_idx(array, i), astViChn);
        if (channel < 0) return -1;
        const ViChnConfig &stored = astViChn[channel];
        ZQSDK_LOG(ZQ_LOG_DEBUG, kStepUnit, "ViChn %d: size=[%d, %d]", channel, stored.s32Width,
                  stored.s32Height);
    }
    return 0;
}

s32 ZQJSON_ParseOneViChannel(json_object *entry, ViChnConfig astViChn[ZQ_HW_VI_CHANNELS]) noexcept {
    if (!typed(entry, json_type_object) || !astViChn) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "pobj is null!");
        return -1;
    }
    s32 channel = -1;
    ViChnConfig read{1, 0, 0};
    const char *const step = __func__;
    bool valid = for_each_member(entry, [&](const char *name, json_object *value) {
        if (is(name, "Channel")) {
            channel = integer(value);
            if (!valid_channel(channel, ZQ_HW_VI_CHANNELS)) {
                ZQ_STEP_LOG(ZQ_LOG_ERROR, step, "Invalid Channel value %d!", channel);
                return false;
            }
            ZQ_STEP_LOG(ZQ_LOG_DEBUG, step, "Channel %d ", channel);
        } else if (is(name, "CapSize") && typed(value, json_type_array)) {
            read.s32Width = element(value, 0);
            read.s32Height = element(value, 1);
        }
        return true;
    });
    if (!valid || channel < 0) return -1;
    astViChn[channel] = read;
    return channel;
}

s32 ZQJSON_ParseVenc(json_object *root, VencConfig *pstVenc) noexcept {
    if (!pstVenc) return -1;
    json_object *venc = member(root, "Venc", json_type_object);
    if (!venc) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Get Venc object error!");
        return -1;
    }
    json_object *format = member(venc, "Format", json_type_string);
    pstVenc->s32Format = text_is(format, "H265") ? 2 : text_is(format, "H264PLUS") ? 1 : 0;
    s32 result = ZQJSON_ParseVencX(venc, pstVenc->astVencChn);
    if (result < 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Parse VencX Failed!");
        return result;
    }
    result = ZQJSON_ParseJpeg(venc, &pstVenc->astVencChn[ZQ_HW_JPEG_CHANNEL]);
    if (result < 0) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Parse Jpeg Failed!");
        return result;
    }
    return 0;
}

s32 ZQJSON_ParseVencX(json_object *venc, VencChnConfig astVencChn[ZQ_HW_VENC_CHANNELS]) noexcept {
    json_object *array = member(venc, "VencX", json_type_array);
    if (!array || !astVencChn) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Get VencX object error!");
        return -1;
    }
    for (size_t i = 0, count = json_object_array_length(array); i < count; ++i) {
        VencChnConfig read{};  // what an entry leaves out reads 0
        s32 channel = ZQJSON_ParseOneVencChannel(json_object_array_get_idx(array, i), &read);
        if (channel < 0) return -1;
        read.bEnable = 1;
        astVencChn[channel] = read;
        ZQSDK_LOG(ZQ_LOG_DEBUG, kStepUnit, "VencChn %d: MaxSize=[%d, %d]", channel,
                  read.s32MaxWidth, read.s32MaxHeight);
    }
    return 0;
}

s32 ZQJSON_ParseOneVencChannel(json_object *entry, VencChnConfig *pstChn) noexcept {
    if (!typed(entry, json_type_object) || !pstChn) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "pobj is null!");
        return -1;
    }
    s32 channel = -1;
    const char *const step = __func__;
    bool valid = for_each_member(entry, [&](const char *name, json_object *value) {
        if (is(name, "Channel")) {
            channel = integer(value);
            if (!valid_channel(channel, ZQ_HW_VENC_CHANNELS)) {
                ZQ_STEP_LOG(ZQ_LOG_ERROR, step, "Invalid Channel value %d!", channel);
                return false;
            }
            ZQ_STEP_LOG(ZQ_LOG_DEBUG, step, "Channel %d ", channel);
            pstChn->s32Channel = channel;
        } else if (is(name, "Quality")) {
            pstChn->s32Quality = integer(value);
        } else if (is(name, "MaxSize") && typed(value, json_type_array)) {
            pstChn->s32MaxWidth = element(value, 0);
            pstChn->s32MaxHeight = element(value, 1);
        }
        return true;
    });
    return valid ? channel : -1;
}

s32 ZQJSON_ParseJpeg(json_object *venc, VencChnConfig *pstJpeg) noexcept {
    json_object *jpeg = member(venc, "Jpeg", json_type_object);
    if (!jpeg || !pstJpeg) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Get Jpeg object error!");
        return -1;
    }
    pstJpeg->bEnable = 1;
    if (ZQJSON_ParseOneVencChannel(jpeg, pstJpeg) < 0) return -1;
    ZQSDK_LOG(ZQ_LOG_DEBUG, kStepUnit, "JpegChn: MaxSize=[%d, %d]", pstJpeg->s32MaxWidth,
              pstJpeg->s32MaxHeight);
    return 0;
}

s32 ZQJSON_ParseIsp(json_object *root, IspConfig *pstIsp) noexcept {
    if (!pstIsp) return -1;
    json_object *isp = member(root, "Isp", json_type_object);
    if (!isp) {
        ZQSDK_LOG(ZQ_LOG_ERROR, kStepUnit, "Get Isp object error!");
        return 0;
    }
    if (text_is(member(isp, "Vstd", json_type_string), "NTSC")) pstIsp->bNtsc = 1;
    ZQJSON_ParseGpio(isp, "IRCut", &pstIsp->stIrCut);
    ZQJSON_ParseGpio(isp, "Infrared", &pstIsp->stInfrared);
    ZQJSON_ParseGpio(isp, "WLight", &pstIsp->stWLight);
    ZQJSON_ParseGpio(isp, "IRLight", &pstIsp->stIrLight);
    return 0;
}

s32 ZQJSON_ParseGpio(json_object *isp, const char *name, GpioConfig *pstGpio) noexcept {
    json_object *gpio = name ? member(isp, name, json_type_object) : nullptr;
    if (!gpio || !pstGpio) return -1;
    pstGpio->bValid = 1;
    read_gpio_members(gpio, pstGpio);
    return 0;
}

s32 ZQJSON_Parse4gMoudle(json_object *root, GpioConfig *pst4gModule) noexcept {
    if (!pst4gModule) return -1;
    json_object *module = member(root, "4GModule", json_type_object);
    if (!module) {
        ZQSDK_LOG(ZQ_LOG_WARN, kStepUnit, "Get 4GModule object error!");
        return 0;
    }
    read_gpio_members(module, pst4gModule);
    return 0;
}

}  // extern "C"
