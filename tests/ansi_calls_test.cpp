// The path probes take the wide calls on NT and the ANSI calls, on the
// path converted to the ANSI code page, everywhere else. The win32 suite
// runs these once more under Wine reporting Windows 98 with code page 1251
// (tests/CMakeLists.txt); every row pins the answer of both.
#include <cstdlib>
#include <string>

#include "Charsift.h"
#include "ContPlug.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string Value(const fs::path& path, int field) {
  char value[32] = {};
  const WideString wide = Wide(path);
  const int result = ContentGetValueW(wide.c_str(), field, 0, value, sizeof value, 0);
  if (result == FT_FIELD_EMPTY) return "(empty)";
  return result == FT_MULTIPLE_CHOICE ? value : "(code " + std::to_string(result) + ")";
}

// A run meant for the ANSI calls must not pass on the wide ones, nor the
// reverse: every answer below depends on which the probes took.
TEST(PathCalls, AreTheOnesThisRunAskedFor) {
  const char* asked = std::getenv("CHARSIFT_EXPECT_ANSI_CALLS");
  const bool ansi = asked != nullptr && std::string(asked) == "1";
  EXPECT_EQ(UsesAnsiCalls(), ansi) << "platform identifier " << PlatformId;
  if (ansi) {
    EXPECT_EQ(PlatformId, 1u) << "Windows 9x";
    EXPECT_EQ(GetACP(), 1251u) << "the rows below assume code page 1251";
  }
}

const Bytes kUtf8Russian = B({0xD0, 0x94, 0xD0, 0xB0, 0x21}); // "Да!"

struct NameRow {
  const char* name; // UTF-8; a file holding kUtf8Russian, or a folder
  bool folder;
  const char* wideType;
  const char* wideEncoding;
  const char* ansiType;
  const char* ansiEncoding;
  const char* why;
};

TEST(PathCalls, NamesInAndOutsideTheAnsiCodePage) {
  SettingsGuard settings;
  TempDir dir;
  dir.WriteText("Cafe.txt", "plain\r\n");
  const NameRow rows[] = {
      {"Файл.txt", false, "Text", "UTF-8 no BOM", "Text", "UTF-8 no BOM",
       "Cyrillic converts to 1251 and opens through the ANSI calls"},
      {"№ €.txt", false, "Text", "UTF-8 no BOM", "Text", "UTF-8 no BOM",
       "signs of 1251 beyond its letters convert too"},
      {"文.txt", false, "Text", "UTF-8 no BOM", "Binary", "Binary",
       "outside 1251: the '?' it becomes opens nothing"},
      {"😀.txt", false, "Text", "UTF-8 no BOM", "Binary", "Binary",
       "a surrogate pair becomes two '?'"},
      {"Café.txt", false, "Text", "UTF-8 no BOM", "Text", "ANSI",
       "the conversion's best fit makes e of e-acute: Cafe.txt answers"},
      {"Папка", true, "Folder", "(empty)", "Folder", "(empty)", "a Cyrillic folder"},
      {"文件夹", true, "Folder", "(empty)", "Folder", "(empty)",
       "the lookup takes the '?' left for CJK as wildcards: they match the folder itself"},
  };
  for (const NameRow& row : rows) {
    const fs::path path = dir.Path() / fs::u8path(row.name);
    if (row.folder)
      fs::create_directory(path);
    else
      dir.Write(row.name, kUtf8Russian);
    const bool ansi = UsesAnsiCalls();
    EXPECT_EQ(Value(path, 0), ansi ? row.ansiType : row.wideType) << row.why;
    EXPECT_EQ(Value(path, 1), ansi ? row.ansiEncoding : row.wideEncoding) << row.why;
  }
}

#ifdef _WIN32
// Another program holding the file with delete access locks out an open
// that does not share delete: the ANSI one.
TEST(PathCalls, FileHeldWithDeleteAccess) {
  SettingsGuard settings;
  TempDir dir;
  const fs::path path = dir.Write("held.txt", kUtf8Russian);
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ | DELETE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const bool ansi = UsesAnsiCalls();
  EXPECT_EQ(Value(path, 0), ansi ? "Binary" : "Text");
  EXPECT_EQ(Value(path, 1), ansi ? "Binary" : "UTF-8 no BOM");
  CloseHandle(held);
  EXPECT_EQ(Value(path, 1), "UTF-8 no BOM") << "released, it opens on every platform";
}
#endif

} // namespace
