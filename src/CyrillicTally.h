// The Cyrillic test's counting: letters of both code pages, and their
// longest runs, in one pass over a sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Index 0 counts Windows-1251 letters, index 1 those of code page 866.
struct CyrillicTally {
  std::int64_t letters[2] = {0, 0};
  // The longest run of letters; with a limit above 0, no more than the
  // limit, so that a pass may stop looking for runs once one reaches it.
  int longest[2] = {0, 0};
};

// One way of taking the tally. All give the same numbers on every buffer;
// they differ in the instructions they need.
struct CyrillicTallier {
  const char* name;
  CyrillicTally (*tally)(const std::uint8_t* buffer, std::size_t count, int limit);
};

// The talliers this processor can run, plain first. TallyCyrillic uses the
// last one; tests and benchmarks hold each of them to the plain count.
std::span<const CyrillicTallier> CyrillicTalliers();

// The tally of count bytes, by the fastest tallier.
CyrillicTally TallyCyrillic(const std::uint8_t* buffer, std::size_t count, int limit);
