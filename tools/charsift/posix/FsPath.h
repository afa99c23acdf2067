// The host's paths on Linux: the standard library's.
#pragma once

#include <filesystem>

namespace charsift::cli {
namespace fs = std::filesystem;
} // namespace charsift::cli
