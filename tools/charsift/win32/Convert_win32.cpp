// The win32 half of --to-utf8 (ConvertPlatform.h): not built yet.
#include "ConvertPlatform.h"

namespace charsift::cli {

std::string NameOf(const CodePage& page) { return page.name; }
bool Knows(const CodePage&) { return false; }
unsigned DefaultAnsiCodePage() { return 1252; }
Decoded ToUtf8(const CodePage&, std::string_view, std::string&) { return {}; }
bool ReadWhole(const fs::path&, std::string&, FileState&, std::string& why) {
  why = "not built yet";
  return false;
}
bool Replace(const fs::path&, const FileState&, std::string_view, const NativeString*,
             std::string& why) {
  why = "not built yet";
  return false;
}
bool WriteNew(const fs::path&, std::string_view, std::string& why) {
  why = "not built yet";
  return false;
}
void CleanUpOnSignals() {}

} // namespace charsift::cli
