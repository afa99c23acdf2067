// The suite's shared helpers: temporary folders, wide paths, the settings guard.
#include "TestSupport.h"

#ifdef _WIN32
#include <process.h>
#endif

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <utility>

#ifndef _WIN32
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#endif

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

#ifndef _WIN32
int RunUnprivileged(const std::function<bool()>& body) {
  constexpr uid_t kNobody = 65534;
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return kCannotTest;
  if (child == 0) {
    // _exit: the child must not run the parent's clean-up (temporary folders).
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0))
      _exit(kCannotTest);
    const bool ran = body();
    std::fflush(nullptr);
    _exit(!ran ? kCannotTest : ::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
#endif

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

#ifdef _WIN32
namespace {

unsigned __stdcall RunBody(void* body) {
  (*static_cast<std::function<void()>*>(body))();
  return 0;
}

} // namespace

TestThread::TestThread(std::function<void()> body)
    : body_(std::make_unique<std::function<void()>>(std::move(body))),
      handle_(
          reinterpret_cast<void*>(_beginthreadex(nullptr, 0, RunBody, body_.get(), 0, nullptr))) {
  if (handle_ == nullptr) throw std::runtime_error("no thread");
}

TestThread::TestThread(TestThread&& other) noexcept
    : body_(std::move(other.body_)), handle_(std::exchange(other.handle_, nullptr)) {}

TestThread::~TestThread() {
  if (handle_) join();
}

void TestThread::join() {
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
  handle_ = nullptr;
}
#endif

} // namespace testing_support
