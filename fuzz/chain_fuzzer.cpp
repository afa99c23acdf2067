// Random file bytes crossed with random settings through the exports: both
// answers are the plain reference's for the same bytes and settings, and no
// descriptor leaks.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "Charsift.h"
#include "ContPlug.h"
#include "OpenHandles.h"
#include "reference/ApplySettings.h"
#include "reference/ReferenceClassifier.h"

namespace {

// Settings from the first bytes: small sizes keep runs fast, signs and
// extremes still appear.
int SettingFrom(const std::uint8_t*& data, std::size_t& size, int lo, int hi) {
  if (size == 0) return 0;
  const int span = hi - lo + 1;
  const int v = lo + (*data % span);
  ++data;
  --size;
  return v;
}

reference::Settings SettingsFrom(const std::uint8_t*& data, std::size_t& size) {
  reference::Settings s;
  s.textKb = SettingFrom(data, size, -2, 3);
  s.utf8Kb = SettingFrom(data, size, -2, 3);
  s.oemEnabled = SettingFrom(data, size, -1, 1);
  s.oemKb = SettingFrom(data, size, -2, 3);
  s.oemPercent = SettingFrom(data, size, -5, 105);
  s.rusEnabled = SettingFrom(data, size, -1, 1);
  s.rusKb = SettingFrom(data, size, -2, 3);
  s.rusMinSize = SettingFrom(data, size, -2, 20);
  s.rusPercent = SettingFrom(data, size, -5, 105);
  s.rusWordLen = SettingFrom(data, size, -1, 8);
  s.oemDraw = SettingFrom(data, size, -1, 4);
  s.rusVowels = SettingFrom(data, size, -1, 60);
  s.rusWordMixed = SettingFrom(data, size, -1, 1);
  if (SettingFrom(data, size, 0, 3) == 0) s.binaryIgnore = "00 1A";
  if (SettingFrom(data, size, 0, 3) == 0) s.oemIgnore.clear();
  return s;
}

void ExpectAnswer(int field, int result, const char* value, const std::string& expected) {
  if (result == FT_MULTIPLE_CHOICE && expected == value) return;
  std::fprintf(stderr, "field %d: the module answers %d \"%s\", the reference \"%s\"\n", field,
               result, value, expected.c_str());
  std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/charsift-chain-fuzz-" + std::to_string(getpid());

  const reference::Settings settings = SettingsFrom(data, size);
  ResetSettings();
  reference::ApplyToModule(settings);
  const reference::Bytes content(data, data + size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::u16string wide(path.begin(), path.end());
  const std::string expected[] = {reference::IsTextFile(content, settings) ? "Text" : "Binary",
                                  reference::ClassifyBytes(content, settings)};
  const long before = testing_support::OpenHandles();
  for (int field = 0; field < 2; ++field) {
    char value[32];
    std::memset(value, 0, sizeof value);
    const int result = ContentGetValueW(wide.c_str(), field, 0, value, sizeof value, 0);
    ExpectAnswer(field, result, value, expected[field]);
  }
  if (testing_support::OpenHandles() != before) std::abort();
  return 0;
}
