// The command-line host, run as a user or a script runs it: its formats, its
// exit statuses, its walk, streaming and order under -j, --where and
// --summary, the symlink rules and names that are no UTF-8. Natively these
// rows run charsift; in the Windows suite, charsift.exe under Wine.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "HostRun.h"
#include "TestSupport.h"
#include "Version.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

using namespace testing_support;

namespace {

std::string Example(const std::string& name) {
  return Text(HostPath(std::string(CHARSIFT_EXAMPLES_DIR "/") + name));
}
std::string TsvText(const std::string& text) {
  std::string out;
  for (const char c : text)
    out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}
std::string JsonText(const std::string& text) { return TsvText(text); } // for plain ASCII paths

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

struct Expected {
  const char* file;
  const char* type;
  const char* encoding;
};
const Expected kExamples[] = {
    {"ascii.txt", "Text", "ANSI"},
    {"russian-1251.txt", "Text", "ANSI Ru"},
    {"russian-866.txt", "Text", "DOS Ru"},
    {"box-drawing-437.txt", "Text", "DOS"},
    {"utf16-be.txt", "Binary", "UTF-16 BE"},
    {"document.rtf", "Text", "RTF"},
    {"folder", "Folder", ""},
};

std::string ExampleArgs() {
  std::string args;
  for (const Expected& e : kExamples)
    args.append(" ").append(Quote(Example(e.file)));
  return args;
}

// A folder of known answers: two ANSI, one ANSI Ru, one DOS Ru, in sub/.
struct Tree {
  TempDir dir;
  std::string root = Text(dir.Path());
  Tree() {
    fs::create_directories(dir / "sub");
    fs::copy_file(HostPath(CHARSIFT_EXAMPLES_DIR "/ascii.txt"), dir / "a.txt");
    fs::copy_file(HostPath(CHARSIFT_EXAMPLES_DIR "/russian-1251.txt"), dir / "sub" / "b.txt");
    fs::copy_file(HostPath(CHARSIFT_EXAMPLES_DIR "/russian-866.txt"), dir / "sub" / "c.txt");
    dir.WriteText("sub/d.txt", "plain\n");
  }
  std::string At(const std::string& rel) const {
    std::string p = root + kSep + rel;
    for (char& c : p)
      if (c == '/') c = kSep[0];
    return p;
  }
};

TEST(Host, TableHasAHeaderAndAlignedColumns) {
  const Outcome run = Charsift(ExampleArgs());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), std::size(kExamples) + 1);
  // The widths come from the fields' choices ("UTF-8 no BOM"), not from the rows.
  EXPECT_EQ(lines[0], "Type    Encoding      Path");
  for (std::size_t i = 0; i < std::size(kExamples); ++i) {
    EXPECT_EQ(lines[i + 1].find(Example(kExamples[i].file)), 22u) << lines[i + 1];
    EXPECT_EQ(lines[i + 1].rfind(kExamples[i].type, 0), 0u) << lines[i + 1];
    EXPECT_NE(lines[i + 1].find(kExamples[i].encoding), std::string::npos) << lines[i + 1];
  }
}

TEST(Host, TsvJsonJsonlAndOneField) {
  const std::vector<std::string> tsv = Lines(Charsift("--format tsv" + ExampleArgs()).out);
  const std::vector<std::string> one =
      Lines(Charsift("--format tsv --field Encoding" + ExampleArgs()).out);
  const std::string json = Charsift("--format json" + ExampleArgs()).out;
  const std::vector<std::string> jsonl = Lines(Charsift("--format jsonl" + ExampleArgs()).out);
  ASSERT_EQ(tsv.size(), std::size(kExamples));
  ASSERT_EQ(one.size(), std::size(kExamples));
  ASSERT_EQ(jsonl.size(), std::size(kExamples));
  EXPECT_EQ(json.substr(0, 4), "[\n  ");
  EXPECT_EQ(json.substr(json.size() - 4), "}\n]\n");
  for (std::size_t i = 0; i < std::size(kExamples); ++i) {
    const Expected& e = kExamples[i];
    const std::string path = Example(e.file);
    EXPECT_EQ(tsv[i], std::string(e.type) + "\t" + e.encoding + "\t" + TsvText(path));
    EXPECT_EQ(one[i], std::string(e.encoding) + "\t" + TsvText(path));
    const std::string object = "{\"path\": \"" + JsonText(path) + "\", \"Type\": \"" + e.type +
                               "\", \"Encoding\": \"" + e.encoding + "\"}";
    EXPECT_NE(json.find(object), std::string::npos) << object;
    EXPECT_EQ(jsonl[i], object);
  }
  // By default a file is read once by the linked-in detection code; --module
  // asks the exports: the same rows.
  const std::string module = " --module " + Quote(Text(HostPath(CHARSIFT_MODULE_PATH)));
  EXPECT_EQ(Lines(Charsift("--format tsv" + module + ExampleArgs()).out), tsv);
  // --settings takes another file's settings: with both DOS and Russian
  // tests off, those examples become plain ANSI.
  TempDir dir;
  const std::string settings =
      " --settings " +
      Quote(Text(dir.WriteText("other.ini", "[ini]\noem_enabled=0\nrus_enabled=0\n")));
  const std::vector<std::string> other =
      Lines(Charsift("--format tsv --field Encoding" + settings + ExampleArgs()).out);
  ASSERT_EQ(other.size(), std::size(kExamples));
  for (std::size_t i = 0; i < std::size(kExamples); ++i) {
    const std::string encoding = kExamples[i].encoding;
    const bool off = encoding == "DOS" || encoding == "DOS Ru" || encoding == "ANSI Ru";
    EXPECT_EQ(other[i], (off ? "ANSI" : encoding) + "\t" + TsvText(Example(kExamples[i].file)));
  }
}

// ---- Exit statuses ----------------------------------------------------------------
// How a row's run is set up, beyond its arguments. Every run reads "{file}\r\n"
// from standard input.
enum class Setup {
  Plain,
  Unprivileged, // as a user who may not read {secret} (root reads any file)
  FullOutput,   // standard output is /dev/full: every write fails
  FolderInput,  // standard input is the temporary folder: every read fails
  InFolder,     // in the temporary folder, which holds Renamed.module, g.txt and a folder d.txt
};

struct StatusRow {
  std::string args; // each {name} stands for a path or a word Expand names, quoted
  int status;
  std::string err; // a fragment of standard error, each {name} unquoted
  const char* why;
  Setup setup = Setup::Plain;
  const char* out = nullptr; // all of standard output; null: only empty for a status above 1
};
void PrintTo(const StatusRow& row, std::ostream* os) { *os << row.why; }

