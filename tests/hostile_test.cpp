// Paths and settings files a host may hand the module, however odd: each
// gets the answer the call layer's report implies, never a crash or a hang.
#include <atomic>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "Charsift.h"
#include "ContPlug.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/FaultInjection.h"
#endif

using namespace testing_support;

namespace {

std::string Value(const WideString& path, int field) {
  char value[32] = {};
  const int result = ContentGetValueW(path.c_str(), field, 0, value, sizeof value, 0);
  if (result == FT_FIELD_EMPTY) return "(empty)";
  return result == FT_MULTIPLE_CHOICE ? value : "(code " + std::to_string(result) + ")";
}

struct PathRow {
  WideString path;
  const char* type;
  const char* encoding;
  const char* why;
};

void ExpectAnswers(const PathRow& row) {
  EXPECT_EQ(Value(row.path, 0), row.type) << row.why;
  EXPECT_EQ(Value(row.path, 1), row.encoding) << row.why;
}

WideString W(const std::string& ascii) { return WideString(ascii.begin(), ascii.end()); }

TEST(HostilePaths, OddNamesGetDefinedAnswers) {
  SettingsGuard settings;
  TempDir dir;
  dir.WriteText("a.txt", "text");
  const WideString base = Wide(dir.Path());
  const WCHAR sep = Wide(dir.Path() / "x").at(base.size());
  WideString loneHigh = base + sep + WCHAR(0xD800) + W("x");
  WideString loneLow = base + sep + WCHAR(0xDC00);
  const PathRow rows[] = {
      {W(""), "Binary", "Binary", "the empty path names nothing"},
      {W("\\"), "Binary", "Binary", "a lone backslash strips to the empty path"},
      {WideString(40000, 'a'), "Binary", "Binary", "far beyond any path limit"},
      {loneHigh, "Binary", "Binary", "unpaired high surrogate"},
      // The ANSI form of a lone surrogate is '?', a wildcard that matches ".".
      {loneLow, UsesAnsiCalls() ? "Folder" : "Binary", UsesAnsiCalls() ? "(empty)" : "Binary",
       "unpaired low surrogate at the end"},
      {base + sep + W("*"), "Folder", "(empty)", "'*' first matches '.', a folder"},
      {base + sep + W("?.txt"), "Binary", "Binary", "the lookup matches a file, the open fails"},
      {base + sep + W("*") + sep + W("a.txt"), "Binary", "Binary", "wildcard in a folder part"},
      {base + sep + W(".."), "Folder", "(empty)", "a '..' component is a folder"},
      {W("*"), "Folder", "(empty)", "a bare wildcard, relative to the working folder"},
      {W("C:"), "Folder", "(empty)", "drive-root form, whatever exists"},
  };
  for (const PathRow& row : rows)
    ExpectAnswers(row);
}

#ifndef _WIN32
TEST(HostilePaths, SpecialFilesNeverBlock) {
  SettingsGuard settings;
  TempDir dir;
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path socketPath = dir / "sock";
  const int s = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const fs::path loop = dir / "loop";
  fs::create_symlink(loop, loop);
  const fs::path deviceLink = dir / "zero";
  fs::create_symlink("/dev/zero", deviceLink);

  // Off Windows a FIFO, socket or device is no file a host means to
  // classify, and opening one may block, arm a watchdog or take a
  // terminal's input: it answers as a file that cannot be opened, unopened.
  const struct {
    PathRow row;
    bool opens;
  } rows[] = {
      {{Wide(fifo), "Binary", "Binary", "a FIFO without writer is refused, at once"}, false},
      {{Wide(socketPath), "Binary", "Binary", "a socket is refused"}, false},
      {{W("/dev/zero"), "Binary", "Binary", "a device is never opened, not even to be read"},
       false},
      {{Wide(deviceLink), "Binary", "Binary", "a link to a device is refused as the device"},
       false},
      {{W("/dev/null"), "Binary", "Binary", "no empty file: a device, unlike kernel32's NUL"},
       false},
      {{W("/dev/tty"), "Binary", "Binary", "a terminal is never opened: typed-ahead input stays"},
       false},
      {{W("/proc/self/status"), "Text", "ANSI", "size 0 with content: read to its end, ASCII"},
       true},
      {{W("/proc/self/cmdline"), "Binary", "Binary", "size 0, read to its end: NULs are binary"},
       true},
      {{W("/proc/self/mem"), "Binary", "Binary", "opens, but its read fails: no probe passes"},
       true},
      {{Wide(loop), "Binary", "Binary", "a symlink loop is an entry that never opens"}, false},
  };
  for (const auto& r : rows) {
    charsift::fault::Reset();
    ExpectAnswers(r.row);
    EXPECT_EQ(charsift::fault::DescriptorsOpened() > 0, r.opens) << r.row.why;
  }
  close(s);
}

TEST(HostilePaths, FileGrowingWhileRead) {
  SettingsGuard settings;
  TempDir dir;
  const fs::path path = dir.WriteText("log.txt", "start\n");
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::ofstream out(path, std::ios::app);
    while (!stop)
      out << "line of text\n" << std::flush;
  });
  for (int i = 0; i < 200; ++i) {
    EXPECT_EQ(Value(Wide(path), 0), "Text");
    EXPECT_EQ(Value(Wide(path), 1), "ANSI");
  }
  stop = true;
  writer.join();
}
#else
// The NUL device opens and reads nothing: an empty file.
TEST(HostilePaths, DeviceNameDoesNotBlock) {
  SettingsGuard settings;
  for (const char* name : {"NUL", "\\\\.\\NUL"}) {
    EXPECT_EQ(Value(W(name), 0), "Text") << name;
    EXPECT_EQ(Value(W(name), 1), "ANSI") << name;
  }
}
#endif

