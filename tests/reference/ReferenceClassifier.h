// A plain restatement of the Encoding rules, for differential tests and
// fuzzers. It reads the whole file itself and cuts each step's sample from
// it, so it shares no code and no buffer handling with the module.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "reference/ReferenceUtf8.h"

namespace reference {

using Bytes = std::vector<std::uint8_t>;

// The settings, built-in defaults as initialisers: the twelve, then the
// three sharper rules, off at 0.
struct Settings {
  int textKb = 1;
  int utf8Kb = 64;
  std::string binaryIgnore;
  int oemEnabled = 1;
  int oemKb = 1;
  int oemPercent = 18;
  std::string oemIgnore = "AB BB";
  int rusEnabled = 1;
  int rusKb = 2;
  int rusMinSize = 8;
  int rusPercent = 30;
  int rusWordLen = 0;
  int oemDraw = 0;
  int rusVowels = 0;
  int rusWordMixed = 0;
};

// The first `limit` bytes (all of them when fewer).
inline Bytes Head(const Bytes& file, long long limit) {
  const auto n = static_cast<std::size_t>(std::clamp<long long>(limit, 0, file.size()));
  return Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
}

inline bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// An entry is two upper-case hex digits with a blank or a list end on
// each side.
inline bool Listed(int code, const std::string& list) {
  const char* digits = "0123456789ABCDEF";
  for (std::size_t i = 0; i + 2 <= list.size(); ++i) {
    if (list[i] != digits[code >> 4] || list[i + 1] != digits[code & 15]) continue;
    if ((i == 0 || list[i - 1] == ' ') && (i + 2 == list.size() || list[i + 2] == ' ')) return true;
  }
  return false;
}

inline bool IsBinary(std::uint8_t b, const std::string& ignore) {
  return b < 32 && b != 9 && b != 10 && b != 13 && !Listed(b, ignore);
}

// The text walk: no binary code in the sample.
inline bool IsText(const Bytes& sample, const std::string& ignore) {
  return std::none_of(sample.begin(), sample.end(),
                      [&](std::uint8_t b) { return IsBinary(b, ignore); });
}

// Valid up to the first zero byte, a cut last sequence allowed, and some
// byte reached while a continuation byte was due.
inline bool IsUtf8(const Bytes& sample) { return IsValidUtf8(sample.data(), sample.size(), true); }

inline bool IsBoxCode(std::uint8_t b) { return b >= 0xB0 && b <= 0xDF; }

inline bool IsShadeOrBlock(std::uint8_t b) {
  return b == 0xB0 || b == 0xB1 || b == 0xB2 || b >= 0xDB;
}

// The draw rule, byte by byte: a box code draws when it and the copies of
// it around it on its line, or the shades and blocks around a shade or
// block, make a run of at least `run`; or when blanks or punctuation stand
// on both sides of it and the line above holds the same code in the same
// column.
inline bool Draws(const Bytes& sample, std::size_t i, int run) {
  const auto joins = [&](std::size_t k) {
    return IsShadeOrBlock(sample[i]) ? IsBoxCode(sample[k]) && IsShadeOrBlock(sample[k])
                                     : sample[k] == sample[i];
  };
  std::size_t first = i, last = i;
  while (first > 0 && joins(first - 1))
    --first;
  while (last + 1 < sample.size() && joins(last + 1))
    ++last;
  if (static_cast<long long>(last - first + 1) >= run) return true;
  const auto apart = [](std::uint8_t b) { return b < 0x80 && !std::isalnum(b); };
  const bool alone =
      (i == 0 || apart(sample[i - 1])) && (i + 1 == sample.size() || apart(sample[i + 1]));
  if (!alone) return false;
  std::size_t line = i;
  while (line > 0 && sample[line - 1] != '\n')
    --line;
  if (line == 0) return false;
  std::size_t above = line - 1;
  while (above > 0 && sample[above - 1] != '\n')
    --above;
  const std::size_t column = i - line;
  return above + column < line - 1 && sample[above + column] == sample[i];
}

// Where the drawing at i is counted: a run of shades and blocks counts,
// whole, for the code it starts with (▀▄█ is one drawing, not three codes
// of a third each); any other code for itself.
inline std::uint8_t CountedAs(const Bytes& sample, std::size_t i) {
  if (!IsShadeOrBlock(sample[i])) return sample[i];
  while (i > 0 && IsBoxCode(sample[i - 1]) && IsShadeOrBlock(sample[i - 1]))
    --i;
  return sample[i];
}

inline bool IsOem(const Bytes& sample, const Settings& s) {
  if (sample.empty() || !IsText(sample, s.binaryIgnore)) return false;
  long long counts[256] = {}, high = 0;
  const int run = std::clamp(s.oemDraw, 0, 80);
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const std::uint8_t b = sample[i];
    if (b < 0x80) continue;
    ++high;
    if (run == 0)
      ++counts[b];
    else if (IsBoxCode(b) && Draws(sample, i, run))
      ++counts[CountedAs(sample, i)];
  }
  if (high == 0) return false;
  for (int code = 0xB0; code <= 0xFF; ++code) {
    if (code > 0xDF && code != 0xFF) continue;
    if (!Listed(code, s.oemIgnore) && counts[code] * 100 / high >= s.oemPercent) return true;
  }
  return false;
}

inline bool IsLetter(std::uint8_t b, bool oem) {
  return oem ? (b >= 0x80 && b <= 0xAF) || (b >= 0xE0 && b <= 0xF1) : b >= 0xC0;
}

