// The decoder channel: refusals with their codes and log lines, what each
// payload type puts into the playback ring, long streams in pieces, full
// rings (blocking and not), and a blocking send that gives up when the
// output goes away. The playback ring is made here and read directly: no
// engine thread runs, and a board file stands for the open output.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
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

std::vector<u8> counting(size_t n) {
    std::vector<u8> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<u8>(i);
    return bytes;
}

std::vector<u8> alaw_decoded(const std::vector<u8> &codes) {
    std::vector<u8> out;
    for (u8 c : codes) {
        const u16 v = static_cast<u16>(g711a_decode_sample(c));
        out.insert(out.end(), {static_cast<u8>(v & 0xFF), static_cast<u8>(v >> 8)});
    }
    return out;
}

class AdecTest : public VBoardTest {
  protected:
    void SetUp() override {
        VBoardTest::SetUp();
        freeze_clock(100);
        g_AudioEngine.pstPlayRing = audio_ring_create(kPlayRingBytes);
        g_AudioDevTable.aoFd = port::open("/tmp/ao", O_WRONLY | O_CREAT, 0644);
        ZQ_MPI_ADEC_SetCallback(record_piece);
    }
    void disable_output() { port::close(g_AudioDevTable.aoFd.exchange(-1)); }
    static void create(s32 type) {
        AdecChnAttr attr = {type, 8, 0};
        ASSERT_EQ(ZQ_MPI_ADEC_CreateChn(0, &attr), 0);
    }
    static s32 send(std::vector<u8> &bytes, s32 block = 1) {
        AudioStream stream{};
        stream.pStream = bytes.data();
        stream.u32Len = static_cast<u32>(bytes.size());
        return ZQ_MPI_ADEC_SendStream(0, &stream, block);
    }
    static void fill_ring(u32 bytes) {
        std::vector<u8> zeros(bytes);
        audio_ring_write(g_AudioEngine.pstPlayRing, zeros.data(), bytes);
    }
    static std::vector<u8> played() {
        std::vector<u8> out(audio_ring_held(g_AudioEngine.pstPlayRing) + 1);
        out.resize(audio_ring_read(g_AudioEngine.pstPlayRing, out.data(), u32(out.size())));
        return out;
    }
    // Lets the sender (on a stopped clock) sleep its way 50 ms into a wait.
    static void wait_until_sender_waits() {
        const uint64_t start = port::monotonic_ns();
        while (port::monotonic_ns() < start + 50'000'000) std::this_thread::yield();
    }
    std::string log_text() const { return zq::sim::read_board_file(dir(), "/dev/log"); }
};

TEST_F(AdecTest, RefusalsInOrderWithTheirCodesAndLines) {
    AdecChnAttr attr = {ADEC_TYPE_G711A, 8, 0};
    AudioStream stream{};
    std::vector<u8> codes = counting(160);
    EXPECT_EQ(ZQ_MPI_ADEC_CreateChn(1, &attr), kBadChannel);
    EXPECT_EQ(ZQ_MPI_ADEC_CreateChn(0, nullptr), kNullPtr);
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(1, nullptr, 1), kBadChannel);
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(0, nullptr, 1), kNotCreated);  // before the pointer test
    create(ADEC_TYPE_G711A);
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(0, &stream, 1), kNullPtr);
    ZQ_MPI_ADEC_DestroyChn(0);
    EXPECT_EQ(send(codes), kNotCreated);
    create(ADEC_TYPE_G711A);
    ZQ_MPI_ADEC_ReleaseBuf(0);
    EXPECT_EQ(send(codes), kNotCreated);  // created, but nothing to decode into
    create(ADEC_TYPE_G711A);
    disable_output();
    EXPECT_EQ(send(codes), kNotCreated);
    const std::string notCreated = "100.0 <3>adec AdChn 0 not created\n\n";
    EXPECT_EQ(log_text(),
              "100.0 <3>adec AdChn 1 not support!\n\n100.0 <3>adec pstAttr is null!\n\n"
              "100.0 <3>adec AdChn 1 not support\n\n" +
                  notCreated + "100.0 <3>adec pStream is null\n\n" + notCreated + notCreated +
                  notCreated);
    EXPECT_TRUE(played().empty());
    EXPECT_TRUE(g_pieces.empty());
}

