// charsift's command line: its options, --help, and how the module, the
// walk, the pool and the output are put together for one run.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "AsciiText.h"
#include "CheckSettings.h"
#include "Engine.h"
#include "Explain.h"
#include "Module.h"
#include "Output.h"
#include "Platform.h"
#include "Pool.h"
#include "Version.h"
#include "Walk.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace charsift::cli;

namespace {

constexpr std::size_t kWindow = 1024; // items in flight between the walk and the output
constexpr unsigned kMaxJobs = 256;

const char* const kUsage =
    "usage: charsift [OPTION]... PATH...\n"
    "       charsift [OPTION]... --files-from FILE [PATH]...\n"
    "       charsift --explain [-rL] [--module PATH] [--files-from FILE] PATH...\n"
    "       charsift --check-settings [--module PATH]\n"
    "       charsift --version | --help\n";

#ifdef _WIN32
#define CHARSIFT_MODULE_DEFAULT                                                                    \
  "Charsift.wdx, 64-bit\n"                                                                         \
  "                          Charsift.wdx64, beside charsift.exe)\n"
#else
#define CHARSIFT_MODULE_DEFAULT                                                                    \
  "Charsift.wdx, else\n"                                                                           \
  "                          Charsift.so, beside charsift)\n"
#endif

// Kept in step with docs/charsift.1.
const char* const kHelp =
    "Prints the Type and Encoding that the Charsift module gives each PATH, one\n"
    "row a path, as soon as it is decided. With -r a folder's entries follow it,\n"
    "sorted by name, depth first; the order does not change with -j.\n"
    "\n"
    "  -r, --recursive         also every entry of a folder, the whole tree\n"
    "  -L, --follow            go into links to folders met in the walk (a loop is\n"
    "                          told, never followed); a link named as a PATH is\n"
    "                          always followed\n"
    "  -j, --jobs N            ask about N files at once, 1 to 256 (default: the\n"
    "                          processors this process may use)\n"
    "      --files-from FILE   also the paths listed in FILE, one a line; a FILE\n"
    "                          of - is standard input (repeatable: read in order)\n"
    "  -0, --null              the paths in FILE end with NUL (find -print0)\n"
    "      --format FORMAT     table: aligned, with a header (the default)\n"
    "                          tsv: no header; in names and values \\t \\n \\r \\\\\n"
    "                            stand for tab, newline, carriage return, backslash\n"
    "                          json: one array; jsonl: one object a line\n"
    "      --field NAME        only this field: Type or Encoding (repeatable)\n"
    "      --where FIELD=VALUE only rows whose FIELD is VALUE, in any letter case\n"
    "                          (repeatable: values of one field are alternatives,\n"
    "                          different fields must all hold),\n"
    "                          e.g. --where 'Encoding=DOS Ru'\n"
    "      --summary           after the rows, how many files got each value, and\n"
    "                          how many paths were not read (in tsv each summary\n"
    "                          line starts with #)\n"
    "      --summary-only      the summary alone\n"
    "      --progress          the progress line on standard error, even on a pipe\n"
    "      --no-progress       no progress line (by default shown on a terminal)\n"
    "      --module PATH       ask this module's exports for every answer, a PATH\n"
    "                          without a slash in this folder (default: a regular\n"
    "                          file's by the detection code built into charsift,\n"
    "                          from one open, under the settings of the module\n"
    "                          " CHARSIFT_MODULE_DEFAULT
    "      --settings FILE     without --module: these settings instead of the\n"
    "                          module's\n"
    "      --explain           the steps of the Encoding chain for each PATH (with\n"
    "                          -r, -L, --files-from), after any settings value\n"
    "                          the module ignores; no option that shapes rows\n"
    "      --check-settings    where the settings are looked for, and each value\n"
    "                          the module ignores, with the rule it breaks\n"
    "  -h, --help              this help\n"
    "      --version           the version\n"
    "      --                  the arguments after it are paths\n"
    "\n"
    "A path that cannot be read is still a row, with the module's answer, and\n"
    "standard error says why, once per path.\n"
    "\n"
    "Exit status: 0 all paths read, 1 some path missing or unreadable (or the\n"
    "output not written), 2 usage error, 3 module not loaded, 4 --explain\n"
    "differs from the module's answer.\n";

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

struct Options {
  bool recursive = false, follow = false, null = false, explain = false, checkSettings = false;
  bool summary = false, summaryOnly = false;
  std::optional<bool> progress; // unset: on a terminal
  unsigned jobs = 0;            // 0: the processors
  Format format = Format::Table;
  std::vector<std::string> fields;
  std::vector<Where> where;
  std::optional<fs::path> module, settings;
  std::vector<fs::path> filesFrom; // read in this order, after the paths
  std::vector<Arg> paths;
  std::vector<std::string> given; // the long name of every option met, for the combinations
};

struct UsageError {
  std::string message;
};

int Usage(const std::string& message) {
  std::fprintf(stderr, "charsift: %s\n%s", message.c_str(), kUsage);
  return 2;
}

std::string Join(const std::vector<std::string>& words, const char* last) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i)
    out += (i == 0 ? "" : i + 1 == words.size() ? last : ", ") + words[i];
  return out;
}

