// charsift --to-utf8 run as a user runs it: what each label becomes, each
// refusal and its reason, the bytes a file holds afterwards, and writes
// that fail at each step (charsift_hooks) or are cut by a signal leaving
// the original whole and no temporary file behind.
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Encodings.h"
#include "HostRun.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace testing_support;

namespace {

Bytes Of(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string AsText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Western European text as Windows-1252 and as UTF-8.
const char* const kWestern1252 = "The caf\xE9 served cr\xE8me br\xFBl\xE9\x65, and the na\xEFve "
                                 "clerk said the fa\xE7\x61\x64\x65 was new.\r\n";
const char* const kWesternUtf8 = "The café served crème brûlée, and the naïve clerk said the "
                                 "façade was new.\r\n";
// Czech in Windows-1250, which ANSI reads only with --ansi-codepage 1250.
const char* const kCzech1250 = "Text of the note: P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD k\xF9\xF2 "
                               "in a plain English sentence around it.\r\n";
const char* const kCzechUtf8 = "Text of the note: Příliš žluťoučký kůň "
                               "in a plain English sentence around it.\r\n";

// A CP437 table with double lines, in a cell the code cell: as 437 reads it
// (¢) or as 850 does (ø).
Bytes Table(const std::string& cell) {
  return BoxTable437({{"Name", "Size", "Note"}, {"a", "1", cell}, {"b", "22", "-"}}, true);
}
std::string TableUtf8(const std::string& cell) {
  static const std::pair<int, const char*> kBox[] = {
      {0xC9, "╔"}, {0xCB, "╦"}, {0xBB, "╗"}, {0xCC, "╠"}, {0xCE, "╬"}, {0xB9, "╣"},
      {0xC8, "╚"}, {0xCA, "╩"}, {0xBC, "╝"}, {0xCD, "═"}, {0xBA, "║"}};
  std::string out;
  for (const std::uint8_t b : Table("\x9B")) {
    const auto it = std::find_if(std::begin(kBox), std::end(kBox),
                                 [&](const auto& box) { return box.first == b; });
    out += it != std::end(kBox) ? std::string(it->second)
           : b == 0x9B          ? cell
                                : std::string(1, static_cast<char>(b));
  }
  return out;
}

const std::string kProse = RussianProse();
const std::string kUtf16Text = "Grüße, Привет, 😀\n";

enum class Setup {
  Plain,
  Folder,       // the path is a folder
  Symlink,      // the path is a link to the file
  HardLink,     // the file has a second name
  BackupExists, // f.txt.orig holds "old"
  OutputExists, // out/f.txt holds "old"
  Tree,         // -r over the folder t holding sub/f.txt
  Mode,         // mode 0640, and owned by nobody when the suite runs as root
  SizeLimit,    // a file-size limit of 512 bytes
};

struct ConvertRow {
  const char* why;
  Bytes content;               // of f.txt
  std::string options;         // before the path; {out} is the output folder
  const char* label;           // the Encoding cell
  const char* action;          // the Action cell
  std::string reason;          // a fragment of the Reason cell
  std::optional<Bytes> result; // what f.txt (or the copy in {out}) holds after; none: as it was
  int status = 0;
  Setup setup = Setup::Plain;
  const char* fail = nullptr; // CHARSIFT_FAIL, run by charsift_hooks
};
void PrintTo(const ConvertRow& row, std::ostream* os) { *os << row.why; }

// Sets a variable of the environment for the child processes of one row.
class Environment {
public:
  Environment(const char* name, const char* value) : name_(name) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value) setenv(name, value, 1);
#endif
  }
  ~Environment() {
#ifdef _WIN32
    _putenv_s(name_, "");
#else
    unsetenv(name_);
#endif
  }

private:
  const char* name_;
};

std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
    cells.push_back(line.substr(start, tab - start));
  cells.push_back(line.substr(start));
  return cells;
}

bool TempLeftIn(const fs::path& folder) {
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.path().filename().string().find(".charsift-tmp-") != std::string::npos) return true;
  return false;
}

class Conversion : public ::testing::TestWithParam<ConvertRow> {};

