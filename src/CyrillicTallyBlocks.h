// The Cyrillic tally 64 bytes at a time, over bit masks of letters (bit i:
// byte i), written once over any set of vector operations. Internal linkage
// on purpose: each kernels file is built for its own instruction set, and
// the linker must never hand one file's copy to another.
#pragma once

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

#include "ByteClasses.h"
#include "CyrillicTally.h"

namespace {

constexpr std::size_t kBlock = 64;

// One code page's count so far.
struct RunCount {
  std::int64_t letters = 0;
  std::int64_t longest = 0;
  std::int64_t open = 0; // letters at the end of the bytes so far
};

// Adds a block of letters given by mask. Once the longest run reaches the
// limit only letters are counted: the answer can no longer change.
template <typename Isa> inline void AddBlock(RunCount& c, std::uint64_t mask, std::int64_t limit) {
  if (mask == 0) { // the common block of Latin text
    c.open = 0;
    return;
  }
  const int letters = Isa::Count(mask);
  c.letters += letters;
  if (c.longest >= limit) return;
  if (mask == ~std::uint64_t{0}) {
    c.open += static_cast<std::int64_t>(kBlock);
    if (c.open > c.longest) c.longest = c.open;
    return;
  }
  // The run open before the block ends at its first non-letter.
  const std::int64_t joined = c.open + std::countr_one(mask);
  if (joined > c.longest) c.longest = joined;
  // A run inside the block: each shift-and shortens every run by one. No
  // block with fewer letters than the longest run so far can beat it.
  if (letters > c.longest) {
    std::int64_t inside = 0;
    for (std::uint64_t x = mask; x != 0 && inside < limit; x &= x >> 1)
      ++inside;
    if (inside > c.longest) c.longest = inside;
  }
  c.open = std::countl_one(mask);
}

// The letter masks of 64 bytes, both code pages, from the letter ranges of
// IsCyrillicLetter (a test holds every byte value to it).
template <typename Isa> inline void Masks(const std::uint8_t* p, std::uint64_t masks[2]) {
  using Vec = typename Isa::Vec;
  // As signed bytes, a range that starts at 0x80 is the bytes below its end.
  static_assert(kFirst1251Letter == 0xC0 && kFirst866Letter == 0x80);
  constexpr std::uint8_t kLowEnd = kLast866LowLetter + 1;
  // E0 to F1 moved to start at 0x80.
  constexpr auto kShift = static_cast<std::uint8_t>(0x80 - kFirst866HighLetter);
  constexpr std::uint8_t kHighEnd = 0x80 + (kLast866Letter + 1 - kFirst866HighLetter);
  masks[0] = masks[1] = 0;
  for (std::size_t k = 0; k < kBlock; k += Isa::kWidth) {
    const Vec x = Isa::Load(p + k);
    // 1251: C0 to FF, the bytes whose two high bits are set.
    const std::uint64_t m1251 = Isa::Mask(Isa::And(x, Isa::Add(x, x)));
    const Vec low = Isa::Greater(Isa::Splat(kLowEnd), x);
    const Vec high = Isa::Greater(Isa::Splat(kHighEnd), Isa::Add(x, Isa::Splat(kShift)));
    const std::uint64_t m866 = Isa::Mask(Isa::Or(low, high));
    masks[0] |= m1251 << k;
    masks[1] |= m866 << k;
  }
}

template <typename Isa>
CyrillicTally TallyBlocks(const std::uint8_t* buffer, std::size_t count, int limit) {
  const std::int64_t cap = limit > 0 ? limit : INT64_MAX;
  RunCount pages[2];
  std::uint64_t masks[2];
  std::size_t i = 0;
  for (; i + kBlock <= count; i += kBlock) {
    Masks<Isa>(buffer + i, masks);
    AddBlock<Isa>(pages[0], masks[0], cap);
    AddBlock<Isa>(pages[1], masks[1], cap);
  }
  if (i < count) {
    // The rest padded with zeros, which no code page counts as a letter.
    std::uint8_t last[kBlock] = {};
    std::memcpy(last, buffer + i, count - i);
    Masks<Isa>(last, masks);
    AddBlock<Isa>(pages[0], masks[0], cap);
    AddBlock<Isa>(pages[1], masks[1], cap);
  }
  CyrillicTally tally;
  for (int page = 0; page < 2; ++page) {
    tally.letters[page] = pages[page].letters;
    const std::int64_t longest = pages[page].longest < cap ? pages[page].longest : cap;
    tally.longest[page] = longest < INT_MAX ? static_cast<int>(longest) : INT_MAX;
  }
  return tally;
}

} // namespace
