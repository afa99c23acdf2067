// The UTF-8 walk's portable form, the run-time choice among its forms, and where a walk stops.
#include "TVorUTF8Detect.h"

#include <cstring>

#include "TVorUTF8DetectBlocks.h"

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

#if defined(__x86_64__) || defined(__i386__)
#define CHARSIFT_VECTOR_WALKS 1
// Each in a file of its own, built for its instruction set.
bool Utf8WalkSse2(const std::uint8_t* buffer, std::size_t size, bool allowTruncated);
bool Utf8WalkAvx2(const std::uint8_t* buffer, std::size_t size, bool allowTruncated);
#endif

namespace {

// Bytes from p on (at most n) that are 0x01 to 0x7F: the bytes that change
// nothing while no continuation byte is due. Eight at a time.
std::size_t AsciiRun(const std::uint8_t* p, std::size_t n) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    // A byte that is zero borrows into its high bit; a byte at or above
    // 0x80 has it already. Borrows only run upwards from a real hit.
    if (((w - kOnes) | w) & kHighs) break;
  }
  while (i < n && p[i] != 0 && p[i] < 0x80)
    ++i;
  return i;
}

// The walk for any processor: a word at a time over ASCII, then bytes.
bool WalkWords(const std::uint8_t* buffer, std::size_t size, bool allowTruncated) {
  WalkState s;
  while (s.i < size) {
    if (s.expected == 0) {
      s.i += AsciiRun(buffer + s.i, size - s.i);
      if (s.i == size) break;
    }
    const WalkStop stop = WalkBytes(buffer, s.i + 1, s);
    if (stop != WalkStop::Limit) return FinishWalk(stop, s, allowTruncated);
  }
  return FinishWalk(WalkStop::Limit, s, allowTruncated);
}

} // namespace

namespace {

struct WalkTable {
  Utf8Walk walks[3];
  std::size_t count = 0;
};

WalkTable FindWalks() {
  WalkTable t;
  t.walks[t.count++] = {"words", WalkWords};
#ifdef CHARSIFT_VECTOR_WALKS
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2")) t.walks[t.count++] = {"sse2", Utf8WalkSse2};
  // True only when the system saves the AVX registers as well.
  if (__builtin_cpu_supports("avx2")) t.walks[t.count++] = {"avx2", Utf8WalkAvx2};
#endif
  return t;
}

// Settled at load, before any query: a function-local static would need a
// guard, and the guard would bring a lock into the host's process.
const WalkTable kWalks = FindWalks();
const auto kFastestWalk = kWalks.walks[kWalks.count - 1].walk;

} // namespace

std::span<const Utf8Walk> Utf8Walks() { return {kWalks.walks, kWalks.count}; }

bool IsValidUtf8(const std::uint8_t* buffer, bool allowTruncated) {
  return IsValidUtf8(buffer, std::strlen(reinterpret_cast<const char*>(buffer)), allowTruncated);
}

bool IsValidUtf8(const std::uint8_t* buffer, std::size_t size, bool allowTruncated) {
  return kFastestWalk(buffer, size, allowTruncated);
}

// The byte walk the vector walks fall back to, run over the whole buffer.
Utf8Stop LocateUtf8Stop(const std::uint8_t* buffer, std::size_t size) {
  WalkState s;
  const WalkStop stop = WalkBytes(buffer, size, s);
  const Utf8Stop::Kind kind = stop == WalkStop::Invalid      ? Utf8Stop::Invalid
                              : stop == WalkStop::Terminator ? Utf8Stop::Terminator
                                                             : Utf8Stop::End;
  return {kind, s.i, s.i < size ? buffer[s.i] : std::uint8_t{0}, s.expected, s.sawContinuation};
}
