// Puts the reference's settings into the module's process-wide ones, so a
// differential test and a fuzzer hand both sides the same twelve values.
#pragma once

#include "VorFProc.h"
#include "reference/ReferenceClassifier.h"

namespace reference {

inline void ApplyToModule(const Settings& s) {
  text_buffer_size_kb = s.textKb;
  utf8_buffer_size_kb = s.utf8Kb;
  binary_ignore = s.binaryIgnore;
  oem_enabled = s.oemEnabled;
  oem_buffer_size_kb = s.oemKb;
  oem_percent = s.oemPercent;
  oem_ignore = s.oemIgnore;
  rus_enabled = s.rusEnabled;
  rus_buffer_size_kb = s.rusKb;
  rus_min_size = s.rusMinSize;
  rus_percent = s.rusPercent;
  rus_word_len = s.rusWordLen;
  ApplyListSettings();
}

// The module's settings as they stand, for the reference.
inline Settings FromModule() {
  Settings s;
  s.textKb = text_buffer_size_kb;
  s.utf8Kb = utf8_buffer_size_kb;
  s.binaryIgnore = binary_ignore;
  s.oemEnabled = oem_enabled;
  s.oemKb = oem_buffer_size_kb;
  s.oemPercent = oem_percent;
  s.oemIgnore = oem_ignore;
  s.rusEnabled = rus_enabled;
  s.rusKb = rus_buffer_size_kb;
  s.rusMinSize = rus_min_size;
  s.rusPercent = rus_percent;
  s.rusWordLen = rus_word_len;
  return s;
}

} // namespace reference
