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
  std::int64_t vowels = 0;
  std::int64_t longest = 0;
  std::int64_t open = 0; // run letters at the end of the bytes so far
};

// One block's masks (bit i: byte i) for both code pages: its letters, the
// letters that make runs, and the vowels.
struct BlockMasks {
  std::uint64_t letters[2] = {0, 0};
  std::uint64_t runs[2] = {0, 0};
  std::uint64_t vowels[2] = {0, 0};
};

// Adds a block. Once the longest run reaches the limit only letters and
// vowels are counted: the run rule's answer can no longer change.
template <typename Isa>
inline void AddBlock(RunCount& c, std::uint64_t letters, std::uint64_t mask, std::uint64_t vowels,
                     std::int64_t limit) {
  if (letters != 0) c.letters += Isa::Count(letters);
  if (vowels != 0) c.vowels += Isa::Count(vowels);
  if (mask == 0) { // the common block of Latin text
    c.open = 0;
    return;
  }
  if (c.longest >= limit) return;
  if (mask == ~std::uint64_t{0}) {
    c.open += static_cast<std::int64_t>(kBlock);
    if (c.open > c.longest) c.longest = c.open;
    return;
  }
  // The run open before the block ends at its first byte out of a run.
  const std::int64_t joined = c.open + std::countr_one(mask);
  if (joined > c.longest) c.longest = joined;
  // A run inside the block: each shift-and shortens every run by one. No
  // block with fewer run letters than the longest run so far can beat it.
  if (Isa::Count(mask) > c.longest) {
    std::int64_t inside = 0;
    for (std::uint64_t x = mask; x != 0 && inside < limit; x &= x >> 1)
      ++inside;
    if (inside > c.longest) c.longest = inside;
  }
  c.open = std::countl_one(mask);
}

// The bytes of x that equal one of the codes, as a vector of 0xFF and 0.
template <typename Isa, std::size_t N>
inline typename Isa::Vec AnyOf(typename Isa::Vec x, const std::uint8_t (&codes)[N]) {
  typename Isa::Vec hit = Isa::Zero();
  for (const std::uint8_t code : codes)
    hit = Isa::Or(hit, Isa::Equal(x, Isa::Splat(code)));
  return hit;
}

// The masks of the 64 bytes at p, both code pages, from the letter ranges
// of IsCyrillicLetter and the vowels of IsCyrillicVowel (a test holds every
// byte value to them). With mixedWords, p[-2] and p[-1] must be readable.
template <typename Isa>
inline void Masks(const std::uint8_t* p, const TallyOptions& options, BlockMasks& m) {
  using Vec = typename Isa::Vec;
  // As signed bytes, a range that starts at 0x80 is the bytes below its end.
  static_assert(kFirst1251Letter == 0xC0 && kFirst866Letter == 0x80);
  constexpr std::uint8_t kLowEnd = kLast866LowLetter + 1;
  // E0 to F1 moved to start at 0x80.
  constexpr auto kShift = static_cast<std::uint8_t>(0x80 - kFirst866HighLetter);
  constexpr std::uint8_t kHighEnd = 0x80 + (kLast866Letter + 1 - kFirst866HighLetter);
  m = BlockMasks{};
  std::uint64_t triples = 0;
  for (std::size_t k = 0; k < kBlock; k += Isa::kWidth) {
    const Vec x = Isa::Load(p + k);
    // 1251: C0 to FF, the bytes whose two high bits are set.
    const Vec l1251 = Isa::And(x, Isa::Add(x, x));
    const Vec low = Isa::Greater(Isa::Splat(kLowEnd), x);
    const Vec high = Isa::Greater(Isa::Splat(kHighEnd), Isa::Add(x, Isa::Splat(kShift)));
    const Vec l866 = Isa::Or(low, high);
    m.letters[0] |= std::uint64_t{Isa::Mask(l1251)} << k;
    m.letters[1] |= std::uint64_t{Isa::Mask(l866)} << k;
    if (options.vowels) {
      const Vec folded = Isa::Or(x, Isa::Splat(kVowelCase));
      m.vowels[0] |= std::uint64_t{Isa::Mask(Isa::And(l1251, AnyOf<Isa>(folded, k1251Vowels)))}
                     << k;
      m.vowels[1] |= std::uint64_t{Isa::Mask(Isa::And(l866, AnyOf<Isa>(folded, k866Vowels)))} << k;
    }
    if (options.mixedWords) {
      const Vec same =
          Isa::And(Isa::Equal(x, Isa::Load(p + k - 1)), Isa::Equal(x, Isa::Load(p + k - 2)));
      triples |= std::uint64_t{Isa::Mask(same)} << k;
    }
  }
  m.runs[0] = m.letters[0] & ~triples;
  m.runs[1] = m.letters[1] & ~triples;
}

template <typename Isa>
CyrillicTally TallyBlocks(const std::uint8_t* buffer, std::size_t count, TallyOptions options) {
  const std::int64_t cap = options.limit > 0 ? options.limit : INT64_MAX;
  RunCount pages[2];
  BlockMasks m;
  std::uint8_t copy[2 + kBlock];
  for (std::size_t i = 0; i < count; i += kBlock) {
    const std::uint8_t* at = buffer + i;
    // The first block and a short last one from a copy, with the two bytes
    // before them (zeros before the buffer) and zeros after: no code page
    // counts a zero as a letter, and no letter repeats one.
    if (i == 0 || i + kBlock > count) {
      std::memset(copy, 0, sizeof copy);
      const std::size_t before = i < 2 ? i : 2;
      const std::size_t inside = count - i < kBlock ? count - i : kBlock;
      std::memcpy(copy + 2 - before, buffer + i - before, before + inside);
      at = copy + 2;
    }
    Masks<Isa>(at, options, m);
    for (int page = 0; page < 2; ++page)
      AddBlock<Isa>(pages[page], m.letters[page], m.runs[page], m.vowels[page], cap);
  }
  CyrillicTally tally;
  for (int page = 0; page < 2; ++page) {
    tally.letters[page] = pages[page].letters;
    tally.vowels[page] = pages[page].vowels;
    const std::int64_t longest = pages[page].longest < cap ? pages[page].longest : cap;
    tally.longest[page] = longest < INT_MAX ? static_cast<int>(longest) : INT_MAX;
  }
  return tally;
}

} // namespace
