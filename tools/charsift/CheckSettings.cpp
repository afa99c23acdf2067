// --check-settings: the settings file read as the module reads it, and every
// value in it the module ignores.
#include "CheckSettings.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "AsciiText.h"
#include "CIniFile.h"
#include "Charsift.h"
#include "Output.h"
#include "Platform.h"

namespace fs = charsift::cli::fs;

namespace {

// Paths, keys and values are shown as the table shows names: a control code
// in a settings file cannot drive the terminal.
std::string Escaped(const std::string& text) { return charsift::cli::TableEscaped(text); }
std::string ShownPath(const fs::path& path) {
  return charsift::cli::TableEscaped(charsift::cli::Shown(path));
}

const char kSection[] = "ini";

const SettingRow* RowOf(std::string_view key) {
  for (const SettingRow& row : SettingsTable)
    if (EqualsIgnoringCase(key, row.key)) return &row;
  return nullptr;
}

// A code list as the classifier matches it: entries of exactly two
// upper-case hex digits, separated by spaces alone.
bool IsCodeList(const std::string& text) {
  std::size_t i = 0;
  for (;;) {
    while (i < text.size() && text[i] == ' ')
      ++i;
    if (i == text.size()) return true;
    if (i + 1 >= text.size() || HexDigit(text[i], HexCase::UpperOnly) < 0 ||
        HexDigit(text[i + 1], HexCase::UpperOnly) < 0)
      return false;
    i += 2;
    if (i < text.size() && text[i] != ' ') return false;
  }
}

// Whether an integer the module took has the other sign than its text: a
// hexadecimal pattern past 7FFFFFFF is read in two's complement.
bool Wrapped(const std::string& text, int number) {
  const std::size_t sign = text.find_first_not_of(' ');
  const bool minus = sign != std::string::npos && text[sign] == '-';
  return number != 0 && (number < 0) != minus;
}

} // namespace

int CheckSettings(const fs::path& modulePath, std::FILE* out, bool full) {
  const fs::path settings = charsift::cli::BesideModule(modulePath, ".ini");
  const fs::path example = charsift::cli::BesideModule(modulePath, ".example.ini");
  // What the module does at load, the first-run copy included.
  charsift::cli::LoadModuleSettings(modulePath);
  int told = 0, wrapped = 0;
  std::error_code ec;
  if (full) std::fprintf(out, "settings: looked for in %s\n", ShownPath(settings).c_str());
  if (!fs::is_regular_file(settings, ec)) {
    if (fs::is_regular_file(example, ec)) {
      std::fprintf(out,
                   "settings: %s could not be copied to %s: the built-in defaults are in force\n",
                   ShownPath(example).c_str(), ShownPath(settings).c_str());
      ++told;
    } else if (full) {
      std::fprintf(out, "settings: no such file: the built-in defaults are in force\n");
    }
    return told;
  }
  std::string cannot;
  std::FILE* in = charsift::cli::OpenList(settings, cannot);
  if (in == nullptr) {
    std::fprintf(out, "settings: %s cannot be read: the built-in defaults are in force\n",
                 ShownPath(settings).c_str());
    return 1;
  }
  // The keys are enumerated here; their values are read back through the
  // module's own reader.
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
    text.append(buffer, got);
  std::fclose(in);
  std::vector<const SettingRow*> seen;
  IniKeyReader reader(text);
  for (IniKeyLine line; reader.Next(line);) {
    const SettingRow* row = RowOf(line.key);
    const std::string_view section = line.section.value_or("");
    std::string why;
    if (!EqualsIgnoringCase(section, kSection)) {
      why = "it is in section [" + Escaped(std::string(section)) + "]: only [ini] is read";
    } else if (row == nullptr) {
      why = "no such setting";
    } else if (std::find(seen.begin(), seen.end(), row) != seen.end()) {
      why = "only the first " + std::string(row->key) + " counts";
    } else {
      seen.push_back(row);
      const std::string value =
          ReadIniString(kSection, row->key, "", charsift::cli::SettingsName(settings));
      int number = 0;
      if (row->integer && !ParseIniInteger(value, number)) {
        why = "not a whole number (decimal, or hexadecimal after $, x or 0x): it keeps " +
              std::to_string(*row->integer);
      } else if (row->integer && Wrapped(value, number)) {
        // Taken, but surely not as meant: 0xFFFFFFFF makes every file Binary.
        std::fprintf(out,
                     "settings: wrapped %s=%s: read as %d, a hexadecimal value above "
                     "7FFFFFFF wrapping round to a negative number\n",
                     row->key, Escaped(value).c_str(), number);
        ++wrapped;
      } else if (row->list && !IsCodeList(value))
        why = "a list is codes of two upper-case hexadecimal digits separated by spaces "
              "(00 1A): an entry that is not is never matched";
      if (why.empty()) continue;
      std::fprintf(out, "settings: ignored %s=%s: %s\n", row->key, Escaped(value).c_str(),
                   why.c_str());
      ++told;
      continue;
    }
    std::fprintf(out, "settings: ignored %s=%s: %s\n", Escaped(std::string(line.key)).c_str(),
                 Escaped(std::string(line.text)).c_str(), why.c_str());
    ++told;
  }
  if (full)
    std::fprintf(out, "settings: %d value%s ignored%s\n", told, told == 1 ? "" : "s",
                 wrapped ? (", " + std::to_string(wrapped) + " wrapped").c_str() : "");
  return told + wrapped;
}
