// --to-utf8's file steps on the system's own calls: a replacement is whole
// or absent, a backup is never overwritten, a file changed since it was read
// is left alone, and no temporary file stays behind.
#include <algorithm>
#include <fstream>
#include <iterator>

#include "ConvertPlatform.h"
#include "TestSupport.h"

namespace {

namespace cli = charsift::cli;
using testing_support::fs::path;

cli::fs::path Cli(const path& p) { return cli::fs::path(p.native()); }

std::string Content(const path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> Names(const path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : testing_support::fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

struct Row {
  const char* why;
  bool backup;        // --backup with the suffix ".orig"
  bool backupExists;  // a file of the backup's name is there before
  bool changedBefore; // the original is written to between read and replace
  bool ok;
};

class ConvertReplace : public ::testing::TestWithParam<Row> {};

TEST_P(ConvertReplace, WholeOrNotAtAll) {
  const Row& row = GetParam();
  testing_support::TempDir dir;
  const path file = dir.WriteText("notes.txt", "old bytes");
  if (row.backupExists) dir.WriteText("notes.txt.orig", "an older backup");
  std::string bytes, why;
  cli::FileState was;
  ASSERT_TRUE(cli::ReadWhole(Cli(file), bytes, was, why)) << why;
  EXPECT_EQ(bytes, "old bytes");
  EXPECT_EQ(was.size, 9u);
  EXPECT_EQ(was.links, 1u);
  if (row.changedBefore) std::ofstream(file, std::ios::app) << "!";
  const cli::NativeString suffix = cli::fs::path(".orig").native();
  const bool ok = cli::Replace(Cli(file), was, "new bytes", row.backup ? &suffix : nullptr, why);
  EXPECT_EQ(ok, row.ok) << why;
  EXPECT_EQ(ok, why.empty()) << why;
  std::vector<std::string> want = {"notes.txt"};
  if (row.backup && (ok || row.backupExists)) want.push_back("notes.txt.orig");
  EXPECT_EQ(Names(dir.Path()), want) << "no temporary file stays";
  EXPECT_EQ(Content(file), ok ? "new bytes" : row.changedBefore ? "old bytes!" : "old bytes");
  if (row.backupExists || (row.backup && ok)) {
    EXPECT_EQ(Content(dir / "notes.txt.orig"), row.backupExists ? "an older backup" : "old bytes");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConvertReplace,
    ::testing::Values(Row{"replaced in full", false, false, false, true},
                      Row{"the backup keeps the original", true, false, false, true},
                      Row{"an existing backup is refused and kept", true, true, false, false},
                      Row{"a file changed since read is left alone", false, false, true, false},
                      Row{"a change is seen before the backup is made", true, false, true, false}),
    testing_support::NamedByWhy());

TEST(ConvertWriteNew, MakesTheFoldersAndNeverOverwrites) {
  testing_support::TempDir dir;
  const path target = dir / "out" / "deep" / "notes.txt";
  std::string why;
  ASSERT_TRUE(cli::WriteNew(Cli(target), "new bytes", why)) << why;
  EXPECT_EQ(Content(target), "new bytes");
  EXPECT_FALSE(cli::WriteNew(Cli(target), "other bytes", why));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(Content(target), "new bytes");
  EXPECT_EQ(Names(target.parent_path()), std::vector<std::string>{"notes.txt"});
}

TEST(ConvertReadWhole, AFolderIsNoFileToConvert) {
  testing_support::TempDir dir;
  std::string bytes, why;
  cli::FileState state;
  EXPECT_FALSE(cli::ReadWhole(Cli(dir.Path()), bytes, state, why));
  EXPECT_FALSE(why.empty());
}

} // namespace
