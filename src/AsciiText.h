// The few ASCII text rules the settings, the layer and the command line
// share: hexadecimal digits, letter case and blanks.
#pragma once

#include <string_view>

// Which letter cases a hexadecimal digit may be written in. Code lists are
// matched on upper-case digits only; integers take either case.
enum class HexCase { Either, UpperOnly };

// The value of a hexadecimal digit, or -1.
constexpr int HexDigit(char c, HexCase accepted = HexCase::Either) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (accepted == HexCase::Either && c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// ASCII letters alike in either case, every other byte only as itself, as
// the profile calls compare section and key names.
constexpr bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// Without the blanks at either end: space, tab, carriage return, vertical tab.
constexpr std::string_view TrimBlanks(std::string_view s) {
  constexpr auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v'; };
  while (!s.empty() && blank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && blank(s.back()))
    s.remove_suffix(1);
  return s;
}

// A to Z, a to z or 0 to 9.
constexpr bool IsAsciiAlphanumeric(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
