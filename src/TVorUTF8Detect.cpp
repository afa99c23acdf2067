// The UTF-8 walk: its trail table, its plain form, and where a walk stops.
#include "TVorUTF8Detect.h"

#include <cstring>

#include "Kernels.h"
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

} // namespace

// The walk for any processor: a word at a time over ASCII, then bytes.
bool Utf8WalkPlain(const std::uint8_t* buffer, std::size_t size, bool allowTruncated) {
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

bool IsValidUtf8(const std::uint8_t* buffer, bool allowTruncated) {
  return IsValidUtf8(buffer, std::strlen(reinterpret_cast<const char*>(buffer)), allowTruncated);
}

bool IsValidUtf8(const std::uint8_t* buffer, std::size_t size, bool allowTruncated) {
  return ChosenKernels().utf8Walk(buffer, size, allowTruncated);
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
