// The UTF-8 walk written out plainly, one byte at a time: the oracle for the
// fast walk and the reference chain's UTF-8 step (tests and fuzzers).
#pragma once

#include <cstddef>
#include <cstdint>

namespace reference {

inline int TrailCount(std::uint8_t b) {
  if (b < 0xC0) return 0;
  if (b < 0xE0) return 1;
  if (b < 0xF0) return 2;
  if (b < 0xF8) return 3;
  if (b < 0xFC) return 4;
  return 5;
}

// Stops at the first zero byte or after `size` bytes.
inline bool IsValidUtf8(const std::uint8_t* bytes, std::size_t size, bool allowTruncated) {
  int due = 0;
  bool sawDue = false;
  for (std::size_t i = 0; i < size && bytes[i] != 0; ++i) {
    const bool continuation = bytes[i] >= 0x80 && bytes[i] <= 0xBF;
    if (due > 0) {
      sawDue = true;
      if (!continuation) return false;
      --due;
    } else if (continuation) {
      return false;
    } else {
      due = TrailCount(bytes[i]);
    }
  }
  return sawDue && (allowTruncated || due == 0);
}

} // namespace reference
