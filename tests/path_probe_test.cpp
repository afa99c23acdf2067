// Path and file probes: drive roots, folders, wildcards, handles, sizes, bad and wide paths, names.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <string>

#include "Charsift.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FaultInjection.h"
#include "platform/FileNames.h"
#endif

using namespace testing_support;

namespace {

WideString U(std::u16string_view text) { return WideString(text.begin(), text.end()); }

std::string Narrow(const WideString& path) {
  std::string out;
  for (WCHAR c : path)
    out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

struct FormRow {
  std::u16string path;
  bool driveRoot;
  const char* why;
};

void PrintTo(const FormRow& row, std::ostream* os) { *os << row.why; }

class DriveRootForms : public ::testing::TestWithParam<FormRow> {};

TEST_P(DriveRootForms, NeedNoDriveToExist) {
  const FormRow& row = GetParam();
  const WideString path = U(row.path);
  // Off Windows "Q:" is a name like any other: no file of it exists here.
  const bool driveRoot = row.driveRoot && kWindowsPathRules;
  EXPECT_EQ(IsDriveRoot(path), driveRoot) << row.why;
  // No drive Q exists: a drive-root form is a folder whatever the lookup
  // says, and the test is made on the path as given, not the stripped one.
  EXPECT_EQ(IsFolder(path), driveRoot) << row.why;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, DriveRootForms, ::testing::Values(
  FormRow{u"Q:", true, "letter and colon of a drive that need not exist"},
  FormRow{u"Q:\\", true, "letter, colon, backslash"},
  FormRow{u"1:", true, "the first character is not examined"},
  FormRow{u"*:\\", true, "not even when it is a wildcard"},
  FormRow{u"Q:/", false, "a forward slash is no drive-root separator"},
  FormRow{u"Q:\\\\", false, "two backslashes, though stripping one leaves a root"},
  FormRow{u"Q:\\x", false, "a name after the root"},
  FormRow{u"\\\\?\\Q:\\", false, "long-path prefix"},
  FormRow{u"Q", false, "a single letter"},
  FormRow{u"Q;\\", false, "no colon"},
  FormRow{u"", false, "empty"}
), NamedByWhy());
// clang-format on

TEST(StripTrailingBackslash, RemovesAtMostOneBackslash) {
  const struct {
    std::u16string in, out;
    const char* why;
  } rows[] = {
      {u"", u"", "empty stays empty"},
      {u"\\", u"", "a lone backslash goes"},
      {u"a\\\\", u"a\\", "only one of two"},
      {u"a/", u"a/", "a forward slash stays"},
      {u"a\\b", u"a\\b", "an inner backslash stays"},
  };
  // Off Windows a backslash is part of a name: nothing is stripped.
  for (const auto& row : rows)
    EXPECT_EQ(StripTrailingBackslash(U(row.in)), U(kWindowsPathRules ? row.out : row.in))
        << row.why;
}

TEST(IsFolder, RealEntries) {
  TempDir dir;
  const fs::path file = dir.WriteText("plain.txt", "x");
  const WideString folder = Wide(dir.Path());
  EXPECT_TRUE(IsFolder(folder));
  EXPECT_EQ(IsFolder(folder + WCHAR(u'\\')), kWindowsPathRules)
      << "one trailing backslash is stripped on Windows; elsewhere it names another entry";
  EXPECT_FALSE(IsFolder(Wide(file)));
  EXPECT_FALSE(IsFolder(Wide(file) + WCHAR(u'\\')));
  EXPECT_FALSE(IsFolder(Wide(dir / "missing")));
  EXPECT_FALSE(IsFolder(WideString()));
}

// On Windows the lookup's first match decides, "." listed first; elsewhere
// a wildcard is a character of a name, and none of these names exists.
TEST(IsFolder, WildcardInTheLastComponentTakesTheFirstMatch) {
  TempDir folderFirst, fileFirst, onlyFiles;
  fs::create_directory(folderFirst / "a_entry");
  folderFirst.WriteText("b_entry", "x");
  fileFirst.WriteText("a_entry", "x");
  fs::create_directory(fileFirst / "b_entry");
  onlyFiles.WriteText("f.txt", "x");

  EXPECT_EQ(IsFolder(Wide(folderFirst / "?_entry")), kWindowsPathRules);
  EXPECT_FALSE(IsFolder(Wide(fileFirst / "?_entry")));
  EXPECT_EQ(IsFolder(Wide(onlyFiles / "*")), kWindowsPathRules) << "\".\" matches first";
  EXPECT_FALSE(IsFolder(Wide(onlyFiles / "*.txt")));
  EXPECT_FALSE(IsFolder(Wide(onlyFiles / "*.none")));
}

#ifndef _WIN32
// '?', '*', '\\' and ':' are legal in POSIX names: a file of that very name
// is the file, even beside a folder its name would match as a pattern, name
// with a backslash stripped, or call a drive.
TEST(IsFolder, LiteralNameBeatsTheWildcard) {
  SettingsGuard settings;
  const struct {
    const char* file;
    const char* folder;
    const char* why;
  } rows[] = {
      {"notes?", "notes1", "'?' beside a folder it matches"},
      {"draft*", "draft(old)", "'*' beside a folder it matches"},
      {"*", "a", "a name that is all wildcard"},
      {"foo\\", "foo", "a trailing backslash is part of the name, no separator"},
      {"a:", "a", "a colon makes no drive root"},
      {"Q:\\", "Q:", "nor does a colon and a backslash"},
  };
  for (const auto& row : rows) {
    TempDir dir;
    fs::create_directory(dir / row.folder);
    const WideString file = Wide(dir.Write(row.file, B({0xC3, 0xA9, '\n'})));
    EXPECT_FALSE(IsFolder(file)) << row.why;
    EXPECT_STREQ(ClassifyEncoding(file), "UTF-8 no BOM") << row.why;
  }
}
#endif

TEST(OpenForReading, FailsForWhatIsNoFile) {
  TempDir dir;
  EXPECT_EQ(OpenForReading(Wide(dir.Path())), INVALID_HANDLE_VALUE) << "folder";
  EXPECT_EQ(OpenForReading(Wide(dir / "missing")), INVALID_HANDLE_VALUE) << "missing";
  EXPECT_EQ(OpenForReading(WideString()), INVALID_HANDLE_VALUE) << "empty path";
  FileHandle file(OpenForReading(Wide(dir.WriteText("f", "x"))));
  EXPECT_TRUE(file.IsOpen());
}

// A handle given to the other kind's close call is refused, as kernel32
// refuses it, and stays usable.
TEST(Handles, WrongCloseCallIsRefused) {
  TempDir dir;
  const WideString path = Wide(dir.WriteText("f", "xy"));
  WIN32_FIND_DATAW data;
  const HANDLE search = FindFirstFileW(path.c_str(), &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  FileHandle file(OpenForReading(path));
  ASSERT_TRUE(file.IsOpen());
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(FindClose(file.Get())) << "a file handle is no search";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(CloseHandle(search)) << "a search handle is closed by FindClose only";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  BYTE bytes[2] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(file.Get(), bytes, 2, &got, nullptr) && got == 2)
      << "the file is still open";
  EXPECT_TRUE(FindClose(search));
}

struct SizeRow {
  std::uintmax_t size;
  const char* why;
};

void PrintTo(const SizeRow& row, std::ostream* os) { *os << row.why; }

class FileSize64 : public ::testing::TestWithParam<SizeRow> {};

TEST_P(FileSize64, ReportsSparseSizes) {
  const SizeRow& row = GetParam();
  TempDir dir;
  const fs::path path = dir.WriteText("sparse", "");
  std::error_code ec;
  fs::resize_file(path, row.size, ec);
  if (ec) GTEST_SKIP() << "file system refuses " << row.size << " bytes: " << ec.message();
  FileHandle file(OpenForReading(Wide(path)));
  ASSERT_TRUE(file.IsOpen());
  // A stale error code must not turn a low part of all ones into -1.
  SetLastError(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileSize64(file.Get()), static_cast<std::int64_t>(row.size)) << row.why;
}

INSTANTIATE_TEST_SUITE_P(Rows, FileSize64,
                         ::testing::Values(SizeRow{0, "empty"}, SizeRow{1, "one byte"},
                                           SizeRow{4294967295u, "low part all ones is a size"},
                                           SizeRow{4294967296u, "high part only"},
                                           SizeRow{5368709120u, "5 GiB"}),
                         NamedByWhy());

// Every path-level probe on a path that names no readable file.
void ExpectNoAnswer(const WideString& path, bool folder, const std::string& why) {
  EXPECT_EQ(IsFolder(path), folder) << why;
  bool bigEndian = false, isRtf = true, hasBom = true, isOem = false;
  EXPECT_FALSE(FileUtf16Bom(path, bigEndian)) << why;
  FileRtfOrUtf8Bom(path, isRtf, hasBom);
  EXPECT_FALSE(isRtf || hasBom) << why;
  EXPECT_FALSE(FileIsUtf8NoBom(path)) << why;
  EXPECT_FALSE(FileIsText(path)) << why;
  EXPECT_FALSE(FileIsOem(path)) << why;
  EXPECT_FALSE(FileHasCyrillic(path, isOem)) << why;
}

TEST(BadPaths, NeverCrash) {
  SettingsGuard settings;
  TempDir dir;
  dir.WriteText("f.txt", "text");
  fs::create_directory(dir / "sub");
  const WideString base = Wide(dir.Path()) + WCHAR(u'/');
  const struct {
    WideString path;
    bool folder;
  } rows[] = {
      {WideString(40000, WCHAR(u'a')), false},
      {base + WideString(40000, WCHAR(u'b')), false},
      {base + U(u"x\xD800y"), false},
      {base + U(u"x\xDC00y"), false},
      {base + U(u"x\xD800"), false},
      {U(u"\xDC00"), UsesAnsiCalls()}, // in ANSI '?', which matches "." of the working folder
      {base + U(u"f.tx?"), false},
      {base + U(u"s?b"), kWindowsPathRules},
      {base + U(u"s*\\"), kWindowsPathRules},
      {base + U(u"*/f.txt"), false},
      {base + U(u"f.txt/*"), false},
      {U(u"?*:/x"), false},
      {U(u"*:"), kWindowsPathRules},
  };
  for (const auto& row : rows)
    ExpectNoAnswer(row.path, row.folder, Narrow(row.path).substr(0, 80));
}

// Cyrillic, CJK and an emoji (a surrogate pair) reach the file system intact
// through the wide calls. Their ANSI form has '?' for the CJK and the emoji:
// no open, but the lookup takes them as wildcards that match the folder.
TEST(WidePaths, NonAsciiNamesOpenAndProbe) {
  TempDir dir;
  const std::u8string name = u8"Файл_文_😀";
  const fs::path file =
      dir.Write(std::string(name.begin(), name.end()) + ".txt", B({0xFE, 0xFF, 0x00, 0x41}));
  const fs::path folder = dir.Path() / fs::path(name);
  fs::create_directory(folder);
  const WideString path = Wide(file);
  ASSERT_EQ(path.size(), Wide(dir.Path()).size() + 1 + 13) << "9 units of name, 4 of extension";
  EXPECT_FALSE(IsFolder(path));
  EXPECT_TRUE(IsFolder(Wide(folder)));
  bool bigEndian = false;
  EXPECT_EQ(FileUtf16Bom(path, bigEndian), !UsesAnsiCalls());
  EXPECT_EQ(bigEndian, !UsesAnsiCalls());
}

#ifndef _WIN32
// Names between UTF-16 and file-system bytes, both ways: every byte string
// has a UTF-16 form that names it back.
TEST(FileNames, LosslessBothWays) {
  using charsift::names::BytesFromUtf16;
  using charsift::names::Utf16FromBytes;
  const struct {
    std::u16string utf16;
    std::string bytes;
    bool fromBytes; // the bytes decode back to exactly this UTF-16
    const char* why;
  } rows[] = {
      {u"a\u00e9\u6f22", "a\xC3\xA9\xE6\xBC\xA2", true, "valid UTF-8 decodes"},
      {u"\U0001F600", "\xF0\x9F\x98\x80", true, "a surrogate pair is one character"},
      {u"\xDCCF\xDCF0\xDCE8", "\xCF\xF0\xE8", true, "cp1251 bytes travel escaped"},
      {u"\xDCE2\xDC82"
       u"a",
       "\xE2\x82"
       "a",
       true, "a cut sequence: each byte escaped"},
      {u"\xDCC0\xDC80", "\xC0\x80", true, "an overlong form is no UTF-8"},
      {u"\xDCED\xDCA0\xDC80", "\xED\xA0\x80", true, "an encoded surrogate is no UTF-8"},
      {u"\xDCF4\xDC90\xDC80\xDC80", "\xF4\x90\x80\x80", true, "beyond U+10FFFF"},
      {u"\xDCFF\xDCFE", "\xFF\xFE", true, "bytes no UTF-8 holds"},
      {u"\xD800", "\xED\xA0\x80", false, "a lone high surrogate: its three-byte form"},
      {u"\xDC7F", "\xED\xB1\xBF", false, "a low surrogate below the escapes"},
      {u"x\xDBFF", "x\xED\xAF\xBF", false, "a high surrogate last"},
      {u"\xDC80\xDCFF", "\x80\xFF", true, "the escapes' own range ends"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(BytesFromUtf16(row.utf16), row.bytes) << row.why;
    // The ANSI calls' conversion maps the same way: both kinds of call open one file.
    const int length = static_cast<int>(row.utf16.size());
    std::string ansi(static_cast<std::size_t>(
                         std::max(0, WideCharToMultiByte(CP_ACP, 0, row.utf16.data(), length,
                                                         nullptr, 0, nullptr, nullptr))),
                     '\0');
    WideCharToMultiByte(CP_ACP, 0, row.utf16.data(), length, ansi.data(),
                        static_cast<int>(ansi.size()), nullptr, nullptr);
    EXPECT_EQ(ansi, row.bytes) << "ANSI: " << row.why;
    if (row.fromBytes) {
      EXPECT_TRUE(Utf16FromBytes(row.bytes) == row.utf16) << row.why;
    }
    EXPECT_EQ(BytesFromUtf16(Utf16FromBytes(row.bytes)), row.bytes) << row.why;
  }
  // Every single byte and every pair of bytes comes back as it went.
  for (int a = 1; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      std::string bytes(1, static_cast<char>(a));
      if (b) bytes += static_cast<char>(b);
      ASSERT_EQ(BytesFromUtf16(Utf16FromBytes(bytes)), bytes)
          << Hex(Bytes(bytes.begin(), bytes.end()));
    }
  }
}

// The layer narrows an ASCII path on the stack and maps any other on the
// heap: paths on each side of that buffer's end, and a non-ASCII name
// starting right at it, open the same file either way.
TEST(WidePaths, LongAndNonAsciiPathsOpen) {
  SettingsGuard settings;
  TempDir dir;
  const std::size_t base = dir.Path().string().size() + 1; // with the slash
  const struct {
    std::size_t ascii; // bytes of the whole path up to the last name's tail
    const char* tail;
    const char* why;
  } rows[] = {
      {255, "", "255 bytes and the terminator: the most the stack buffer holds"},
      {256, "", "256 bytes: one too many, so the heap"},
      {300, "", "long ASCII"},
      {255, "\xD1\x91", "a Cyrillic letter where the buffer ends"},
      {0, "\xCF\xF0", "bytes no UTF-8 holds, after a short ASCII run"},
  };
  for (const auto& row : rows) {
    // A folder per 100 bytes keeps each name within the file system's limit.
    fs::path path = dir.Path();
    std::size_t length = base;
    while (length + 101 < row.ascii) {
      path /= std::string(99, 'd');
      fs::create_directories(path);
      length += 100;
    }
    path /= std::string(row.ascii > length ? row.ascii - length : 1, 'f') + row.tail;
    std::ofstream(path, std::ios::binary) << "\xD0\x94\xD0\xB0!";
    const WideString wide = charsift::names::Utf16FromBytes(path.string());
    EXPECT_FALSE(IsFolder(wide)) << row.why;
    EXPECT_TRUE(FileIsUtf8NoBom(wide)) << row.why;
    EXPECT_STREQ(ClassifyEncoding(wide), "UTF-8 no BOM") << row.why;
  }
}

// A FIFO is refused before any open: its writer's bytes stay for the reader
// they were meant for, and no probe waits for a writer that never comes.
TEST(BadPaths, FifoNeverBlocks) {
  SettingsGuard settings;
  TempDir dir;
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  const std::string left = "left for the reader\n";
  ASSERT_EQ(write(writer, left.data(), left.size()), static_cast<ssize_t>(left.size()));
  charsift::fault::Reset();
  auto probes = std::async(std::launch::async, [&] {
    ExpectNoAnswer(Wide(fifo), false, "FIFO");
    FileHandle file(OpenForReading(Wide(fifo)));
    return file.IsOpen();
  });
  if (probes.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "a probe blocks on a FIFO";
    _exit(1); // the stuck thread cannot be joined
  }
  EXPECT_FALSE(probes.get()) << "a FIFO does not open";
  EXPECT_EQ(charsift::fault::DescriptorsOpened(), 0) << "refused before the open";
  char got[64] = {};
  EXPECT_EQ(read(reader, got, sizeof got), static_cast<ssize_t>(left.size()));
  EXPECT_EQ(std::string(got), left) << "the writer's bytes are still there";
  close(writer);
  close(reader);
}

// A file the system calls empty may make its bytes as it is read (procfs):
// its size is what a read to its end finds, and a read that fails says why.
TEST(OpenForReading, SizeZeroIsMeasuredByReading) {
  TempDir dir;
  std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
  const std::string args((std::istreambuf_iterator<char>(cmdline)), {});
  const struct {
    fs::path path;
    std::int64_t size;
    DWORD readError;
    const char* why;
  } rows[] = {
      {dir.WriteText("empty", ""), 0, ERROR_SUCCESS, "an empty file reads nothing"},
      {"/proc/self/cmdline", static_cast<std::int64_t>(args.size()), ERROR_SUCCESS,
       "procfs reports 0 and holds the arguments"},
      {"/proc/self/mem", -1, ERROR_READ_FAULT, "offset 0 is unmapped: the read fails"},
  };
  for (const auto& row : rows) {
    FileHandle file(OpenForReading(Wide(row.path)));
    ASSERT_TRUE(file.IsOpen()) << row.why;
    EXPECT_EQ(GetFileSize64(file.Get()), row.size) << row.why;
    BYTE buffer[16];
    DWORD got = 99;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr) != FALSE,
              row.readError == ERROR_SUCCESS)
        << row.why;
    EXPECT_EQ(GetLastError(), row.readError) << row.why;
    EXPECT_EQ(got, row.readError == ERROR_SUCCESS ? std::min<DWORD>(16, row.size) : 0) << row.why;
  }
}

