// Pieces of the UTF-8 walk shared by its variants. Everything here has
// internal linkage on purpose: each variant's file is compiled for its own
// instruction set, and the linker must never hand one file's copy to
// another.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// The vector check reads up to three bytes before each vector; a block of
// vectors is the step of the walk.
constexpr std::size_t kLookBack = 3;
constexpr std::size_t kBlockVectors = 4;

// A block check reaches sequences of up to `longest` bytes, 2, 3 or 4: it
// looks back longest - 1 bytes and leaves leads of longer ones to a longer
// check. Text without longer sequences costs fewer operations. The first
// lead byte of a longer sequence:
constexpr std::uint8_t FirstLeadBeyond(int longest) {
  return longest == 2 ? 0xE0 : longest == 3 ? 0xF0 : 0xF8;
}

// Where the lead bytes before a vector want a continuation byte in it, in
// the high bit of each byte: q[-1] at least 0xC0, q[-2] at least 0xE0 or
// q[-3] at least 0xF0. Saturating subtraction leaves the high bit set
// exactly there.
template <class Ops, int kLongest> typename Ops::Vec DueIn(const std::uint8_t* q) {
  typename Ops::Vec due = Ops::SubSat(Ops::Load(q - 1), 0x40);
  if constexpr (kLongest >= 3) due = Ops::Or(due, Ops::SubSat(Ops::Load(q - 2), 0x60));
  if constexpr (kLongest >= 4) due = Ops::Or(due, Ops::SubSat(Ops::Load(q - 3), 0x70));
  return due;
}

// The continuation bytes: as signed bytes, 0x80 to 0xBF lie below 0xC0.
template <class Ops> typename Ops::Vec ContinuationsIn(typename Ops::Vec b) {
  return Ops::Greater(Ops::Splat(0xC0), b);
}

// What one step of the vector check learns about the block at q.
template <class Ops> struct BlockCheck {
  using Vec = typename Ops::Vec;
  Vec faults;        // high bit set somewhere: the byte walk must look
  Vec highest;       // the largest byte of each lane: below 0x80 when all ASCII
  Vec continuations; // high bits of the continuation bytes, if asked for
};

// A byte must be a continuation exactly when a lead before it still reaches
// it; checking that for every byte of a block at once is the same as
// walking them in order, as long as the bytes before the block were walked
// already and hold no lead longer than kLongest. A zero byte, or a lead
// longer than kLongest, fails the block too: those show in its least and
// its largest byte. Continuation bytes are gathered only while none has
// been seen: that is all the walk asks of them.
template <class Ops, int kLongest, bool kGatherContinuations>
BlockCheck<Ops> CheckBlock(const std::uint8_t* q) {
  using Vec = typename Ops::Vec;
  constexpr std::size_t W = Ops::kWidth;
  Vec mismatch = Ops::Zero(), lowest = Ops::Splat(0xFF), highest = Ops::Zero();
  Vec continuations = Ops::Zero();
  for (std::size_t k = 0; k < kBlockVectors * W; k += W) {
    const Vec b = Ops::Load(q + k);
    const Vec c = ContinuationsIn<Ops>(b);
    mismatch = Ops::Or(mismatch, Ops::Xor(DueIn<Ops, kLongest>(q + k), c));
    lowest = Ops::MinU(lowest, b);
    highest = Ops::MaxU(highest, b);
    if constexpr (kGatherContinuations) continuations = Ops::Or(continuations, c);
    mismatch = Ops::Settle(mismatch);
  }
  // The high bit where the largest byte is FirstLeadBeyond or more.
  const Vec beyond = Ops::SubSat(highest, FirstLeadBeyond(kLongest) - 0x80);
  const Vec rare = Ops::Or(Ops::Equal(lowest, Ops::Zero()), beyond);
  return {Ops::Or(mismatch, rare), highest, continuations};
}

// The first byte of the block at q that the longest check objects to, as
// an offset (a whole block when none), and whether a continuation byte
// comes before it.
template <class Ops> std::size_t FirstFault(const std::uint8_t* q, bool& continuationBefore) {
  using Vec = typename Ops::Vec;
  constexpr std::size_t W = Ops::kWidth;
  for (std::size_t k = 0; k < kBlockVectors * W; k += W) {
    const Vec b = Ops::Load(q + k);
    const Vec c = ContinuationsIn<Ops>(b);
    // b - 1 wraps zero to 0xFF; from 0xF7 up are zero and 0xF8 to 0xFF.
    const Vec rare = Ops::SubSat(Ops::Sub(b, Ops::Splat(1)), 0x77);
    const std::uint64_t faults = Ops::Mask(Ops::Or(Ops::Xor(DueIn<Ops, 4>(q + k), c), rare));
    const std::uint64_t before = faults ? (faults & (0 - faults)) - 1 : ~std::uint64_t{0};
    continuationBefore = continuationBefore || (Ops::Mask(c) & before) != 0;
    if (faults) return k + static_cast<std::size_t>(std::countr_zero(faults));
  }
  return kBlockVectors * W;
}

// Why a run of blocks in CheckBlocks ended.
enum class BlockRun { Edge, Ascii, Seen, Shorter, Fault };

