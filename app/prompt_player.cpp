// The voice prompt player: reads the prompt file in 160-byte blocks (20 ms
// of A-law each) and feeds them to the decoder channel, whose blocking
// sends pace the reading to the speaker.
#include "prompt_player.h"

#include <algorithm>
#include <atomic>
#include <cstdio>

#include "port/port.h"
#include "zq_adec.h"
#include "zq_ao.h"
#include "zq_audio.h"

namespace port = zq::port;

namespace {

constexpr AudioDevId kAoDev = 0;
constexpr AdChn kAdecChn = 0;
constexpr size_t kBlockBytes = 160;
constexpr int kMaxPieceBytes = 320;
constexpr s32 kVolume = 100;         // the loudest the output accepts
constexpr uint64_t kDrainMs = 1000;  // what is still queued reaches the speaker

constexpr AudioAttr kAoAttr = {8000, 1, 0, 0, 1, 30, ZQ_AUDIO_FRAME_SAMPLES, 2, 1};
constexpr AdecChnAttr kAdecAttr = {ADEC_TYPE_G711A, 8, 0};

struct PromptPlayer {
    std::atomic<bool> audioSetUp{false};  // set at the first attempt, succeeded or not
};
PromptPlayer g_PromptPlayer;

struct PromptFile {
    FILE *stream;
    ~PromptFile() {
        if (stream) port::fclose(stream);
    }
};

unsigned hex(s32 code) {
    return static_cast<unsigned>(code);
}

}  // namespace

int prompt_audio_setup() {
    if (ZQ_MPI_AUDIO_Init() != 0) {
        std::puts("ZQ_MPI_AUDIO_Init err");
        return -1;
    }
    s32 ret = ZQ_MPI_AO_SetPubAttr(kAoDev, &kAoAttr);
    if (ret != 0) {
        std::printf("set ao %d attr err:0x%x\n", kAoDev, hex(ret));
        return ret;
    }
    ret = ZQ_MPI_ADEC_CreateChn(kAdecChn, &kAdecAttr);
    if (ret != 0) {
        std::printf("create adec  err:0x%x\n", hex(ret));
        return -1;
    }
    ret = ZQ_MPI_AO_Enable(kAoDev);
    if (ret < 0) {
        std::printf("AO_Enable  err:0x%x\n", hex(ret));
        return -1;
    }
    ret = ZQ_MPI_AO_SetVolume(kAoDev, kVolume);
    if (ret < 0) {
        std::printf("ZQ_MPI_AO_SetVolume  err:0x%x\n", hex(ret));
        return -1;
    }
    return ret;
}

int AudioOutStart(const void *block, int length) {
    const u8 *bytes = static_cast<const u8 *>(block);
    for (int position = 0, remaining = length; remaining > 0;) {
        const int piece = std::min(remaining, kMaxPieceBytes);
        AudioStream stream{};
        stream.pStream = const_cast<u8 *>(bytes + position);  // the decoder only reads it
        stream.u32Len = static_cast<u32>(piece);
        stream.u64Field4 = 1;
        stream.u32Field5 = 1;
        const s32 ret = ZQ_MPI_ADEC_SendStream(kAdecChn, &stream, 1);
        if (ret != 0) {
            std::printf("%s: ZQ_MPI_ADEC_SendStream(%d) failed with %#x!\n", "AudioOutStart",
                        kAdecChn, hex(ret));
            break;  // the rest of this block is dropped
        }
        position += piece;
        remaining -= piece;
    }
    return 0;
}

int prompt_audio_stop() {
    const s32 ret = ZQ_MPI_AO_Disable(kAoDev);
    if (ret < 0) {
        // The disable failure prints the enable's text: the factory's logs match it as is.
        std::printf("AO_Enable  err:0x%x\n", hex(ret));
        return -1;
    }
    return ret;
}

int play_prompt(const char *path) {
    if (!path) return -1;
    u8 block[kBlockBytes] = {};
    PromptFile file{port::fopen(path, "rb")};
    if (!file.stream) {
        std::perror("open");
        return -1;
    }
    if (!g_PromptPlayer.audioSetUp.exchange(true)) {
        prompt_audio_setup();
    } else if (const s32 ret = ZQ_MPI_AO_Enable(kAoDev); ret < 0) {
        // The last prompt ended with the output disabled; every later one
        // opens it again, or its blocks would all be refused.
        std::printf("AO_Enable  err:0x%x\n", hex(ret));
    }
    for (;;) {
        const size_t got = std::fread(block, 1, sizeof block, file.stream);
        if (got < 1) break;
        AudioOutStart(block, static_cast<int>(got));
    }
    port::sleep_ms(kDrainMs);
    prompt_audio_stop();
    return 0;
}