class ExitStatus : public ::testing::TestWithParam<StatusRow> {
protected:
  void SetUp() override {
    const std::string file = Text(dir_.WriteText("f.txt", "text\n"));
    // Past the longest path of either system (4095 bytes; 32,767 UTF-16 units).
    dir_.WriteText("long.list", std::string(100000, 'a') + "\n" + file + "\n");
    // Not "nul.list": on Windows that names the NUL device.
    dir_.WriteText("cut.list", file + std::string(1, '\0') + "x\n" + file + "\n");
    // 64 MB of NUL bytes and no line end, as /dev/zero reads, in a sparse file.
    std::error_code ec;
    fs::resize_file(dir_.WriteText("zeros.list", ""), 64 << 20, ec);
#ifndef _WIN32
    mkfifo((dir_ / "fifo").c_str(), 0600);
#endif
  }

  // text with each {name} replaced, quoted as an argument or as it is.
  std::string Expand(std::string text, bool quoted) const {
    const std::pair<const char*, std::string> names[] = {
        {"{file}", Text(dir_ / "f.txt")},
        {"{secret}", Text(dir_ / "secret.txt")},
        {"{folder}", Text(dir_.Path())},
        {"{long.list}", Text(dir_ / "long.list")},
        {"{cut.list}", Text(dir_ / "cut.list")},
        {"{zeros.list}", Text(dir_ / "zeros.list")},
        {"{fifo}", Text(dir_ / "fifo")},
        {"{missing}", Text(HostPath("/no/such/file"))},
        // Привет.txt: on Windows the name reaches the tool as UTF-16 and must
        // come out as these bytes, not in the console's code page.
        {"{cyrillic}", Text(HostPath("/no/such")) + kSep +
                           "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82.txt"},
        {"{nomodule}", Text(HostPath("/no/such/module.so"))},
        {"{module}", Text(HostPath(CHARSIFT_MODULE_PATH))},
        {"{ascii}", Example("ascii.txt")},
        {"{russian866}", Example("russian-866.txt")},
        {"{empty}", ""},
        {"{dos-rus}", "Encoding=DOS Rus"},
    };
    for (const auto& [name, path] : names)
      for (std::size_t at; (at = text.find(name)) != std::string::npos;)
        text.replace(at, std::strlen(name), quoted ? Quote(path) : path);
    return text;
  }

  Outcome Run(const StatusRow& row) const {
    const std::string args = Expand(row.args, true), input = Expand("{file}\r\n", false);
    if (row.setup == Setup::InFolder) {
      fs::copy_file(HostPath(CHARSIFT_MODULE_PATH), dir_ / "Renamed.module");
      dir_.WriteText("g.txt", "text\n");
      fs::create_directory(dir_ / "d.txt");
      const fs::path here = fs::current_path();
      fs::current_path(dir_.Path());
      const Outcome run = Charsift(args, input);
      fs::current_path(here);
      return run;
    }
#ifndef _WIN32
    if (row.setup == Setup::FullOutput || row.setup == Setup::FolderInput) {
      const std::string err = Text(dir_ / "err"), out = Text(dir_ / "out");
      const std::string streams = row.setup == Setup::FullOutput
                                      ? " </dev/null >/dev/full"
                                      : " <" + Quote(Text(dir_.Path())) + " >" + Quote(out);
      const std::string command =
          Quote(CHARSIFT_HOST_PATH) + " " + args + streams + " 2>" + Quote(err);
      const int status = std::system(command.c_str());
      return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    }
#endif
    return Charsift(args, input);
  }

  void Check(const StatusRow& row) const {
    const Outcome run = Run(row);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(Expand(row.err, false)), std::string::npos) << run.err;
    if (row.out) {
      EXPECT_EQ(run.out, Expand(row.out, false)) << run.err;
    } else if (row.status > 1) {
      EXPECT_EQ(run.out, "");
    }
  }

  TempDir dir_;
};

TEST_P(ExitStatus, AndWhatStandardErrorSays) {
  const StatusRow& row = GetParam();
#ifndef _WIN32
  if (row.setup == Setup::Unprivileged) {
    const std::string secret = Text(dir_.WriteText("secret.txt", "text\n"));
    fs::permissions(secret, fs::perms::none);
    const int result = RunUnprivileged([&] {
      if (std::ifstream(secret).good()) return false;
      Check(row);
      return true;
    });
    if (result == kCannotTest) GTEST_SKIP() << "no user here is kept from reading the file";
    EXPECT_EQ(result, 0) << "a check failed in the child, printed above";
    return;
  }
#endif
  Check(row);
}

