// Every call of the output, input and decoder families refuses a device or
// channel that does not exist, a value out of range and a null pointer with
// its code and its one log line, and changes nothing.
#include "engine_fixture.h"
#include "zq_adec.h"
#include "zq_ai.h"
#include "zq_ao.h"

namespace {

constexpr s32 kAoDev = s32(0xA0168001), kAoRange = s32(0xA0168003), kAoNull = s32(0xA0168006);
constexpr s32 kAiDev = s32(0xA0158001), kAiRange = s32(0xA0158003), kAiNull = s32(0xA0158006);
constexpr s32 kAdecChn = s32(0xA0188002), kAdecNotCreated = s32(0xA0188005),
              kAdecNull = s32(0xA0188006);

AudioAttr g_attr{16000, 2, 0, 0, 0, 0, 160, 0, 0}, g_noSamples{},
    g_tooManySamples{8000, 1, 0, 0, 0, 0, 801, 0, 0};
AudioFrame g_frame{};
s32 g_value;
const AdecChnAttr g_adecAttr = {ADEC_TYPE_PCM, 4096, 1};

struct Refusal {
    s32 (*call)();
    s32 code;
    const char *line;  // after the time and the level
};

const Refusal kRefusals[] = {
    {[] { return ZQ_MPI_AO_SetPubAttr(1, &g_attr); }, kAoDev, "ao AudioDevId 1 Failed\n\n"},
    {[] { return ZQ_MPI_AO_SetPubAttr(0, nullptr); }, kAoNull, "ao pstAttr is null\n\n"},
    {[] { return ZQ_MPI_AO_GetPubAttr(-1, &g_attr); }, kAoDev, "ao AudioDevId -1 Failed\n\n"},
    {[] { return ZQ_MPI_AO_GetPubAttr(0, nullptr); }, kAoNull, "ao pstAttr is null\n\n"},
    {[] { return ZQ_MPI_AO_Enable(1); }, kAoDev, "ao AudioDevId 1 Failed\n\n"},
    {[] { return ZQ_MPI_AO_Disable(2); }, kAoDev, "ao AudioDevId 2 Failed\n\n"},
    {[] { return ZQ_MPI_AO_SetVolume(0, 101); }, kAoRange, "ao VolumeDb 101 not supported!\n\n"},
    {[] { return ZQ_MPI_AO_SetVolume(0, -1); }, kAoRange, "ao VolumeDb -1 not supported!\n\n"},
    {[] { return ZQ_MPI_AO_SetVolume(3, 10); }, kAoDev, "ao AudioDevId 3 Failed\n\n"},
    {[] { return ZQ_MPI_AO_GetVolume(0, nullptr); }, kAoNull, "ao ps32VolumeDb is null\n\n"},
    {[] { return ZQ_MPI_AO_SetMute(2, 1, nullptr); }, kAoDev, "ao AudioDevId 2 Failed\n\n"},
    {[] { return ZQ_MPI_AO_GetMute(1, &g_value); }, kAoDev, "ao AudioDevId 1 Failed\n\n"},
    {[] { return ZQ_MPI_AO_GetMute(0, nullptr); }, kAoNull, "ao pbEnable is null\n\n"},
    // The attribute calls' device line has no blank line after it.
    {[] { return ZQ_MPI_AI_SetPubAttr(1, &g_attr); }, kAiDev, "ai AudioDevId 1 Failed\n"},
    {[] { return ZQ_MPI_AI_SetPubAttr(0, nullptr); }, kAiNull, "ai pstAttr is null\n\n"},
    {[] { return ZQ_MPI_AI_GetPubAttr(-1, &g_attr); }, kAiDev, "ai AudioDevId -1 Failed\n"},
    // No frame over the capture ring's 800 samples could ever be handed out.
    {[] { return ZQ_MPI_AI_SetPubAttr(0, &g_noSamples); }, kAiRange,
     "ai u32SamplesPerFrame 0 not supported!\n\n"},
    {[] { return ZQ_MPI_AI_SetPubAttr(0, &g_tooManySamples); }, kAiRange,
     "ai u32SamplesPerFrame 801 not supported!\n\n"},
    {[] { return ZQ_MPI_AI_Enable(1); }, kAiDev, "ai AudioDevId 1 Failed\n\n"},
    {[] { return ZQ_MPI_AI_Disable(2); }, kAiDev, "ai AudioDevId 2 Failed\n\n"},
    {[] { return ZQ_MPI_AI_GetFrame(0, 0, &g_frame, nullptr, 1); }, kAiDev,
     "ai AudioDevId 0 Failed\n\n"},  // the input is not enabled
    {[] { return ZQ_MPI_AI_SetVolume(0, 101); }, kAiRange, "ai VolumeDb 101 not supported!\n\n"},
    {[] { return ZQ_MPI_AI_SetVolume(0, -1); }, kAiRange, "ai VolumeDb -1 not supported!\n\n"},
    {[] { return ZQ_MPI_AI_SetVolume(1, 10); }, kAiDev, "ai AudioDevId 1 Failed\n\n"},
    {[] { return ZQ_MPI_AI_GetVolume(0, nullptr); }, kAiNull, "ai ps32VolumeDb is null\n\n"},
    {[] { return ZQ_MPI_AI_SetVqeAttr(0, 0, 0, 0, nullptr); }, kAiNull,
     "ai pstVqeConfig is null\n\n"},
    {[] { return ZQ_MPI_AI_GetVqeAttr(0, 0, nullptr); }, kAiNull, "ai pstVqeConfig is null\n\n"},
    {[] { return ZQ_MPI_ADEC_CreateChn(1, &g_adecAttr); }, kAdecChn,
     "adec AdChn 1 not support!\n\n"},
    {[] { return ZQ_MPI_ADEC_CreateChn(0, nullptr); }, kAdecNull, "adec pstAttr is null!\n\n"},
    {[] { return ZQ_MPI_ADEC_SendStream(1, nullptr, 1); }, kAdecChn,
     "adec AdChn 1 not support\n\n"},
    {[] { return ZQ_MPI_ADEC_SendStream(0, nullptr, 1); }, kAdecNotCreated,
     "adec AdChn 0 not created\n\n"},  // tested before the pointer
};

using AudioRefusalTest = EngineTest;

TEST_F(AudioRefusalTest, BadNumbersValuesAndNullPointersAreRefusedWithTheirCodeAndLine) {
    freeze_clock(5);
    for (const Refusal &r : kRefusals) {
        const size_t before = log_text().size();
        EXPECT_EQ(r.call(), r.code) << r.line;
        EXPECT_EQ(log_text().substr(before), std::string("5.0 <3>") + r.line);
    }
    AudioAttr ao{}, ai{};  // nothing refused was kept or asked of the codec
    ASSERT_EQ(ZQ_MPI_AO_GetPubAttr(0, &ao) + ZQ_MPI_AI_GetPubAttr(0, &ai), 0);
    EXPECT_EQ(ao.enSamplerate + ai.enSamplerate, 0u);
    EXPECT_TRUE(journal_events("acodec").empty());
}

}  // namespace
