// The Cyrillic test's counting: letters of both code pages, and their
// longest runs, in one pass over a sample.
#pragma once

#include <cstddef>
#include <cstdint>

// Index 0 counts Windows-1251 letters, index 1 those of code page 866.
struct CyrillicTally {
  std::int64_t letters[2] = {0, 0};
  // The longest run of letters; with a limit above 0, no more than the
  // limit, so that a pass may stop looking for runs once one reaches it.
  int longest[2] = {0, 0};
};

// The tally of count bytes, by the chosen set of loops (Kernels.h).
CyrillicTally TallyCyrillic(const std::uint8_t* buffer, std::size_t count, int limit);
