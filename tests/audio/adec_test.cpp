// The decoder channel: refusals with their codes and log lines, what each
// payload type puts into the playback ring, long streams in pieces, full
// rings (blocking and not), and a blocking send that gives up when the
// output goes away. The playback ring is made here and read directly: no
// engine thread runs, and a board file stands for the open output.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <future>
#include <numeric>
#include <string>
#include <vector>

#include "audio/engine.h"
#include "board.h"
#include "port/port.h"
#include "support/vboard_fixture.h"
#include "zq_adec.h"
#include "zq_g711.h"

namespace port = zq::port;

namespace {

constexpr s32 kBadChannel = static_cast<s32>(0xA0188002);
constexpr s32 kNotCreated = static_cast<s32>(0xA0188005);
constexpr s32 kNullPtr = static_cast<s32>(0xA0188006);

std::vector<s32> g_pieces;  // lengths the decoder callback received
void record_piece(u8 *, s32 len) {
    g_pieces.push_back(len);
}

class AdecTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(100);
        g_pieces.clear();
        g_AudioEngine.pstPlayRing = audio_ring_create(kPlayRingBytes);
        enable_output();
        ZQ_MPI_ADEC_SetCallback(record_piece);
    }
    void enable_output() { g_AudioDevTable.aoFd = port::open("/tmp/ao", O_WRONLY | O_CREAT, 0644); }
    void disable_output() { port::close(g_AudioDevTable.aoFd.exchange(-1)); }
    void create(s32 type) {
        AdecChnAttr attr = {type, 8, 0};
        ASSERT_EQ(ZQ_MPI_ADEC_CreateChn(0, &attr), 0);
    }
    static s32 send(std::vector<u8> &bytes, s32 block = 1) {
        AudioStream stream{};
        stream.pStream = bytes.data();
        stream.u32Len = static_cast<u32>(bytes.size());
        return ZQ_MPI_ADEC_SendStream(0, &stream, block);
    }
    static std::vector<u8> played() {
        std::vector<u8> out(audio_ring_held(g_AudioEngine.pstPlayRing));
        if (!out.empty())
            audio_ring_read(g_AudioEngine.pstPlayRing, out.data(), static_cast<u32>(out.size()));
        return out;
    }
    std::string log_text() const { return zq::sim::read_board_file(dir(), "/dev/log"); }
    void expect_logged(const std::string &line) const {
        EXPECT_NE(log_text().find(line), std::string::npos) << line << "\nnot in:\n" << log_text();
    }
};

std::vector<u8> counting(size_t n) {
    std::vector<u8> bytes(n);
    std::iota(bytes.begin(), bytes.end(), u8{0});
    return bytes;
}

std::vector<u8> alaw_decoded(const std::vector<u8> &codes) {
    std::vector<u8> out;
    for (u8 c : codes) {
        const s16 v = g711a_decode_sample(c);
        out.push_back(static_cast<u8>(v & 0xFF));
        out.push_back(static_cast<u8>((v >> 8) & 0xFF));
    }
    return out;
}

TEST_F(AdecTest, RefusalsInOrderWithTheirCodesAndLines) {
    AdecChnAttr attr = {ADEC_TYPE_G711A, 8, 0};
    EXPECT_EQ(ZQ_MPI_ADEC_CreateChn(1, &attr), kBadChannel);
    EXPECT_EQ(ZQ_MPI_ADEC_CreateChn(0, nullptr), kNullPtr);
    AudioStream stream{};
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(1, nullptr, 1), kBadChannel);
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(0, nullptr, 1), kNotCreated);  // not created comes first
    create(ADEC_TYPE_G711A);
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(0, nullptr, 1), kNullPtr);
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(0, &stream, 1), kNullPtr);
    EXPECT_EQ(log_text(),
              "100.0 <3>adec AdChn 1 not support!\n\n"
              "100.0 <3>adec pstAttr is null!\n\n"
              "100.0 <3>adec AdChn 1 not support\n\n"
              "100.0 <3>adec AdChn 0 not created\n\n"
              "100.0 <3>adec pStream is null\n\n"
              "100.0 <3>adec pStream is null\n\n");
    EXPECT_TRUE(played().empty());
    EXPECT_TRUE(g_pieces.empty());
}

TEST_F(AdecTest, CreatedChannelWithOutputDisabledRefusesStreams) {
    create(ADEC_TYPE_G711A);
    disable_output();
    std::vector<u8> bytes = counting(160);
    EXPECT_EQ(send(bytes), kNotCreated);
    expect_logged("<3>adec AdChn 0 not created\n");
    EXPECT_TRUE(played().empty());
}

TEST_F(AdecTest, EachPayloadTypeFillsTheRing) {
    std::vector<u8> codes = counting(160);
    create(ADEC_TYPE_G711A);
    EXPECT_EQ(send(codes), 0);
    EXPECT_EQ(played(), alaw_decoded(codes));

    create(ADEC_TYPE_G711U);
    std::vector<u8> zeroCode = {0xFF, 0x7F};
    EXPECT_EQ(send(zeroCode), 0);
    EXPECT_EQ(played(), (std::vector<u8>{2, 0, 0xFE, 0xFF}));

    create(ADEC_TYPE_PCM);
    std::vector<u8> pcm = counting(100);
    EXPECT_EQ(send(pcm), 0);
    EXPECT_EQ(played(), pcm);

    create(21);  // accepted, decodes to nothing
    EXPECT_EQ(send(codes), 0);
    EXPECT_TRUE(played().empty());
    EXPECT_EQ(g_pieces, (std::vector<s32>{320, 4, 100, 0}));
}

