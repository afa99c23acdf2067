// The win32 half of --to-utf8's code pages (ConvertPlatform.h): names to
// Windows numbers, and bytes to UTF-8 through the system's code-page calls,
// checked to come back to the same bytes; UTF-16 by hand.
#include <windows.h>

#include <algorithm>
#include <array>
#include <charconv>

#include "ConvertPlatform.h"
#include "platform/FileNames.h"

namespace charsift::cli {

namespace {

constexpr unsigned kUtf16Le = 1200, kUtf16Be = 1201;

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) // ASCII only: the runtime's tolower is one more import
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

// The number that text holds whole, or 0.
unsigned Number(std::string_view text) {
  unsigned number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size() ? number : 0;
}

// The Windows code page a --from name stands for, or 0. Numbers pass through
// with or without a family's prefix; the rest is a short list of names.
unsigned NumberOfName(std::string_view given) {
  const std::string name = Lower(given);
  for (std::string_view prefix : {"cp", "windows-", "ibm", "x-cp", "ms-", ""})
    if (name.starts_with(prefix))
      if (const unsigned number = Number(std::string_view(name).substr(prefix.size())))
        return number;
  // ISO 8859-N is 28590 + N where Windows has the part.
  if (name.starts_with("iso-8859-") || name.starts_with("iso8859-")) {
    const unsigned part = Number(std::string_view(name).substr(name.find('9') + 2));
    return part >= 1 && part <= 15 ? 28590 + part : 0;
  }
  struct Named {
    std::string_view name;
    unsigned number;
  };
  static constexpr Named kNames[] = {
      {"utf-16le", kUtf16Le},    {"utf-16be", kUtf16Be}, {"utf-8", CP_UTF8},
      {"koi8-r", 20866},         {"koi8-u", 21866},      {"us-ascii", 20127},
      {"ascii", 20127},          {"latin1", 28591},      {"macintosh", 10000},
      {"x-mac-cyrillic", 10007}, {"shift_jis", 932},     {"gbk", 936},
      {"gb18030", 54936},        {"big5", 950},          {"euc-kr", 949},
      {"euc-jp", 20932},
  };
  for (const Named& named : kNames)
    if (named.name == name) return named.number;
  return 0;
}

unsigned NumberOf(const CodePage& page) {
  return page.number != 0 ? page.number : NumberOfName(page.name);
}

// The ISO 8859 parts hold the C1 controls at 80 to 9F; elsewhere Windows
// decodes a byte that its page leaves undefined (Windows-1252's 81, 8D, 8F,
// 90, 9D; Windows-1251's 98) to the C1 control of the same number, where
// iconv and every other reference refuse it.
bool HoldsC1Controls(unsigned number) { return number >= 28591 && number <= 28605; }

// Flags for the wide-to-bytes call: the UTF pages take no best-fit flag and
// no default-character report.
bool TakesBestFitFlags(unsigned number) { return number != CP_UTF7 && number != CP_UTF8; }

// units as UTF-8 appended to utf8; the index of the first unpaired
// surrogate, or npos.
std::size_t AppendUtf16(std::u16string_view units, std::string& utf8) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (names::IsSurrogatePair(units, i)) {
      names::AppendUtf8(utf8, names::PairCodePoint(units, i));
      ++i;
    } else if (units[i] >= 0xD800 && units[i] <= 0xDFFF) {
      return i;
    } else {
      names::AppendUtf8(utf8, units[i]);
    }
  }
  return std::u16string_view::npos;
}

std::string Hex(unsigned char byte) {
  const char* digits = "0123456789ABCDEF";
  return {digits[byte >> 4], digits[byte & 15]};
}

// Refused at offset, which ends the why.
Decoded Refused(std::size_t offset, const std::string& why) {
  return {false, offset, why + " " + std::to_string(offset)};
}

// Refused at a byte that is none of the page.
Decoded NoCharacter(std::string_view bytes, std::size_t offset, const std::string& page) {
  return {false, offset,
          "byte " + Hex(static_cast<unsigned char>(bytes[offset])) + " at offset " +
              std::to_string(offset) + " is no character of " + page};
}

Decoded Utf16ToUtf8(bool bigEndian, std::string_view bytes, std::string& utf8) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    const auto first = static_cast<unsigned char>(bytes[2 * i]);
    const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
    units[i] = static_cast<char16_t>(bigEndian ? first << 8 | second : second << 8 | first);
  }
  const std::size_t mark = !units.empty() && units[0] == 0xFEFF ? 1 : 0;
  utf8.clear();
  const std::size_t unpaired = AppendUtf16(std::u16string_view(units).substr(mark), utf8);
  std::size_t whole = 2 * units.size(); // where the last whole character ends
  if (unpaired != std::u16string_view::npos) {
    const std::size_t at = mark + unpaired;
    // A high surrogate last waits for its pair, as an odd byte last does.
    if (units[at] >= 0xDC00 || at + 1 < units.size())
      return Refused(2 * at, "an unpaired surrogate at offset");
    whole = 2 * at;
  }
  if (whole < bytes.size()) return Refused(whole, "the file ends inside a character at offset");
  return {true, 0, ""};
}

