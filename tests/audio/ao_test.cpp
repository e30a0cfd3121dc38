// The audio output family: exact log lines and codes, what reaches the
// codec driver, and the speaker descriptor's life.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "audio/engine.h"
#include "audio_devices.h"
#include "board.h"
#include "port/port.h"
#include "support/capture.h"
#include "support/vboard_fixture.h"
#include "zq_ao.h"

namespace sim = zq::sim;

namespace {

constexpr s32 kBadDevice = static_cast<s32>(0xA0168001);
constexpr s32 kOutOfRange = static_cast<s32>(0xA0168003);
constexpr s32 kNullPointer = static_cast<s32>(0xA0168006);
constexpr s32 kCodecFailed = static_cast<s32>(0xA0168007);
constexpr s32 kOpenFailed = static_cast<s32>(0xA0168010);
constexpr s32 kMuteQueryRefused = static_cast<s32>(0xA0168012);

class AoTest : public VBoardTest {
  protected:
    std::string log_text() { return sim::read_board_file(dir(), "/dev/log"); }
    s32 volume() {
        s32 v = -7;
        EXPECT_EQ(ZQ_MPI_AO_GetVolume(0, &v), 0);
        return v;
    }
};

TEST_F(AoTest, VolumeReachesTheCodecAndIsRecordedOnlyWhenAccepted) {
    freeze_clock(5);
    EXPECT_EQ(volume(), 50);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 100), 0);
    EXPECT_EQ(sim::read_codec(dir()).outputVolume, 100);
    EXPECT_EQ(volume(), 100);
    for (s32 bad : {101, -1, INT_MIN}) EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, bad), kOutOfRange);
    EXPECT_EQ(volume(), 100);
    EXPECT_EQ(sim::read_codec(dir()).outputVolume, 100);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 0), 0);
    EXPECT_EQ(volume(), 0);
    EXPECT_EQ(journal_events("acodec"),
              (std::vector<std::string>{"set output volume 100", "set output volume 0"}));
    EXPECT_EQ(log_text(),
              "5.0 <3>ao VolumeDb 101 not supported!\n\n"
              "5.0 <3>ao VolumeDb -1 not supported!\n\n"
              "5.0 <3>ao VolumeDb -2147483648 not supported!\n\n");
}

TEST_F(AoTest, EveryCallIsTracedWithItsArgumentsWhenTheLevelTableAsks) {
    ASSERT_TRUE(sim::set_log_levels(dir(), {{"ao", 6}}));
    freeze_clock(7);
    AudioAttr attr{8000, 1, 0, 0, 1, 30, 160, 2, 1}, got{};
    s32 value = 0;
    EXPECT_EQ(ZQ_MPI_AO_SetPubAttr(0, &attr), 0);
    EXPECT_EQ(ZQ_MPI_AO_GetPubAttr(0, &got), 0);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 80), 0);
    EXPECT_EQ(ZQ_MPI_AO_GetVolume(0, &value), 0);
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), 0);
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &value), 0);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(log_text(),
              "7.0 <6>ao [ZQ_MPI_AO_SetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetPubAttr]: enSamplerate[8000], enBitwidth[1]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_Enable]: AudioDevId[0]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_SetVolume]: AudioDevId[0], s32VolumeDb[80]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetVolume]: AudioDevId[0], *ps32VolumeDb[80]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_SetMute]: AudioDevId[0], bEnable[1]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_GetMute]: AudioDevId[0], *pbEnable[1]\n\n"
              "7.0 <6>ao [ZQ_MPI_AO_Disable]: AudioDevId[0]\n\n");
}

TEST_F(AoTest, PubAttrStartsAllZeroAndKeepsAllNineFields) {
    freeze_clock(3);
    AudioAttr got;
    std::memset(&got, 0x5A, sizeof got);
    EXPECT_EQ(ZQ_MPI_AO_GetPubAttr(0, &got), 0);
    const AudioAttr zero{};
    EXPECT_EQ(std::memcmp(&got, &zero, sizeof got), 0);
    AudioAttr attr{8000, 1, 3, 4, 5, 30, 160, 0xFFFFFFFF, 9};
    EXPECT_EQ(ZQ_MPI_AO_SetPubAttr(0, &attr), 0);
    AudioAttr other{16000, 2, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ZQ_MPI_AO_SetPubAttr(1, &other), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AO_SetPubAttr(0, nullptr), kNullPointer);
    EXPECT_EQ(ZQ_MPI_AO_GetPubAttr(-1, &got), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AO_GetPubAttr(0, nullptr), kNullPointer);
    EXPECT_EQ(ZQ_MPI_AO_GetPubAttr(0, &got), 0);
    EXPECT_EQ(std::memcmp(&got, &attr, sizeof got), 0);
    EXPECT_EQ(log_text(),
              "3.0 <3>ao AudioDevId 1 Failed\n\n3.0 <3>ao pstAttr is null\n\n"
              "3.0 <3>ao AudioDevId -1 Failed\n\n3.0 <3>ao pstAttr is null\n\n");
    EXPECT_TRUE(journal_events("/dev/ao").empty());
}

