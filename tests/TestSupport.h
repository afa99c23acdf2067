// Shared helpers of the test suite: temporary folders and files, wide paths,
// and a guard that restores the default settings.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#ifndef _WIN32
#include <thread>
#endif

#include "VorFProc.h"

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

Bytes B(std::initializer_list<int> values);
Bytes Repeat(std::uint8_t value, std::size_t count);
Bytes Concat(std::initializer_list<Bytes> parts);
std::string Hex(const Bytes& bytes);

WideString Wide(const fs::path& path);
// A path from the build (a POSIX path) in the form this platform's calls take.
fs::path HostPath(const std::string& buildPath);

// Whether the path probes take the ANSI calls: the platform reports no NT.
// The win32 suite runs once more with Wine reporting Windows 98.
inline bool UsesAnsiCalls() { return PlatformId != VER_PLATFORM_WIN32_NT; }

// A parameterised row named after its `why`: letters and digits kept, any
// other run one '_'. The name then says what the row pins and stays the same
// from build to build, where gtest's default prints the row's raw bytes.
std::string TestName(std::string_view why);
struct NamedByWhy {
  template <typename Row> std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
    return TestName(info.param.why);
  }
};

#ifndef _WIN32
// Runs `body` in a child process that lacks the right to read every file:
// as the user nobody when the suite runs as root (as CI does), else as
// itself. Its checks print there; the result is 0 when they passed, 1 when
// one failed, and kCannotTest when root could not be dropped or `body`
// returned false (its situation could not be set up).
constexpr int kCannotTest = 2;
int RunUnprivileged(const std::function<bool()>& body);
#endif

// A fresh folder under the temporary folder, removed with its content.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  fs::path Write(const std::string& name, const Bytes& content) const;
  fs::path WriteText(const std::string& name, const std::string& content) const;
  fs::path operator/(const std::string& name) const { return path_ / name; }

private:
  fs::path path_;
};

// A thread for the concurrency tests. The Windows runtime (its win32 thread
// model, the one the module is built with) has no std::thread.
#ifdef _WIN32
class TestThread {
public:
  explicit TestThread(std::function<void()> body);
  TestThread(TestThread&& other) noexcept;
  TestThread(const TestThread&) = delete;
  TestThread& operator=(const TestThread&) = delete;
  ~TestThread();
  void join();

private:
  std::unique_ptr<std::function<void()>> body_;
  void* handle_;
};
#else
using TestThread = std::thread;
#endif

// Defaults before and after each test that touches settings.
class SettingsGuard {
public:
  SettingsGuard() { ResetSettings(); }
  ~SettingsGuard() { ResetSettings(); }
};

} // namespace testing_support
