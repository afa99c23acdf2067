// Paths and settings files a host may hand the module, however odd: each
// gets the answer the call layer's report implies, never a crash or a hang.
#include <atomic>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "Charsift.h"
#include "ContPlug.h"
#include "TestSupport.h"
#include "reference/ApplySettings.h"
#include "reference/ReferenceClassifier.h"

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
  // Off Windows "*" and "C:" are names like any other: no such file.
  const char* folder = kWindowsPathRules ? "Folder" : "Binary";
  const char* empty = kWindowsPathRules ? "(empty)" : "Binary";
  const PathRow rows[] = {
      {W(""), "Binary", "Binary", "the empty path names nothing"},
      {W("\\"), "Binary", "Binary", "a lone backslash strips to the empty path"},
      {WideString(40000, 'a'), "Binary", "Binary", "far beyond any path limit"},
      {loneHigh, "Binary", "Binary", "unpaired high surrogate"},
      // The ANSI form of a lone surrogate is '?', a wildcard that matches ".".
      {loneLow, UsesAnsiCalls() ? "Folder" : "Binary", UsesAnsiCalls() ? "(empty)" : "Binary",
       "unpaired low surrogate at the end"},
      {base + sep + W("*"), folder, empty, "on Windows '*' first matches '.', a folder"},
      {base + sep + W("?.txt"), "Binary", "Binary", "the lookup matches a file, the open fails"},
      {base + sep + W("*") + sep + W("a.txt"), "Binary", "Binary", "wildcard in a folder part"},
      {base + sep + W(".."), "Folder", "(empty)", "a '..' component is a folder"},
      {W("*"), folder, empty, "a bare wildcard, relative to the working folder"},
      {W("C:"), folder, empty, "drive-root form on Windows, whatever exists"},
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

// A file that grows while it is read: each probe reads the file as it was
// when it opened it, so each answer is the rules' answer for the content,
// which these rows keep the same at every length the file passes through. A
// torn read (a gap, bytes twice, a zero-filled tail) breaks a UTF-8 sequence
// or brings a binary code, and the answer moves.
TEST(HostilePaths, FileGrowingWhileRead) {
  SettingsGuard settings;
  const struct {
    std::string start, unit;
    const char* why;
  } rows[] = {
      {"start \xD0\x9F\n", "\xD1\x81\xD1\x82\xD1\x80\xD0\xBE\xD0\xBA\xD0\xB0 \xE2\x82\xAC\n",
       "UTF-8: a sequence cut anywhere but at the end fails the walk"},
      {"\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0\n",
       "\xF1\xF2\xF0\xEE\xEA\xE0 \xF2\xE5\xEA\xF1\xF2\xE0\n",
       "Windows-1251 letters, no UTF-8 at any cut"},
      {"\xCD\xCD\xCD\xCD\n", "\xBA \xC4\xC4\xC4\xC4 \xBA\n", "DOS box drawing"},
      {"start\n", "line of text\n", "plain ASCII: only a binary code moves it"},
  };
  const reference::Settings defaults;
  for (const auto& row : rows) {
    std::string grown = row.start;
    for (int i = 0; i < 3; ++i)
      grown += row.unit;
    const reference::Bytes start(row.start.begin(), row.start.end());
    const std::string type = reference::TypeOf(start, defaults);
    const std::string encoding = reference::ClassifyBytes(start, defaults);
    for (std::size_t n = row.start.size(); n <= grown.size(); ++n) {
      const reference::Bytes prefix(grown.begin(), grown.begin() + static_cast<std::ptrdiff_t>(n));
      ASSERT_EQ(reference::ClassifyBytes(prefix, defaults), encoding) << row.why << " at " << n;
      ASSERT_EQ(reference::TypeOf(prefix, defaults), type) << row.why << " at " << n;
    }

    TempDir dir;
    const fs::path path = dir.WriteText("log.txt", row.start);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
      std::ofstream out(path, std::ios::binary | std::ios::app);
      while (!stop)
        out << row.unit << std::flush;
    });
    while (fs::file_size(path) == row.start.size()) // the writer is under way
      std::this_thread::yield();
    for (int i = 0; i < 100; ++i) {
      // Half the time read(2) comes back short and interrupted, as on FUSE.
      charsift::fault::SetShortReads(i % 2 ? 1000 : 0);
      EXPECT_EQ(Value(Wide(path), 0), type) << row.why;
      EXPECT_EQ(Value(Wide(path), 1), encoding) << row.why;
    }
    charsift::fault::Reset();
    stop = true;
    writer.join();
  }
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

// Whatever the settings, each answer is the one the rules give under the
// values the module loaded, not just some listed value.
TEST(HostileSettings, ExtremeValuesStillAnswerAsTheRulesSay) {
  SettingsGuard settings;
  TempDir files;
  const fs::path samples[] = {files.WriteText("a.txt", "plain"),
                              files.Write("b.bin", B({0, 1, 2})),
                              files.Write("c.txt", Repeat(0xE0, 64)),
                              files.WriteText("e", ""),
                              files.Write("d.txt", Concat({Repeat(0xCD, 30), B({'\n'})})),
                              files.Write("u.txt", B({'c', 'a', 'f', 0xC3, 0xA9}))};
  for (const char* value : {"-1", "0", "-2147483648", "2147483647", "$7FFFFFFF", "$FFFFFFFF"}) {
    ResetSettings();
    TempDir dir;
    dir.WriteText("Charsift.ini", EveryKey(value) + "binary_ignore=" +
                                      std::string(100 * 1024, 'A') + "\noem_ignore=\x01\x02\n");
    LoadSettingsForModule((dir / "Charsift.wdx").string());
    EXPECT_EQ(binary_ignore.size(), 2047u) << "a value is cut at 2047 characters";
    for (const fs::path& sample : samples) {
      const std::string encoding = Value(Wide(sample), 1);
      const reference::Settings loaded = reference::FromModule(); // the UTF-8 size now clamped
      const reference::Bytes content = reference::Contents(sample);
      EXPECT_EQ(encoding, reference::ClassifyBytes(content, loaded)) << value << " " << sample;
      EXPECT_EQ(Value(Wide(sample), 0), reference::TypeOf(content, loaded))
          << value << " " << sample;
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
    fs::permissions(dir.Path(), fs::perms::all);
    fs::permissions(ini, fs::perms::none);
    // Root reads anything: the load runs in a child that has dropped root.
    const int result = RunUnprivileged([&] {
      if (std::ifstream(ini).good()) return false;
      LoadSettingsForModule((dir / "Charsift.wdx").string());
      EXPECT_EQ(oem_percent, 18) << "an unreadable settings file";
      return true;
    });
    EXPECT_NE(result, 1) << "a check failed in the child, printed above";
  }
#endif
}

} // namespace
