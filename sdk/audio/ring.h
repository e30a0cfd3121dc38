// The byte rings between API callers and the engine thread. Each ring has
// one producer and one consumer on different threads.
#pragma once

#include <atomic>
#include <cstdint>

#include "zq_common.h"

// Bytes held = write count - read count; the byte of running position i
// lives at pu8Buf[i % u32Size]. Both counts live in one 64-bit word
// (u32WriteIdx low, u32ReadIdx high) so that they change together: the
// consumer's reset to zero can then never swallow a producer's write.
struct AudioRing {
    u8 *pu8Buf;
    u32 u32Size;
    std::atomic<u64> counts;
};

// A new ring with both counts 0, or null when memory runs out.
AudioRing *audio_ring_create(u32 u32Size);
void audio_ring_free(AudioRing *ring);

// Producer: stores min(u32Len, room) bytes and returns that count. Never blocks.
u32 audio_ring_write(AudioRing *ring, const void *pSrc, u32 u32Len);
// Consumer: takes min(u32Len, held) bytes and returns that count; bytes of
// pDst beyond it stay as they were. Never blocks. Once the counts pass 2^31
// both move back by whole ring sizes, so they never wrap.
u32 audio_ring_read(AudioRing *ring, void *pDst, u32 u32Len);
// Consumer: sets both counts to 0 when the ring is empty (keeps them small);
// a write that lands at the same moment wins and the reset is skipped.
void audio_ring_reset_if_empty(AudioRing *ring);

u32 audio_ring_held(const AudioRing *ring);
u32 audio_ring_room(const AudioRing *ring);
u32 audio_ring_write_idx(const AudioRing *ring);
u32 audio_ring_read_idx(const AudioRing *ring);
