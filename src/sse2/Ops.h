// The vector operations sixteen bytes at a time, with SSE2.
#pragma once

#include <emmintrin.h>

#define CHARSIFT_MM(op) _mm_##op
#define CHARSIFT_MM_WHOLE(op) _mm_##op##_si128
#include "VectorOps.h"

namespace {

struct Sse2 : VectorOps {
  static bool AnySet(Vec a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, Zero())) != 0xFFFF; }
  // Four vectors of 0x01 to 0x7F: no byte is below 1 as a signed byte.
  static bool AllAscii4(const std::uint8_t* p) {
    const Vec one = Splat(1);
    const Vec low = Or(Or(Greater(one, Load(p)), Greater(one, Load(p + 16))),
                       Or(Greater(one, Load(p + 32)), Greater(one, Load(p + 48))));
    return Mask(low) == 0;
  }
  // Bits set in a 64-bit mask. SSE2 has no population count instruction:
  // the bits are summed in ever wider fields.
  static int Count(std::uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555ULL;
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
  }
};

} // namespace
