// Names between UTF-16 and file-system bytes, and the one UTF-8 encoder.
#include "platform/FileNames.h"

#include <cstdint>

namespace charsift::names {

namespace {

// Writes cp as (generalized) UTF-8 at out; returns the end.
char* PutUtf8(char* out, std::uint32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Length of the strict UTF-8 sequence at the start of bytes (no overlong
// form, no surrogate, nothing above U+10FFFF), or 0 when there is none.
std::size_t SequenceLength(std::string_view bytes, std::uint32_t& cp) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = at(0);
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF; // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length || at(1) < low || at(1) > high) return 0;
  cp = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if (!IsContinuation(at(i))) return 0;
    cp = (cp << 6) | (at(i) & 0x3F);
  }
  return length;
}

} // namespace

void AppendUtf8(std::string& out, std::uint32_t cp) {
  char bytes[4];
  out.append(bytes, PutUtf8(bytes, cp));
}

std::string BytesFromUtf16(std::u16string_view name) {
  // Every unit takes at most three bytes (a pair takes four for two units).
  std::string out(name.size() * 3, '\0');
  char* end = out.data();
  for (std::size_t i = 0; i < name.size(); ++i) {
    const std::uint32_t unit = name[i];
    if (unit < 0x80) {
      *end++ = static_cast<char>(unit);
    } else if (IsSurrogatePair(name, i)) {
      end = PutUtf8(end, PairCodePoint(name, i));
      ++i;
    } else if (const int byte = EscapedByte(static_cast<char16_t>(unit)); byte >= 0) {
      *end++ = static_cast<char>(byte);
    } else {
      end = PutUtf8(end, unit); // a lone surrogate takes its generalized three-byte form
    }
  }
  out.resize(static_cast<std::size_t>(end - out.data()));
  return out;
}

std::u16string Utf16FromBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    std::uint32_t cp = 0;
    const std::size_t length = SequenceLength(bytes, cp);
    if (length == 0) {
      out.push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(bytes[0])));
      bytes.remove_prefix(1);
      continue;
    }
    if (cp >= 0x10000) {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    bytes.remove_prefix(length);
  }
  return out;
}

} // namespace charsift::names