TEST_F(AdecTest, LongStreamsGoInPiecesOfOneDecodeBuffer) {
    create(ADEC_TYPE_G711A);
    std::vector<u8> codes = counting(1300);
    EXPECT_EQ(send(codes), 0);
    EXPECT_EQ(played(), alaw_decoded(codes));
    create(ADEC_TYPE_PCM);
    std::vector<u8> pcm = counting(2500);
    EXPECT_EQ(send(pcm), 0);
    EXPECT_EQ(played(), pcm);
    std::vector<u8> empty;
    empty.reserve(1);
    EXPECT_EQ(send(empty), 0);
    EXPECT_EQ(g_pieces, (std::vector<s32>{1024, 1024, 552, 1024, 1024, 452, 0}));
}

TEST_F(AdecTest, NonBlockingSendKeepsWhatFits) {
    create(ADEC_TYPE_G711A);
    std::vector<u8> fill(7800, 0);
    audio_ring_write(g_AudioEngine.pstPlayRing, fill.data(), 7800);
    std::vector<u8> codes = counting(160);
    EXPECT_EQ(send(codes, 0), 0);
    EXPECT_EQ(audio_ring_held(g_AudioEngine.pstPlayRing), 8000u);
    EXPECT_EQ(g_pieces, std::vector<s32>{320});  // the whole decoded length
    std::vector<u8> all = played();
    std::vector<u8> expected = alaw_decoded(codes);
    EXPECT_TRUE(std::equal(all.begin() + 7800, all.end(), expected.begin()));
}

TEST_F(AdecTest, BlockingSendWaitsInTenMillisecondStepsForRoom) {
    create(ADEC_TYPE_G711A);
    std::vector<u8> fill(8000, 0), codes = counting(160);
    audio_ring_write(g_AudioEngine.pstPlayRing, fill.data(), 8000);
    const uint64_t start = port::monotonic_ns();
    auto sender = std::async(std::launch::async, [&] { return send(codes); });
    // The stopped clock moves only with the sender's sleeps.
    while (port::monotonic_ns() < start + 50'000'000) std::this_thread::yield();
    audio_ring_read(g_AudioEngine.pstPlayRing, fill.data(), 320);
    EXPECT_EQ(sender.get(), 0);
    EXPECT_EQ((port::monotonic_ns() - start) % 10'000'000, 0u);
    EXPECT_EQ(audio_ring_held(g_AudioEngine.pstPlayRing), 8000u);
}

TEST_F(AdecTest, BlockingSendGivesUpWhenTheOutputIsDisabled) {
    create(ADEC_TYPE_PCM);
    std::vector<u8> fill(8000, 0), pcm = counting(2000);
    audio_ring_write(g_AudioEngine.pstPlayRing, fill.data(), 6500);
    const uint64_t start = port::monotonic_ns();
    auto sender = std::async(std::launch::async, [&] { return send(pcm); });
    while (port::monotonic_ns() < start + 50'000'000) std::this_thread::yield();
    disable_output();
    EXPECT_EQ(sender.get(), kNotCreated);
    expect_logged("<3>adec AdChn 0 not created\n");
    EXPECT_EQ(g_pieces, std::vector<s32>{1024});  // the first piece fitted, the second never did
    EXPECT_EQ(audio_ring_held(g_AudioEngine.pstPlayRing), 6500u + 1024u);
}

TEST_F(AdecTest, LifecycleOfTheChannelAndItsBuffer) {
    ASSERT_TRUE(zq::sim::set_log_levels(dir(), {{"adec", 6}}));
    std::vector<u8> codes = counting(10);
    create(ADEC_TYPE_G711A);
    EXPECT_EQ(ZQ_MPI_ADEC_DestroyChn(0), 0);
    EXPECT_EQ(send(codes), kNotCreated);
    EXPECT_NE(g_AudioEngine.pu8DecBuf, nullptr);  // the buffer outlives the channel
    create(ADEC_TYPE_G711A);
    EXPECT_EQ(ZQ_MPI_ADEC_ReleaseBuf(0), 0);
    EXPECT_EQ(g_AudioEngine.pu8DecBuf, nullptr);
    EXPECT_EQ(send(codes), kNotCreated);  // created, but nothing to decode into
    EXPECT_EQ(ZQ_MPI_ADEC_ReleaseBuf(0), 0);
    EXPECT_EQ(ZQ_MPI_ADEC_DestroyChn(40), 0);
    AdecChnAttr attr = {ADEC_TYPE_PCM, 4096, 1};
    ASSERT_EQ(ZQ_MPI_ADEC_CreateChn(0, &attr), 0);
    EXPECT_EQ(g_AudioEngine.stAdecAttr.enType, ADEC_TYPE_PCM);
    EXPECT_EQ(g_AudioEngine.stAdecAttr.u32BufSize, 4096u);
    EXPECT_EQ(send(codes), 0);
    EXPECT_EQ(played(), codes);
    ZQ_MPI_ADEC_SetCallback(nullptr);
    EXPECT_EQ(send(codes), 0);
    EXPECT_EQ(g_pieces.size(), 1u);
    expect_logged(
        "<6>adec [ZQ_MPI_ADEC_CreateChn]: AdChn[0], enType[19], u32BufSize[8], enMode[0]\n\n"
        "100.0 <6>adec [ZQ_MPI_ADEC_DestroyChn]: AdChn[0]\n\n");
    expect_logged("<6>adec [ZQ_MPI_ADEC_ReleaseBuf]: AdChn[0]\n\n");
    expect_logged("<6>adec [ZQ_MPI_ADEC_DestroyChn]: AdChn[40]\n\n");
    expect_logged("enType[23], u32BufSize[4096], enMode[1]\n\n");
}

}  // namespace