// Sets an option that takes a value; false when name takes none.
bool SetValue(Options& o, const std::string& name, const std::string& value) {
  if (name == "--format") {
    if (value == "table")
      o.format = Format::Table;
    else if (value == "tsv")
      o.format = Format::Tsv;
    else if (value == "json")
      o.format = Format::Json;
    else if (value == "jsonl")
      o.format = Format::Jsonl;
    else
      throw UsageError{"--format takes table, tsv, json or jsonl, not " + value};
  } else if (name == "--field") {
    o.fields.push_back(value);
  } else if (name == "--where") {
    const std::size_t eq = value.find('=');
    if (eq == std::string::npos || eq == 0)
      throw UsageError{"--where takes FIELD=VALUE, not " + value};
    o.where.push_back({value.substr(0, eq), value.substr(eq + 1)});
  } else if (name == "--jobs") {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > static_cast<long>(kMaxJobs))
      throw UsageError{"--jobs takes a number from 1 to " + std::to_string(kMaxJobs) + ", not " +
                       value};
    o.jobs = static_cast<unsigned>(n);
  } else if (name == "--module" || name == "--files-from" || name == "--settings") {
    if (value.empty()) throw UsageError{name + " needs a path, not an empty one"};
    if (name == "--module")
      o.module = FromListBytes(value);
    else if (name == "--settings")
      o.settings = FromListBytes(value);
    else
      o.filesFrom.push_back(FromListBytes(value));
  } else {
    return false;
  }
  return true;
}

// Sets an option that takes no value; false when name is none such.
bool SetFlag(Options& o, const std::string& name) {
  if (name == "--recursive")
    o.recursive = true;
  else if (name == "--follow")
    o.follow = true;
  else if (name == "--null")
    o.null = true;
  else if (name == "--explain")
    o.explain = true;
  else if (name == "--check-settings")
    o.checkSettings = true;
  else if (name == "--summary")
    o.summary = true;
  else if (name == "--summary-only")
    o.summaryOnly = true;
  else if (name == "--progress")
    o.progress = true;
  else if (name == "--no-progress")
    o.progress = false;
  else
    return false;
  o.given.push_back(name);
  return true;
}

bool Given(const Options& o, const char* name) {
  return std::find(o.given.begin(), o.given.end(), name) != o.given.end();
}

// A mode that prints no rows takes none of the options that shape them.
void RefuseWith(const Options& o, const char* mode, std::initializer_list<const char*> names) {
  for (const char* name : names)
    if (Given(o, name)) throw UsageError{std::string(mode) + " does not go with " + name};
}

enum class Asked { Run, Help, Version };

