// The Cyrillic tally a byte at a time, and the entry to the chosen one.
#include "CyrillicTally.h"

#include <climits>

#include "ByteClasses.h"
#include "Kernels.h"

CyrillicTally CyrillicTallyPlain(const std::uint8_t* buffer, std::size_t count,
                                 TallyOptions options) {
  CyrillicTally tally;
  for (int page = 0; page < 2; ++page) {
    const bool oem = page == 1;
    std::int64_t run = 0, longest = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t b = buffer[i];
      const bool letter = IsCyrillicLetter(b, oem);
      tally.letters[page] += letter;
      if (options.vowels) tally.vowels[page] += IsCyrillicVowel(b, oem);
      const bool third = i >= 2 && buffer[i - 1] == b && buffer[i - 2] == b;
      run = letter && !(options.mixedWords && third) ? run + 1 : 0;
      if (run > longest) longest = run;
    }
    if (options.limit > 0 && longest > options.limit) longest = options.limit;
    tally.longest[page] = longest < INT_MAX ? static_cast<int>(longest) : INT_MAX;
  }
  return tally;
}

CyrillicTally TallyCyrillic(const std::uint8_t* buffer, std::size_t count, TallyOptions options) {
  return ChosenKernels().cyrillicTally(buffer, count, options);
}
