// Random ini text through the profile-string layer and the integer
// grammar, the grammar checked against a reference parser of its own.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "CIniFile.h"
#include "platform/Win32.h"

namespace {

// The grammar again, written differently: split into sign, prefix and
// digits first, then convert.
bool ReferenceParse(const std::string& text, int& value) {
  std::size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return false;
  std::string rest = text.substr(i);
  bool negative = false;
  if (rest[0] == '+' || rest[0] == '-') {
    negative = rest[0] == '-';
    rest.erase(0, 1);
  }
  bool hex = false;
  for (const char* prefix : {"0x", "0X", "$", "x", "X"}) {
    if (rest.rfind(prefix, 0) == 0) {
      hex = true;
      rest.erase(0, std::strlen(prefix));
      break;
    }
  }
  if (rest.empty()) return false;
  const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
  if (rest.find_first_not_of(allowed) != std::string::npos) return false;
  rest.erase(0, std::min(rest.find_first_not_of('0'), rest.size() - 1));
  if (hex) {
    if (rest.size() > 8) return false;
    std::uint32_t pattern = static_cast<std::uint32_t>(std::stoul(rest, nullptr, 16));
    if (negative) pattern = ~pattern + 1;
    std::memcpy(&value, &pattern, sizeof value);
    return true;
  }
  if (rest.size() > 10) return false;
  const long long magnitude = std::stoll(rest);
  const long long result = negative ? -magnitude : magnitude;
  if (result < -2147483648LL || result > 2147483647LL) return false;
  value = static_cast<int>(result);
  return true;
}

std::string IniPath() {
  static const std::string path = "/tmp/charsift-ini-fuzz-" + std::to_string(getpid()) + ".ini";
  return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  int mine = 12345, theirs = 12345;
  const bool parsed = ParseIniInteger(text, mine);
  if (parsed != ReferenceParse(text, theirs) || mine != theirs) std::abort();

  {
    std::ofstream out(IniPath(), std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  for (const char* key : {"text_buffer_size_kb", "oem_ignore", "a", ""}) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    const DWORD n =
        GetPrivateProfileStringA("ini", key, "dflt", buffer, sizeof buffer, IniPath().c_str());
    if (n >= sizeof buffer || buffer[n] != '\0') std::abort();
    const std::string value = ReadIniString("ini", key, "7", IniPath());
    if (value.size() > 2047) std::abort();
    int number = 7;
    ReadIniInteger(IniPath(), key, number);
  }
  return 0;
}