// A file time beyond what FILETIME holds (tmpfs keeps an mtime of 1e15 s)
// is clamped to its nearer end; every folder test fills the find record.
TEST(FindRecord, TimesOutOfRangeAreClamped) {
  constexpr std::int64_t kUnixEpoch = 116444736000000000LL; // in FILETIME ticks
  const struct {
    std::int64_t seconds;
    long nanoseconds;
    std::uint64_t ticks;
    const char* why;
  } rows[] = {
      {0, 0, kUnixEpoch, "the Unix epoch"},
      {910692730084, 999999900, 9223372036849999999u, "the last second below the clamp is exact"},
      {910692730085, 0, 0x7FFFFFFFFFFFFFFFu, "past the last tick: clamped to it"},
      {1000000000000000, 0, 0x7FFFFFFFFFFFFFFFu, "1e15 s overflows a tick count"},
      {-11644473600, 500, 5, "1601-01-01 itself"},
      {-1000000000000000, 0, 0, "before 1601: clamped to its first tick"},
  };
  // The temporary folder's file system may cut such times; tmpfs keeps them.
  TempDir dir;
  const auto holds = [](const fs::path& path) {
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000000000, 0}};
    struct stat st;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0 && stat(path.c_str(), &st) == 0 &&
           st.st_mtim.tv_sec == 1000000000000000;
  };
  fs::path path = dir.WriteText("old.txt", "text");
  const fs::path shm = fs::path("/dev/shm") / ("charsift-times-" + std::to_string(getpid()));
  if (!holds(path) && std::ofstream(shm).good()) path = shm;
  if (!holds(path)) {
    fs::remove(shm);
    GTEST_SKIP() << "no file system here keeps an mtime of 1e15 s";
  }
  std::ofstream(path) << "text";
  for (const auto& row : rows) {
    const timespec times[2] = {{0, UTIME_OMIT},
                               {static_cast<time_t>(row.seconds), row.nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << row.why;
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(Wide(path).c_str(), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE) << row.why;
    FindClose(search);
    const std::uint64_t ticks = std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                                data.ftLastWriteTime.dwLowDateTime;
    EXPECT_EQ(ticks, row.ticks) << row.why;
    EXPECT_FALSE(IsFolder(Wide(path))) << row.why;
    EXPECT_STREQ(ClassifyEncoding(Wide(path)), "ANSI") << row.why;
  }
  fs::remove(shm);
}
#endif

} // namespace
