// The UTF-8 test of a file: its sample, the mark, a cut sequence and the size clamp.
#include <climits>
#include <string>

#include "Encodings.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

// Each sample in a file of its own: rewriting one file is slow on some
// file systems.
bool Utf8NoBom(const TempDir& dir, const Bytes& content) {
  static int serial = 0;
  return FileIsUtf8NoBom(Wide(dir.Write(std::to_string(serial++) + ".txt", content)));
}

// `size` bytes: one "é" first, ASCII after it, and a stray continuation
// byte at `strayAt`; valid exactly when the stray byte is not sampled.
Bytes StrayContinuation(std::size_t size, std::size_t strayAt) {
  Bytes b = Concat({B({0xC3, 0xA9}), Repeat('a', size - 2)});
  b[strayAt] = 0x80;
  return b;
}

TEST(Utf8File, OneByteNeverPasses) {
  SettingsGuard settings;
  TempDir dir;
  for (int v = 0; v < 256; ++v)
    EXPECT_FALSE(Utf8NoBom(dir, B({v}))) << "byte 0x" << std::hex << v;
}

struct FileRow {
  Bytes content;
  bool expected;
  const char* why;
};
// Failure messages name the row by its reason.
void PrintTo(const FileRow& row, std::ostream* os) { *os << row.why; }

class Utf8FileRows : public ::testing::TestWithParam<FileRow> {};

TEST_P(Utf8FileRows, Answers) {
  SettingsGuard settings;
  TempDir dir;
  const FileRow& row = GetParam();
  EXPECT_EQ(Utf8NoBom(dir, row.content), row.expected) << row.why << ": " << Hex(row.content);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Utf8FileRows, ::testing::Values(
  FileRow{B({0xE2, 0x82}), true, "a sequence cut by the end of the file passes"},
  FileRow{B({0x63, 0x61, 0x66, 0xC3, 0xA9}), true, "whole two-byte sequence"},
  FileRow{B({0x00, 0xC3, 0xA9}), false, "first byte zero: nothing walked"},
  FileRow{B({0x61, 0x00, 0xC3, 0xA9}), false, "bytes after a zero are not walked"},
  FileRow{B({0xC3, 0xA9, 0x00, 0xFF, 0xFF}), true, "garbage after a zero is not walked"},
  FileRow{ToUtf16("Hello", false, false), false, "UTF-16 LE of Latin text: zero second byte"},
  FileRow{B({0xEF, 0xBB, 0xBF, 0xC3, 0xA9}), false, "a UTF-8 mark is for the mark probe"},
  FileRow{B({0xEF, 0xBB, 0xBF}), false, "the mark alone"},
  FileRow{B({0xEF, 0xBB}), true, "two bytes of a mark are just a cut sequence"},
  FileRow{B({'a', 'b', 'c'}), false, "7-bit only"},
  FileRow{B({}), false, "empty file"}
), NamedByWhy());
// clang-format on

TEST(Utf8File, MarkStopsTheFileTestButNotTheHandleTest) {
  SettingsGuard settings;
  TempDir dir;
  const auto path = dir.Write("bom.txt", B({0xEF, 0xBB, 0xBF, 'a'}));
  FileHandle file(OpenForReading(Wide(path)));
  ASSERT_TRUE(file.IsOpen());
  EXPECT_TRUE(HandleIsUtf8(file.Get())) << "EF BB BF is a whole three-byte sequence";
  EXPECT_FALSE(FileIsUtf8NoBom(Wide(path)));
}

TEST(Utf8File, MissingFileIsFalseAndLeavesTheSettingAlone) {
  SettingsGuard settings;
  TempDir dir;
  utf8_buffer_size_kb = 0;
  EXPECT_FALSE(FileIsUtf8NoBom(Wide(dir / "missing.txt")));
  EXPECT_FALSE(Utf8NoBom(dir, B({0xEF, 0xBB, 0xBF, 0xC3, 0xA9})));
  EXPECT_EQ(utf8_buffer_size_kb, 0) << "only a sample read clamps the setting";
}

TEST(Utf8File, SampleCutInsideASequencePasses) {
  SettingsGuard settings;
  TempDir dir;
  utf8_buffer_size_kb = 1;
  // 1023 bytes are read: the three-byte sequence starts at 1021 and its
  // last byte, beyond the sample, would be invalid.
  Bytes b = Concat({B({0xC3, 0xA9}), Repeat('a', 1019), B({0xE2, 0x82, 0x41}), Repeat('a', 500)});
  EXPECT_TRUE(Utf8NoBom(dir, b));
  b[1022] = 0x41;
  EXPECT_FALSE(Utf8NoBom(dir, b)) << "inside the sample the same cut is an error";
}

struct ClampRow {
  int setting;
  int stored;       // the setting after one test
  std::size_t size; // the sample buffer in bytes; one byte less is read
  const char* why;
};
void PrintTo(const ClampRow& row, std::ostream* os) { *os << row.why; }

class Utf8Clamp : public ::testing::TestWithParam<ClampRow> {};

TEST_P(Utf8Clamp, SampleSizeAndStoredSetting) {
  SettingsGuard settings;
  TempDir dir;
  const ClampRow& row = GetParam();
  const std::size_t fileSize = row.size + 16;
  utf8_buffer_size_kb = row.setting;
  EXPECT_FALSE(Utf8NoBom(dir, StrayContinuation(fileSize, row.size - 2)))
      << row.why << ": the last byte read is sampled";
  EXPECT_EQ(utf8_buffer_size_kb, row.stored) << row.why;
  utf8_buffer_size_kb = row.setting;
  EXPECT_TRUE(Utf8NoBom(dir, StrayContinuation(fileSize, row.size - 1)))
      << row.why << ": the buffer's last byte is never read";
  EXPECT_EQ(utf8_buffer_size_kb, row.stored) << row.why;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Utf8Clamp, ::testing::Values(
  ClampRow{0, 1, 1024, "zero becomes the smallest sample"},
  ClampRow{-5, 1, 1024, "negative becomes the smallest sample"},
  ClampRow{INT_MIN, 1, 1024, "the most negative setting"},
  ClampRow{1, 1, 1024, "the lower bound itself"},
  ClampRow{64, 64, 65536, "the default: 65535 bytes read"},
  ClampRow{20000, 10240, 10485760, "above the ceiling the sample is 10 MiB"}
), NamedByWhy());
// clang-format on

} // namespace