// Reads the command line into o; throws UsageError.
Asked Parse(const std::vector<Arg>& args, Options& o) {
  static const std::pair<char, const char*> kShort[] = {
      {'r', "--recursive"}, {'L', "--follow"}, {'0', "--null"}, {'j', "--jobs"}};
  bool optionsDone = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i].text;
    if (optionsDone || a == "-" || a.empty() || a[0] != '-') {
      o.paths.push_back(args[i]);
      continue;
    }
    if (a == "--") {
      optionsDone = true;
      continue;
    }
    if (a == "-h" || a == "--help") return Asked::Help;
    if (a == "--version") return Asked::Version;
    if (a[1] == '-') { // --name or --name=value
      const std::size_t eq = a.find('=');
      const std::string name = a.substr(0, eq);
      if (eq == std::string::npos && SetFlag(o, name)) continue;
      if (eq != std::string::npos && SetFlag(o, name)) throw UsageError{name + " takes no value"};
      std::string value;
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[i + 1].text;
      } else if (name == "--format" || name == "--field" || name == "--where" || name == "--jobs" ||
                 name == "--module" || name == "--files-from" || name == "--settings") {
        throw UsageError{name + " needs an argument"};
      }
      if (!SetValue(o, name, value)) throw UsageError{"unknown option " + name};
      o.given.push_back(name);
      if (eq != std::string::npos) continue;
      ++i;
      // A path given as an argument of its own keeps its exact form (on Windows, UTF-16).
      if (name == "--module") o.module = args[i].path;
      if (name == "--files-from") o.filesFrom.back() = args[i].path;
      if (name == "--settings") o.settings = args[i].path;
      continue;
    }
    for (std::size_t k = 1; k < a.size(); ++k) { // -rL0, -j4, -j 4
      const auto it = std::find_if(std::begin(kShort), std::end(kShort),
                                   [&](const auto& s) { return s.first == a[k]; });
      if (it == std::end(kShort)) throw UsageError{"unknown option -" + a.substr(k, 1)};
      if (a[k] != 'j') {
        SetFlag(o, it->second);
        continue;
      }
      if (k + 1 < a.size()) {
        SetValue(o, "--jobs", a.substr(k + 1));
      } else {
        if (++i == args.size()) throw UsageError{"-j needs an argument"};
        SetValue(o, "--jobs", args[i].text);
      }
      o.given.push_back("--jobs");
      break;
    }
  }
  const std::initializer_list<const char*> shaping = {"--format",   "--field",        "--where",
                                                      "--summary",  "--summary-only", "--jobs",
                                                      "--progress", "--no-progress"};
  // The module reads its own settings, and --explain checks against it.
  if (o.settings) RefuseWith(o, "--settings", {"--module", "--explain", "--check-settings"});
  if (o.checkSettings) {
    RefuseWith(o, "--check-settings", shaping);
    RefuseWith(o, "--check-settings", {"--explain"});
    RefuseWith(o, "--check-settings", {"--recursive", "--follow", "--null", "--files-from"});
    if (!o.paths.empty()) throw UsageError{"--check-settings takes no path"};
    return Asked::Run;
  }
  if (o.explain) RefuseWith(o, "--explain", shaping);
  if (o.paths.empty() && o.filesFrom.empty()) throw UsageError{"no path given"};
  if (o.null && o.filesFrom.empty()) throw UsageError{"-0 goes with --files-from"};
  return Asked::Run;
}

// The fields asked and printed, and the --where tests, against the module's fields.
struct Plan {
  std::vector<int> queried;    // module field indices, in the module's order
  std::vector<Column> columns; // the printed ones
  std::vector<std::pair<std::size_t, std::vector<std::string>>> tests; // cell, allowed values
};

Plan MakePlan(const Options& o, const Module& module) {
  const std::vector<Field>& fields = module.Fields();
  std::vector<std::string> names;
  for (const Field& f : fields)
    names.push_back(f.name);
  const auto indexOf = [&](const std::string& name, const char* option) {
    const auto it = std::find_if(names.begin(), names.end(),
                                 [&](const std::string& n) { return EqualsIgnoringCase(n, name); });
    if (it == names.end())
      throw UsageError{std::string(option) + " takes " + Join(names, " or ") + ", not " + name};
    return static_cast<int>(it - names.begin());
  };
  std::vector<bool> printed(fields.size(), o.fields.empty()), asked(fields.size(), false);
  for (const std::string& name : o.fields)
    printed[indexOf(name, "--field")] = true;
  // Each test in the module's own spelling, the one the rows print.
  std::vector<std::pair<int, std::string>> wanted;
  for (const Where& w : o.where) {
    const int f = indexOf(w.field, "--where");
    const std::vector<std::string>& choices = fields[f].choices;
    const auto it = std::find_if(choices.begin(), choices.end(), [&](const std::string& c) {
      return EqualsIgnoringCase(c, w.value);
    });
    // "" is the answer of "field empty" (a folder's Encoding), "?" of any failure.
    if (!w.value.empty() && w.value != "?" && it == choices.end())
      throw UsageError{"--where: " + fields[f].name + " has no value '" + w.value + "' (it has " +
                       Join(choices, " and ") + ")"};
    wanted.push_back({f, it == choices.end() ? w.value : *it});
    asked[f] = true;
  }
  Plan plan;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    if (!printed[f] && !asked[f]) continue;
    const std::size_t cell = plan.queried.size();
    plan.queried.push_back(static_cast<int>(f));
    if (printed[f]) plan.columns.push_back({fields[f].name, fields[f].choices, cell});
    if (!asked[f]) continue;
    std::vector<std::string> values;
    for (const auto& [field, value] : wanted)
      if (field == static_cast<int>(f)) values.push_back(value);
    plan.tests.push_back({cell, values});
  }
  return plan;
}