const StatusRow kStatusRows[] = {
    {"--version", 0, "", "version only", Setup::Plain, "charsift " CHARSIFT_VERSION "\n"},
    {"{ascii} {missing}", 1, "{missing}: no such file or folder", "missing path"},
    {"{cyrillic}", 1, "{cyrillic}: no such file or folder",
     "a Cyrillic name goes to a file or pipe as its UTF-8 bytes"},
    {"-rh", 0, "", "-h in a bundle, as getopt takes it"},
    {"--field Type -rj2 {file}", 0, "", "-j's value in a bundle", Setup::Plain,
     "Type    Path\nText    {file}\n"},
    {"--bogus x", 2, "usage:", "unknown option"},
    {"--format xml x", 2, "usage:", "bad format"},
    {"--field Size x", 2, "--field takes Type or Encoding, not Size", "bad field"},
    {"--format", 2, "usage:", "option without its argument"},
    {"-r", 2, "usage:", "no path"},
    {"-j 0 x", 2, "--jobs takes", "no workers"},
    {"--to-utf8 {file}", 2, "--to-utf8 takes either --in-place or --output-dir DIR",
     "a conversion writes somewhere"},
    {"--to-utf8 --in-place --output-dir {folder} {file}", 2, "either --in-place or --output-dir",
     "a conversion writes to one place"},
    {"--in-place {file}", 2, "--in-place goes with --to-utf8", "conversion options alone"},
    {"--from koi8-r {file}", 2, "--from goes with --to-utf8", "a code page alone"},
    {"--to-utf8 --in-place --explain {file}", 2, "--to-utf8 does not go with --explain",
     "a conversion explains nothing"},
    {"--to-utf8 --check-settings", 2, "--to-utf8 does not go with --check-settings",
     "a conversion checks no settings"},
    {"--to-utf8 --in-place --where Encoding=ANSI {file}", 2, "does not go with --where",
     "a conversion takes every path"},
    {"--to-utf8 --in-place --field Type {file}", 2, "does not go with --field",
     "a conversion's row has its own fields"},
    {"--to-utf8 --output-dir {folder} --backup {file}", 2, "--backup goes with --in-place",
     "a copy needs no backup"},
    {"--to-utf8 --in-place --backup= {file}", 2, "--backup takes a suffix", "an empty suffix"},
    {"--to-utf8 --in-place --from no-such-page {file}", 2,
     "--from: the system knows no code page no-such-page", "an unknown code page"},
    {"--to-utf8 --in-place --ansi-codepage 0 {file}", 2, "--ansi-codepage takes a number",
     "a code page is a number"},
    {"--depth 0 x", 2, "--depth takes a number from 1 to 256, not 0", "no reads in flight"},
    {"--depth=257 x", 2, "--depth takes a number from 1 to 256, not 257", "past the most"},
    {"--depth", 2, "--depth needs an argument", "the depth left out"},
    {"--where Size=Text x", 2, "usage:", "--where on no field"},
    {"--where {dos-rus} x", 2, "has no value 'DOS Rus'", "no such value"},
    {"-0 x", 2, "-0 goes with --files-from", "-0 alone"},
    {"--files-from {missing}", 1, "{missing}: cannot read the list: no such file",
     "list missing, with its name and the reason"},
    {"--files-from {folder}", 1, "{folder}: cannot read the list",
     "a folder as list, and no header before the failure", Setup::Plain, ""},
    {"--field Type --files-from {long.list}", 1, "{long.list}: line 1 is longer than any path (",
     "a list entry is capped, told, and the next read", Setup::Plain,
     "Type    Path\nText    {file}\n"},
    {"--field Type --files-from {cut.list}", 1,
     "{cut.list}: line 1 holds a NUL, which no name does (a list that find -print0 writes takes "
     "-0)",
     "a NUL in a line names no file, not the name before it", Setup::Plain,
     "Type    Path\nText    {file}\n"},
    {"--files-from {zeros.list}", 1, "{zeros.list}: line 1 holds a NUL",
     "endless NULs without -0: told at once, read in flat memory, no abort", Setup::Plain,
     "Type    Encoding      Path\n"},
    {"--files-from {empty} x", 2, "--files-from needs a path, not an empty one", "empty list name"},
    {"--module {nomodule} x", 3, "module.so: no such file or folder",
     "module missing, in the host's words"},
    {"--module {empty} x", 2, "--module needs a path, not an empty one", "empty module path"},
    {"--explain --format tsv x", 2, "--explain does not go with --format",
     "explain prints no rows"},
    {"--explain --where Type=Text x", 2, "--explain does not go with --where", "nor filters them"},
    {"--explain --field Type x", 2, "--explain does not go with --field", "nor picks fields"},
    {"--explain --summary x", 2, "--explain does not go with --summary", "nor counts them"},
    {"--explain -j 2 x", 2, "--explain does not go with --jobs", "explain runs one path at a time"},
    {"--explain --depth 2 x", 2, "--explain does not go with --depth",
     "explain reads one path at a time"},
    {"--check-settings x", 2, "--check-settings takes no path", "settings are the module's"},
    {"--explain {missing}", 1, "{missing}: no such file or folder",
     "explain fails a missing path as the listing does"},
    {"--explain {file} {missing}", 1, "{missing}: no such file or folder",
     "one missing path fails the whole explain"},
    {"--where encoding=ansi --field TYPE {file}", 0, "", "names and values in any case"},
    {"--settings", 2, "--settings needs an argument", "--settings without its file"},
    {"--settings a.ini --module b.so x", 2, "--settings does not go with --module",
     "the module reads its own settings"},
    {"--settings {missing} {file}", 2, "--settings {missing}: no such file or folder",
     "settings that are not there are refused, not run as the defaults"},
    {"--settings {folder} {file}", 2, "--settings {folder}: is a folder", "a folder as settings"},
    {"--check-settings --module {nomodule}", 3, "cannot load module",
     "a module named must load for its settings to be checked, as for a plain run"},
    {"--settings a.ini --explain x", 2, "--settings does not go with --explain",
     "the explanation is checked against the module, under its settings"},
    {"--files-from {missing}", 1, "cannot read the list", "list missing"},
    {"--module {nomodule} x", 3, "cannot load module", "module missing"},
    {"--explain --module {nomodule} {ascii}", 3, "cannot load module",
     "--explain loads the module as a plain run does"},
    {"--explain {russian866}", 0, "", "the explanation agrees with the module beside charsift"},
    {"--field Type --format tsv --module Renamed.module f.txt", 0, "",
     "a module path is a path: a bare name is a file in the current folder", Setup::InFolder,
     "Text\tf.txt\n"},
#ifdef _WIN32
    {"--field Type --format tsv ?.txt Renamed.*", 0, "",
     "* and ? in a name are expanded, sorted, folders among the files", Setup::InFolder,
     "Folder\td.txt\nText\tf.txt\nText\tg.txt\nBinary\tRenamed.module\n"},
    {"*.none", 1, "*.none: no such file or folder", "a wildcard that matches nothing is the name",
     Setup::InFolder},
    {"*\\f.txt", 1, "*\\f.txt: no such file or folder", "a folder's part is never expanded",
     Setup::InFolder},
    {"--module Ren*.module f.txt", 3, "cannot load module", "an option's path is never expanded",
     Setup::InFolder},
#else
    {"--files-from -", 1, "-: cannot read the list: is a folder",
     "a folder as standard input, told in the tool's words, not the system's", Setup::FolderInput,
     "Type    Encoding      Path\n"},
    {"--settings {fifo} {file}", 2, "--settings {fifo}: not a regular file",
     "a FIFO as settings is refused, never opened"},
    {"{file}/", 1, "{file}/: not a folder", "a file named as a folder"},
    {"--explain {file}/", 1, "{file}/: not a folder", "the same under explain"},
    {"--explain /dev/null", 1, "/dev/null: not a regular file", "a device fails explain too"},
    {"/proc/self/mem", 1, "/proc/self/mem: Input/output error",
     "a file whose read fails is told, not taken for an empty one"},
    {"--explain /proc/self/mem", 1, "/proc/self/mem: Input/output error",
     "and the same under explain"},
    {"--files-from -", 1, "f.txt\\r: no such file or folder (the name ends with a carriage return)",
     "a DOS line end shown (escaped), not hidden"},
    {"{secret}", 1, "{secret}: permission denied", "an unreadable file, listed",
     Setup::Unprivileged},
    {"--explain {secret}", 1, "{secret}: permission denied", "an unreadable file, explained",
     Setup::Unprivileged},
    {"--module {module} {secret}", 1, "{secret}: permission denied",
     "an unreadable file, through the exports", Setup::Unprivileged},
    // A write to standard output that fails is an error in every mode.
    {"--help", 1, "charsift: cannot write the output", "output fails: help", Setup::FullOutput},
    {"--version", 1, "charsift: cannot write the output", "output fails: version",
     Setup::FullOutput},
    {"--explain {file}", 1, "charsift: cannot write the output", "output fails: explain",
     Setup::FullOutput},
    {"{file}", 1, "charsift: cannot write the output", "output fails: a row", Setup::FullOutput},
    {"--format json -r {folder}", 1, "charsift: cannot write the output",
     "output fails: a JSON walk", Setup::FullOutput},
    {"--check-settings", 1, "charsift: cannot write the output", "output fails: check settings",
     Setup::FullOutput},
#endif
};
INSTANTIATE_TEST_SUITE_P(Rows, ExitStatus, ::testing::ValuesIn(kStatusRows), NamedByWhy());

