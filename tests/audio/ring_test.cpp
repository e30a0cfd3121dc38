// The byte ring: counts and positions at the edges, and one producer and
// one consumer on two threads losing nothing, resets included.
#include "audio/ring.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

namespace {

struct Ring {
    AudioRing *ring;
    explicit Ring(u32 size) : ring(audio_ring_create(size)) {}
    ~Ring() { audio_ring_free(ring); }
};

TEST(AudioRing, WriteTakesOnlyTheFreeRoom) {
    Ring r(8000);
    std::vector<u8> bytes(8000, 1);
    EXPECT_EQ(audio_ring_write(r.ring, bytes.data(), 7900), 7900u);
    EXPECT_EQ(audio_ring_write(r.ring, bytes.data(), 320), 100u);
    EXPECT_EQ(audio_ring_write(r.ring, bytes.data(), 320), 0u);
    EXPECT_EQ(audio_ring_held(r.ring), 8000u);
}

TEST(AudioRing, ShortReadLeavesTheRestAndEmptyRingResets) {
    Ring r(8000);
    std::vector<u8> in(100);
    std::iota(in.begin(), in.end(), 1);
    audio_ring_write(r.ring, in.data(), 100);
    std::vector<u8> frame(320, 0xAA);
    EXPECT_EQ(audio_ring_read(r.ring, frame.data(), 320), 100u);
    EXPECT_TRUE(std::equal(in.begin(), in.end(), frame.begin()));
    EXPECT_EQ(frame[100], 0xAA);
    audio_ring_reset_if_empty(r.ring);
    EXPECT_EQ(audio_ring_write_idx(r.ring), 0u);
    EXPECT_EQ(audio_ring_read_idx(r.ring), 0u);
}

TEST(AudioRing, WriteWrapsAroundTheEnd) {
    Ring r(1600);
    std::vector<u8> fill(1500, 0), frame(320);
    std::iota(frame.begin(), frame.end(), 0);
    audio_ring_write(r.ring, fill.data(), 1500);
    audio_ring_read(r.ring, fill.data(), 400);
    EXPECT_EQ(audio_ring_write(r.ring, frame.data(), 320), 320u);
    EXPECT_EQ(audio_ring_write_idx(r.ring), 1820u);
    EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 100, r.ring->pu8Buf + 1500));
    EXPECT_TRUE(std::equal(frame.begin() + 100, frame.end(), r.ring->pu8Buf));
    // A full ring keeps its oldest bytes and drops the new ones.
    std::vector<u8> out(1600);
    audio_ring_write(r.ring, fill.data(), 1600);
    EXPECT_EQ(audio_ring_read(r.ring, out.data(), 1600), 1600u);
    EXPECT_EQ(out[1100], 0u);  // position 1500: frame byte 0
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out.begin() + 1100));
}

// A ring that never runs empty: its counts come close to 2^32 (a size of
// 1600 does not divide 2^32), yet every byte comes out in order and the
// counts fold back by whole ring sizes.
TEST(AudioRing, CountsOfARingThatNeverRunsEmptyFoldBackInsteadOfWrapping) {
    Ring r(1600);
    const u32 start = 0xFFFFFC18u;  // 2^32 - 1000
    r.ring->counts.store(u64{start} << 32 | start);
    u8 frame[320], out[320];
    u32 sent = 0, received = 0;
    auto send = [&] {
        for (u8 &b : frame) b = static_cast<u8>(sent++ % 251);
        ASSERT_EQ(audio_ring_write(r.ring, frame, 320), 320u);
    };
    for (int i = 0; i < 3; ++i) send();
    bool inOrder = true;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(audio_ring_read(r.ring, out, 320), 320u);
        for (u8 b : out) inOrder &= b == static_cast<u8>(received++ % 251);
        send();
    }
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(audio_ring_held(r.ring), 960u);
    EXPECT_LT(audio_ring_write_idx(r.ring), 0x80000000u);
    EXPECT_EQ(audio_ring_read_idx(r.ring) % 1600, (u64{start} + 100 * 320) % 1600);
}

// The producer streams a counting sequence in odd-sized pieces; the
// consumer reads and resets whenever the ring is empty. Every byte must
// arrive once and in order.
TEST(AudioRing, ConcurrentProducerAndResettingConsumerLoseNothing) {
    Ring r(1600);
    constexpr u32 kTotal = 2'000'000;
    std::thread producer([&] {
        u8 piece[333];
        u32 sent = 0;
        while (sent < kTotal) {
            u32 want = std::min<u32>(sizeof piece, kTotal - sent);
            for (u32 i = 0; i < want; ++i) piece[i] = static_cast<u8>((sent + i) % 251);
            u32 n = audio_ring_write(r.ring, piece, want);
            sent += n;
            if (n == 0) std::this_thread::yield();
        }
    });
    u32 received = 0;
    bool inOrder = true;
    u8 buf[320];
    while (received < kTotal) {
        u32 n = audio_ring_read(r.ring, buf, sizeof buf);
        for (u32 i = 0; i < n; ++i) inOrder &= buf[i] == static_cast<u8>((received + i) % 251);
        received += n;
        audio_ring_reset_if_empty(r.ring);
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(audio_ring_held(r.ring), 0u);
}

}  // namespace