bool Matches(const Plan& plan, const Item& item) {
  for (const auto& [cell, values] : plan.tests)
    if (std::find(values.begin(), values.end(), item.cells[cell]) == values.end()) return false;
  return true;
}

int writeError = 0; // errno of the first failed write to standard output

// A failed write to standard output fails the run, whatever the mode.
int Finished(int status) {
  errno = 0;
  if (std::fflush(stdout) != 0 && writeError == 0) writeError = errno;
  if (!std::ferror(stdout)) return status;
  std::fprintf(stderr, "charsift: cannot write the output%s%s\n", writeError ? ": " : "",
               writeError ? std::strerror(writeError) : "");
  return 1;
}

// Every list is opened before anything is printed: a bad one ends the run at once.
bool OpenLists(const Options& o, PathLists& lists) {
  for (const fs::path& name : o.filesFrom) {
    std::string why;
    std::FILE* file = OpenList(name, why);
    if (file == nullptr) {
      std::fprintf(stderr, "charsift: %s: cannot read the list: %s\n",
                   TableEscaped(Shown(name)).c_str(), why.c_str());
      return false;
    }
    lists.emplace_back(file, o.null ? '\0' : '\n', name);
  }
  return true;
}

// Tells a list that failed part way; true when one did.
bool ListsFailed(const PathLists& lists) {
  bool failed = false;
  for (const PathList& list : lists)
    if (list.Failed()) {
      std::fprintf(stderr, "charsift: %s: cannot read the list: %s\n",
                   TableEscaped(Shown(list.Name())).c_str(), std::strerror(list.Error()));
      failed = true;
    }
  return failed;
}

// Whether a regular file opens: the reason of its row when it does not.
void CheckRead(Item& item) {
  if (!item.checkRead) return;
  item.problem = ReadProblem(item.path);
  item.unread = !item.problem.empty();
}

void Tell(const Item& item) {
  std::fprintf(stderr, "charsift: %s: %s\n", TableEscaped(Shown(item.path)).c_str(),
               item.problem.c_str());
}

std::vector<fs::path> PathsOf(const Options& o) {
  std::vector<fs::path> paths;
  for (const Arg& arg : o.paths)
    paths.push_back(arg.path);
  return paths;
}

// --explain: the paths the listing would give rows, walked the same way; a
// path the listing tells a reason for gets the same reason and status here.
// Each explanation is checked against the module's own answer.
int RunExplain(const Options& o, const fs::path& moduleFile, const Module& module) {
  const std::vector<Field>& fields = module.Fields();
  const auto encoding = std::find_if(fields.begin(), fields.end(),
                                     [](const Field& f) { return f.name == "Encoding"; });
  if (encoding == fields.end()) {
    std::fprintf(stderr, "charsift: %s offers no Encoding field\n",
                 TableEscaped(Shown(moduleFile)).c_str());
    return 3;
  }
  const int field = static_cast<int>(encoding - fields.begin());
  PathLists lists;
  if (!OpenLists(o, lists)) return 1;
  int status = 0;
  std::vector<fs::path> explained;
  Walker walker({o.recursive, o.follow});
  walker.Run(PathsOf(o), lists, [&](Item&& item) {
    CheckRead(item);
    if (!item.problem.empty()) {
      Tell(item);
      status = 1;
    }
    // A file that does not open is still explained: the chain's answer is the module's.
    if (item.kind == Kind::File || item.kind == Kind::Folder) explained.push_back(item.path);
    return true;
  });
  if (ListsFailed(lists)) status = 1;
  CheckSettings(moduleFile, stdout, false);
  return std::max(status, Explain(moduleFile, explained, stdout, [&](const fs::path& path) {
                    return module.Query(field, ToHost(path));
                  }));
}

