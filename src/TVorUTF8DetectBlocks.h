// Pieces of the UTF-8 walk shared by its variants. Everything here has
// internal linkage on purpose: each variant's file is compiled for its own
// instruction set, and the linker must never hand one file's copy to
// another.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "TVorUTF8Detect.h"

namespace {

inline bool IsContinuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

struct WalkState {
  std::size_t i = 0;
  int expected = 0;
  bool sawContinuation = false;
};

enum class WalkStop { Limit, Terminator, Invalid };

// One byte at a time from state.i up to `limit`.
inline WalkStop WalkBytes(const std::uint8_t* p, std::size_t limit, WalkState& s) {
  for (; s.i < limit; ++s.i) {
    const std::uint8_t b = p[s.i];
    if (b == 0) return WalkStop::Terminator;
    if (s.expected > 0) {
      if (!IsContinuation(b)) return WalkStop::Invalid;
      s.sawContinuation = true;
      --s.expected;
    } else if (IsContinuation(b)) {
      return WalkStop::Invalid;
    } else {
      s.expected = Utf8TrailTable[b];
    }
  }
  return WalkStop::Limit;
}

// Walks up to `limit`, then on while a sequence is open (never past `size`).
inline WalkStop WalkToSequenceEnd(const std::uint8_t* p, std::size_t limit, std::size_t size,
                                  WalkState& s) {
  WalkStop stop = WalkBytes(p, limit, s);
  while (stop == WalkStop::Limit && s.expected > 0 && s.i < size)
    stop = WalkBytes(p, s.i + 1, s);
  return stop;
}

inline bool FinishWalk(WalkStop stop, const WalkState& s, bool allowTruncated) {
  if (stop == WalkStop::Invalid || !s.sawContinuation) return false;
  return allowTruncated || s.expected == 0;
}

// The longest reach of a lead byte: 0xFC to 0xFF want five continuations.
constexpr std::size_t kLongestTrail = 5;

// Continuation bytes still due at position i, worked out from the bytes
// before it. Exact only when those bytes already passed the walk: then the
// nearest byte that is not a continuation is the lead of the open sequence.
inline int DueAt(const std::uint8_t* p, std::size_t i) {
  for (std::size_t k = 1; k <= kLongestTrail && k <= i; ++k) {
    const std::uint8_t b = p[i - k];
    if (!IsContinuation(b)) return std::max(0, Utf8TrailTable[b] - static_cast<int>(k - 1));
  }
  return 0;
}

// What the vector check finds wrong in the vector at q, in the high bit of
// each byte: a continuation that no lead reaches or the other way round,
// and a zero or a lead of 0xF8 to 0xFF, which the check leaves to the byte
// walk. Sets `continuation` to the continuation bytes (high bits).
template <class Ops>
typename Ops::Vec VectorFaults(const std::uint8_t* q, typename Ops::Vec& continuation) {
  using Vec = typename Ops::Vec;
  const Vec b = Ops::Load(q);
  // Saturating subtraction leaves the high bit set exactly where a lead
  // byte k places back wants at least k more bytes: at least 0xC0 one
  // place back, 0xE0 two places, 0xF0 three.
  const Vec due =
      Ops::Or(Ops::Or(Ops::SubSat(Ops::Load(q - 1), 0x40), Ops::SubSat(Ops::Load(q - 2), 0x60)),
              Ops::SubSat(Ops::Load(q - 3), 0x70));
  // Signed, 0xC0 is -64: above every continuation byte, below every other.
  continuation = Ops::Greater(Ops::Splat(0xC0), b);
  // b - 1 wraps zero to 0xFF; from 0xF7 up are zero and 0xF8 to 0xFF.
  const Vec rare = Ops::SubSat(Ops::Sub(b, Ops::Splat(1)), 0x77);
  return Ops::Or(Ops::Xor(due, continuation), rare);
}

// The walk a vector at a time. A byte must be a continuation exactly when a
// lead byte before it still reaches it; checking that for every byte of a
// vector at once is the same as walking them in order, as long as the
// bytes before the vector were walked already. The vector check looks three
// bytes back, far enough for every lead up to 0xF7. Where it finds
// anything, a fault or a zero or a longer lead, the byte walk takes those
// bytes and goes on to where no sequence is open. Runs of ASCII with
// nothing due skip four vectors at a time. Ops wraps the intrinsics of one
// instruction set.
template <class Ops>
bool WalkVectors(const std::uint8_t* p, std::size_t size, bool allowTruncated) {
  using Vec = typename Ops::Vec;
  constexpr std::size_t W = Ops::kWidth;
  WalkState s;
  // A few bytes one at a time, so that every vector can look back, and on
  // to the end of the sequence at hand: a long one must not reach past the
  // three bytes the vector check looks at.
  const WalkStop head = WalkToSequenceEnd(p, std::min(size, 2 * kLongestTrail), size, s);
  if (head != WalkStop::Limit) return FinishWalk(head, s, allowTruncated);

  const Vec one = Ops::Splat(1);
  Vec seen = Ops::Zero();
  bool clean = true; // nothing due at i
  std::size_t i = s.i;
  while (i + W <= size) {
    if (clean) {
      while (i + 4 * W <= size && Ops::AllAscii4(p + i))
        i += 4 * W;
      if (i + W > size) break;
      // Zero and 0x80 to 0xFF are exactly the signed bytes below 1.
      if (Ops::Mask(Ops::Greater(one, Ops::Load(p + i))) == 0) {
        i += W;
        continue;
      }
    }
    // Two vectors a step where there is room: one test for both.
    const std::size_t step = i + 2 * W <= size ? 2 * W : W;
    Vec first, second = Ops::Zero();
    Vec faults = VectorFaults<Ops>(p + i, first);
    if (step > W) faults = Ops::Or(faults, VectorFaults<Ops>(p + i + W, second));
    if (Ops::Mask(faults) != 0) {
      s.i = i;
      s.expected = DueAt(p, i);
      s.sawContinuation = s.sawContinuation || Ops::AnySet(seen);
      const WalkStop stop = WalkToSequenceEnd(p, i + step, size, s);
      if (stop != WalkStop::Limit) return FinishWalk(stop, s, allowTruncated);
      i = s.i;
      clean = true; // nothing is due, or the buffer is walked
      continue;
    }
    seen = Ops::Or(seen, Ops::Or(first, second));
    i += step;
    // No sequence is open at i when the last three bytes walked are ASCII:
    // the vector check reaches no further back.
    clean = (p[i - 1] | p[i - 2] | p[i - 3]) < 0x80;
  }
  s.i = i;
  s.expected = DueAt(p, i);
  s.sawContinuation = s.sawContinuation || Ops::AnySet(seen);
  return FinishWalk(WalkBytes(p, size, s), s, allowTruncated);
}

} // namespace
