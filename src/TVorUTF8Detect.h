// The UTF-8 walk: counts continuation bytes, nothing more.
#pragma once

#include <cstddef>
#include <cstdint>

// Continuation bytes that follow a lead byte, by byte value. The entries for
// 0x80 to 0xBF are never consulted: those are continuation bytes.
extern const std::uint8_t Utf8TrailTable[256];

// Walks a zero-terminated buffer. True when every sequence has its
// continuation bytes and at least one continuation byte was due somewhere;
// with allowTruncated a sequence cut by the terminator still passes.
bool IsValidUtf8(const std::uint8_t* buffer, bool allowTruncated);

// The same walk over a buffer of known size: it ends at the first zero byte
// or after the last byte, whichever comes first. Knowing the size lets it
// look at many bytes at a time without reading past the buffer; it runs the
// chosen set of loops (Kernels.h).
bool IsValidUtf8(const std::uint8_t* buffer, std::size_t size, bool allowTruncated);

// Where the byte walk over a buffer of known size stops, and why: the
// numbers behind IsValidUtf8's answer, for telling a user why a sample is
// or is not UTF-8.
struct Utf8Stop {
  enum Kind { End, Terminator, Invalid } kind;
  std::size_t offset;   // of the byte that stopped the walk, or the size
  std::uint8_t byte;    // that byte; 0 at the end
  int due;              // continuation bytes still due there
  bool sawContinuation; // a continuation byte was due somewhere before
};
Utf8Stop LocateUtf8Stop(const std::uint8_t* buffer, std::size_t size);