TEST_P(Conversion, RowBytesAndStatus) {
  const ConvertRow& row = GetParam();
  TempDir dir;
  fs::path file = dir.Write("f.txt", row.content), named = file, copy = dir / "out" / "f.txt";
  std::string options = row.options;
  switch (row.setup) {
  case Setup::Folder:
    named = dir / "sub";
    fs::create_directory(named);
    break;
  case Setup::Symlink:
#ifdef _WIN32
    // Links need a privilege there (Wine makes none), and charsift.exe
    // refuses one in place: ReplaceFileW would put a file in its place.
    GTEST_SKIP() << "a link is refused on Windows";
#endif
    named = dir / "link.txt";
    fs::create_symlink("f.txt", named);
    break;
  case Setup::HardLink:
    fs::create_hard_link(file, dir / "second.txt");
    break;
  case Setup::BackupExists:
    dir.WriteText("f.txt.orig", "old");
    break;
  case Setup::OutputExists:
    fs::create_directory(dir / "out");
    dir.WriteText("out/f.txt", "old");
    break;
  case Setup::Tree:
    fs::create_directories(dir / "t" / "sub");
    fs::rename(file, dir / "t" / "sub" / "f.txt");
    file = dir / "t" / "sub" / "f.txt";
    named = dir / "t";
    copy = dir / "out" / "t" / "sub" / "f.txt";
    break;
#ifndef _WIN32
  case Setup::Mode:
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    if (geteuid() == 0) {
      ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    }
    break;
#endif
  default:
    break;
  }
#ifndef _WIN32
  struct stat before {};
  stat(file.c_str(), &before);
#endif
  for (std::size_t at; (at = options.find("{out}")) != std::string::npos;)
    options.replace(at, 5, Quote(Text(dir / "out")));
  const std::string args = "--format tsv --to-utf8 " + options + " " + Quote(Text(named));
  Outcome run;
  {
    const Environment fail("CHARSIFT_FAIL", row.fail);
#ifndef _WIN32
    if (row.setup == Setup::SizeLimit) {
      const std::string out = Text(dir / "rows"), err = Text(dir / "err");
      const int status = std::system(("ulimit -f 1; " + Quote(CHARSIFT_HOST_PATH) + " " + args +
                                      " >" + Quote(out) + " 2>" + Quote(err))
                                         .c_str());
      run = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
      fs::remove(dir / "rows");
      fs::remove(dir / "err");
    } else
#endif
    {
      Running process(args, false, row.fail ? CHARSIFT_HOOKS_PATH : CHARSIFT_HOST_PATH);
      run = process.Wait();
    }
  }
  EXPECT_EQ(run.status, row.status) << run.out << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_FALSE(lines.empty()) << run.err;
  const std::vector<std::string> cells = Cells(lines.back());
  ASSERT_EQ(cells.size(), 4u) << lines.back();
  EXPECT_EQ(cells[0], row.label);
  EXPECT_EQ(cells[1], row.action) << cells[2];
  EXPECT_NE(cells[2].find(row.reason), std::string::npos) << cells[2];

  const bool written = row.options.find("{out}") != std::string::npos;
  const std::string original = AsText(row.content);
  if (written) {
    EXPECT_EQ(ReadBytes(file), original) << "the original is never touched";
    if (row.setup == Setup::OutputExists) {
      EXPECT_EQ(ReadBytes(copy), "old");
    }
    if (row.result) {
      EXPECT_EQ(ReadBytes(copy), AsText(*row.result));
    }
  } else {
    EXPECT_EQ(ReadBytes(file), row.result ? AsText(*row.result) : original);
  }
  EXPECT_FALSE(TempLeftIn(dir.Path()));
  if (row.setup == Setup::Symlink) {
    EXPECT_TRUE(fs::is_symlink(named));
  }
  if (row.setup == Setup::HardLink) {
    EXPECT_EQ(ReadBytes(dir / "second.txt"), original);
  }
  if (row.setup == Setup::BackupExists) {
    EXPECT_EQ(ReadBytes(dir / "f.txt.orig"), "old");
  }
  if (row.options.find("--backup") != std::string::npos &&
      row.options.find("--dry-run") == std::string::npos && row.status == 0) {
    const std::string suffix =
        row.options.find("--backup=") != std::string::npos ? ".bak" : ".orig";
    EXPECT_EQ(ReadBytes(dir / ("f.txt" + suffix)), original);
  }
#ifndef _WIN32
  if (row.setup == Setup::Mode) {
    struct stat after {};
    stat(file.c_str(), &after);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
  }
#endif
}

const Bytes kRussian1251 = ToWindows1251(kProse);
// The copy of t/sub/f.txt as its row names it: tsv doubles a backslash.
#ifdef _WIN32
const char* const kTreeCopy = "t\\\\sub\\\\f.txt";
#else
const char* const kTreeCopy = "t/sub/f.txt";
#endif