// Each byte's character in a single-byte page as the system's calls give
// it: 0 where the byte is none, or comes back as another byte.
using ByteTable = std::array<char16_t, 256>;

ByteTable TableOf(unsigned number) {
  ByteTable table{};
  for (int byte = 0; byte < 256; ++byte) {
    const char in = static_cast<char>(byte);
    wchar_t wide[2];
    if (MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, &in, 1, wide, 2) != 1) continue;
    if (wide[0] >= 0x80 && wide[0] <= 0x9F && !HoldsC1Controls(number)) continue;
    char back[4];
    BOOL lost = FALSE;
    if (WideCharToMultiByte(number, WC_NO_BEST_FIT_CHARS, wide, 1, back, sizeof back, nullptr,
                            &lost) != 1 ||
        lost || back[0] != in)
      continue;
    // Byte 00 is U+0000 in every page: its 0 in the table is read as such.
    table[byte] = static_cast<char16_t>(wide[0]);
  }
  return table;
}

Decoded SingleByteToUtf8(unsigned number, const std::string& name, std::string_view bytes,
                         std::string& utf8) {
  const ByteTable table = TableOf(number);
  utf8.clear();
  utf8.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte != 0 && table[byte] == 0) return NoCharacter(bytes, i, name);
    names::AppendUtf8(utf8, table[byte]);
  }
  return {true, 0, ""};
}

// bytes in a multi-byte page as UTF-16; false when a byte is none of it.
bool Widen(unsigned number, std::string_view bytes, std::wstring& wide) {
  const int size = static_cast<int>(bytes.size());
  wide.resize(bytes.size());
  const int got = size == 0 ? 0
                            : MultiByteToWideChar(number, MB_ERR_INVALID_CHARS, bytes.data(), size,
                                                  wide.data(), size);
  wide.resize(static_cast<std::size_t>(got));
  return got > 0 || size == 0;
}

// Whether wide, in the page, is bytes again.
bool ComesBack(unsigned number, const std::wstring& wide, std::string_view bytes) {
  if (wide.empty()) return bytes.empty();
  std::string back(bytes.size() + 8, '\0');
  BOOL lost = FALSE;
  const bool bestFit = TakesBestFitFlags(number);
  const int got = WideCharToMultiByte(
      number, bestFit ? WC_NO_BEST_FIT_CHARS : 0, wide.data(), static_cast<int>(wide.size()),
      back.data(), static_cast<int>(back.size()), nullptr, bestFit ? &lost : nullptr);
  return got > 0 && !lost && std::string_view(back.data(), static_cast<std::size_t>(got)) == bytes;
}

// A page of characters of several bytes: decoded whole; when that fails,
// the first byte that fails is where the longest prefix ending on a whole
// character stops.
Decoded MultiByteToUtf8(unsigned number, const std::string& name, std::string_view bytes,
                        std::string& utf8) {
  std::wstring wide;
  if (Widen(number, bytes, wide) && ComesBack(number, wide, bytes)) {
    utf8.clear();
    const std::size_t unpaired = AppendUtf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()), utf8);
    if (unpaired == std::u16string_view::npos) return {true, 0, ""};
  }
  CPINFO info;
  const std::size_t longest = GetCPInfo(number, &info) ? info.MaxCharSize : 4;
  const auto good = [&](std::size_t end) {
    for (std::size_t back = 0; back < longest && back <= end; ++back) {
      std::wstring part;
      if (Widen(number, bytes.substr(0, end - back), part) &&
          ComesBack(number, part, bytes.substr(0, end - back)))
        return true;
    }
    return false;
  };
  std::size_t low = 0, high = bytes.size(); // good(low); the whole is not
  while (high - low > 1) {
    const std::size_t middle = low + (high - low) / 2;
    (good(middle) ? low : high) = middle;
  }
  return NoCharacter(bytes, low, name);
}

} // namespace

std::string NameOf(const CodePage& page) {
  if (!page.name.empty()) return page.name;
  if (page.number == kUtf16Le) return "UTF-16LE";
  if (page.number == kUtf16Be) return "UTF-16BE";
  return "CP" + std::to_string(page.number);
}

bool Knows(const CodePage& page) {
  const unsigned number = NumberOf(page);
  return number == kUtf16Le || number == kUtf16Be || (number != 0 && IsValidCodePage(number));
}

unsigned DefaultAnsiCodePage() { return GetACP(); }

Decoded ToUtf8(const CodePage& page, std::string_view bytes, std::string& utf8) {
  const unsigned number = NumberOf(page);
  if (number == kUtf16Le || number == kUtf16Be) return Utf16ToUtf8(number == kUtf16Be, bytes, utf8);
  if (!Knows(page)) return {false, 0, "the system cannot convert from " + NameOf(page)};
  CPINFO info;
  if (GetCPInfo(number, &info) && info.MaxCharSize == 1)
    return SingleByteToUtf8(number, NameOf(page), bytes, utf8);
  return MultiByteToUtf8(number, NameOf(page), bytes, utf8);
}

} // namespace charsift::cli
