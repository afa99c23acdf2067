// The host's paths on Windows: the few calls of std::filesystem the tool
// makes, over UTF-16 and the system's own calls. The library's paths bring
// its locale and stream code along (a third of charsift.exe).
#pragma once

#include <string>
#include <system_error>

namespace charsift::cli::fs {

class path {
public:
  using value_type = wchar_t;
  using string_type = std::wstring;

  path() = default;
  path(string_type text) : text_(std::move(text)) {}
  path(const wchar_t* text) : text_(text) {}
  // Narrow text is in the ANSI code page, as the system's A calls take it.
  path(const std::string& text);
  path(const char* text) : path(std::string(text)) {}

  const string_type& native() const { return text_; }
  const wchar_t* c_str() const { return text_.c_str(); }
  bool empty() const { return text_.empty(); }
  // The folder part: up to the last separator, which stays when it is the
  // root's ("C:\", "\").
  path parent_path() const;
  bool has_parent_path() const { return !parent_path().empty(); }

  friend path operator/(const path& folder, const path& name);
  friend bool operator==(const path& a, const path& b) { return a.text_ == b.text_; }

private:
  string_type text_;
};

// Whether anything is at path; whether it is a file that is no folder.
bool exists(const path& p, std::error_code& ec);
bool is_regular_file(const path& p, std::error_code& ec);

} // namespace charsift::cli::fs