// а е и о, capital and small.
inline bool IsVowel(std::uint8_t b, bool oem) {
  static const Bytes k1251 = {0xC0, 0xC5, 0xC8, 0xCE, 0xE0, 0xE5, 0xE8, 0xEE};
  static const Bytes k866 = {0x80, 0x85, 0x88, 0x8E, 0xA0, 0xA5, 0xA8, 0xAE};
  const Bytes& vowels = oem ? k866 : k1251;
  return std::find(vowels.begin(), vowels.end(), b) != vowels.end();
}

// The numbers behind the Cyrillic rules: how many letters and vowels a
// sample holds, and its longest run of letters (with `mixed`, a letter the
// same as the two before it is no part of a run).
inline long long CountLetters(const Bytes& sample, bool oem) {
  return std::count_if(sample.begin(), sample.end(),
                       [&](std::uint8_t b) { return IsLetter(b, oem); });
}

inline long long CountVowels(const Bytes& sample, bool oem) {
  return std::count_if(sample.begin(), sample.end(),
                       [&](std::uint8_t b) { return IsVowel(b, oem); });
}

inline long long LongestRun(const Bytes& sample, bool oem, bool mixed = false) {
  long long run = 0, longest = 0;
  for (std::size_t i = 0; i < sample.size(); ++i) {
    const bool third = i >= 2 && sample[i] == sample[i - 1] && sample[i] == sample[i - 2];
    run = IsLetter(sample[i], oem) && !(mixed && third) ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  return longest;
}

inline bool IsCyrillic(const Bytes& sample, bool oem, const Settings& s) {
  if (sample.empty()) return false;
  const long long letters = CountLetters(sample, oem);
  const int vowels = std::clamp(s.rusVowels, 0, 100);
  if (vowels > 0 && (letters == 0 || CountVowels(sample, oem) * 100 / letters < vowels))
    return false;
  if (s.rusWordLen > 0 && LongestRun(sample, oem, s.rusWordMixed > 0) >= s.rusWordLen) return true;
  return letters * 100 / static_cast<long long>(sample.size()) >= s.rusPercent;
}

// Type's text test, also the Encoding chain's: an empty file is text, any
// other needs a text sample without a binary code.
inline bool IsTextFile(const Bytes& f, const Settings& s) {
  // The text sample is capped at 10240 KB like the UTF-8 one.
  const long long textBytes = std::min(s.textKb, 10240) * 1024LL;
  return f.empty() || (textBytes > 0 && IsText(Head(f, textBytes), s.binaryIgnore));
}

// The probes of the chain, as bits: a test of failing calls makes some of
// them answer false, as a probe does that cannot open or read its file.
namespace probe {
constexpr unsigned Utf16Bom = 1, Rtf = 2, Utf8Bom = 4, Utf8 = 8, Text = 16, Oem = 32, Cyrillic = 64;
} // namespace probe

// Type's answer for a file: text or not.
inline std::string TypeOf(const Bytes& f, const Settings& s, unsigned failing = 0) {
  return !(failing & probe::Text) && IsTextFile(f, s) ? "Text" : "Binary";
}

// The label of a file's content; the probes in `failing` answer false.
inline std::string ClassifyBytes(const Bytes& f, const Settings& s, unsigned failing = 0) {
  auto startsWith = [&](unsigned p, std::initializer_list<int> sig) {
    return !(failing & p) && f.size() >= sig.size() &&
           std::equal(sig.begin(), sig.end(), f.begin());
  };
  auto runs = [&](unsigned p) { return !(failing & p); };
  if (startsWith(probe::Utf16Bom, {0xFF, 0xFE})) return "UTF-16 LE";
  if (startsWith(probe::Utf16Bom, {0xFE, 0xFF})) return "UTF-16 BE";
  if (startsWith(probe::Rtf, {'{', '\\', 'r', 't', 'f'})) return "RTF";
  if (startsWith(probe::Utf8Bom, {0xEF, 0xBB, 0xBF})) return "UTF-8 BOM";
  // The UTF-8 test looks for the mark itself: a marked file whose mark the
  // step before missed is no "UTF-8 no BOM".
  const bool marked = f.size() >= 3 && f[0] == 0xEF && f[1] == 0xBB && f[2] == 0xBF;
  if (runs(probe::Utf8) && !marked && IsUtf8(Head(f, std::clamp(s.utf8Kb, 1, 10240) * 1024LL - 1)))
    return "UTF-8 no BOM";
  if (TypeOf(f, s, failing) != "Text") return "Binary";
  if (runs(probe::Oem) && s.oemEnabled != 0 && s.oemKb > 0 &&
      IsOem(Head(f, std::min(s.oemKb, 10240) * 1024LL), s))
    return "DOS";
  if (runs(probe::Cyrillic) && s.rusEnabled != 0) {
    const Bytes sample = Head(f, std::clamp(s.rusKb, 1, 2048) * 1024LL - 1);
    if (static_cast<long long>(sample.size()) >= s.rusMinSize) {
      if (IsCyrillic(sample, false, s)) return "ANSI Ru";
      if (IsCyrillic(sample, true, s)) return "DOS Ru";
    }
  }
  return "ANSI";
}

// A file's bytes, or nothing when it cannot be read.
inline Bytes Contents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The label of a path: "" for a folder, "Binary" when it cannot be read.
inline std::string Classify(const std::filesystem::path& path, const Settings& s) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) return "";
  if (!std::ifstream(path, std::ios::binary)) return "Binary";
  return ClassifyBytes(Contents(path), s);
}

} // namespace reference
