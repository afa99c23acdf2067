// The signature probes: UTF-16 marks, the UTF-8 mark and RTF, by handle and by path.
#include <functional>
#include <string>

#include "OpenHandles.h"
#include "TestSupport.h"
#include "platform/FaultInjection.h"

using namespace testing_support;

namespace {

struct SignatureRow {
  Bytes bytes;
  bool utf16, bigEndian, utf8Bom, rtf;
  const char* why;
};

void PrintTo(const SignatureRow& row, std::ostream* os) { *os << row.why; }

class Signatures : public ::testing::TestWithParam<SignatureRow> {};

TEST_P(Signatures, HandleAndPathProbesAgree) {
  const SignatureRow& row = GetParam();
  TempDir dir;
  const WideString path = Wide(dir.Write("sample", row.bytes));
  {
    FileHandle file(OpenForReading(path));
    ASSERT_TRUE(file.IsOpen());
    // Each probe seeks to the start itself, whatever the one before read.
    bool bigEndian = !row.bigEndian;
    EXPECT_EQ(HasRtfSignature(file.Get()), row.rtf) << row.why;
    EXPECT_EQ(DetectUtf16Bom(file.Get(), bigEndian), row.utf16) << row.why;
    EXPECT_EQ(bigEndian, row.bigEndian) << row.why;
    EXPECT_EQ(HasUtf8Bom(file.Get()), row.utf8Bom) << row.why;
    EXPECT_EQ(HasRtfSignature(file.Get()), row.rtf) << row.why << " (second time)";
  }
  bool bigEndian = !row.bigEndian, isRtf = !row.rtf, hasBom = !row.utf8Bom;
  EXPECT_EQ(FileUtf16Bom(path, bigEndian), row.utf16) << row.why;
  if (row.utf16) {
    EXPECT_EQ(bigEndian, row.bigEndian) << row.why;
  }
  FileRtfOrUtf8Bom(path, isRtf, hasBom);
  EXPECT_EQ(isRtf, row.rtf) << row.why;
  EXPECT_EQ(hasBom, row.utf8Bom) << row.why;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Signatures, ::testing::Values(
  SignatureRow{B({}), false, false, false, false, "empty: every read is short"},
  SignatureRow{B({0xFF}), false, false, false, false, "one byte of a UTF-16 mark"},
  SignatureRow{B({0xFF, 0xFE}), true, false, false, false, "exactly the little-endian mark"},
  SignatureRow{B({0xFE, 0xFF, 0x00, 0x41}), true, true, false, false, "big-endian mark and a letter"},
  SignatureRow{B({0xFF, 0xFE, 0x00, 0x00}), true, false, false, false, "UTF-32 LE mark reads as UTF-16 LE"},
  SignatureRow{B({0xFE, 0xFE}), false, false, false, false, "both bytes must match"},
  SignatureRow{B({0xEF, 0xBB}), false, false, false, false, "two bytes of the UTF-8 mark"},
  SignatureRow{B({0xEF, 0xBB, 0xBF}), false, false, true, false, "the UTF-8 mark alone"},
  SignatureRow{B({0xEF, 0xBB, 0xBE}), false, false, false, false, "third byte wrong"},
  SignatureRow{Text("{\\rtf"), false, false, false, true, "the RTF header alone"},
  SignatureRow{Text("{\\rtf1\\ansi"), false, false, false, true, "what follows the header plays no part"},
  SignatureRow{Text("{\\rt"), false, false, false, false, "four bytes of the header"},
  SignatureRow{Text("{\\rtx"), false, false, false, false, "the fifth byte counts too"},
  SignatureRow{Text("{\\RTF"), false, false, false, false, "case-sensitive"},
  SignatureRow{Text(" {\\rtf"), false, false, false, false, "a leading blank"},
  SignatureRow{Text("\xEF\xBB\xBF{\\rtf"), false, false, true, false, "mark before the header: UTF-8 only"},
  SignatureRow{B({0x7B, 0x5C, 0x72, 0x74, 0x66, 0x00}), false, false, false, true, "a zero after the header"}
), NamedByWhy());
// clang-format on

TEST(Signatures, NoFileNoSignature) {
  TempDir dir;
  for (const fs::path& p : {dir.Path(), dir / "missing"}) {
    bool bigEndian = true, isRtf = true, hasBom = true;
    EXPECT_FALSE(FileUtf16Bom(Wide(p), bigEndian)) << p;
    FileRtfOrUtf8Bom(Wide(p), isRtf, hasBom);
    EXPECT_FALSE(isRtf) << p;
    EXPECT_FALSE(hasBom) << p;
  }
}

// A handle whose reads fail, over a file that does hold a mark.
#ifdef _WIN32
HANDLE UnreadableHandle(const fs::path& path) {
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}
void ArmReadFailure() {}
#else
HANDLE UnreadableHandle(const fs::path& path) { return OpenForReading(Wide(path)); }
void ArmReadFailure() { charsift::fault::FailNth(charsift::fault::Call::ReadFile, 1); }
#endif

TEST(Signatures, FailedReadClearsTheBigEndianFlag) {
  TempDir dir;
  const fs::path path = dir.Write("be", B({0xFE, 0xFF, 0x00, 0x41}));
  FileHandle file(UnreadableHandle(path));
  ASSERT_TRUE(file.IsOpen());
  ArmReadFailure();
  bool bigEndian = true;
  EXPECT_FALSE(DetectUtf16Bom(file.Get(), bigEndian));
  EXPECT_FALSE(bigEndian);
#ifndef _WIN32
  charsift::fault::Reset();
#endif
}

#ifdef _WIN32
// Another handle writing the file with read sharing does not lock us out.
TEST(Signatures, FileHeldOpenForWritingIsStillRead) {
  TempDir dir;
  const fs::path path = dir.Write("busy", B({}));
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  const BYTE mark[] = {0xFE, 0xFF, 0x00, 0x41};
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(writer, mark, sizeof mark, &written, nullptr));
  {
    FileHandle reader(OpenForReading(Wide(path)));
    EXPECT_TRUE(reader.IsOpen());
  }
  bool bigEndian = false;
  EXPECT_TRUE(FileUtf16Bom(Wide(path), bigEndian));
  EXPECT_TRUE(bigEndian);
  CloseHandle(writer);
}
#else
// Every path-level probe closes what it opened, on success and on failure.
TEST(Signatures, PathProbesCloseTheirHandles) {
  SettingsGuard settings;
  TempDir dir;
  const WideString text = Wide(dir.Write("text", Text("\xEF\xBB\xBFplain text\r\n")));
  const WideString ru = Wide(dir.Write("ru", Repeat(0xE0, 64)));
  bool flag = false, other = false;
  const std::pair<const char*, std::function<void()>> probes[] = {
      {"FileUtf16Bom", [&] { FileUtf16Bom(text, flag); }},
      {"FileRtfOrUtf8Bom", [&] { FileRtfOrUtf8Bom(text, flag, other); }},
      {"FileIsUtf8NoBom", [&] { FileIsUtf8NoBom(ru); }},
      {"FileIsText", [&] { FileIsText(text); }},
      {"FileIsOem", [&] { FileIsOem(text); }},
      {"FileHasCyrillic", [&] { FileHasCyrillic(ru, flag); }},
      {"IsFolder", [&] { IsFolder(text); }},
  };
  for (const auto& [name, probe] : probes) {
    const long before = OpenHandles();
    for (int i = 0; i < 200; ++i)
      probe();
    // A failed read and a failed sample allocation still close the file.
    for (auto call : {charsift::fault::Call::ReadFile, charsift::fault::Call::Allocation}) {
      charsift::fault::FailNth(call, 1);
      try {
        probe();
      } catch (const std::bad_alloc&) {
      }
      charsift::fault::Reset();
    }
    EXPECT_EQ(OpenHandles(), before) << name;
  }
}
#endif

} // namespace
