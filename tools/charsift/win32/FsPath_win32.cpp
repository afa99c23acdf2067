// The host's Windows paths: joining, the folder part, ANSI text and whether
// a file is there.
#include "FsPath.h"

#include <windows.h>

namespace charsift::cli::fs {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

} // namespace

path::path(const std::string& text) {
  const int size = static_cast<int>(text.size());
  text_.resize(text.size());
  text_.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_ACP, 0, text.data(), size, text_.data(), size)));
}

path path::parent_path() const {
  const std::size_t last = text_.find_last_of(L"\\/:");
  if (last == string_type::npos) return path();
  if (text_[last] == L':') return path(text_.substr(0, last + 1)); // "C:name"
  std::size_t end = last;
  while (end > 0 && IsSeparator(text_[end - 1]))
    --end;
  // The separator of a root stays: "\name", "C:\name".
  if (end == 0 || text_[end - 1] == L':') return path(text_.substr(0, last + 1));
  return path(text_.substr(0, end));
}

path operator/(const path& folder, const path& name) {
  const path::string_type& base = folder.text_;
  const bool separated = base.empty() || IsSeparator(base.back()) || base.back() == L':';
  return path(base + (separated ? L"" : L"\\") + name.text_);
}

bool exists(const path& p, std::error_code& ec) {
  ec.clear();
  return GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_regular_file(const path& p, std::error_code& ec) {
  ec.clear();
  const DWORD attributes = GetFileAttributesW(p.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace charsift::cli::fs
