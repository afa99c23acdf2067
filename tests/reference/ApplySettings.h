// Puts the reference's settings into the module's process-wide ones and
// back, so a differential test and a fuzzer hand both sides the same values.
// Both directions walk the module's SettingsTable; the one table below says
// which reference member each key is, so a new setting is one row here.
#pragma once

#include <stdexcept>
#include <string>

#include "Settings.h"
#include "reference/ReferenceClassifier.h"

namespace reference {

struct SettingField {
  const char* key;
  int Settings::*integer; // null for a list
  std::string Settings::*list;
};

inline constexpr SettingField kSettingFields[] = {
    {"text_buffer_size_kb", &Settings::textKb, nullptr},
    {"utf8_buffer_size_kb", &Settings::utf8Kb, nullptr},
    {"binary_ignore", nullptr, &Settings::binaryIgnore},
    {"oem_enabled", &Settings::oemEnabled, nullptr},
    {"oem_buffer_size_kb", &Settings::oemKb, nullptr},
    {"oem_percent", &Settings::oemPercent, nullptr},
    {"oem_ignore", nullptr, &Settings::oemIgnore},
    {"rus_enabled", &Settings::rusEnabled, nullptr},
    {"rus_buffer_size_kb", &Settings::rusKb, nullptr},
    {"rus_min_size", &Settings::rusMinSize, nullptr},
    {"rus_percent", &Settings::rusPercent, nullptr},
    {"rus_word_len", &Settings::rusWordLen, nullptr},
    {"oem_draw", &Settings::oemDraw, nullptr},
    {"rus_vowels", &Settings::rusVowels, nullptr},
    {"rus_word_mixed", &Settings::rusWordMixed, nullptr},
};

// The reference member of a module setting. A key the table lacks throws:
// a setting the reference never sets would pass every comparison unseen.
inline const SettingField& FieldOf(const SettingRow& row) {
  for (const SettingField& field : kSettingFields)
    if (std::string(field.key) == row.key && (field.integer != nullptr) == (row.integer != nullptr))
      return field;
  throw std::logic_error(std::string("the reference has no setting ") + row.key);
}

// A setting's value as a settings file writes it.
inline std::string ValueText(const Settings& s, const SettingField& field) {
  return field.integer ? std::to_string(s.*field.integer) : s.*field.list;
}

inline void ApplyToModule(const Settings& s) {
  for (const SettingRow& row : SettingsTable) {
    const SettingField& field = FieldOf(row);
    if (row.integer)
      *row.integer = s.*field.integer;
    else
      *row.list = s.*field.list;
  }
  ApplyListSettings();
}

// The module's settings as they stand, for the reference.
inline Settings FromModule() {
  Settings s;
  for (const SettingRow& row : SettingsTable) {
    const SettingField& field = FieldOf(row);
    if (row.integer)
      s.*field.integer = *row.integer;
    else
      s.*field.list = *row.list;
  }
  return s;
}

} // namespace reference
