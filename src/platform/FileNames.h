// File names between UTF-16 (what hosts pass) and the bytes a POSIX file
// system stores, lossless both ways. A byte that is no part of valid UTF-8
// travels as the lone low surrogate U+DC80 plus the byte, so every name on
// disk has a UTF-16 form that names it back; any other lone surrogate
// travels as its three-byte generalized UTF-8 form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace charsift::names {

// The bytes a UTF-16 name stands for.
std::string BytesFromUtf16(std::u16string_view name);

// The UTF-16 form of a name's bytes: valid UTF-8 decoded, every other byte
// escaped as U+DC80 plus the byte.
std::u16string Utf16FromBytes(std::string_view bytes);

// Appends cp as (generalized) UTF-8: one to four bytes.
void AppendUtf8(std::string& out, std::uint32_t cp);

// Whether units[i] and units[i + 1] form a surrogate pair.
inline bool IsSurrogatePair(std::u16string_view units, std::size_t i) {
  return units[i] >= 0xD800 && units[i] <= 0xDBFF && i + 1 < units.size() &&
         units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
}
// The code point of the pair at units[i] (IsSurrogatePair holds).
inline std::uint32_t PairCodePoint(std::u16string_view units, std::size_t i) {
  return 0x10000 + ((std::uint32_t{units[i]} - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
}

// The escaped byte a UTF-16 unit stands for, or -1 when it is no escape.
inline int EscapedByte(char16_t unit) {
  return unit >= 0xDC80 && unit <= 0xDCFF ? static_cast<int>(unit - 0xDC00) : -1;
}

} // namespace charsift::names
