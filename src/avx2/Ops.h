// The vector operations thirty-two bytes at a time, with AVX2 (and POPCNT,
// which every AVX2 processor has).
#pragma once

#include <immintrin.h>

#include <bit>

#define CHARSIFT_MM(op) _mm256_##op
#define CHARSIFT_MM_WHOLE(op) _mm256_##op##_si256
#include "VectorOps.h"

namespace {

struct Avx2 : VectorOps {
  static bool AnySet(Vec a) { return !_mm256_testz_si256(a, a); }
  // Four vectors of 0x01 to 0x7F: their signed minimum is at least 1.
  static bool AllAscii4(const std::uint8_t* p) {
    const Vec low = _mm256_min_epi8(_mm256_min_epi8(Load(p), Load(p + 32)),
                                    _mm256_min_epi8(Load(p + 64), Load(p + 96)));
    return Mask(Greater(Splat(1), low)) == 0;
  }
  static int Count(std::uint64_t x) { return std::popcount(x); }
};

} // namespace
