// The UTF-8 walk thirty-two bytes at a time. Built with AVX2 enabled; it
// runs only where the processor and the system support AVX2.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "TVorUTF8DetectBlocks.h"

namespace {

struct Avx2 {
  using Vec = __m256i;
  static constexpr std::size_t kWidth = 32;
  static Vec Load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const Vec*>(p));
  }
  static Vec Zero() { return _mm256_setzero_si256(); }
  static Vec Splat(std::uint8_t b) { return _mm256_set1_epi8(static_cast<char>(b)); }
  static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
  static Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
  static Vec Equal(Vec a, Vec b) { return _mm256_cmpeq_epi8(a, b); }
  static Vec Greater(Vec a, Vec b) { return _mm256_cmpgt_epi8(a, b); } // signed
  static Vec SubSat(Vec a, std::uint8_t b) { return _mm256_subs_epu8(a, Splat(b)); }
  static Vec Sub(Vec a, Vec b) { return _mm256_sub_epi8(a, b); }
  static unsigned Mask(Vec a) { return static_cast<unsigned>(_mm256_movemask_epi8(a)); }
  static bool AnySet(Vec a) { return !_mm256_testz_si256(a, a); }
  // Four vectors of 0x01 to 0x7F: their signed minimum is at least 1.
  static bool AllAscii4(const std::uint8_t* p) {
    const Vec low = _mm256_min_epi8(_mm256_min_epi8(Load(p), Load(p + 32)),
                                    _mm256_min_epi8(Load(p + 64), Load(p + 96)));
    return _mm256_movemask_epi8(_mm256_cmpgt_epi8(Splat(1), low)) == 0;
  }
};

} // namespace

bool Utf8WalkAvx2(const std::uint8_t* buffer, std::size_t size, bool allowTruncated) {
  return WalkVectors<Avx2>(buffer, size, allowTruncated);
}
#endif