// ---- Settings files ----------------------------------------------------------

// Every setting as "key=value", so a failure names the one that moved.
std::vector<std::string> Snapshot() {
  std::vector<std::string> entries;
  for (const SettingRow& row : SettingsTable)
    entries.push_back(std::string(row.key) + "=" +
                      (row.integer ? std::to_string(*row.integer) : *row.list));
  return entries;
}

// Every integer key set to value.
std::string EveryKey(const std::string& value) {
  std::string ini = "[ini]\n";
  for (const SettingRow& row : SettingsTable)
    if (row.integer) ini += std::string(row.key) + "=" + value + "\n";
  return ini;
}

TEST(HostileSettings, BadIntegersKeepTheDefaults) {
  SettingsGuard settings;
  const std::vector<std::string> defaults = Snapshot();
  std::vector<std::string> nulRead = defaults;
  nulRead[0] = "text_buffer_size_kb=4";
  const struct {
    std::string ini;
    std::vector<std::string> expected;
    const char* why;
  } cases[] = {
      {EveryKey("zz"), defaults, "garbage"},
      {EveryKey("99999999999"), defaults, "decimal overflow"},
      {EveryKey("-2147483649"), defaults, "decimal underflow"},
      {EveryKey("$123456789"), defaults, "nine significant hex digits"},
      {EveryKey("0x"), defaults, "a prefix without digits"},
      {EveryKey(std::string(100 * 1024, '7')), defaults, "a 100 KB number"},
      {std::string("[ini]\ntext_buffer_size_kb=4") + '\0' + "\ngarbage\xFF\xFE", nulRead,
       "the value before a NUL is read, the garbage after it is no key"},
  };
  for (const auto& c : cases) {
    ResetSettings();
    TempDir dir;
    dir.WriteText("Charsift.ini", c.ini);
    LoadSettingsForModule((dir / "Charsift.wdx").string());
    EXPECT_EQ(Snapshot(), c.expected) << c.why;
  }
}

const std::set<std::string> kListed = {"Text",      "Binary",    "(empty)",      "UTF-16 LE",
                                       "UTF-16 BE", "UTF-8 BOM", "UTF-8 no BOM", "ANSI",
                                       "ANSI Ru",   "DOS",       "DOS Ru",       "RTF"};

TEST(HostileSettings, ExtremeValuesStillAnswerListedCodes) {
  SettingsGuard settings;
  TempDir files;
  const fs::path samples[] = {files.WriteText("a.txt", "plain"), files.Write("b.bin", B({0, 1, 2})),
                              files.Write("c.txt", Repeat(0xE0, 64)), files.WriteText("e", "")};
  for (const char* value : {"-1", "0", "-2147483648", "2147483647", "$7FFFFFFF", "$FFFFFFFF"}) {
    ResetSettings();
    TempDir dir;
    dir.WriteText("Charsift.ini", EveryKey(value) + "binary_ignore=" +
                                      std::string(100 * 1024, 'A') + "\noem_ignore=\x01\x02\n");
    LoadSettingsForModule((dir / "Charsift.wdx").string());
    EXPECT_EQ(binary_ignore.size(), 2047u) << "a value is cut at 2047 characters";
    for (const fs::path& sample : samples) {
      for (int field = 0; field < 2; ++field) {
        const std::string answer = Value(Wide(sample), field);
        EXPECT_TRUE(kListed.count(answer)) << value << " " << sample << ": " << answer;
      }
    }
  }
}

TEST(HostileSettings, UnusableSettingsFilesLeaveDefaults) {
  SettingsGuard settings;
  {
    TempDir dir;
    fs::create_directory(dir / "Charsift.ini");
    LoadSettingsForModule((dir / "Charsift.wdx").string());
    EXPECT_EQ(oem_ignore, "AB BB") << "a folder as settings file";
  }
  {
    TempDir dir;
    fs::create_directory(dir / "Charsift.example.ini");
    LoadSettingsForModule((dir / "Charsift.wdx").string());
    EXPECT_FALSE(fs::exists(dir / "Charsift.ini")) << "a folder is no example to copy";
    EXPECT_EQ(text_buffer_size_kb, 1);
  }
#ifndef _WIN32
  {
    TempDir dir;
    const fs::path ini = dir.WriteText("Charsift.ini", "[ini]\noem_percent=25\n");
    fs::permissions(ini, fs::perms::none);
    const bool readable = std::ifstream(ini).good(); // root reads anything
    LoadSettingsForModule((dir / "Charsift.wdx").string());
    EXPECT_EQ(oem_percent, readable ? 25 : 18);
  }
#endif
}

} // namespace
