// What each byte value is to the tests: control code, pseudo-graphics,
// Cyrillic letter. Every loop that classifies bytes, plain or vector, is
// held to these.
#pragma once

#include <cstdint>

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