const ConvertRow kRows[] = {
    // What each label becomes.
    {"ANSI Ru is Windows-1251", kRussian1251, "--in-place", "ANSI Ru", "converted", "CP1251",
     Of(kProse)},
    {"DOS Ru is code page 866", ToCp866(kProse), "--in-place", "DOS Ru", "converted", "CP866",
     Of(kProse)},
    {"DOS is code page 437", Table("\x9B"), "--in-place", "DOS", "converted", "CP437",
     Of(TableUtf8("¢"))},
    {"--dos-codepage chooses DOS's page", Table("\x9B"), "--in-place --dos-codepage 850", "DOS",
     "converted", "CP850", Of(TableUtf8("ø"))},
    {"ANSI is Windows-1252", Of(kWestern1252), "--in-place", "ANSI", "converted", "CP1252",
     Of(kWesternUtf8)},
    {"--ansi-codepage chooses ANSI's page", Of(kCzech1250), "--in-place --ansi-codepage 1250",
     "ANSI", "converted", "CP1250", Of(kCzechUtf8)},
    {"UTF-16 LE, its mark dropped", ToUtf16(kUtf16Text, false, true), "--in-place", "UTF-16 LE",
     "converted", "UTF-16LE", Of(kUtf16Text)},
    {"UTF-16 BE, its mark dropped", ToUtf16(kUtf16Text, true, true), "--in-place", "UTF-16 BE",
     "converted", "UTF-16BE", Of(kUtf16Text)},
    {"--from reads KOI8-R", ToKoi8r(kProse), "--in-place --from koi8-r", "ANSI", "converted",
     "koi8-r", Of(kProse)},
    // Nothing to write.
    {"UTF-8 stays", Of("Grüße\n"), "--in-place", "UTF-8 no BOM", "already UTF-8", "", std::nullopt},
    {"UTF-8 with its mark stays", Of("\xEF\xBB\xBFGrüße\n"), "--in-place", "UTF-8 BOM",
     "already UTF-8", "", std::nullopt},
    {"ASCII is UTF-8 already", Of("plain text\n"), "--in-place", "ANSI", "already UTF-8", "ASCII",
     std::nullopt},
    {"binary is skipped", B({0x7F, 'E', 'L', 'F', 0, 0, 1, 2}), "--in-place", "Binary", "skipped",
     "binary", std::nullopt},
    {"RTF is skipped", Of("{\\rtf1\\ansi caf\\'e9}\n"), "--in-place", "RTF", "skipped", "RTF",
     std::nullopt},
    {"a folder is skipped", Of("x"), "--in-place -r", "", "skipped", "a folder", std::nullopt, 0,
     Setup::Folder},
    // Refused, the file as it was.
    {"a binary tail past the sample", Concat({kRussian1251, kRussian1251, kRussian1251, B({0, 1})}),
     "--in-place", "ANSI Ru", "refused",
     "control code 00 at offset " + std::to_string(kRussian1251.size() * 3), std::nullopt, 1},
    {"Windows-1252 has no 81", Concat({Of(kWestern1252), B({0x81}), Of(kWestern1252)}),
     "--in-place", "ANSI", "refused",
     "byte 81 at offset " + std::to_string(std::string(kWestern1252).size()) +
         " is no character of CP1252",
     std::nullopt, 1},
    {"Windows-1251 has no 98", Concat({kRussian1251, B({0x98})}), "--in-place", "ANSI Ru",
     "refused",
     "byte 98 at offset " + std::to_string(kRussian1251.size()) + " is no character of CP1251",
     std::nullopt, 1},
    // The detection's vowel rule calls it ANSI; read as Windows-1251 it would
    // come out in capitals.
    {"KOI8-R read as Windows-1251 is refused with a hint", ToKoi8r(kProse),
     "--in-place --ansi-codepage 1251", "ANSI", "refused", "--from koi8-r", std::nullopt, 1},
    {"an unpaired surrogate", Concat({ToUtf16("ab", false, true), B({0x00, 0xD8, 'c', 0})}),
     "--in-place", "UTF-16 LE", "refused", "unpaired surrogate at offset 6", std::nullopt, 1},
    {"a second hard link", kRussian1251, "--in-place", "ANSI Ru", "refused", "2 hard links",
     std::nullopt, 1, Setup::HardLink},
    {"changed between the read and the rename", kRussian1251, "--in-place", "ANSI Ru", "refused",
     "changed since it was read", Concat({kRussian1251, Of("x")}), 1, Setup::Plain, "changed"},
    // Backups, the output folder, a dry run, a link, the metadata.
    {"--backup keeps NAME.orig", kRussian1251, "--in-place --backup", "ANSI Ru", "converted", "",
     Of(kProse)},
    {"--backup=SUFFIX", kRussian1251, "--in-place --backup=.bak", "ANSI Ru", "converted", "",
     Of(kProse)},
    {"an existing backup is never overwritten", kRussian1251, "--in-place --backup", "ANSI Ru",
     "refused", "exists: never overwritten", std::nullopt, 1, Setup::BackupExists},
    {"--output-dir writes a copy", kRussian1251, "--output-dir {out}", "ANSI Ru", "converted",
     "to ", Of(kProse)},
    {"--output-dir keeps the place under the folder named", kRussian1251, "-r --output-dir {out}",
     "ANSI Ru", "converted", kTreeCopy, Of(kProse), 0, Setup::Tree},
    {"--output-dir never overwrites", kRussian1251, "--output-dir {out}", "ANSI Ru", "refused",
     "never overwritten", std::nullopt, 1, Setup::OutputExists},
    {"--dry-run changes nothing", kRussian1251, "--in-place --dry-run --backup", "ANSI Ru",
     "converted", "(dry run)", std::nullopt},
    {"--dry-run sees an existing backup", kRussian1251, "--in-place --dry-run --backup", "ANSI Ru",
     "refused", "exists: never overwritten", std::nullopt, 1, Setup::BackupExists},
    {"a link stays a link, its target converted", kRussian1251, "--in-place", "ANSI Ru",
     "converted", "", Of(kProse), 0, Setup::Symlink},
    {"mode, owner and group are kept", kRussian1251, "--in-place", "ANSI Ru", "converted", "",
     Of(kProse), 0, Setup::Mode},
    // A write that fails at any step leaves the original and no temporary file.
    {"the temporary file cannot be made", kRussian1251, "--in-place", "ANSI Ru", "refused",
     "temporary file", std::nullopt, 1, Setup::Plain, "open"},
    {"a write fails", kRussian1251, "--in-place", "ANSI Ru", "refused", "cannot write",
     std::nullopt, 1, Setup::Plain, "write"},
    {"the flush fails", kRussian1251, "--in-place", "ANSI Ru", "refused", "cannot flush",
     std::nullopt, 1, Setup::Plain, "flush"},
    {"the backup cannot be made", kRussian1251, "--in-place --backup", "ANSI Ru", "refused",
     "cannot make the backup", std::nullopt, 1, Setup::Plain, "link"},
    {"the rename fails", kRussian1251, "--in-place --backup", "ANSI Ru", "refused", "cannot rename",
     std::nullopt, 1, Setup::Plain, "rename"},
    {"the copy cannot be named", kRussian1251, "--output-dir {out}", "ANSI Ru", "refused",
     "cannot name", std::nullopt, 1, Setup::Plain, "rename"},
#ifndef _WIN32
    {"a file-size limit", kRussian1251, "--in-place", "ANSI Ru", "refused", "File too large",
     std::nullopt, 1, Setup::SizeLimit},
#endif
};
INSTANTIATE_TEST_SUITE_P(Rows, Conversion, ::testing::ValuesIn(kRows), NamedByWhy());