int Run(const std::vector<Arg>& args) {
  Options o;
  try {
    switch (Parse(args, o)) {
    case Asked::Help:
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    case Asked::Version:
      std::printf("charsift %s\n", CHARSIFT_VERSION);
      return 0;
    case Asked::Run:
      break;
    }
  } catch (const UsageError& e) {
    return Usage(e.message);
  }

  const fs::path moduleFile = o.module ? *o.module : Module::BesideSelf();
  if (o.checkSettings) return CheckSettings(moduleFile, stdout, true) == 0 ? 0 : 1;
  Module module;
  if (!module.Load(moduleFile)) return 3;
  if (o.explain) return RunExplain(o, moduleFile, module);
  Plan plan;
  try {
    plan = MakePlan(o, module);
  } catch (const UsageError& e) {
    return Usage(e.message);
  }
  PathLists lists;
  if (!OpenLists(o, lists)) return 1;
  const std::vector<fs::path> paths = PathsOf(o);

  const bool summaryOnly = o.summaryOnly;
  Output output(o.format, plan.columns, !summaryOnly, o.summary || summaryOnly, stdout);
  Progress progress(o.progress.value_or(IsTerminal(stderr)), IsTerminal(stdout));
  if (progress.On()) ClearLineOnSignals();
  Walker walker({o.recursive, o.follow});
  int status = 0;

  PoolHooks hooks;
  hooks.produce = [&](const Walker::Push& push) { walker.Run(paths, lists, push); };
  Engine engine;
  if (!o.module) engine.Start(moduleFile, o.settings ? &*o.settings : nullptr, module.Fields());
  hooks.work = [&](Item& item) {
    const HostString name = ToHost(item.path);
    // A file the engine opened is readable: no second look for a reason.
    if (engine.Answer(name, plan.queried, item.cells)) return;
    CheckRead(item);
    for (const int field : plan.queried)
      item.cells.push_back(module.Query(field, name));
  };
  hooks.done = [&](Item& item) {
    if (!item.problem.empty()) {
      progress.Hide();
      Tell(item);
      status = 1;
    }
    if (Matches(plan, item)) {
      progress.BeforeRow();
      output.Row(item);
    }
    progress.Done(item);
    if (std::ferror(stdout) == 0) return true;
    writeError = errno;
    return false;
  };
  hooks.idle = [&] {
    // Whatever is decided goes out before the wait for the next row; output
    // that is gone ends the run here, not at a next row that may never come.
    if (std::fflush(stdout) != 0 && writeError == 0) writeError = errno;
    progress.Tick();
    return std::ferror(stdout) == 0;
  };

  output.Begin();
  const bool completed = RunOrdered(o.jobs ? o.jobs : UsableProcessors(), kWindow, hooks);
  if (completed) output.End();
  progress.Finish();
  if (ListsFailed(lists)) status = 1;
  if (!completed) {
    // The walk may still wait on its input, holding its lock: end here, not
    // in its thread's join nor in the stream's exit-time close.
    status = Finished(status);
    std::fflush(stderr);
    EndConsoleOutput();
    std::_Exit(status);
  }
  return status;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  BeginConsoleOutput();
  std::vector<Arg> args;
  for (int i = 1; i < argc; ++i)
    args.push_back({Utf8(argv[i]), fs::path(argv[i])});
  const int status = Finished(Run(args));
  EndConsoleOutput();
  return status;
}
#else
int main(int argc, char** argv) {
  std::vector<Arg> args;
  for (int i = 1; i < argc; ++i)
    args.push_back({argv[i], fs::path(argv[i])});
  return Finished(Run(args));
}
#endif