// Settings values the module ignores are each named, with the rule they
// break, by --check-settings and by --explain.
TEST(Host, CheckSettingsNamesEachIgnoredValue) {
  TempDir dir;
  const std::string file = Text(dir.WriteText("f.txt", "text\n"));
  // A folder the ANSI code page of a Western system cannot name: on
  // Windows the settings are found through its UTF-16 all the same.
  const std::string m = "m_\xE4\xB8\xAD\xE6\x96\x87"; // m_中文
  fs::create_directories(dir.Path() / fs::u8path(m));
  fs::copy_file(HostPath(CHARSIFT_MODULE_PATH), dir.Path() / fs::u8path(m) / "Charsift.wdx");
  const std::string module =
      " --module " + Quote(Text(dir.Path() / fs::u8path(m) / "Charsift.wdx"));
  struct SettingsRow {
    const char* ini;
    const char* told; // "" when nothing is ignored
    const char* why;
  } settingsRows[] = {
      {"binary_ignore=00 1A", "", "a good list"},
      {"binary_ignore=1a", "ignored binary_ignore=1a: a list is codes of two upper-case", "lower"},
      {"binary_ignore=0x1A", "ignored binary_ignore=0x1A: a list", "a prefix"},
      {"oem_ignore=1A,0C", "ignored oem_ignore=1A,0C: a list", "a comma"},
      {"oem_percent=0x10", "", "hexadecimal is an integer"},
      {"text_buffer_size_kb=4k", "ignored text_buffer_size_kb=4k: not a whole number", "a unit"},
      {"colour=red", "ignored colour=red: no such setting", "an unknown key"},
      {"colour=\x1b[31m", "ignored colour=\\x1b[31m: no such setting",
       "a control code is escaped, never sent to the terminal"},
      {"rus\x7Fpercent=25", "ignored rus\\x7fpercent=25: no such setting",
       "DEL is no '_' in a key, though the two differ only in bit 0x20"},
      {"rus_percent=25\nrus_percent=26", "ignored rus_percent=26: only the first", "a second line"},
      {"text_buffer_size_kb=0xFFFFFFFF", "wrapped text_buffer_size_kb=0xFFFFFFFF: read as -1",
       "hexadecimal past 7FFFFFFF is taken negative: every file Binary, named though not ignored"},
      {"rus_min_size=-$1", "", "a minus sign asks for the negative number"},
  };
  for (const SettingsRow& row : settingsRows) {
    dir.WriteText(m + "/Charsift.ini", std::string("[ini]\n") + row.ini + "\n");
    const Outcome run = Charsift("--check-settings" + module);
    EXPECT_EQ(run.status, *row.told ? 1 : 0) << row.why << run.out;
    EXPECT_NE(run.out.find(*row.told ? row.told : "0 values ignored"), std::string::npos)
        << row.why << run.out;
    const Outcome explained = Charsift("--explain" + module + " " + Quote(file));
    EXPECT_EQ(explained.status, 0) << row.why;
    const bool tells = explained.out.find("settings: ignored") != std::string::npos ||
                       explained.out.find("settings: wrapped") != std::string::npos;
    EXPECT_EQ(tells, *row.told != '\0') << row.why << explained.out;
  }
  // A read-only install: the example is there, the settings file cannot be made.
  fs::remove(dir.Path() / fs::u8path(m) / "Charsift.ini");
  fs::create_directories(dir.Path() / fs::u8path(m) / "Charsift.ini");
  dir.WriteText(m + "/Charsift.example.ini", "[ini]\n");
  EXPECT_NE(Charsift("--explain" + module + " " + Quote(file)).out.find("could not be copied"),
            std::string::npos);
}

// A path that cannot be read is still a row, and is told once.
TEST(Host, AnUnreadablePathIsStillARow) {
  const std::string missing = Text(HostPath("/no/such/file"));
  const Outcome partial = Charsift(Quote(Example("ascii.txt")) + " " + Quote(missing) +
                                   " --format tsv --field Encoding -j 2");
  const std::vector<std::string> lines = Lines(partial.out);
  ASSERT_EQ(lines.size(), 2u) << partial.out;
  EXPECT_EQ(lines[0], "ANSI\t" + TsvText(Example("ascii.txt")));
  EXPECT_EQ(lines[1].substr(lines[1].find('\t')), "\t" + TsvText(missing));
  EXPECT_EQ(Count(partial.err, "no such file"), 1u) << partial.err;
}

TEST(Host, HelpNamesTheFormatsOptionsAndStatuses) {
  const std::string help = Charsift("--help").out;
  for (const char* said : {"\\t \\n \\r \\\\", "jsonl", "--where", "--summary-only", "-j, --jobs",
                           "1 to 256", "--depth N", "--files-from", "-L, --follow",
                           "--check-settings", "\n      --  ", "Exit status: 0 all paths read, 1"})
    EXPECT_NE(help.find(said), std::string::npos) << said;
}

// --help and the man page's OPTIONS list the same options.
TEST(Host, HelpAndManPageListTheSameOptions) {
  const std::string help = Charsift("--help").out;
  const auto options = [](const std::string& text) { // -r, --files-from, ... after a blank
    const auto word = [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || c == '-';
    };
    std::set<std::string> found;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '-' || (i > 0 && std::string(" ,\n").find(text[i - 1]) == std::string::npos))
        continue;
      std::size_t end = i;
      while (end < text.size() && word(text[end]))
        ++end;
      const std::string token = text.substr(i, end - i);
      const std::size_t dashes = token.find_first_not_of('-');
      if (dashes != std::string::npos && dashes <= 2) found.insert(token);
      i = end;
    }
    return found;
  };
  std::string helped, paged;
  for (const std::string& line : Lines(help)) { // "  -r, --recursive   also ..."
    const std::size_t lead = line.find_first_not_of(' ');
    if (lead >= 2 && lead <= 6 && line[lead] == '-')
      helped += line.substr(0, line.find("  ", lead)) + "\n";
  }
  std::ifstream page(HostPath(CHARSIFT_EXAMPLES_DIR "/../docs/charsift.1"));
  bool inOptions = false, tagged = false;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind(".SH", 0) == 0) inOptions = line == ".SH OPTIONS";
    // A .TP's tag line names the option: .BR \-r ", " \-\-recursive
    if (inOptions && tagged)
      for (std::size_t at; (at = line.find("\\-")) != std::string::npos;)
        line.erase(at, 1);
    if (inOptions && tagged) paged += line + "\n";
    tagged = line == ".TP";
  }
  EXPECT_FALSE(options(paged).empty()) << "no OPTIONS in the man page";
  EXPECT_EQ(options(helped), options(paged)) << "--help:\n" << helped << "man page:\n" << paged;
}

