// The Cyrillic tally a byte at a time, and the entry to the chosen one.
#include "CyrillicTally.h"

#include <climits>

#include "ByteClasses.h"
#include "Kernels.h"

CyrillicTally CyrillicTallyPlain(const std::uint8_t* buffer, std::size_t count, int limit) {
  CyrillicTally tally;
  for (int page = 0; page < 2; ++page) {
    std::int64_t run = 0, longest = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const bool letter = IsCyrillicLetter(buffer[i], page == 1);
      tally.letters[page] += letter;
      run = letter ? run + 1 : 0;
      if (run > longest) longest = run;
    }
    if (limit > 0 && longest > limit) longest = limit;
    tally.longest[page] = longest < INT_MAX ? static_cast<int>(longest) : INT_MAX;
  }
  return tally;
}

CyrillicTally TallyCyrillic(const std::uint8_t* buffer, std::size_t count, int limit) {
  return ChosenKernels().cyrillicTally(buffer, count, limit);
}
