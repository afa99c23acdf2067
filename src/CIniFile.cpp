// The settings file's reader: its text's key lines, and integers and code lists by key.
#include "CIniFile.h"

#include <cstdint>
#include <vector>

#include "AsciiText.h"
#include "platform/Win32.h"

namespace {

constexpr DWORD kValueBufferSize = 2048;
const char kSection[] = "ini";

// Text in the ANSI code page as UTF-16, and back.
std::basic_string<WCHAR> WideFromAnsi(const std::string& text) {
  std::basic_string<WCHAR> wide(text.size(), 0);
  const int size = static_cast<int>(text.size());
  wide.resize(static_cast<std::size_t>(
      size ? MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), size) : 0));
  return wide;
}
std::string AnsiFromWide(const WCHAR* wide) {
  const int size = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), size, nullptr, nullptr);
  return std::string(text.c_str());
}

// The W call's value, in the ANSI code page as the A call gives it.
std::string ReadWide(const std::string& section, const std::string& key,
                     const std::string& defaultValue, const std::basic_string<WCHAR>& fileName) {
  std::vector<WCHAR> buffer(kValueBufferSize, 0);
  GetPrivateProfileStringW(WideFromAnsi(section).c_str(), WideFromAnsi(key).c_str(),
                           WideFromAnsi(defaultValue).c_str(), buffer.data(), kValueBufferSize,
                           fileName.c_str());
  buffer.back() = 0;
  return AnsiFromWide(buffer.data());
}

} // namespace

IniKeyReader::IniKeyReader(std::string_view text) : rest_(text) {
  if (rest_.substr(0, 3) == "\xEF\xBB\xBF") rest_.remove_prefix(3);
}

bool IniKeyReader::Next(IniKeyLine& keyLine) {
  while (!rest_.empty()) {
    const std::size_t eol = rest_.find('\n');
    std::string_view line = TrimBlanks(rest_.substr(0, eol));
    rest_ = eol == std::string_view::npos ? std::string_view() : rest_.substr(eol + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      line.remove_prefix(1);
      section_ = TrimBlanks(line.substr(0, line.find(']')));
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    keyLine = {section_, TrimBlanks(line.substr(0, equals)), TrimBlanks(line.substr(equals + 1))};
    return true;
  }
  return false;
}

std::optional<std::string_view> FindIniValue(std::string_view text, std::string_view section,
                                             std::string_view key) {
  IniKeyReader reader(text);
  for (IniKeyLine line; reader.Next(line);) {
    if (!line.section || !EqualsIgnoringCase(*line.section, section) ||
        !EqualsIgnoringCase(line.key, key))
      continue;
    std::string_view value = line.text;
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const IniFileName& fileName) {
  if (section.empty() || key.empty()) return std::string();
  if (fileName.IsWide()) return ReadWide(section, key, defaultValue, fileName.Wide());
  std::vector<char> buffer(kValueBufferSize, '\0');
  GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                           kValueBufferSize, fileName.Ansi().c_str());
  buffer.back() = '\0';
  return std::string(buffer.data());
}

bool ParseIniInteger(const std::string& text, int& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  bool hex = false;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i == text.size()) return false;

  if (hex) {
    std::uint32_t pattern = 0;
    int significant = 0;
    for (; i < text.size(); ++i) {
      const int digit = HexDigit(text[i]);
      if (digit < 0) return false;
      if (significant > 0 || digit != 0) ++significant;
      if (significant > 8) return false;
      pattern = (pattern << 4) | static_cast<std::uint32_t>(digit);
    }
    // Two's complement negation of the 32-bit pattern.
    const std::uint32_t result = negative ? 0u - pattern : pattern;
    value = static_cast<int>(static_cast<std::int32_t>(result));
    return true;
  }

  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > 2147483648LL) return false;
  }
  const std::int64_t result = negative ? -magnitude : magnitude;
  if (result > 2147483647LL) return false;
  value = static_cast<int>(result);
  return true;
}

void ReadIniInteger(const IniFileName& fileName, const std::string& key, int& value) {
  const std::string text = ReadIniString(kSection, key, std::to_string(value), fileName);
  ParseIniInteger(text, value);
}

void ReadIniList(const IniFileName& fileName, const std::string& key, std::string& list) {
  list = ReadIniString(kSection, key, list, fileName);
}
