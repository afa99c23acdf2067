// The settings file: its grammar, the extension rule, and loading beside the module.
#include <chrono>
#include <climits>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "CIniFile.h"
#include "Charsift.h"
#include "TestSupport.h"

using namespace testing_support;
using namespace std::string_literals;

namespace {

struct IntegerRow {
  std::string text;
  bool ok;
  int value;
  const char* why;
};

void PrintTo(const IntegerRow& row, std::ostream* os) { *os << row.why; }

class IniInteger : public ::testing::TestWithParam<IntegerRow> {};

TEST_P(IniInteger, Grammar) {
  const IntegerRow& row = GetParam();
  int value = 12345;
  EXPECT_EQ(ParseIniInteger(row.text, value), row.ok) << row.why << ": \"" << row.text << '"';
  EXPECT_EQ(value, row.ok ? row.value : 12345) << row.why << ": \"" << row.text << '"';
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, IniInteger, ::testing::Values(
  IntegerRow{"4", true, 4, "decimal"},
  IntegerRow{"  4", true, 4, "leading blanks"},
  IntegerRow{"+4", true, 4, "plus sign"},
  IntegerRow{"-4", true, -4, "minus sign"},
  IntegerRow{"0", true, 0, "zero"},
  IntegerRow{"$10", true, 16, "dollar hex"},
  IntegerRow{"x10", true, 16, "x hex"},
  IntegerRow{"X10", true, 16, "X hex"},
  IntegerRow{"0x10", true, 16, "0x hex"},
  IntegerRow{"0X10", true, 16, "0X hex"},
  IntegerRow{"$fF", true, 255, "hex digits in either case"},
  IntegerRow{"-$10", true, -16, "sign before the hex prefix"},
  IntegerRow{"$FFFFFFFF", true, -1, "hex is a 32-bit pattern"},
  IntegerRow{"$80000000", true, INT_MIN, "top bit alone"},
  IntegerRow{"-$FFFFFFFF", true, 1, "the pattern is negated"},
  IntegerRow{"000000001", true, 1, "leading zeros stay decimal"},
  IntegerRow{"$000000010", true, 16, "nine digits, eight significant"},
  IntegerRow{"$100000000", false, 0, "nine significant digits"},
  IntegerRow{"2147483647", true, INT_MAX, "largest decimal"},
  IntegerRow{"2147483648", false, 0, "one above the largest"},
  IntegerRow{"-2147483648", true, INT_MIN, "smallest decimal"},
  IntegerRow{"-2147483649", false, 0, "one below the smallest"},
  IntegerRow{"99999999999999999999999", false, 0, "far beyond 64 bits"},
  IntegerRow{"4k", false, 0, "trailing letter"},
  IntegerRow{"", false, 0, "empty"},
  IntegerRow{" ", false, 0, "blank only"},
  IntegerRow{"$", false, 0, "prefix without digits"},
  IntegerRow{"0x", false, 0, "0x without digits"},
  IntegerRow{"$G", false, 0, "no hex digit"},
  IntegerRow{"+", false, 0, "sign alone"},
  IntegerRow{"--4", false, 0, "two signs"},
  IntegerRow{"- 4", false, 0, "blank after the sign"},
  IntegerRow{"4 ", false, 0, "trailing blank"},
  IntegerRow{"\t4", false, 0, "a tab is no blank"},
  IntegerRow{"1e3", false, 0, "no exponent"},
  IntegerRow{"4\0"s, false, 0, "an embedded zero is a character"}
), NamedByWhy());
// clang-format on

struct IniRow {
  std::string content, section, key;
  std::string expected;
  const char* why;
};

void PrintTo(const IniRow& row, std::ostream* os) { *os << row.why; }

class IniString : public ::testing::TestWithParam<IniRow> {};

TEST_P(IniString, ProfileRules) {
  const IniRow& row = GetParam();
  TempDir dir; // a fresh file name each row: the system may cache a profile
  const fs::path file = dir.WriteText("s.ini", row.content);
  EXPECT_EQ(ReadIniString(row.section, row.key, "dflt", file.string()), row.expected) << row.why;
}

const std::string kLong(3000, 'v');
const std::string kHuge(100 * 1024, 'h');

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, IniString, ::testing::Values(
  IniRow{"[ini]\nk=v\n", "ini", "k", "v", "plain"},
  IniRow{"[INI]\nK=v\n", "Ini", "k", "v", "section and key ignore case"},
  IniRow{"  [ini]  \n  k  =  a b  \n", "ini", "k", "a b", "blanks around names and value"},
  IniRow{"[ini]\r\nk=v\r\n", "ini", "k", "v", "CRLF lines"},
  IniRow{"[ini]\n;k=x\n", "ini", "k", "dflt", "a comment line is no key"},
  IniRow{"[ini]\n;k=x\nk=v\n", "ini", "k", "v", "the key after a comment"},
  IniRow{"[ini]\nk=\"a b\"\n", "ini", "k", "a b", "double quotes removed"},
  IniRow{"[ini]\nk='a'\n", "ini", "k", "a", "single quotes removed"},
  IniRow{"[ini]\nk=\"a'\n", "ini", "k", "\"a'", "quotes that do not match stay"},
  IniRow{"[ini]\nk=\n", "ini", "k", "", "nothing after '=' is empty, not the default"},
  IniRow{"[ini]\nj=v\n", "ini", "k", "dflt", "missing key"},
  IniRow{"[other]\nk=v\n", "ini", "k", "dflt", "key in another section"},
  IniRow{"[ini]\n[other]\nk=v\n", "ini", "k", "dflt", "a later section header ends ours"},
  IniRow{"[ini]\nk=v\n", "ini", "", "", "empty key gives empty"},
  IniRow{"[ini]\nk=v\n", "", "k", "", "empty section gives empty"},
  IniRow{"[ini]\nk=" + kLong + "\n", "ini", "k", kLong.substr(0, 2047), "cut to 2047"},
  IniRow{"[ini]\nj=" + kHuge + "\nk=v\n", "ini", "k", "v", "a 100 KB line before the key"},
  IniRow{"[ini]\nj=a\0b\nk=v\n"s, "ini", "k", "v", "a zero byte does not end the file"},
  IniRow{"", "ini", "k", "dflt", "empty file"}
), NamedByWhy());
// clang-format on

