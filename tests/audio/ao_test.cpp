// The audio output family: exact log lines and codes, what reaches the
// codec driver, and the speaker descriptor's life.
#include <algorithm>
#include <cstring>

#include "emul/audio.h"
#include "engine_fixture.h"
#include "support/capture.h"
#include "zq_ao.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kCodecFailed = s32(0xA0168007), kOpenFailed = s32(0xA0168010);
constexpr s32 kMuteQueryRefused = s32(0xA0168012);

class AoTest : public EngineTest {
  protected:
    s32 volume() {
        s32 v = -7;
        EXPECT_EQ(ZQ_MPI_AO_GetVolume(0, &v), 0);
        return v;
    }
};

TEST_F(AoTest, EveryCallDoesItsPartAndIsTracedWithItsArguments) {
    ASSERT_TRUE(sim::set_log_levels(dir(), {{"ao", 6}}));
    freeze_clock(7);
    AudioAttr got;
    const AudioAttr attr{8000, 1, 3, 4, 5, 30, 160, 0xFFFFFFFF, 9};
    EXPECT_EQ(ZQ_MPI_AO_SetPubAttr(0, &attr), 0);
    EXPECT_EQ(ZQ_MPI_AO_GetPubAttr(0, &got), 0);
    EXPECT_EQ(std::memcmp(&got, &attr, sizeof got), 0);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);
    const s32 fd = audio_get_ao_fd(0);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);  // already enabled: not opened again
    EXPECT_EQ(audio_get_ao_fd(0), fd);
    EXPECT_EQ(volume(), 50);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 80), 0);
    EXPECT_EQ(volume(), 80);
    s32 muted = -1;
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 7, nullptr), 0);  // a switch: any non-zero value is on
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), 0);
    EXPECT_EQ(muted, 1);
    sim::CodecState codec = sim::read_codec(dir());
    EXPECT_EQ(std::make_pair(codec.outputVolume, codec.outputMute), std::make_pair(80, 1));
    codec.outputMute = 0;  // someone else unmuted the codec: only the codec knows
    ASSERT_TRUE(sim::write_codec(dir(), codec));
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), 0);
    EXPECT_EQ(muted, 0);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(audio_get_ao_fd(0), -1);
    EXPECT_EQ(journal_events("/dev/ao"), (std::vector<std::string>{"open", "close"}));
    EXPECT_EQ(log_text(),
              "7.0 <6>ao [ZQ_MPI_AO_SetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_Enable]: AudioDevId[0]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_Enable]: AudioDevId[0]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetVolume]: AudioDevId[0], *ps32VolumeDb[50]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_SetVolume]: AudioDevId[0], s32VolumeDb[80]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetVolume]: AudioDevId[0], *ps32VolumeDb[80]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_SetMute]: AudioDevId[0], bEnable[7]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetMute]: AudioDevId[0], *pbEnable[1]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetMute]: AudioDevId[0], *pbEnable[0]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_Disable]: AudioDevId[0]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_Disable]: AudioDevId[0]\n\n");
}

// A missing codec fails only the request at hand: with it back, the next
// request opens it again (and here finds each request refused).
TEST_F(AoTest, MissingOrRefusingDevicesChangeNothing) {
    for (const char *device : {"/dev/ao", "/dev/acodec"})
        ASSERT_TRUE(sim::set_device_missing(dir(), device, true));
    freeze_clock(11);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), kOpenFailed);
    EXPECT_EQ(audio_get_ao_fd(0), -1);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    s32 muted = 0x5A;
    Captured c = capture_output([&] { EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), -1); });
    EXPECT_EQ(c.out, "acodec dev open error!\n");
    EXPECT_EQ(c.err + log_text(), "11.0 <3>ao open /dev/ao failed\n");
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), kCodecFailed);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 30), kCodecFailed);
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", false));
    for (unsigned long request : {0x40044101ul, 0x40044103ul, 0x80044104ul})
        ASSERT_TRUE(sim::refuse_request(dir(), "/dev/acodec", request));
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 70), kCodecFailed);
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), kCodecFailed);
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), kMuteQueryRefused);
    EXPECT_EQ(muted, 0x5A);
    EXPECT_EQ(volume(), 50);
    EXPECT_EQ(sim::read_codec(dir()).outputMute, 0);
    EXPECT_EQ(log_text(),
              "11.0 <3>ao open /dev/ao failed\n11.0 <3>ao acodec dev open error!\n\n"
              "11.0 <3>ao acodec dev open error!\n\n"
              "11.0 <3>ao set ao volume failed!\n\n11.0 <3>ao set ao mute failed!\n\n"
              "11.0 <3>ao get ao mute failed!\n\n");
    std::vector<std::string> codec = journal_events("/dev/acodec");  // opened per request
    EXPECT_EQ(std::count(codec.begin(), codec.end(), "close"), 3);
}

}  // namespace
