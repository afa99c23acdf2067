// The Cyrillic tally thirty-two bytes at a time. Built with AVX2 and POPCNT
// enabled; it runs only where the processor and the system support both.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include "CyrillicTallyBlocks.h"

namespace {

struct Avx2 {
  using Vec = __m256i;
  static constexpr std::size_t kWidth = 32;
  static Vec Load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const Vec*>(p));
  }
  static Vec Splat(std::uint8_t b) { return _mm256_set1_epi8(static_cast<char>(b)); }
  static Vec Add(Vec a, Vec b) { return _mm256_add_epi8(a, b); }
  static Vec And(Vec a, Vec b) { return _mm256_and_si256(a, b); }
  static Vec Or(Vec a, Vec b) { return _mm256_or_si256(a, b); }
  static Vec Greater(Vec a, Vec b) { return _mm256_cmpgt_epi8(a, b); } // signed
  static unsigned Mask(Vec a) { return static_cast<unsigned>(_mm256_movemask_epi8(a)); }
  static int Count(std::uint64_t x) { return std::popcount(x); }
};

} // namespace

CyrillicTally CyrillicTallyAvx2(const std::uint8_t* buffer, std::size_t count, int limit) {
  return TallyBlocks<Avx2>(buffer, count, limit);
}
#endif
