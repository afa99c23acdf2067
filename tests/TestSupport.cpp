// The suite's shared helpers: temporary folders, wide paths, the settings guard.
#include "TestSupport.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <random>

namespace testing_support {

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values)
    out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

Bytes Repeat(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char cell[4];
  for (std::uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, "%02X ", b);
    out += cell;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

std::string TestName(std::string_view why) {
  std::string name;
  for (char c : why) {
    if (std::isalnum(static_cast<unsigned char>(c)))
      name += c;
    else if (!name.empty() && name.back() != '_')
      name += '_';
  }
  while (!name.empty() && name.back() == '_')
    name.pop_back();
  return name;
}

WideString Wide(const fs::path& path) {
  const std::u16string u = path.u16string();
  return WideString(u.begin(), u.end());
}

fs::path HostPath(const std::string& buildPath) {
#ifdef _WIN32
  // Wine shows the Unix root as drive Z:.
  std::string p = "Z:" + buildPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return fs::path(p);
#else
  return fs::path(buildPath);
#endif
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  const auto name = "charsift-test-" + std::to_string(rd()) + "-" + std::to_string(counter++);
  path_ = fs::temp_directory_path() / name;
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

fs::path TempDir::Write(const std::string& name, const Bytes& content) const {
  const fs::path p = path_ / fs::u8path(name);
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
  return p;
}

fs::path TempDir::WriteText(const std::string& name, const std::string& content) const {
  return Write(name, Bytes(content.begin(), content.end()));
}

} // namespace testing_support
