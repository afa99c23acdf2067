#include "CyrillicTally.h"

#include <climits>

#if defined(__x86_64__) || defined(__i386__)
#define CHARSIFT_VECTOR_TALLIES 1
// Each in a file of its own, built for its instruction set.
CyrillicTally CyrillicTallySse2(const std::uint8_t* buffer, std::size_t count, int limit);
CyrillicTally CyrillicTallyAvx2(const std::uint8_t* buffer, std::size_t count, int limit);
#endif

namespace {

constexpr bool IsLetter(std::uint8_t b, int page) {
  return page == 0 ? b >= 0xC0 : (b >= 0x80 && b <= 0xAF) || (b >= 0xE0 && b <= 0xF1);
}

// A byte at a time, for any processor.
CyrillicTally TallyPlain(const std::uint8_t* buffer, std::size_t count, int limit) {
  CyrillicTally tally;
  for (int page = 0; page < 2; ++page) {
    std::int64_t run = 0, longest = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const bool letter = IsLetter(buffer[i], page);
      tally.letters[page] += letter;
      run = letter ? run + 1 : 0;
      if (run > longest) longest = run;
    }
    if (limit > 0 && longest > limit) longest = limit;
    tally.longest[page] = longest < INT_MAX ? static_cast<int>(longest) : INT_MAX;
  }
  return tally;
}

const CyrillicTallier kTalliers[] = {
    {"plain", TallyPlain},
#ifdef CHARSIFT_VECTOR_TALLIES
    {"sse2", CyrillicTallySse2},
    {"avx2", CyrillicTallyAvx2},
#endif
};

// How many of kTalliers this processor runs: each needs what the one
// before it needs, and more.
std::size_t RunnableTalliers() {
#ifdef CHARSIFT_VECTOR_TALLIES
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse2")) return 1;
  // True only when the system saves the AVX registers as well.
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("popcnt")) return 2;
  return 3;
#else
  return 1;
#endif
}

using TallyFunction = CyrillicTally (*)(const std::uint8_t*, std::size_t, int);

TallyFunction FastestTally() { return kTalliers[RunnableTalliers() - 1].tally; }

// The plain count until the module's initialisers have run, then the
// fastest: chosen once, at load, never while a query runs.
constinit TallyFunction chosenTally = TallyPlain;
[[maybe_unused]] const bool tallyChosen = (chosenTally = FastestTally(), true);

} // namespace

std::span<const CyrillicTallier> CyrillicTalliers() { return {kTalliers, RunnableTalliers()}; }

CyrillicTally TallyCyrillic(const std::uint8_t* buffer, std::size_t count, int limit) {
  return chosenTally(buffer, count, limit);
}
