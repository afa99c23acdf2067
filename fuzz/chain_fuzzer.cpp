// Random file bytes crossed with random settings through the exports:
// every answer is a listed label or code, and no descriptor leaks.
#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "Charsift.h"
#include "ContPlug.h"

namespace {

int OpenDescriptors() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir))
      ++n;
    closedir(dir);
  }
  return n;
}

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/charsift-chain-fuzz-" + std::to_string(getpid());
  static const std::set<std::string> types = {"Folder", "Text", "Binary"};
  static const std::set<std::string> encodings = {
      "UTF-16 LE", "UTF-16 BE", "UTF-8 BOM", "UTF-8 no BOM", "ANSI",
      "ANSI Ru",   "DOS",       "DOS Ru",    "RTF",          "Binary"};

  ResetSettings();
  text_buffer_size_kb = SettingFrom(data, size, -2, 3);
  utf8_buffer_size_kb = SettingFrom(data, size, -2, 3);
  oem_enabled = SettingFrom(data, size, -1, 1);
  oem_buffer_size_kb = SettingFrom(data, size, -2, 3);
  oem_percent = SettingFrom(data, size, -5, 105);
  rus_enabled = SettingFrom(data, size, -1, 1);
  rus_buffer_size_kb = SettingFrom(data, size, -2, 3);
  rus_min_size = SettingFrom(data, size, -2, 20);
  rus_percent = SettingFrom(data, size, -5, 105);
  rus_word_len = SettingFrom(data, size, -1, 8);
  if (SettingFrom(data, size, 0, 3) == 0) binary_ignore = "00 1A";
  if (SettingFrom(data, size, 0, 3) == 0) oem_ignore.clear();

  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::u16string wide(path.begin(), path.end());
  const int before = OpenDescriptors();
  for (int field = 0; field < 2; ++field) {
    char value[32];
    std::memset(value, 0, sizeof value);
    const int result = ContentGetValueW(wide.c_str(), field, 0, value, sizeof value, 0);
    if (result != FT_MULTIPLE_CHOICE) std::abort();
    if (!(field == 0 ? types : encodings).count(value)) std::abort();
  }
  if (OpenDescriptors() != before) std::abort();
  return 0;
}
