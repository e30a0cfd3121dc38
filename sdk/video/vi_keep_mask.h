// ViFrameKeepMask: which of the src frames of each second a channel keeps
// to deliver dst of them (row src - 1, column dst - 1). Bit i stands for
// frame i of the second. Each entry has exactly dst of the low src bits set,
// the top one (src - 1) always among them, and the kept frames spread
// evenly. The rows of the usual source rates (1-5, 15, 25, 30) are the
// driver's own; the others are made: up to half the source, frame
// floor(j * src / dst) - 1 is kept for j = 1..dst; above it, the frames
// dropped are placed the same way, one frame earlier, so the top one stays.
// Entries with dst above src are 0.
#pragma once

#include <array>

#include "zq_common.h"

namespace zq::video {

constexpr u32 kViMaxFrameRate = 30;

// The frames floor(j * src / n) - 1 for j = 1..n (n <= src / 2: no two adjacent).
constexpr u32 spread_frames(u32 src, u32 n) {
    u32 bits = 0;
    for (u32 j = 1; j <= n; ++j) bits |= 1u << (j * src / n - 1);
    return bits;
}

constexpr u32 keep_mask(u32 src, u32 dst) {
    if (dst == 0 || dst > src) return 0;
    const u32 all = src == 32 ? ~0u : (1u << src) - 1;
    if (2 * dst <= src) return spread_frames(src, dst);
    const u32 dropped = src - dst;
    return dropped == 0 ? all : all & ~(spread_frames(src, dropped) >> 1);
}

using KeepMaskTable = std::array<std::array<u32, kViMaxFrameRate>, kViMaxFrameRate>;

struct KnownRow {
    u32 src;
    u32 masks[kViMaxFrameRate];
};

constexpr KnownRow kKnownRows[] = {
    {1, {0x1}},
    {2, {0x2, 0x3}},
    {3, {0x4, 0x5, 0x7}},
    {4, {0x8, 0xA, 0xB, 0xF}},
    {5, {0x10, 0x12, 0x16, 0x17, 0x1F}},
    {15,
     {0x4000, 0x4040, 0x4210, 0x4488, 0x4924, 0x4A52, 0x4AAA, 0x5AAA, 0x5AD6, 0x5B6D, 0x5DBB,
      0x5EF7, 0x5FDF, 0x5FFF, 0x7FFF}},
    {25, {0x1000000, 0x1000800, 0x1008080, 0x1020820, 0x1084210, 0x1088888, 0x1122244,
          0x1124924, 0x12924A4, 0x1294A52, 0x12A952A, 0x12AAAAA, 0x16AAAAA, 0x16AB56A,
          0x16B5AD6, 0x16B6DAD, 0x176DB6D, 0x176EEDD, 0x17BBBBB, 0x17BDEF7, 0x17EFBEF,
          0x17FBFBF, 0x17FFBFF, 0x17FFFFF, 0x1FFFFFF}},
    {30, {0x20000000, 0x20004000, 0x20080200, 0x20204040, 0x20820820, 0x21084210,
          0x21111088, 0x22444488, 0x22489224, 0x24924924, 0x2524A4A4, 0x25294A52,
          0x2552A54A, 0x25554AAA, 0x2AAAAAAA, 0x2D555AAA, 0x2D56AD5A, 0x2D6B5AD6,
          0x2D6DADAD, 0x2DB6DB6D, 0x2EDBB6ED, 0x2EDDDDBB, 0x2F7777BB, 0x2F7BDEF7,
          0x2FBEFBEF, 0x2FEFDFDF, 0x2FFBFEFF, 0x2FFFDFFF, 0x2FFFFFFF, 0x3FFFFFFF}},
};

constexpr KeepMaskTable make_keep_masks() {
    KeepMaskTable table{};
    for (u32 src = 1; src <= kViMaxFrameRate; ++src)
        for (u32 dst = 1; dst <= kViMaxFrameRate; ++dst)
            table[src - 1][dst - 1] = keep_mask(src, dst);
    for (const KnownRow &row : kKnownRows)
        for (u32 dst = 1; dst <= row.src; ++dst) table[row.src - 1][dst - 1] = row.masks[dst - 1];
    return table;
}

inline constexpr KeepMaskTable ViFrameKeepMask = make_keep_masks();

static_assert(ViFrameKeepMask[29][14] == 0x2AAAAAAA && ViFrameKeepMask[24][12] == 0x16AAAAA &&
              ViFrameKeepMask[4][2] == 0x16 && ViFrameKeepMask[0][0] == 0x1);

}  // namespace zq::video
