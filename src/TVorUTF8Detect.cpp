#include "TVorUTF8Detect.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// clang-format off
const std::uint8_t Utf8TrailTable[256] = {
  /* 0x00 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x10 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x20 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x30 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x40 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x50 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x60 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x70 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x80 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0x90 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0xA0 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0xB0 */ 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
  /* 0xC0 */ 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
  /* 0xD0 */ 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
  /* 0xE0 */ 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
  /* 0xF0 */ 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5,
};
// clang-format on

namespace {

inline bool IsContinuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

// Bytes from p on (at most n) that are 0x01 to 0x7F: the bytes that change
// nothing while no continuation byte is due.
inline std::size_t AsciiRun(const std::uint8_t* p, std::size_t n) {
  std::size_t i = 0;
#ifdef __SSE2__
  const __m128i one = _mm_set1_epi8(1);
  // As signed bytes, 0 and 0x80 to 0xFF are exactly those below 1.
  for (; i + 64 <= n; i += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
    const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(a, one), _mm_cmplt_epi8(b, one)),
                                      _mm_or_si128(_mm_cmplt_epi8(c, one), _mm_cmplt_epi8(d, one)));
    if (_mm_movemask_epi8(stop) != 0) break;
  }
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const int mask = _mm_movemask_epi8(_mm_cmplt_epi8(v, one));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#else
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    // A byte that is zero borrows into its high bit; a byte at or above
    // 0x80 has it already. Borrows only run upwards from a real hit.
    if (((w - kOnes) | w) & kHighs) break;
  }
#endif
  while (i < n && p[i] != 0 && p[i] < 0x80)
    ++i;
  return i;
}

} // namespace

bool IsValidUtf8(const std::uint8_t* buffer, bool allowTruncated) {
  return IsValidUtf8(buffer, std::strlen(reinterpret_cast<const char*>(buffer)), allowTruncated);
}

bool IsValidUtf8(const std::uint8_t* buffer, std::size_t size, bool allowTruncated) {
  int expected = 0;
  bool multiByte = false;
  std::size_t i = 0;
  for (;;) {
    if (expected == 0) i += AsciiRun(buffer + i, size - i);
    if (i == size || buffer[i] == 0) break;
    const std::uint8_t b = buffer[i++];
    if (expected > 0) {
      multiByte = true;
      if (!IsContinuation(b)) return false;
      --expected;
    } else if (!IsContinuation(b)) {
      expected = Utf8TrailTable[b];
    } else {
      return false;
    }
  }
  if (!multiByte) return false;
  return allowTruncated || expected == 0;
}