#ifndef _WIN32
// A signal in the middle of large conversions, as the temporary file is
// written: each file whole, old or new; after SIGTERM no temporary file,
// after SIGKILL one at most.
TEST(ConversionSignals, EachFileIsOldOrNew) {
  for (const int signal : {SIGTERM, SIGKILL}) {
    TempDir dir;
    Bytes big;
    while (big.size() < (24u << 20))
      big.insert(big.end(), kRussian1251.begin(), kRussian1251.end());
    std::string converted;
    while (converted.size() < big.size() / kRussian1251.size() * kProse.size())
      converted += kProse;
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
      dir.Write(name, big);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const std::string path = Text(dir.Path());
      execl(CHARSIFT_HOST_PATH, "charsift", "--to-utf8", "--in-place", "-r", path.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    // The signal comes while a temporary file is being written.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!TempLeftIn(dir.Path()) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    int temps = 0;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
      const std::string name = entry.path().filename().string();
      if (name.find(".charsift-tmp-") != std::string::npos) {
        ++temps;
        continue;
      }
      const std::string now = ReadBytes(entry.path());
      EXPECT_TRUE(now == AsText(big) || now == converted) << name << " is neither whole";
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal);
    EXPECT_LE(temps, signal == SIGTERM ? 0 : 1);
  }
}
#endif

} // namespace