// Blocks from i on, while CheckBlock passes them at kLongest and each holds
// more than ASCII. Stops before a block it objects to (Fault), after one of
// ASCII alone (Ascii), after the first continuation byte when gathering
// them (Seen), after one that a shorter check would have passed (Shorter),
// or where a whole block no longer fits (Edge). The bytes before i walked.
template <class Ops, int kLongest, bool kGatherContinuations>
BlockRun CheckBlocks(const std::uint8_t* p, std::size_t size, std::size_t& i) {
  constexpr std::size_t kBlock = kBlockVectors * Ops::kWidth;
  for (; i + kBlock <= size; i += kBlock) {
    const BlockCheck<Ops> check = CheckBlock<Ops, kLongest, kGatherContinuations>(p + i);
    if (Ops::Mask(check.faults) != 0) return BlockRun::Fault;
    BlockRun run = BlockRun::Fault;
    if (kGatherContinuations && Ops::AnySet(check.continuations))
      run = BlockRun::Seen;
    else if (Ops::Mask(check.highest) == 0)
      run = BlockRun::Ascii;
    else if (kLongest > 2 &&
             Ops::Mask(Ops::SubSat(check.highest, FirstLeadBeyond(kLongest - 1) - 0x80)) == 0)
      run = BlockRun::Shorter;
    if (run != BlockRun::Fault) {
      i += kBlock;
      return run;
    }
  }
  return BlockRun::Edge;
}

// The byte walk through a block CheckBlock objected to, the block at
// `start` (checked at q, n bytes of it in the buffer): from the first byte
// the longest check objects to, or from `from` where the bytes up to there
// were walked already, on to where no sequence is open. Out of line, so
// that the loops above keep their registers.
template <class Ops>
[[gnu::noinline]] WalkStop WalkFault(const std::uint8_t* p, std::size_t size, std::size_t from,
                                     std::size_t start, const std::uint8_t* q, std::size_t n,
                                     bool seen, WalkState& s) {
  bool continuationBefore = false;
  s.i = std::max(from, start + std::min(FirstFault<Ops>(q, continuationBefore), n));
  s.expected = DueAt(p, s.i);
  s.sawContinuation = seen || continuationBefore;
  return WalkToSequenceEnd(p, std::min(s.i + 1, size), size, s);
}

// The walk a block of vectors at a time. Runs of ASCII skip four vectors
// with one test while nothing is due; other blocks go through CheckBlock,
// as short a check as the block before allows, and only a block the
// longest check objects to is walked a byte at a time. The first bytes are
// walked singly, so that every block has bytes before it and a buffer that
// is no text stops soon; the last block ends with the buffer and checks
// again bytes walked already, which pass again. Ops wraps the intrinsics of
// one instruction set.
template <class Ops>
bool WalkVectors(const std::uint8_t* p, std::size_t size, bool allowTruncated) {
  constexpr std::size_t kBlock = kBlockVectors * Ops::kWidth;
  WalkState s;
  const WalkStop head = WalkToSequenceEnd(p, std::min(size, 2 * kLongestTrail), size, s);
  if (head != WalkStop::Limit || s.i == size) return FinishWalk(head, s, allowTruncated);
  std::size_t i = s.i;
  bool seen = s.sawContinuation; // a continuation byte before i
  int longest = 0;               // the longest sequence the bytes before i may leave open
  for (;;) {
    if (longest == 0) {
      // Nothing is due at i.
      while (i + 4 * Ops::kWidth <= size && Ops::AllAscii4(p + i))
        i += 4 * Ops::kWidth;
      longest = 2;
    }
    // Until the first continuation byte, the longest check gathers them.
    const int checked = seen ? longest : 4;
    const BlockRun run = checked == 2   ? CheckBlocks<Ops, 2, false>(p, size, i)
                         : checked == 3 ? CheckBlocks<Ops, 3, false>(p, size, i)
                         : seen         ? CheckBlocks<Ops, 4, false>(p, size, i)
                                        : CheckBlocks<Ops, 4, true>(p, size, i);
    if (run == BlockRun::Seen) {
      seen = true;
      longest = 4;
      continue;
    }
    if (run == BlockRun::Ascii || run == BlockRun::Shorter) {
      longest = run == BlockRun::Ascii ? 0 : longest - 1;
      continue;
    }
    if (run == BlockRun::Fault && checked < 4) {
      longest = 4; // a longer lead, or a fault the longest check finds too
      continue;
    }
    std::size_t start = i;
    const std::uint8_t* q = p + i;
    std::size_t n = kBlock;
    std::uint8_t staged[kLookBack + kBlock];
    if (run == BlockRun::Edge) {
      if (i == size)
        return FinishWalk(WalkStop::Limit, WalkState{i, DueAt(p, i), seen}, allowTruncated);
      // The block that ends the buffer; in a buffer shorter than that, a
      // copy padded with spaces, which ask for nothing.
      start = size >= kLookBack + kBlock ? size - kBlock : i;
      q = p + start;
      n = size - start;
      if (n < kBlock) {
        std::memset(staged, ' ', sizeof staged);
        std::memcpy(staged, p + start - kLookBack, kLookBack + n);
        q = staged + kLookBack;
      }
      const BlockCheck<Ops> check = CheckBlock<Ops, 4, true>(q);
      if (Ops::Mask(check.faults) == 0) {
        seen = seen || Ops::AnySet(check.continuations);
        i = size;
        continue;
      }
    }
    const WalkStop stop = WalkFault<Ops>(p, size, i, start, q, n, seen, s);
    if (stop != WalkStop::Limit || s.i == size) return FinishWalk(stop, s, allowTruncated);
    i = s.i;
    seen = s.sawContinuation;
    longest = 0; // nothing is due at i
  }
}

} // namespace
