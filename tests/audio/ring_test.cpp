// The byte ring: counts near 2^32, and one producer and one consumer on two
// threads losing nothing, resets included.
#include "audio/ring.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

namespace {

using Ring = std::unique_ptr<AudioRing, decltype(&audio_ring_free)>;

// Byte i of a stream: 251 divides no ring size, so a misplaced byte shows.
u8 stream_byte(u32 i) {
    return static_cast<u8>(i % 251);
}

// A ring that never runs empty: its counts come close to 2^32 (a size of
// 1600 does not divide 2^32), yet every byte comes out in order and the
// counts fold back by whole ring sizes.
TEST(AudioRing, CountsOfARingThatNeverRunsEmptyFoldBackInsteadOfWrapping) {
    Ring r(audio_ring_create(1600), audio_ring_free);
    const u32 start = 0xFFFFFC18u;  // 2^32 - 1000
    r.get()->counts.store(u64{start} << 32 | start);
    u8 frame[320], out[320];
    u32 sent = 0, received = 0;
    for (int i = 0; i < 103; ++i) {
        for (u8 &b : frame) b = stream_byte(sent++);
        ASSERT_EQ(audio_ring_write(r.get(), frame, 320), 320u);
        if (i < 3) continue;  // three frames stay in the ring throughout
        ASSERT_EQ(audio_ring_read(r.get(), out, 320), 320u);
        for (u8 b : out) ASSERT_EQ(b, stream_byte(received++));
    }
    EXPECT_EQ(audio_ring_held(r.get()), 960u);
    EXPECT_LT(audio_ring_write_idx(r.get()), 0x80000000u);
    EXPECT_EQ(audio_ring_read_idx(r.get()) % 1600, (u64{start} + 100 * 320) % 1600);
}

// The producer streams in odd-sized pieces; the consumer resets the ring
// whenever it is empty. Every byte must arrive once and in order.
TEST(AudioRing, ConcurrentProducerAndResettingConsumerLoseNothing) {
    Ring r(audio_ring_create(1600), audio_ring_free);
    constexpr u32 kTotal = 2'000'000;
    std::thread producer([&] {
        u8 piece[333];
        for (u32 sent = 0; sent < kTotal;) {
            u32 want = std::min<u32>(sizeof piece, kTotal - sent);
            for (u32 i = 0; i < want; ++i) piece[i] = stream_byte(sent + i);
            u32 n = audio_ring_write(r.get(), piece, want);
            sent += n;
            if (n == 0) std::this_thread::yield();
        }
    });
    bool inOrder = true;
    u8 buf[320];
    for (u32 received = 0; received < kTotal;) {
        u32 n = audio_ring_read(r.get(), buf, sizeof buf);
        for (u32 i = 0; i < n; ++i) inOrder &= buf[i] == stream_byte(received + i);
        received += n;
        audio_ring_reset_if_empty(r.get());
        if (n == 0) std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(audio_ring_held(r.get()), 0u);
}

}  // namespace
