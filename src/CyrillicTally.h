// The Cyrillic test's counting: letters of both code pages, their longest
// runs and their vowels, in one pass over a sample.
#pragma once

#include <cstddef>
#include <cstdint>

// What a pass counts beyond the letters.
struct TallyOptions {
  // With a limit above 0 the longest run is counted up to the limit only, so
  // that a pass may stop looking for runs once one reaches it.
  int limit = 0;
  bool vowels = false; // count the vowels too
  // A letter that repeats the two before it ends a run: a line of one
  // repeated code (▀▀▀, ═══) is no word.
  bool mixedWords = false;
};

// Index 0 counts Windows-1251 letters, index 1 those of code page 866.
struct CyrillicTally {
  std::int64_t letters[2] = {0, 0};
  // The longest run of letters, no more than a limit above 0.
  int longest[2] = {0, 0};
  // The vowels among the letters; counted only when asked for.
  std::int64_t vowels[2] = {0, 0};
};

// The tally of count bytes, by the chosen set of loops (Kernels.h).
CyrillicTally TallyCyrillic(const std::uint8_t* buffer, std::size_t count, TallyOptions options);