TEST_F(AdecTest, EachPayloadTypeFillsTheRingInPiecesOfOneBuffer) {
    std::vector<u8> codes = counting(1300), zeroCodes = {0xFF, 0x7F}, pcm = counting(2500);
    create(ADEC_TYPE_G711A);
    EXPECT_EQ(send(codes), 0);
    EXPECT_EQ(played(), alaw_decoded(codes));
    create(ADEC_TYPE_G711U);
    EXPECT_EQ(send(zeroCodes), 0);
    EXPECT_EQ(played(), (std::vector<u8>{2, 0, 0xFE, 0xFF}));
    create(ADEC_TYPE_PCM);
    EXPECT_EQ(send(pcm), 0);
    EXPECT_EQ(played(), pcm);
    create(21);  // accepted, decodes to nothing
    EXPECT_EQ(send(codes), 0);
    EXPECT_TRUE(played().empty());
    EXPECT_EQ(g_pieces, (std::vector<s32>{1024, 1024, 552, 4, 1024, 1024, 452, 0}));
}

TEST_F(AdecTest, NonBlockingSendKeepsWhatFits) {
    create(ADEC_TYPE_G711A);
    fill_ring(7800);
    std::vector<u8> codes = counting(160);
    EXPECT_EQ(send(codes, 0), 0);
    EXPECT_EQ(g_pieces, std::vector<s32>{320});  // the callback still sees it all
    const std::vector<u8> all = played(), expected = alaw_decoded(codes);
    ASSERT_EQ(all.size(), 8000u);
    EXPECT_TRUE(std::equal(all.begin() + 7800, all.end(), expected.begin()));
}

TEST_F(AdecTest, BlockingSendWaitsInTenMillisecondStepsForRoom) {
    create(ADEC_TYPE_G711A);
    fill_ring(8000);
    std::vector<u8> codes = counting(160), frame(320);
    const uint64_t start = port::monotonic_ns();
    auto sender = std::async(std::launch::async, [&] { return send(codes); });
    wait_until_sender_waits();
    audio_ring_read(g_AudioEngine.pstPlayRing, frame.data(), 320);
    EXPECT_EQ(sender.get(), 0);
    EXPECT_EQ((port::monotonic_ns() - start) % 10'000'000, 0u);
    EXPECT_EQ(audio_ring_held(g_AudioEngine.pstPlayRing), 8000u);
}

TEST_F(AdecTest, BlockingSendGivesUpWhenTheOutputIsDisabled) {
    create(ADEC_TYPE_PCM);
    fill_ring(6500);
    std::vector<u8> pcm = counting(2000);
    auto sender = std::async(std::launch::async, [&] { return send(pcm); });
    wait_until_sender_waits();
    disable_output();
    EXPECT_EQ(sender.get(), kNotCreated);
    EXPECT_NE(log_text().find("<3>adec AdChn 0 not created\n"), std::string::npos);
    EXPECT_EQ(g_pieces, std::vector<s32>{1024});  // the first piece fitted, the second never did
    EXPECT_EQ(audio_ring_held(g_AudioEngine.pstPlayRing), 6500u + 1024u);
}

TEST_F(AdecTest, TraceLinesAndAFreshChannel) {
    ASSERT_TRUE(zq::sim::set_log_levels(dir(), {{"adec", 6}}));
    AdecChnAttr attr = {ADEC_TYPE_PCM, 4096, 1};
    ASSERT_EQ(ZQ_MPI_ADEC_CreateChn(0, &attr), 0);
    EXPECT_EQ(ZQ_MPI_ADEC_DestroyChn(40), 0);
    EXPECT_EQ(ZQ_MPI_ADEC_ReleaseBuf(0), 0);
    EXPECT_EQ(g_AudioEngine.pu8DecBuf, nullptr);
    ZQ_MPI_ADEC_SetCallback(nullptr);
    create(ADEC_TYPE_PCM);
    std::vector<u8> pcm = counting(10);
    EXPECT_EQ(send(pcm), 0);
    EXPECT_TRUE(g_pieces.empty());
    EXPECT_EQ(log_text(),
              "100.0 <6>adec [ZQ_MPI_ADEC_CreateChn]: AdChn[0], enType[23], u32BufSize[4096], "
              "enMode[1]\n\n100.0 <6>adec [ZQ_MPI_ADEC_DestroyChn]: AdChn[40]\n\n"
              "100.0 <6>adec [ZQ_MPI_ADEC_ReleaseBuf]: AdChn[0]\n\n"
              "100.0 <6>adec [ZQ_MPI_ADEC_CreateChn]: AdChn[0], enType[23], u32BufSize[8], "
              "enMode[0]\n\n");
}

}  // namespace