TEST(Host, RecursiveWalkIsSortedDepthFirstWhateverTheJobs) {
  TempDir dir;
  fs::create_directories(dir / "b" / "c");
  dir.WriteText("b/c/d.txt", "deep\n");
  dir.WriteText("b/a.txt", "first\n");
  dir.WriteText("z.txt", "last\n");
  const std::string root = Text(dir.Path());
  const std::string flat = Charsift("--format tsv --field Type " + Quote(root)).out;
  EXPECT_EQ(flat, "Folder\t" + TsvText(root) + "\n") << "without -r a folder is one row";
  const std::string s = TsvText(kSep);
  EXPECT_EQ(
      Lines(Charsift("-r --format tsv --field Type " + Quote(root)).out),
      (std::vector<std::string>{"Folder\t" + TsvText(root), "Folder\t" + TsvText(root) + s + "b",
                                "Text\t" + TsvText(root) + s + "b" + s + "a.txt",
                                "Folder\t" + TsvText(root) + s + "b" + s + "c",
                                "Text\t" + TsvText(root) + s + "b" + s + "c" + s + "d.txt",
                                "Text\t" + TsvText(root) + s + "z.txt"}));

  // Many files of different costs: the rows keep the walk's order under -j.
  std::string expected;
  for (int f = 0; f < 3; ++f) {
    const std::string folder = "f" + std::to_string(f);
    fs::create_directories(dir / "many" / folder);
    expected += "Folder\t\t" + TsvText(Text(dir / "many") + kSep + folder) + "\n";
    for (int i = 10; i < 50; ++i) {
      const std::string name = std::to_string(i) + ".txt";
      dir.WriteText("many/" + folder + "/" + name, i % 3 ? "text\n" : std::string(3000, 'x'));
      expected += "Text\tANSI\t" + TsvText(Text(dir / "many") + kSep + folder + kSep + name) + "\n";
    }
  }
  const std::string many = Quote(Text(dir / "many"));
  // --depth: files read ahead of the -j workers, in any proportion to them.
  for (const char* jobs :
       {"-j 1", "-j 4", "--jobs=3", "-j 1 --depth 1", "-j 2 --depth=7", "-j 4 --depth 256"}) {
    const Outcome run = Charsift(std::string(jobs) + " -r --format tsv " + many);
    EXPECT_EQ(run.status, 0) << jobs << run.err;
    EXPECT_EQ(run.out, "Folder\t\t" + TsvText(Text(dir / "many")) + "\n" + expected) << jobs;
  }
}

TEST(Host, WhereAndSummary) {
  const Tree tree;
  const std::string r = " -r " + Quote(tree.root);
  struct Row {
    std::string args;
    std::string out;
  } rows[] = {
      {"--format tsv --field Encoding --where " + Quote("Encoding=DOS Ru") + " --where " +
           Quote("Encoding=ANSI Ru") + r,
       "ANSI Ru\t" + TsvText(tree.At("sub/b.txt")) + "\nDOS Ru\t" + TsvText(tree.At("sub/c.txt")) +
           "\n"},
      {"--format tsv --field encoding --where " + Quote("ENCODING=dos ru") + r,
       "DOS Ru\t" + TsvText(tree.At("sub/c.txt")) + "\n"},
      {"--format tsv --field Type --where Encoding=ANSI --where Type=Text -j 2" + r,
       "Text\t" + TsvText(tree.At("a.txt")) + "\nText\t" + TsvText(tree.At("sub/d.txt")) + "\n"},
      {"--format tsv --field Encoding --where Encoding= --where Type=Binary" + r, ""},
      {"--format tsv --summary-only" + r,
       "#Type\tFolder\t2\n#Type\tText\t4\n#Encoding\tANSI\t2\n#Encoding\tANSI Ru\t1\n"
       "#Encoding\tDOS Ru\t1\n#Encoding\t\t2\n"},
      {"--format tsv --summary --field Type --where Type=Folder" + r,
       "Folder\t" + TsvText(tree.root) + "\nFolder\t" + TsvText(tree.At("sub")) +
           "\n#Type\tFolder\t2\n"},
      {"--format jsonl --summary-only --field Encoding" + r,
       "{\"summary\": {\"Encoding\": {\"ANSI\": 2, \"ANSI Ru\": 1, \"DOS Ru\": 1, \"\": 2}, "
       "\"not read\": 0}}\n"},
      {"--format json --summary --field Encoding --where Encoding=ANSI" + r,
       "{\"files\": [\n  {\"path\": \"" + JsonText(tree.At("a.txt")) +
           "\", \"Encoding\": \"ANSI\"},\n  {\"path\": \"" + JsonText(tree.At("sub/d.txt")) +
           "\", \"Encoding\": \"ANSI\"}\n], \"summary\": {\"Encoding\": {\"ANSI\": 2}, "
           "\"not read\": 0}}\n"},
      {"--summary-only --field Type" + r,
       "Field  Value   Files\nType   Folder  2\nType   Text    4\n"},
  };
  for (const Row& row : rows) {
    const Outcome run = Charsift(row.args);
    EXPECT_EQ(run.status, 0) << row.args << run.err;
    EXPECT_EQ(run.out, row.out) << row.args;
  }
  // A path not read has no value to count: the module's answer for it would pass for a file's.
  const std::string missing = Quote(tree.At("missing"));
  const Outcome tsv = Charsift("--format tsv --summary-only" + r + " " + missing);
  EXPECT_EQ(tsv.status, 1);
  EXPECT_EQ(tsv.out, "#Type\tFolder\t2\n#Type\tText\t4\n#Encoding\tANSI\t2\n#Encoding\tANSI Ru\t1\n"
                     "#Encoding\tDOS Ru\t1\n#Encoding\t\t2\n#Paths\tnot read\t1\n");
  EXPECT_EQ(Charsift("--summary-only --field Type " + missing).out,
            "Field  Value     Files\nPaths  not read  1\n");
  EXPECT_EQ(Charsift("--format jsonl --summary-only --field Type " + missing).out,
            "{\"summary\": {\"Type\": {}, \"not read\": 1}}\n");
}

