// The host's peak memory does not grow with the file: only the samples at
// its start are ever held.
#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>

#include "TestSupport.h"

extern char** environ;

using namespace testing_support;

namespace {

// Peak resident size, in KB, of one run of the host over the given path.
long PeakKbOfHostRun(const fs::path& path) {
  const std::string host = CHARSIFT_HOST_PATH, target = path.string();
  const char* argv[] = {host.c_str(), "--format", "tsv", target.c_str(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc =
      posix_spawn(&pid, host.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1;
  return usage.ru_maxrss;
}

TEST(HostMemory, PeakDoesNotGrowWithFileSize) {
  ASSERT_TRUE(fs::exists(CHARSIFT_HOST_PATH)) << CHARSIFT_HOST_PATH;
  TempDir dir;
  const fs::path small = dir.Write("small.txt", Repeat('a', 1024));
  const fs::path huge = dir.Write("huge.txt", Repeat('a', 1024));
  std::error_code ec;
  fs::resize_file(huge, std::uintmax_t{2} << 30, ec); // sparse: 2 GiB of holes
  if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
  const long smallKb = PeakKbOfHostRun(small), hugeKb = PeakKbOfHostRun(huge);
  ASSERT_GT(smallKb, 0);
  ASSERT_GT(hugeKb, 0);
  // One UTF-8 sample (64 KB) plus the noise of a process start.
  EXPECT_LE(hugeKb, smallKb + 64 + 512) << "small " << smallKb << " KB, 2 GiB " << hugeKb << " KB";
}

} // namespace
#endif
