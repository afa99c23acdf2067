// The host's calls that read alike on Linux and Windows.
#include "Platform.h"

#include <exception>
#include <system_error>

namespace charsift::cli {

std::string LinkTarget(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? "?" : Shown(target);
}

std::string AnsiPath(const fs::path& path) {
  try {
    return path.string();
  } catch (const std::exception&) {
    return std::string();
  }
}

} // namespace charsift::cli
