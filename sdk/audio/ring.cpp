#include "audio/ring.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

static_assert(std::atomic<u64>::is_always_lock_free, "ring counts must be lock-free");

// Counts at or above this fold back; the write count stays below 2^31 plus
// one ring size, far from wrapping.
constexpr u32 kFoldAt = 0x80000000u;

constexpr u32 write_of(u64 counts) {
    return static_cast<u32>(counts);
}
constexpr u32 read_of(u64 counts) {
    return static_cast<u32>(counts >> 32);
}
constexpr u64 pack(u32 write, u32 read) {
    return u64{read} << 32 | write;
}

void copy_in(AudioRing *ring, u32 position, const u8 *src, u32 n) {
    if (n == 0) return;
    u32 off = position % ring->u32Size;
    u32 first = std::min(n, ring->u32Size - off);
    std::memcpy(ring->pu8Buf + off, src, first);
    std::memcpy(ring->pu8Buf, src + first, n - first);
}

void copy_out(const AudioRing *ring, u32 position, u8 *dst, u32 n) {
    if (n == 0) return;
    u32 off = position % ring->u32Size;
    u32 first = std::min(n, ring->u32Size - off);
    std::memcpy(dst, ring->pu8Buf + off, first);
    std::memcpy(dst + first, ring->pu8Buf, n - first);
}

}  // namespace

AudioRing *audio_ring_create(u32 u32Size) {
    if (u32Size == 0) return nullptr;
    u8 *storage = new (std::nothrow) u8[u32Size];
    if (!storage) return nullptr;
    AudioRing *ring = new (std::nothrow) AudioRing{storage, u32Size, {0}};
    if (!ring) delete[] storage;
    return ring;
}

void audio_ring_free(AudioRing *ring) {
    if (!ring) return;
    delete[] ring->pu8Buf;
    delete ring;
}

u32 audio_ring_write(AudioRing *ring, const void *pSrc, u32 u32Len) {
    const u8 *src = static_cast<const u8 *>(pSrc);
    u64 seen = ring->counts.load(std::memory_order_acquire);
    for (;;) {
        const u32 write = write_of(seen), read = read_of(seen);
        const u32 n = std::min(u32Len, ring->u32Size - (write - read));
        copy_in(ring, write, src, n);
        // The bytes are in place before the count that publishes them.
        while (!ring->counts.compare_exchange_weak(seen, pack(write + n, read_of(seen)),
                                                   std::memory_order_release,
                                                   std::memory_order_acquire)) {
            // A consumer read only makes more room; a reset or a fold moved
            // the counts, so the bytes go in again where the counts now say.
            if (write_of(seen) != write) break;
        }
        if (write_of(seen) == write) return n;
    }
}

u32 audio_ring_read(AudioRing *ring, void *pDst, u32 u32Len) {
    u8 *dst = static_cast<u8 *>(pDst);
    u64 seen = ring->counts.load(std::memory_order_acquire);
    const u32 read = read_of(seen);
    const u32 n = std::min(u32Len, write_of(seen) - read);
    copy_out(ring, read, dst, n);
    // Positions are counts modulo a size that need not divide 2^32, so the
    // counts must never wrap: once they grow large (a ring that never runs
    // empty), both move back by whole ring sizes, which keeps every byte
    // where it is.
    const u32 newRead = read + n;
    const u32 fold = newRead >= kFoldAt ? newRead - newRead % ring->u32Size : 0;
    // Only this consumer moves the read count, so it is still `read`; the
    // copy is done before the room is handed back to the producer.
    while (!ring->counts.compare_exchange_weak(seen, pack(write_of(seen) - fold, newRead - fold),
                                               std::memory_order_acq_rel,
                                               std::memory_order_acquire)) {
    }
    return n;
}

void audio_ring_reset_if_empty(AudioRing *ring) {
    u64 seen = ring->counts.load(std::memory_order_acquire);
    if (seen != 0 && write_of(seen) == read_of(seen))
        ring->counts.compare_exchange_strong(seen, 0, std::memory_order_acq_rel,
                                             std::memory_order_relaxed);
}

u32 audio_ring_held(const AudioRing *ring) {
    u64 c = ring->counts.load(std::memory_order_acquire);
    return write_of(c) - read_of(c);
}

u32 audio_ring_room(const AudioRing *ring) {
    return ring->u32Size - audio_ring_held(ring);
}
u32 audio_ring_write_idx(const AudioRing *ring) {
    return write_of(ring->counts.load(std::memory_order_acquire));
}
u32 audio_ring_read_idx(const AudioRing *ring) {
    return read_of(ring->counts.load(std::memory_order_acquire));
}
