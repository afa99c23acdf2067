// The host's peak memory does not grow with the file, nor with a list's
// entry: only the samples at a file's start are ever held.
#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "TestSupport.h"

extern char** environ;

using namespace testing_support;

namespace {

// Peak resident size, in KB, of one run of the host with these arguments,
// which must end with status.
long PeakKbOfHostRun(const std::vector<std::string>& args, int expected = 0) {
  const std::string host = CHARSIFT_HOST_PATH;
  std::vector<char*> argv{const_cast<char*>(host.c_str())};
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int rc = posix_spawn(&pid, host.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != expected)
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
  const long smallKb = PeakKbOfHostRun({"--format", "tsv", small.string()}),
             hugeKb = PeakKbOfHostRun({"--format", "tsv", huge.string()});
  ASSERT_GT(smallKb, 0);
  ASSERT_GT(hugeKb, 0);
  // One UTF-8 sample (64 KB) plus the noise of a process start.
  EXPECT_LE(hugeKb, smallKb + 64 + 512) << "small " << smallKb << " KB, 2 GiB " << hugeKb << " KB";
  // A list of 256 MB of NULs and no line end (as /dev/zero, or a -print0
  // list read without -0): the entry is refused, never held.
  const fs::path zeros = dir.WriteText("zeros.list", "");
  fs::resize_file(zeros, std::uintmax_t{256} << 20, ec);
  const long listKb = PeakKbOfHostRun({"--files-from", zeros.string()}, 1);
  ASSERT_GT(listKb, 0);
  EXPECT_LE(listKb, smallKb + 512)
      << "small " << smallKb << " KB, a 256 MB entry " << listKb << " KB";
}

} // namespace
#endif
