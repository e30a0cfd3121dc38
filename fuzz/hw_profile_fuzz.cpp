// Hardware profiles of any bytes: the parser ends cleanly with -1 or 0, never
// reads outside the tree or the profile, and a profile it accepts is whole.
// Every line goes to /dev/null at the DEBUG level, so the summary and all
// messages are formatted too.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "zq_hwprofile.h"
#include "zq_log.h"

namespace {

std::string g_Path;

void remove_profile() {
    unlink(g_Path.c_str());
}

bool set_up() {
    unsetenv("ZQ_VBOARD");  // host files, straight through the seam
    const char *dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    g_Path = std::string(dir) + "/hw_profile_fuzz." + std::to_string(getpid()) + ".json";
    std::atexit(remove_profile);
    LogParam log{};
    std::strcpy(log.szFilePath, "/dev/null");
    ZQSDK_SetLog2File(&log);
    ZQSDK_SetLogLevel(ZQ_LOG_DEBUG);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool ready = set_up();
    (void)ready;
    FILE *file = std::fopen(g_Path.c_str(), "wb");
    if (!file) std::abort();
    if (size && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
    s32 result = ZQSDK_ParseJson(g_Path.c_str());
    if (result != 0 && result != -1) std::abort();
    if (result == 0) {
        const VencChnConfig *venc = g_HwProfile.stVenc.astVencChn;
        if (!venc[ZQ_HW_JPEG_CHANNEL].bEnable ||
            static_cast<u32>(venc[ZQ_HW_JPEG_CHANNEL].s32Channel) >= ZQ_HW_VENC_CHANNELS)
            std::abort();
        for (int i = 0; i < ZQ_HW_JPEG_CHANNEL; ++i)
            if (venc[i].bEnable && venc[i].s32Channel != i) std::abort();
    }
    return 0;
}
