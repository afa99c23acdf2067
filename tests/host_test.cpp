// The command-line host, run as a user or a script runs it: its formats,
// its exit statuses and its walk over a folder tree.
#ifndef _WIN32
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "Version.h"

using namespace testing_support;

namespace {

struct Outcome {
  int status;
  std::string out, err;
};

std::string Quote(const std::string& text) { return "'" + text + "'"; }
std::string Example(const std::string& name) {
  return std::string(CHARSIFT_EXAMPLES_DIR "/") + name;
}

Outcome Charsift(const std::string& args) {
  TempDir dir;
  const std::string errFile = (dir / "stderr").string();
  const std::string command = Quote(CHARSIFT_HOST_PATH) + " " + args + " 2>" + Quote(errFile);
  FILE* pipe = popen(command.c_str(), "r");
  Outcome outcome{-1, {}, {}};
  if (pipe == nullptr) return outcome;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    outcome.out.append(chunk, n);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errFile);
  outcome.err.assign(std::istreambuf_iterator<char>(err), {});
  return outcome;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
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
    args += " " + Quote(Example(e.file));
  return args;
}

TEST(Host, TableHasAHeaderAndAlignedColumns) {
  const Outcome run = Charsift(ExampleArgs());
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), std::size(kExamples) + 1);
  EXPECT_EQ(lines[0].rfind("Type", 0), 0u) << lines[0];
  const std::size_t column = lines[0].find("Path");
  for (std::size_t i = 0; i < std::size(kExamples); ++i) {
    EXPECT_EQ(lines[i + 1].find(Example(kExamples[i].file)), column) << lines[i + 1];
    EXPECT_EQ(lines[i + 1].rfind(kExamples[i].type, 0), 0u) << lines[i + 1];
    EXPECT_NE(lines[i + 1].find(kExamples[i].encoding), std::string::npos) << lines[i + 1];
  }
}

TEST(Host, TsvJsonAndOneField) {
  const std::vector<std::string> tsv = Lines(Charsift("--format tsv" + ExampleArgs()).out);
  const std::vector<std::string> one =
      Lines(Charsift("--format tsv --field Encoding" + ExampleArgs()).out);
  const std::string json = Charsift("--format json" + ExampleArgs()).out;
  ASSERT_EQ(tsv.size(), std::size(kExamples));
  ASSERT_EQ(one.size(), std::size(kExamples));
  EXPECT_EQ(json.front(), '[');
  EXPECT_EQ(json.substr(json.size() - 2), "]\n");
  for (std::size_t i = 0; i < std::size(kExamples); ++i) {
    const Expected& e = kExamples[i];
    EXPECT_EQ(tsv[i], std::string(e.type) + "\t" + e.encoding + "\t" + Example(e.file));
    EXPECT_EQ(one[i], std::string(e.encoding) + "\t" + Example(e.file));
    const std::string object = "{\"path\": \"" + Example(e.file) + "\", \"Type\": \"" + e.type +
                               "\", \"Encoding\": \"" + e.encoding + "\"}";
    EXPECT_NE(json.find(object), std::string::npos) << object;
  }
}

TEST(Host, ExitStatuses) {
  struct Row {
    std::string args;
    int status;
    const char* err;
    const char* why;
  } rows[] = {
      {"--version", 0, "", "version only"},
      {Quote(Example("ascii.txt")) + " /no/such/file", 1, "/no/such/file: no such file or folder",
       "missing path"},
      {"--bogus x", 2, "usage:", "unknown option"},
      {"--format xml x", 2, "usage:", "bad format"},
      {"--field Size x", 2, "usage:", "bad field"},
      {"--format", 2, "usage:", "option without its argument"},
      {"-r", 2, "usage:", "no path"},
      {"--module /no/such/module.so x", 3, "cannot load module", "module missing"},
  };
  for (const Row& row : rows) {
    const Outcome run = Charsift(row.args);
    EXPECT_EQ(run.status, row.status) << row.why << ": " << run.err;
    EXPECT_NE(run.err.find(row.err), std::string::npos) << row.why << ": " << run.err;
  }
  EXPECT_EQ(Charsift("--version").out, "charsift " CHARSIFT_VERSION "\n");
  const Outcome partial = Charsift(Quote(Example("ascii.txt")) + " /no/such/file --format tsv");
  EXPECT_EQ(partial.out, "Text\tANSI\t" + Example("ascii.txt") + "\n")
      << "other paths still printed";
}

TEST(Host, RecursiveWalkIsSortedDepthFirst) {
  TempDir dir;
  fs::create_directories(dir / "b" / "c");
  dir.WriteText("b/c/d.txt", "deep\n");
  dir.WriteText("b/a.txt", "first\n");
  dir.WriteText("z.txt", "last\n");
  const std::string root = dir.Path().string();
  const std::string flat = Charsift("--format tsv --field Type " + Quote(root)).out;
  EXPECT_EQ(flat, "Folder\t" + root + "\n") << "without -r a folder is one row";
  EXPECT_EQ(Lines(Charsift("-r --format tsv --field Type " + Quote(root)).out),
            (std::vector<std::string>{"Folder\t" + root, "Folder\t" + root + "/b",
                                      "Text\t" + root + "/b/a.txt", "Folder\t" + root + "/b/c",
                                      "Text\t" + root + "/b/c/d.txt", "Text\t" + root + "/z.txt"}));
}

} // namespace
#endif
