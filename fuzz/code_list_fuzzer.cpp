// A code list of any bytes: IsCodeListed, the table derived from the list,
// and a plain search agree for every code; IsBinaryCode follows them.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "VorFProc.h"

namespace {

bool ReferenceListed(int code, const std::string& list) {
  static const char digits[] = "0123456789ABCDEF";
  const std::string hay = " " + list + " ";
  for (std::size_t i = 0; i + 3 < hay.size(); ++i) {
    if (hay[i] == ' ' && hay[i + 1] == digits[code >> 4] && hay[i + 2] == digits[code & 15] &&
        hay[i + 3] == ' ')
      return true;
  }
  return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string list(reinterpret_cast<const char*>(data), size);
  const CodeSet table = ListedCodes(list);
  binary_ignore = list;
  ApplyListSettings();
  for (int code = 0; code < 256; ++code) {
    const bool expected = ReferenceListed(code, list);
    if (IsCodeListed(code, list) != expected || table.has[code] != expected) std::abort();
    const bool control = code < 32 && code != 9 && code != 10 && code != 13;
    if (IsBinaryCode(code) != (control && !expected)) std::abort();
  }
  return 0;
}
