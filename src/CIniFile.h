// Reading the settings file.
#pragma once

#include <string>

// The value of section/key in fileName, or defaultValue when the file, the
// section or the key is missing; empty when section or key is empty. At most
// 2047 characters, as the system call cuts it.
std::string ReadIniString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, const std::string& fileName);

// The integer grammar of the settings file: blanks, an optional sign, then
// decimal digits in the 32-bit signed range or a hexadecimal number after
// "$", "x", "X", "0x" or "0X" of up to eight significant digits, taken as a
// 32-bit pattern. The whole text must be consumed. False leaves value alone.
bool ParseIniInteger(const std::string& text, int& value);

// Sets value from key in section "ini" of fileName when the text parses;
// otherwise value keeps what it holds.
void ReadIniInteger(const std::string& fileName, const std::string& key, int& value);

// Sets list from key in section "ini" of fileName, whatever the text is; a
// missing key leaves it as it was.
void ReadIniList(const std::string& fileName, const std::string& key, std::string& list);
