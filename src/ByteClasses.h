// What each byte value is to the tests: control code, pseudo-graphics,
// Cyrillic letter. Every loop that classifies bytes, plain or vector, is
// held to these.
#pragma once

#include <cstdint>
#include <span>

// Control codes below 0x20 mark a binary file, but for tab, line feed and
// carriage return, which every text holds.
constexpr bool IsControlCode(int code) {
  return code >= 0 && code < 0x20 && code != '\t' && code != '\n' && code != '\r';
}

// The DOS pseudo-graphics codes of code pages 437 and 866: shades, box
// drawing and blocks (B0 to DF), and the no-break space (FF).
constexpr int kFirstPseudoGraphics = 0xB0, kLastPseudoGraphics = 0xDF, kNoBreakSpace = 0xFF;
constexpr bool IsPseudoGraphicsCode(int code) {
  return (code >= kFirstPseudoGraphics && code <= kLastPseudoGraphics) || code == kNoBreakSpace;
}

// The shades (B0 to B2) and blocks (DB to DF) among them, which draw in any
// mix: block letters and pictures join ▀▄█▌▐ as they come.
constexpr bool IsShadeOrBlock(int code) {
  return (code >= 0xB0 && code <= 0xB2) || (code >= 0xDB && code <= kLastPseudoGraphics);
}

// Windows-1251 letters: А to я from C0 on (Ё and ё, A8 and B8, not counted).
constexpr std::uint8_t kFirst1251Letter = 0xC0;
// Code page 866 letters: А to п (80 to AF), then р to я, Ё and ё (E0 to F1).
constexpr std::uint8_t kFirst866Letter = 0x80, kLast866LowLetter = 0xAF;
constexpr std::uint8_t kFirst866HighLetter = 0xE0, kLast866Letter = 0xF1;

// A letter of code page 866 when oem is set, else of Windows-1251.
constexpr bool IsCyrillicLetter(std::uint8_t b, bool oem) {
  if (!oem) return b >= kFirst1251Letter;
  return (b >= kFirst866Letter && b <= kLast866LowLetter) ||
         (b >= kFirst866HighLetter && b <= kLast866Letter);
}

// The vowels а, е, и and о, capital and small, the commonest letters of
// every Cyrillic language: about a third of the letters of Russian,
// Ukrainian, Bulgarian or Serbian text. Greek, Arabic, Thai or KOI8-R read as
// either code page have far fewer of them. Folding with 0x20 puts each
// capital on its small letter's code in both pages.
constexpr std::uint8_t kVowelCase = 0x20;
constexpr std::uint8_t k1251Vowels[] = {0xE0, 0xE5, 0xE8, 0xEE};
constexpr std::uint8_t k866Vowels[] = {0xA0, 0xA5, 0xA8, 0xAE};
constexpr bool IsCyrillicVowel(std::uint8_t b, bool oem) {
  if (!IsCyrillicLetter(b, oem)) return false;
  const auto folded = static_cast<std::uint8_t>(b | kVowelCase);
  for (const std::uint8_t v :
       oem ? std::span<const std::uint8_t>(k866Vowels) : std::span<const std::uint8_t>(k1251Vowels))
    if (folded == v) return true;
  return false;
}
