// The command line read into options: what each option sets, and the
// combinations refused before anything runs.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "Output.h"
#include "Platform.h"

namespace charsift::cli {

// One command-line argument: its text for options and messages, and the
// file-system path it names.
struct Arg {
  std::string text;
  fs::path path;
};

struct Where {
  std::string field;
  std::string value;
};

// --to-utf8 and the options that go with it.
struct Conversion {
  bool on = false, inPlace = false, dryRun = false;
  std::optional<fs::path> outputDir;
  std::optional<NativeString> backupSuffix;
  std::optional<std::string> from; // a code page name the system knows, for every file
  unsigned ansiCodePage = 0;       // 0: the system's default
  unsigned dosCodePage = 437;
};

struct Options {
  bool recursive = false, follow = false, null = false, explain = false, checkSettings = false;
  bool summary = false, summaryOnly = false;
  std::optional<bool> progress; // unset: on a terminal
  unsigned jobs = 0;            // 0: the processors
  unsigned depth = 0;           // files read at once; 0: the reader's own default
  Format format = Format::Table;
  std::vector<std::string> fields;
  std::vector<Where> where;
  std::optional<fs::path> module, settings;
  std::vector<fs::path> filesFrom; // read in this order, after the paths
  std::vector<Arg> paths;
  std::vector<std::string> given; // the long name of every option met, for the combinations
  Conversion convert;
};

struct UsageError {
  std::string message;
};

enum class Asked { Run, Help, Version };

// Reads the command line into o; throws UsageError.
Asked Parse(const std::vector<Arg>& args, Options& o);

// The words joined by ", ", the last two by last (" or ", " and ").
std::string Join(const std::vector<std::string>& words, const char* last);

} // namespace charsift::cli