TEST_F(AoTest, EnableOpensTheSpeakerOnceAndDisableClosesItOnce) {
    freeze_clock(4);
    EXPECT_EQ(ZQ_MPI_AO_Enable(1), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AO_Disable(2), kBadDevice);
    EXPECT_EQ(log_text(), "4.0 <3>ao AudioDevId 1 Failed\n\n4.0 <3>ao AudioDevId 2 Failed\n\n");
    EXPECT_EQ(audio_get_ao_fd(0), -1);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);
    int fd = audio_get_ao_fd(0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);
    EXPECT_EQ(audio_get_ao_fd(0), fd);
    // The engine's side of the contract: one 320-byte frame per write.
    std::vector<int16_t> frame(160, 1234);
    EXPECT_EQ(zq::port::write(fd, frame.data(), 320), 320);
    EXPECT_EQ(sim::read_speaker(dir()), frame);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(audio_get_ao_fd(0), -1);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(journal_events("/dev/ao"),
              (std::vector<std::string>{"open", "first frame played", "close"}));
}

TEST_F(AoTest, MissingSpeakerFailsEnableAndLeavesTheOutputDisabled) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/ao", true));
    freeze_clock(9);
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), kOpenFailed);
    EXPECT_EQ(audio_get_ao_fd(0), -1);
    EXPECT_EQ(ZQ_MPI_AO_Disable(0), 0);
    EXPECT_EQ(log_text(), "9.0 <3>ao open /dev/ao failed\n");
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/ao", false));
    EXPECT_EQ(ZQ_MPI_AO_Enable(0), 0);
    EXPECT_GE(audio_get_ao_fd(0), 0);
}

TEST_F(AoTest, MissingCodecFailsOnlyTheRequestAtHand) {
    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", true));
    freeze_clock(11);
    s32 muted = 0x5A;
    Captured c = capture_output([&] { EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), -1); });
    EXPECT_EQ(c.out, "acodec dev open error!\n");
    EXPECT_EQ(c.err, "");
    EXPECT_EQ(muted, 0x5A);
    EXPECT_EQ(log_text(), "");
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), kCodecFailed);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 30), kCodecFailed);
    EXPECT_EQ(volume(), 50);
    EXPECT_EQ(log_text(),
              "11.0 <3>ao acodec dev open error!\n\n11.0 <3>ao acodec dev open error!\n\n");

    ASSERT_TRUE(sim::set_device_missing(dir(), "/dev/acodec", false));
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 30), 0);
    EXPECT_EQ(volume(), 30);
}

TEST_F(AoTest, RefusedCodecRequestsChangeNothing) {
    for (unsigned long request : {0x40044101ul, 0x40044103ul, 0x80044104ul})
        ASSERT_TRUE(sim::refuse_request(dir(), "/dev/acodec", request));
    freeze_clock(12);
    EXPECT_EQ(ZQ_MPI_AO_SetVolume(0, 70), kCodecFailed);
    EXPECT_EQ(volume(), 50);
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), kCodecFailed);
    s32 muted = 0x5A;
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), kMuteQueryRefused);
    EXPECT_EQ(muted, 0x5A);
    EXPECT_EQ(sim::read_codec(dir()).outputMute, 0);
    EXPECT_EQ(log_text(),
              "12.0 <3>ao set ao volume failed!\n\n12.0 <3>ao set ao mute failed!\n\n"
              "12.0 <3>ao get ao mute failed!\n\n");
    std::vector<std::string> codec3 =
        journal_events("/dev/acodec");  // opened and closed per request
    EXPECT_EQ(std::count(codec3.begin(), codec3.end(), "close"), 3);
}

TEST_F(AoTest, MuteIsKeptByTheCodecAndReadBackFromIt) {
    freeze_clock(13);
    s32 muted = -1;
    EXPECT_EQ(ZQ_MPI_AO_SetMute(0, 1, nullptr), 0);
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), 0);
    EXPECT_EQ(muted, 1);
    sim::CodecState codec = sim::read_codec(dir());
    EXPECT_EQ(codec.outputMute, 1);
    codec.outputMute = 0;  // someone else unmuted the codec
    ASSERT_TRUE(sim::write_codec(dir(), codec));
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, &muted), 0);
    EXPECT_EQ(muted, 0);

    size_t requests = journal_events("acodec").size();
    EXPECT_EQ(ZQ_MPI_AO_SetMute(2, 1, nullptr), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AO_GetMute(1, &muted), kBadDevice);
    EXPECT_EQ(ZQ_MPI_AO_GetMute(0, nullptr), kNullPointer);
    EXPECT_EQ(journal_events("acodec").size(), requests);
    EXPECT_EQ(log_text(),
              "13.0 <3>ao AudioDevId 2 Failed\n\n13.0 <3>ao AudioDevId 1 Failed\n\n"
              "13.0 <3>ao pbEnable is null\n\n");
}

}  // namespace
