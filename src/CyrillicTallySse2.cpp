// The Cyrillic tally sixteen bytes at a time. Built with SSE2 enabled; the
// 32-bit build runs it only where the processor has SSE2.
#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>

#include "CyrillicTallyBlocks.h"

namespace {

struct Sse2 {
  using Vec = __m128i;
  static constexpr std::size_t kWidth = 16;
  static Vec Load(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const Vec*>(p));
  }
  static Vec Splat(std::uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
  static Vec Add(Vec a, Vec b) { return _mm_add_epi8(a, b); }
  static Vec And(Vec a, Vec b) { return _mm_and_si128(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm_or_si128(a, b); }
  static Vec Greater(Vec a, Vec b) { return _mm_cmpgt_epi8(a, b); } // signed
  static unsigned Mask(Vec a) { return static_cast<unsigned>(_mm_movemask_epi8(a)); }
  // Without a population count instruction: bits summed in ever wider fields.
  static int Count(std::uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555ULL;
    x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
  }
};

} // namespace

CyrillicTally CyrillicTallySse2(const std::uint8_t* buffer, std::size_t count, int limit) {
  return TallyBlocks<Sse2>(buffer, count, limit);
}
#endif
