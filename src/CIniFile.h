// Reading the settings file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Win32.h"

// ---- Its text ----------------------------------------------------------------
// The one reading of a settings file's text, as the profile calls read it: a
// UTF-8 byte-order mark at the start is skipped; lines end at '\n'; blanks
// at either end of a line, a name or a value do not count; a line starting
// with ';' is a comment; "[name]" opens a section; "key=value" is a key
// line, any other line nothing. Names match in either ASCII case.
struct IniKeyLine {
  std::optional<std::string_view> section; // none before the first "[name]"
  std::string_view key;
  std::string_view text; // after '=', as written: quotes are kept
};

// Reads the key lines of a settings file's text one by one, in order:
//   IniKeyReader reader(text);
//   for (IniKeyLine line; reader.Next(line);) ...
class IniKeyReader {
public:
  explicit IniKeyReader(std::string_view text);
  // The next key line, its views into the text; false past the last.
  bool Next(IniKeyLine& line);

private:
  std::string_view rest_;
  std::optional<std::string_view> section_;
};

// The value of the first key line of that key in a section of that name,
// without the matching single or double quotes around it; none when there
// is no such line.
std::optional<std::string_view> FindIniValue(std::string_view text, std::string_view section,
                                             std::string_view key);

// ---- Its values ----------------------------------------------------------------

// A settings file's name as the profile calls take it: in the ANSI code page
// for the A calls (all that Windows 95, 98 and ME have), or in UTF-16 for the
// W calls, which take a name the code page cannot write.
class IniFileName {
public:
  IniFileName(std::string ansi) : ansi_(std::move(ansi)) {}
  IniFileName(const char* ansi) : ansi_(ansi) {}
  explicit IniFileName(std::basic_string<WCHAR> wide) : wide_(std::move(wide)), isWide_(true) {}
  bool IsWide() const { return isWide_; }
  const std::string& Ansi() const { return ansi_; }
  const std::basic_string<WCHAR>& Wide() const { return wide_; }

private:
  std::string ansi_;
  std::basic_string<WCHAR> wide_;
  bool isWide_ = false;
};

// The value of section/key in fileName, or defaultValue when the file, the
// section or the key is missing; empty when section or key is empty. At most
// 2047 characters, as the system call cuts it. The value is in the ANSI code
// page whichever calls read it.
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const IniFileName& fileName);

// The integer grammar of the settings file: blanks, an optional sign, then
// decimal digits in the 32-bit signed range or a hexadecimal number after
// "$", "x", "X", "0x" or "0X" of up to eight significant digits, taken as a
// 32-bit pattern. The whole text must be consumed. False leaves value alone.
bool ParseIniInteger(const std::string& text, int& value);

// Sets value from key in section "ini" of fileName when the text parses;
// otherwise value keeps what it holds.
void ReadIniInteger(const IniFileName& fileName, const std::string& key, int& value);

// Sets list from key in section "ini" of fileName, whatever the text is; a
// missing key leaves it as it was.
void ReadIniList(const IniFileName& fileName, const std::string& key, std::string& list);