TEST(IniString, NoUsableFileGivesTheDefault) {
  TempDir dir;
  fs::create_directory(dir / "folder.ini");
  std::mt19937 random(7);
  Bytes garbage(4096);
  for (auto& b : garbage)
    b = static_cast<std::uint8_t>(random() % 255 + 1); // no zero bytes, no section header
  for (auto& b : garbage)
    if (b == '[' || b == '=') b = '#';
  const fs::path noise = dir.Write("garbage.ini", Concat({B({'#'}), garbage}));
  for (const fs::path& p : {dir / "missing.ini", dir / "folder.ini", noise})
    EXPECT_EQ(ReadIniString("ini", "k", "dflt", p.string()), "dflt") << p;
}

TEST(ReplaceExtension, LastDotAfterTheLastDelimiter) {
  const struct {
    std::string path, extension, expected;
  } rows[] = {
      {"C:\\dir\\Charsift.wdx", ".ini", "C:\\dir\\Charsift.ini"},
      {"C:\\my.dir\\Charsift", ".ini", "C:\\my.dir\\Charsift.ini"},
      {"/a.b/Charsift.so", ".ini", "/a.b/Charsift.ini"},
      {"Charsift.wdx64", ".ini", "Charsift.ini"},
      {"x.tar.gz", ".ini", "x.tar.ini"},
      {"a.b:c", ".ini", "a.b:c.ini"},
      {"C:\\dir\\Charsift.wdx", ".example.ini", "C:\\dir\\Charsift.example.ini"},
      {"", ".ini", ".ini"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ReplaceExtension(row.path, row.extension), row.expected) << row.path;
}

// A module folder; no module file needs to exist for its settings to load.
class ModuleDir {
public:
  std::string Module() const { return (dir_ / "Charsift.wdx").string(); }
  fs::path Settings() const { return dir_ / "Charsift.ini"; }
  fs::path Example() const { return dir_ / "Charsift.example.ini"; }
  void WriteSettings(const std::string& text) const { dir_.WriteText("Charsift.ini", text); }
  void WriteExample(const std::string& text) const { dir_.WriteText("Charsift.example.ini", text); }

private:
  TempDir dir_;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void ExpectDefaults() {
  EXPECT_EQ(text_buffer_size_kb, 1);
  EXPECT_EQ(utf8_buffer_size_kb, 64);
  EXPECT_EQ(binary_ignore, "");
  EXPECT_EQ(oem_enabled, 1);
  EXPECT_EQ(oem_buffer_size_kb, 1);
  EXPECT_EQ(oem_percent, 18);
  EXPECT_EQ(oem_ignore, "AB BB");
  EXPECT_EQ(rus_enabled, 1);
  EXPECT_EQ(rus_buffer_size_kb, 2);
  EXPECT_EQ(rus_min_size, 8);
  EXPECT_EQ(rus_percent, 30);
  EXPECT_EQ(rus_word_len, 0);
}

TEST(LoadSettings, NeitherFileKeepsTheDefaults) {
  SettingsGuard guard;
  ModuleDir dir;
  LoadSettingsForModule(dir.Module());
  ExpectDefaults();
  EXPECT_FALSE(fs::exists(dir.Settings()));
}

TEST(LoadSettings, OnlyTheExampleIsCopiedAndRead) {
  SettingsGuard guard;
  ModuleDir dir;
  const std::string example = "; first run\r\n[ini]\r\noem_percent=25\r\nrus_word_len=3\r\n";
  dir.WriteExample(example);
  LoadSettingsForModule(dir.Module());
  EXPECT_EQ(ReadAll(dir.Settings()), example);
  EXPECT_EQ(oem_percent, 25);
  EXPECT_EQ(rus_word_len, 3);
}

TEST(LoadSettings, BothFilesOnlyTheSettingsAreRead) {
  SettingsGuard guard;
  ModuleDir dir;
  dir.WriteExample("[ini]\noem_percent=25\nrus_word_len=3\n");
  dir.WriteSettings("[ini]\noem_percent=40\n");
  LoadSettingsForModule(dir.Module());
  EXPECT_EQ(ReadAll(dir.Settings()), "[ini]\noem_percent=40\n");
  EXPECT_EQ(oem_percent, 40);
  EXPECT_EQ(rus_word_len, 0);
}

TEST(LoadSettings, KeysUnderAnotherSectionChangeNothing) {
  SettingsGuard guard;
  ModuleDir dir;
  dir.WriteSettings("[Charsift]\noem_percent=25\nbinary_ignore=00\n[ini2]\nrus_enabled=0\n");
  LoadSettingsForModule(dir.Module());
  ExpectDefaults();
}

TEST(LoadSettings, Lists) {
  SettingsGuard guard;
  ModuleDir emptied, missing;
  emptied.WriteSettings("[ini]\nbinary_ignore=00 1A\noem_ignore=\n");
  LoadSettingsForModule(emptied.Module());
  EXPECT_EQ(binary_ignore, "00 1A");
  EXPECT_EQ(oem_ignore, "") << "present with nothing after '='";
  EXPECT_FALSE(IsBinaryCode(0x1A)) << "the probes' sets follow the lists loaded";
  EXPECT_TRUE(IsBinaryCode(0x01));
  EXPECT_FALSE(OemIgnoredSet.has[0xAB]);
  ResetSettings();
  EXPECT_TRUE(IsBinaryCode(0x1A)) << "and the defaults put back";
  EXPECT_TRUE(OemIgnoredSet.has[0xAB]);
  missing.WriteSettings("[ini]\noem_percent=18\n");
  LoadSettingsForModule(missing.Module());
  EXPECT_EQ(oem_ignore, "AB BB") << "a missing line keeps the list";
}

TEST(LoadSettings, IntegersThatFailKeepTheirValue) {
  const struct {
    const char* value;
    int expected;
  } rows[] = {{"$10", 16}, {"0x10", 16},      {" 4", 4},        {"4k", 7},
              {"", 7},     {"$FFFFFFFF", -1}, {"2147483648", 7}};
  for (const auto& row : rows) {
    SettingsGuard guard;
    ModuleDir dir;
    dir.WriteSettings("[ini]\ntext_buffer_size_kb="s + row.value + "\nrus_min_size=-1\n");
    text_buffer_size_kb = 7;
    LoadSettingsForModule(dir.Module());
    EXPECT_EQ(text_buffer_size_kb, row.expected) << '"' << row.value << '"';
    EXPECT_EQ(rus_min_size, -1) << "no range test on load";
  }
}

// Dates a file in 1975; false where the file system will not take it.
bool DateBefore1980(const fs::path& path) {
  const auto before = fs::last_write_time(path);
#ifdef _WIN32
  // The library's own setter leaves such a time unset here.
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const ULONGLONG ticks = (11644473600ULL + 157766400ULL) * 10000000ULL; // since 1601
  FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  const bool set = SetFileTime(file, nullptr, nullptr, &time);
  CloseHandle(file);
  if (!set) return false;
#else
  std::error_code ec;
  fs::last_write_time(path, before - std::chrono::hours(24 * 365 * 51), ec);
  if (ec) return false;
#endif
  return fs::last_write_time(path) < before - std::chrono::hours(24 * 365 * 40);
}

// The existence test needs a DOS time stamp: an older file counts as
// absent, yet the fail-if-exists copy leaves it in place and it is read.
TEST(LoadSettings, SettingsFileBefore1980IsReadNotReplaced) {
  SettingsGuard guard;
  ModuleDir dir;
  dir.WriteExample("[ini]\noem_percent=25\n");
  dir.WriteSettings("[ini]\noem_percent=40\n");
  if (!DateBefore1980(dir.Settings())) GTEST_SKIP() << "cannot date a file before 1980";
  const auto old = fs::last_write_time(dir.Settings());
  LoadSettingsForModule(dir.Module());
  EXPECT_EQ(oem_percent, 40);
  EXPECT_EQ(ReadAll(dir.Settings()), "[ini]\noem_percent=40\n");
  EXPECT_EQ(fs::last_write_time(dir.Settings()), old);
}

TEST(LoadSettings, ExampleThatIsAFolderIsNotCopied) {
  SettingsGuard guard;
  ModuleDir dir;
  fs::create_directory(dir.Example());
  LoadSettingsForModule(dir.Module());
  EXPECT_FALSE(fs::exists(dir.Settings()));
  ExpectDefaults();
}

TEST(LoadSettings, ExampleBefore1980IsNotCopied) {
  SettingsGuard guard;
  ModuleDir dir;
  dir.WriteExample("[ini]\noem_percent=25\n");
  if (!DateBefore1980(dir.Example())) GTEST_SKIP() << "cannot date a file before 1980";
  LoadSettingsForModule(dir.Module());
  EXPECT_FALSE(fs::exists(dir.Settings()));
  ExpectDefaults();
}

#ifndef _WIN32
// Root reads any file, so the load runs in a child that has dropped root;
// the folder is open to it, so only the settings file's mode keeps it out.
TEST(LoadSettings, UnreadableSettingsFileKeepsTheDefaults) {
  SettingsGuard guard;
  ModuleDir dir;
  dir.WriteExample("[ini]\noem_percent=25\n");
  dir.WriteSettings("[ini]\noem_percent=40\n");
  fs::permissions(fs::path(dir.Module()).parent_path(), fs::perms::all);
  fs::permissions(dir.Settings(), fs::perms::none);
  const int result = RunUnprivileged([&] {
    if (std::ifstream(dir.Settings()).is_open()) return false;
    LoadSettingsForModule(dir.Module());
    ExpectDefaults();
    return true;
  });
  if (result == kCannotTest) GTEST_SKIP() << "no user here is kept from reading the file";
  EXPECT_EQ(result, 0) << "a check failed in the child, printed above";
  fs::permissions(dir.Settings(), fs::perms::owner_read);
  EXPECT_EQ(ReadAll(dir.Settings()), "[ini]\noem_percent=40\n") << "not replaced by the example";
}
#endif

} // namespace
