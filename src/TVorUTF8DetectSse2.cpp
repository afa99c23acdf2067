// The UTF-8 walk sixteen bytes at a time. Built with SSE2 enabled; the
// 32-bit build runs it only where the processor has SSE2.
#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>

#include "TVorUTF8DetectBlocks.h"

namespace {

struct Sse2 {
  using Vec = __m128i;
  static constexpr std::size_t kWidth = 16;
  static Vec Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const Vec*>(p));
  }
  static Vec Zero() { return _mm_setzero_si128(); }
  static Vec Splat(std::uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
  static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
  static Vec Xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
  static Vec Equal(Vec a, Vec b) { return _mm_cmpeq_epi8(a, b); }
  static Vec Greater(Vec a, Vec b) { return _mm_cmpgt_epi8(a, b); } // signed
  static Vec SubSat(Vec a, std::uint8_t b) { return _mm_subs_epu8(a, Splat(b)); }
  static Vec Sub(Vec a, Vec b) { return _mm_sub_epi8(a, b); }
  static unsigned Mask(Vec a) { return static_cast<unsigned>(_mm_movemask_epi8(a)); }
  static bool AnySet(Vec a) { return _mm_movemask_epi8(_mm_cmpeq_epi8(a, Zero())) != 0xFFFF; }
  // Four vectors of 0x01 to 0x7F: no byte is below 1 as a signed byte.
  static bool AllAscii4(const std::uint8_t* p) {
    const Vec one = Splat(1);
    const Vec low = Or(Or(Greater(one, Load(p)), Greater(one, Load(p + 16))),
                       Or(Greater(one, Load(p + 32)), Greater(one, Load(p + 48))));
    return _mm_movemask_epi8(low) == 0;
  }
};

} // namespace

bool Utf8WalkSse2(const std::uint8_t* buffer, std::size_t size, bool allowTruncated) {
  return WalkVectors<Sse2>(buffer, size, allowTruncated);
}
#endif
