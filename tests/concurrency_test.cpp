// Many host threads querying at once get the answers one thread gets.
// The TSan build runs this suite alone and reports any data race.
#include <atomic>
#include <string>
#include <vector>

#include "ContPlug.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string Query(const WideString& path, int field) {
  char value[32] = {};
  const int result = ContentGetValueW(path.c_str(), field, 0, value, sizeof value, 0);
  return std::to_string(result) + ":" + value;
}

TEST(InProcessConcurrency, SixteenThreadsAgreeWithOne) {
  SettingsGuard settings;
  TempDir dir;
  const Bytes cyrillic = Repeat(0xE0, 30);
  const std::vector<fs::path> files = {
      dir.Write("le.txt", B({0xFF, 0xFE, 'h', 0, 'i', 0})),
      dir.Write("be.txt", B({0xFE, 0xFF, 0, 'h', 0, 'i'})),
      dir.Write("bom.txt", B({0xEF, 0xBB, 0xBF, 'h', 'i'})),
      dir.Write("utf8.txt", B({'c', 'a', 'f', 0xC3, 0xA9, '\n'})),
      dir.WriteText("ascii.txt", "just ASCII\n"),
      dir.Write("ansi-ru.txt", Concat({cyrillic, B({' '}), cyrillic})),
      dir.Write("dos.txt", Concat({Repeat(0xC4, 40), B({'\n'}), Repeat(0xB3, 10)})),
      dir.Write("dos-ru.txt", Concat({Repeat(0x8F, 30), B({' '}), Repeat(0xA0, 30)})),
      dir.WriteText("doc.rtf", "{\\rtf1 hello}"),
      dir.Write("bin.dat", B({0x7F, 'E', 'L', 'F', 0, 0, 1})),
      dir.Path(),
  };
  std::vector<WideString> paths;
  for (const fs::path& f : files)
    paths.push_back(Wide(f));

  std::vector<std::string> expected;
  for (const WideString& p : paths)
    for (int field = 0; field < 2; ++field)
      expected.push_back(Query(p, field));
  // Out of range again, so the threads race to store the same clamp.
  utf8_buffer_size_kb = 0;

  constexpr int kThreads = 16, kQueries = 5000;
  std::atomic<int> mismatches{0};
  std::vector<TestThread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int q = 0; q < kQueries; ++q) {
        const std::size_t i = static_cast<std::size_t>(t * 7 + q) % expected.size();
        if (Query(paths[i / 2], static_cast<int>(i % 2)) != expected[i]) ++mismatches;
      }
    });
  }
  for (TestThread& thread : threads)
    thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(utf8_buffer_size_kb, 1);
}

} // namespace