TEST(Host, RowsStreamAndListsAreRead) {
  const Tree tree;
  const std::string first = tree.At("a.txt"), second = tree.At("sub/b.txt");
  // The first row is out while the list is still open, in every format.
  for (const char* format : {"table", "tsv", "json", "jsonl"}) {
    Running run(std::string("--field Encoding --files-from - --format ") + format);
    run.Write(first + "\n");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (run.Out().find("ANSI") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(run.Out().find("ANSI"), std::string::npos) << format << ": no row before the end";
    run.Write(second + "\n");
    const Outcome end = run.Wait();
    EXPECT_EQ(end.status, 0) << format << end.err;
    EXPECT_NE(end.out.find("ANSI Ru"), std::string::npos) << format << end.out;
  }
  const std::string rows = "ANSI\t" + TsvText(first) + "\nANSI Ru\t" + TsvText(second) + "\n";
  EXPECT_EQ(Charsift("--format tsv --field Encoding --files-from - -0",
                     first + std::string(1, '\0') + second + std::string(1, '\0'))
                .out,
            rows);
  tree.dir.WriteText("list", first + "\n\n" + second + "\n");
  EXPECT_EQ(Charsift("--format tsv --field Encoding --files-from " + Quote(tree.At("list"))).out,
            rows);
  // Several lists are read in turn, standard input among them.
  tree.dir.WriteText("list2", first + "\n");
  const Outcome both =
      Charsift("--format tsv --field Encoding --files-from - --files-from " +
                   Quote(tree.At("list2")) + " --files-from=" + Quote(tree.At("list")),
               second + "\n");
  EXPECT_EQ(both.status, 0) << both.err;
  EXPECT_EQ(both.out, "ANSI Ru\t" + TsvText(second) + "\nANSI\t" + TsvText(first) + "\n" + rows);
  // --explain takes lists and -r as the listing does: every file of the tree, in its order.
  const Outcome explained =
      Charsift("--explain -r --files-from - " + Quote(tree.At("sub")), first + "\n");
  EXPECT_EQ(explained.status, 0) << explained.err;
  std::vector<std::string> named;
  for (const std::string& line : Lines(explained.out))
    if (!line.empty() && line[0] != ' ' && line.rfind("settings:", 0) != 0) named.push_back(line);
  EXPECT_EQ(named, (std::vector<std::string>{tree.At("sub"), tree.At("sub/b.txt"),
                                             tree.At("sub/c.txt"), tree.At("sub/d.txt"), first}))
      << explained.out;
  // The progress line: forced here on a pipe, where it is otherwise never shown, and cleared.
  const Outcome shown = Charsift("--progress -r " + Quote(tree.root));
  EXPECT_NE(shown.err.find("files/s"), std::string::npos) << shown.err;
  ASSERT_FALSE(shown.err.empty());
  EXPECT_EQ(shown.err.back(), '\r') << shown.err;
  EXPECT_EQ(Charsift("-r " + Quote(tree.root)).err, "");
#ifndef _WIN32
  // Ctrl-C or a kill clears the progress line, then ends by the signal.
  for (const int signal : {SIGINT, SIGTERM}) {
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    const std::string err = Text(tree.dir / "progress-err");
    fs::remove(err); // the last signal's line must not pass for this one's
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(input[0], 0);
      close(input[1]);
      const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int nullFd = open("/dev/null", O_WRONLY);
      dup2(errFd, 2);
      dup2(nullFd, 1);
      execl(CHARSIFT_HOST_PATH, "charsift", "--progress", "--files-from", "-",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(input[0]);
    const std::string line = first + "\n";
    ASSERT_EQ(write(input[1], line.data(), line.size()), static_cast<ssize_t>(line.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadFile(err).find("files/s") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, signal);
    int status = 0;
    waitpid(pid, &status, 0);
    close(input[1]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    const std::string told = ReadFile(err);
    const std::size_t drawn = told.find("files/s");
    ASSERT_NE(drawn, std::string::npos) << told;
    EXPECT_EQ(told.substr(told.rfind('\r', told.size() - 2)).find_first_not_of("\r "),
              std::string::npos)
        << "the line ends cleared: " << told;
  }
#endif
}

// Output that is gone stops a run that reads its list from a writer who
// is idle: charsift ends by itself, says why, and never waits on the list.
TEST(Host, GoneOutputEndsARunWhoseListIsIdle) {
  const Tree tree;
  const std::string first = tree.At("a.txt"), second = tree.At("sub/b.txt");
  const struct {
    std::string args;
    std::string input;
    const char* why;
  } rows[] = {
      {"--format tsv --files-from -", first + "\n" + second + "\n",
       "two rows written: the second finds the output gone"},
      {"--format tsv --files-from -", first + "\n", "one row: the flush before the wait fails"},
      {"--format json --files-from -", "", "no row at all: the opening bracket fails"},
      {"--format table --files-from - " + Quote(first), "", "a path given, the list silent"},
  };
  for (const auto& row : rows) {
    Running run(row.args, true);
    run.Write(row.input);
    int status = -1;
    const bool ended = run.EndsWithin(std::chrono::seconds(20), status);
    EXPECT_TRUE(ended) << row.why << ": still running with its output gone";
    const Outcome end = run.Wait(); // closes the list: a hung run ends here
    if (!ended) continue;
    EXPECT_EQ(status, 1) << row.why;
    EXPECT_NE(end.err.find("cannot write the output"), std::string::npos) << row.why << end.err;
  }
}

// A name that is no UTF-8 reaches the module and prints as itself: its bytes
// in tsv, \xNN in the table, \udcXX in JSON. On Windows, the UTF-16 name that the
// module's layer gives such bytes off Windows prints the same way.
TEST(Host, NamesThatAreNoUtf8InEveryFormat) {
  TempDir dir;
#ifdef _WIN32
  const fs::path odd = dir.Path() / fs::path(std::wstring(L"caf\xDCE9.txt"));
#else
  const fs::path odd = dir.Path() / fs::path(std::string("caf\xE9.txt"));
#endif
  { std::ofstream(odd, std::ios::binary) << "plain text\n"; }
#ifdef _WIN32
  // Wine keeps no lone surrogate in a name; Windows itself does.
  if (!fs::exists(odd)) GTEST_SKIP() << "this file system takes no lone surrogate in a name";
#endif
  ASSERT_TRUE(fs::exists(odd));
  const std::string root = Text(dir.Path()) + kSep;
  const std::string name = std::string("caf\xE9.txt");
  struct Row {
    const char* format;
    std::string line;
  } rows[] = {
      {"tsv", "Text\tANSI\t" + TsvText(root) + name},
      {"table", "Text    ANSI          " + root + "caf\\xe9.txt"},
      {"jsonl", "{\"path\": \"" + JsonText(root) +
                    "caf\\udce9.txt\", \"Type\": \"Text\", "
                    "\"Encoding\": \"ANSI\"}"},
      {"json", "  {\"path\": \"" + JsonText(root) +
                   "caf\\udce9.txt\", \"Type\": \"Text\", "
                   "\"Encoding\": \"ANSI\"}"},
  };
  for (const Row& row : rows) {
    const Outcome run =
        Charsift(std::string("-r --format ") + row.format + " " + Quote(Text(dir.Path())));
    EXPECT_EQ(run.status, 0) << row.format << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    EXPECT_NE(std::find(lines.begin(), lines.end(), row.line), lines.end()) << row.format << ":\n"
                                                                            << run.out;
  }
}

// A name with control codes or bytes that are no UTF-8 can neither forge a
// row, nor drive the terminal, nor vanish: the table escapes them, tsv and
// JSON keep their own escapes. The paths come from a list and name no file,
// so every platform can hold them; each is still a row.
TEST(Host, NamesWithControlCodesInEveryFormat) {
  struct Row {
    std::string name, table, tsv, json;
    const char* why;
  };
  std::vector<Row> rows = {
      {"a\nText    ANSI          fake", "a\\nText    ANSI          fake",
       "a\\nText    ANSI          fake", "a\\u000aText    ANSI          fake",
       "a newline would forge a row"},
      {"\x1b[31mred\x1b[0m\x1b]0;title\x07", "\\x1b[31mred\\x1b[0m\\x1b]0;title\\x07",
       "\x1b[31mred\x1b[0m\x1b]0;title\x07", "\\u001b[31mred\\u001b[0m\\u001b]0;title\\u0007",
       "escape sequences would drive the terminal"},
      {"b\rText", "b\\rText", "b\\rText", "b\\u000dText",
       "a carriage return would overwrite the row"},
      {"tab\there", "tab\\there", "tab\\there", "tab\\u0009here", "a tab shifts no column"},
      {"c1\xC2\x9B"
       "2J\x7F",
       "c1\\xc2\\x9b2J\\x7f",
       "c1\xC2\x9B"
       "2J\x7F",
       "c1\xC2\x9B"
       "2J\x7F",
       "C1 and DEL codes: escaped in the table only"},
      {"a -> b", "a -\\x3e b", "a -> b", "a -> b",
       "an arrow in a name: the table prints no link's row for it"},
      {"\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB", "\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB",
       "\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB", "\xD0\xA4\xD0\xB0\xD0\xB9\xD0\xBB",
       "valid UTF-8 prints as itself"},
  };
#ifndef _WIN32
  // A byte that is no UTF-8 lists as itself off Windows only.
  rows.push_back({"\xCF\xF0\xE8", "\\xcf\\xf0\\xe8", "\xCF\xF0\xE8", "\\udccf\\udcf0\\udce8",
                  "cp1251 bytes, no UTF-8"});
  rows.push_back({"\x8F\xE0\xA8", "\\x8f\\xe0\\xa8", "\x8F\xE0\xA8", "\\udc8f\\udce0\\udca8",
                  "cp866 bytes: not the same row as cp1251"});
  rows.push_back({"back\\x41", "back\\\\x41", "back\\\\x41", "back\\\\x41",
                  "a literal backslash is doubled, so it reads as no escape"});
#endif
  std::string list;
  for (const Row& row : rows)
    list += row.name + std::string(1, '\0');
  const auto lines = [&](const char* format) {
    const Outcome run = Charsift(std::string("--files-from - -0 --format ") + format, list);
    EXPECT_EQ(run.status, 1) << format << ": the paths name no file";
    EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << format << ": messages escape too";
    return Lines(run.out);
  };
  const std::vector<std::string> table = lines("table"), tsv = lines("tsv"), json = lines("jsonl");
  ASSERT_EQ(table.size(), rows.size() + 1) << "one header and a line per name";
  ASSERT_EQ(json.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    EXPECT_EQ(table[i + 1], "Binary  Binary        " + row.table) << row.why;
    EXPECT_EQ(json[i],
              "{\"path\": \"" + row.json + "\", \"Type\": \"Binary\", \"Encoding\": \"Binary\"}")
        << row.why;
    EXPECT_NE(std::find(tsv.begin(), tsv.end(), "Binary\tBinary\t" + row.tsv), tsv.end())
        << row.why;
  }
}

#ifndef _WIN32
// A tree deeper than a path may be long: the walk goes on by descriptors to
// the file at the bottom, and tells each row whose path the module cannot
// take. However deep, it holds a few descriptors, and folders left for a
// while are taken again on the way up: every file of the tree is a row.
TEST(Host, TreeDeeperThanAPathReachesItsBottom) {
  const struct {
    int levels;
    std::size_t nameLength;
    int fileEvery; // a file at every this many levels, and at the bottom
    int openFiles; // descriptors the run may hold; 0: as the test runs
    bool linked;   // the tree lies behind a link (-L), a file after the link
    const char* why;
  } rows[] = {
      {25, 200, 1000, 0, false, "long names: the bottom lies past PATH_MAX"},
      {3000, 1, 7, 64, false, "thousands deep under a limit of 64 descriptors: each file listed"},
      {100, 1, 7, 32, true,
       "behind a link the way up is no '..': the walk comes back by the path, to z.txt"},
  };
  for (const auto& row : rows) {
    TempDir dir, far;
    const std::string name(row.nameLength, 'd');
    if (row.linked) {
      fs::create_directory_symlink(far.Path(), dir / "link");
      dir.WriteText("z.txt", "last\n");
    }
    // Made and removed a level at a time: the paths exceed PATH_MAX, and the
    // test holds no more descriptors than the walk may.
    int fd = open((row.linked ? far : dir).Path().c_str(), O_RDONLY | O_DIRECTORY);
    int files = 0;
    const auto file = [&](const char* leaf) {
      const int out = openat(fd, leaf, O_WRONLY | O_CREAT, 0600);
      ASSERT_EQ(write(out, "text\n", 5), 5);
      close(out);
      ++files;
    };
    for (int level = 0; level < row.levels; ++level) {
      if (level % row.fileEvery == row.fileEvery - 1) file("f.txt");
      ASSERT_EQ(mkdirat(fd, name.c_str(), 0700), 0);
      const int below = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = below;
    }
    file("bottom.txt");
    // The limit binds the run alone, which cannot raise it (the shell's
    // ulimit sets the hard limit too).
    TempDir streams;
    const std::string out = Text(streams / "out"), err = Text(streams / "err");
    const std::string command =
        (row.openFiles ? "ulimit -n " + std::to_string(row.openFiles) + "; " : std::string()) +
        Quote(CHARSIFT_HOST_PATH) + (row.linked ? " -L" : "") + " -r --format tsv --field Type " +
        Quote(Text(dir.Path())) + " >" + Quote(out) + " 2>" + Quote(err);
    const int status = std::system(command.c_str());
    const Outcome run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
    const bool pastPathMax = !row.linked;
    EXPECT_EQ(run.status, pastPathMax ? 1 : 0) << row.why;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(1 + row.levels + files + 2 * row.linked))
        << row.why << run.err.substr(0, 300);
    if (row.linked) {
      EXPECT_EQ(lines.back(), "Text\t" + Text(dir / "z.txt")) << row.why;
    }
    EXPECT_EQ(Count(run.out, "/f.txt\n") + Count(run.out, "/bottom.txt\n"),
              static_cast<std::size_t>(files))
        << row.why;
    EXPECT_EQ(Count(run.err, "cannot read folder"), 0u) << row.why;
    const std::size_t tooLong = Count(run.err, ": path too long to hand to the module\n");
    EXPECT_EQ(tooLong > 0, pastPathMax) << row.why;
    EXPECT_LT(tooLong, lines.size()) << row.why << ": the shallow rows are read as usual";
    // Up again, removing each level.
    for (int level = row.levels; level >= 0; --level) {
      unlinkat(fd, "f.txt", 0);
      unlinkat(fd, "bottom.txt", 0);
      if (level == 0) break;
      const int above = openat(fd, "..", O_RDONLY | O_DIRECTORY);
      close(fd);
      fd = above;
      ASSERT_EQ(unlinkat(fd, name.c_str(), AT_REMOVEDIR), 0) << row.why;
    }
    close(fd);
  }
}

// Files read ahead of the workers, through io_uring or the pool of threads,
// relative to their folder or by path: the answers of the module's exports.
TEST(Host, ReadAheadGivesTheExportsAnswers) {
  TempDir dir;
  const std::string ansi(70000, 'a'), cyrillic(3000, '\xE0');
  // 2-byte UTF-8 letters, one cut by the end of the 65,535-byte sample.
  std::string utf8;
  while (utf8.size() < 65534)
    utf8 += "\xD0\xB0";
  const struct {
    const char* name;
    std::string bytes;
    const char* why;
  } files[] = {
      {"empty", "", "an empty file is text: the read alone tells it"},
      {"five", "{\\rtf", "the shortest signature"},
      {"1023", ansi.substr(0, 1023), "a byte short of the text sample"},
      {"1025", ansi.substr(0, 1024) + '\x01', "the binary code just past the text sample"},
      {"65535", ansi.substr(0, 65535), "the UTF-8 sample exactly"},
      {"70000", ansi.substr(0, 65535) + "\xD0\xB0", "UTF-8 past the largest sample"},
      {"utf8cut", utf8 + "\xD0", "a letter cut by the sample's end"},
      {"ru", cyrillic, "Cyrillic over the Russian sample"},
  };
  fs::create_directory(dir / "d");
  for (const auto& f : files)
    dir.WriteText("d/" + std::string(f.name), f.bytes);
  fs::create_symlink("empty", dir / "d" / "link-to-file");
  ASSERT_EQ(mkfifo((dir / "d" / "fifo").c_str(), 0600), 0);
  fs::create_symlink("fifo", dir / "d" / "link-to-fifo");
  const std::string root = Quote(Text(dir / "d"));
  const Outcome exports =
      Charsift("-r --format tsv --module " + Quote(CHARSIFT_MODULE_PATH) + " " + root);
  ASSERT_EQ(Count(exports.out, "\n"), std::size(files) + 4) << exports.err;
  for (const char* fallback : {"", "1"})
    for (const char* depth : {"-j 1 --depth 1", "-j 2", "-j 1 --depth 3"}) {
      setenv("CHARSIFT_NO_IO_URING", fallback, 1);
      const Outcome run = Charsift("-r --format tsv " + std::string(depth) + " " + root);
      unsetenv("CHARSIFT_NO_IO_URING");
      EXPECT_EQ(run.out, exports.out) << depth << (*fallback ? " without io_uring" : "");
      EXPECT_EQ(run.err, exports.err) << "the FIFOs are told, never opened";
    }
}

// Links: listed and not followed, the same on the command line and under -r;
// -L goes into links to folders and tells a loop instead of following it.
TEST(Host, SymlinkRules) {
  TempDir dir;
  fs::create_directories(dir / "real");
  dir.WriteText("real/f.txt", "text\n");
  fs::create_directory_symlink("real", dir / "to-real");
  fs::create_symlink("nowhere", dir / "dangling");
  fs::create_symlink("loop", dir / "loop");
  fs::create_directory_symlink(".", dir / "up");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::string root = Text(dir.Path()), d = root + "/";
  const auto paths = [](const std::string& out) {
    std::vector<std::string> names;
    for (const std::string& line : Lines(out))
      names.push_back(line.substr(line.find('\t') + 1));
    return names;
  };
  const std::vector<std::string> walked{root,       d + "dangling",   d + "fifo",    d + "loop",
                                        d + "real", d + "real/f.txt", d + "to-real", d + "up"};
  const char* told[] = {"dangling: broken symbolic link", "fifo: not a regular file",
                        "loop: symbolic link loop"};

  const Outcome walk = Charsift("-r --format tsv --field Type " + Quote(root));
  EXPECT_EQ(walk.status, 1);
  EXPECT_EQ(paths(walk.out), walked);
  for (const char* why : told)
    EXPECT_EQ(Count(walk.err, why), 1u) << why << "\n" << walk.err;

  const Outcome given =
      Charsift("-r --format tsv --field Type " + Quote(d + "dangling") + " " + Quote(d + "fifo") +
               " " + Quote(d + "loop") + " " + Quote(d + "to-real"));
  EXPECT_EQ(given.status, 1);
  // A link to a folder named as a path is gone into, as grep -r and find -H do.
  EXPECT_EQ(paths(given.out), (std::vector<std::string>{d + "dangling", d + "fifo", d + "loop",
                                                        d + "to-real", d + "to-real/f.txt"}));
  EXPECT_EQ(given.err, walk.err) << "the same reasons on the command line";
  const Outcome table = Charsift("--field Type " + Quote(d + "to-real"));
  EXPECT_EQ(Lines(table.out).back(), "Folder  " + d + "to-real -> real")
      << "a link shows it is one";
  // --explain gives each path the listing's reason and status.
  const Outcome explained = Charsift("--explain " + Quote(d + "dangling") + " " +
                                     Quote(d + "fifo") + " " + Quote(d + "loop"));
  EXPECT_EQ(explained.status, 1);
  EXPECT_EQ(explained.err, walk.err);

  const Outcome follow = Charsift("-r -L --format tsv --field Type " + Quote(root));
  EXPECT_EQ(follow.status, 1);
  std::vector<std::string> followed = walked;
  followed.insert(followed.begin() + 7, d + "to-real/f.txt");
  EXPECT_EQ(paths(follow.out), followed);
  EXPECT_EQ(Count(follow.err, "up: symbolic link loop, not followed"), 1u) << follow.err;
  EXPECT_EQ(Lines(follow.err).size(), 4u) << follow.err;
}
#endif

} // namespace
