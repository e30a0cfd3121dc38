// The decoder channel: when it takes no stream, what each payload type puts
// into the playback ring, full rings, and senders on several threads. No
// engine thread runs: the test reads the ring, a board file is the output.
#include <algorithm>
#include <future>
#include <thread>

#include "engine_fixture.h"
#include "zq_g711.h"

namespace port = zq::port;

namespace {

constexpr s32 kNotCreated = s32(0xA0188005), kNullPtr = s32(0xA0188006);

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
    std::vector<u8> out(codes.size() * 2);
    u32 len = 0;
    g711a_decode(codes.data(), reinterpret_cast<s16 *>(out.data()), u32(codes.size()), &len);
    return out;
}

class AdecTest : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        freeze_clock(100);
        ring_ = g_AudioEngine.pstPlayRing = audio_ring_create(kPlayRingBytes);
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
    std::vector<u8> played() {
        std::vector<u8> out(audio_ring_held(ring_) + 1);
        out.resize(audio_ring_read(ring_, out.data(), u32(out.size())));
        return out;
    }
    // A blocking send on another thread, let (on the stopped clock) sleep
    // its way 50 ms into its wait.
    static std::future<s32> waiting_send(std::vector<u8> &bytes) {
        auto sender = std::async(std::launch::async, [&bytes] { return send(bytes); });
        const uint64_t start = port::monotonic_ns();
        while (port::monotonic_ns() < start + 50'000'000) std::this_thread::yield();
        return sender;
    }
    AudioRing *ring_ = nullptr;
    std::vector<u8> scratch_ = std::vector<u8>(kPlayRingBytes);
};

// When a created channel takes no stream: destroyed, its buffer released,
// or the output gone.
TEST_F(AdecTest, StreamsNeedTheChannelItsBufferAndTheOutput) {
    const AdecChnAttr pcm = {ADEC_TYPE_PCM, 4096, 1};
    AudioStream stream{};
    std::vector<u8> codes = counting(160);
    EXPECT_EQ(ZQ_MPI_ADEC_CreateChn(0, &pcm), 0);
    EXPECT_EQ(ZQ_MPI_ADEC_SendStream(0, &stream, 1), kNullPtr);
    EXPECT_EQ(ZQ_MPI_ADEC_DestroyChn(40), 0);  // no such channel
    EXPECT_EQ(ZQ_MPI_ADEC_DestroyChn(0), 0);
    EXPECT_EQ(send(codes), kNotCreated);
    create(ADEC_TYPE_G711A);
    EXPECT_EQ(ZQ_MPI_ADEC_ReleaseBuf(0), 0);
    EXPECT_EQ(send(codes), kNotCreated);  // created, but nothing to decode into
    create(ADEC_TYPE_G711A);
    disable_output();
    EXPECT_EQ(send(codes), kNotCreated);
    EXPECT_TRUE(played().empty());
    EXPECT_TRUE(g_pieces.empty());
}

// Streams longer than the decode buffer go in pieces of one buffer. Into a full
// ring a non-blocking send keeps what fits (the callback sees it all); a blocking
// one waits for room piece by piece, until the output goes and nothing drains.
TEST_F(AdecTest, EachPayloadTypeFillsTheRingInPiecesAndOnlyABlockingSendWaitsForRoom) {
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
    create(ADEC_TYPE_G711A);
    audio_ring_write(ring_, scratch_.data(), 7800);
    codes.resize(160);
    EXPECT_EQ(send(codes, 0), 0);
    EXPECT_EQ(g_pieces, (std::vector<s32>{1024, 1024, 552, 4, 1024, 1024, 452, 0, 320}));
    const std::vector<u8> all = played(), expected = alaw_decoded(codes);
    ASSERT_EQ(all.size(), 8000u);
    EXPECT_TRUE(std::equal(all.begin() + 7800, all.end(), expected.begin()));

    g_pieces.clear();
    create(ADEC_TYPE_PCM);
    audio_ring_write(ring_, scratch_.data(), 8000 - 1500);
    pcm.resize(2000);
    auto sender = waiting_send(pcm);
    disable_output();
    EXPECT_EQ(sender.get(), kNotCreated);
    EXPECT_EQ(g_pieces, std::vector<s32>{1024});  // the second piece never fitted
    EXPECT_EQ(audio_ring_held(ring_), 8000u - 1500u + 1024u);
}

// Senders on two threads take turns: no byte of either is lost or doubled.
// A callback that calls the channel is refused instead of waiting for itself.
TEST_F(AdecTest, SendersTakeTurnsAndTheCallbackCannotCallTheChannel) {
    create(ADEC_TYPE_PCM);
    ZQ_MPI_ADEC_SetCallback(nullptr);
    auto sender = [](u8 value) {
        std::vector<u8> bytes(100, value);
        for (int i = 0; i < 30; ++i) EXPECT_EQ(send(bytes, 0), 0);
    };
    std::thread a(sender, 0xA1), b(sender, 0xB2);
    a.join();
    b.join();
    std::vector<u8> all = played();
    EXPECT_EQ(std::count(all.begin(), all.end(), 0xA1), 3000);
    EXPECT_EQ(std::count(all.begin(), all.end(), 0xB2), 3000);

    static s32 fromCallback;
    ZQ_MPI_ADEC_SetCallback([](u8 *, s32) { fromCallback = ZQ_MPI_ADEC_ReleaseBuf(0); });
    std::vector<u8> bytes(10, 1);
    EXPECT_EQ(send(bytes), 0);
    EXPECT_EQ(fromCallback, kNotCreated);
    EXPECT_EQ(send(bytes), 0);  // the buffer is still there
}

}  // namespace
