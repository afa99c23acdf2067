// charsift's run: which mode the command line asks for, the plan of fields
// and tests, and the listing's loop that puts the walk, the pool and the
// output together.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "AsciiText.h"
#include "CheckSettings.h"
#include "Engine.h"
#include "ExitStatus.h"
#include "Help.h"
#include "Output.h"
#include "Platform.h"
#include "Pool.h"
#include "Reader.h"
#include "Run.h"

namespace charsift::cli {

namespace {

constexpr std::size_t kWindow = 1024; // items in flight between the walk and the output

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
               writeError ? ErrnoReason(writeError).c_str() : "");
  return kExitTrouble;
}

// The rows: the walk on its thread, the queries on the pool's, and each row
// out in the walk's order as soon as it is decided.
int RunListing(const Options& o, const fs::path& moduleFile, const Module& module) {
  Plan plan;
  try {
    plan = MakePlan(o, module);
  } catch (const UsageError& e) {
    return Usage(e.message);
  }
  PathLists lists;
  if (!OpenLists(o, lists)) return kExitTrouble;
  const std::vector<fs::path> paths = PathsOf(o);

  const bool summaryOnly = o.summaryOnly;
  Output output(o.format, plan.columns, !summaryOnly, o.summary || summaryOnly, stdout);
  Progress progress(o.progress.value_or(IsTerminal(stderr)), IsTerminal(stdout));
  if (progress.On()) ClearLineOnSignals();
  Walker walker({o.recursive, o.follow});
  int status = kExitOk;

  PoolHooks hooks;
  hooks.produce = [&](const Walker::Push& push) { walker.Run(paths, lists, push); };
  Engine engine;
  if (!o.module) engine.Start(moduleFile, o.settings ? &*o.settings : nullptr, module.Fields());
  if (const std::size_t size = o.module ? 0 : engine.SampleSize(plan.queried))
    ReadAhead(hooks, size, o.depth ? o.depth : kDefaultDepth);
  hooks.work = [&](Item& item) {
    if (item.row && !engine.AnswerFromSample(item, plan.queried))
      AnswerItem(&engine, module, plan.queried, item);
  };
  hooks.done = [&](Item& item) {
    if (!item.problem.empty()) {
      progress.Hide();
      Tell(item);
      status = kExitTrouble;
    }
    if (!item.row) return true;
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
  if (ListsFailed(lists)) status = kExitTrouble;
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

int Run(const std::vector<Arg>& args) {
  Options o;
  try {
    switch (Parse(args, o)) {
    case Asked::Help:
      PrintHelp();
      return kExitOk;
    case Asked::Version:
      PrintVersion();
      return kExitOk;
    case Asked::Run:
      break;
    }
  } catch (const UsageError& e) {
    return Usage(e.message);
  }

  // Settings that are no file would leave the defaults in force unseen.
  if (o.settings) {
    const Look look = LookAt(*o.settings);
    const std::string why = !look.exists || !look.why.empty() ? look.why
                            : look.target == Kind::Folder     ? "is a folder"
                            : look.target != Kind::File       ? "not a regular file"
                                                              : ReadProblem(*o.settings);
    if (!why.empty()) return Usage("--settings " + TableEscaped(Shown(*o.settings)) + ": " + why);
  }
  const std::vector<fs::path> places = Module::Places();
  fs::path moduleFile = o.module ? *o.module : Module::Found(places);
  // The settings check reads the settings beside where the module would be;
  // a module named must load, as for a plain run.
  if (o.checkSettings) {
    if (moduleFile.empty()) moduleFile = places.front();
    if (Module module; o.module && !module.Load(moduleFile)) return kExitNoModule;
    return CheckSettings(moduleFile, stdout, true) == 0 ? kExitOk : kExitTrouble;
  }
  if (moduleFile.empty()) {
    std::string looked;
    for (std::size_t i = 0; i < places.size(); ++i)
      looked += (i == 0                   ? ""
                 : i + 1 == places.size() ? " nor "
                                          : ", ") +
                TableEscaped(Shown(places[i]));
    std::fprintf(stderr, "charsift: cannot find the module: not at %s\n", looked.c_str());
    return kExitNoModule;
  }
  Module module;
  if (!module.Load(moduleFile)) return kExitNoModule;
  if (o.explain) return RunExplain(o, moduleFile, module);
  if (o.convert.on) return RunConvert(o, moduleFile, module);
  return RunListing(o, moduleFile, module);
}

} // namespace

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

bool ListsFailed(const PathLists& lists) {
  bool failed = false;
  for (const PathList& list : lists)
    if (list.Failed()) {
      std::fprintf(stderr, "charsift: %s: cannot read the list: %s\n",
                   TableEscaped(Shown(list.Name())).c_str(), ErrnoReason(list.Error()).c_str());
      failed = true;
    }
  return failed;
}

std::vector<fs::path> PathsOf(const Options& o) {
  std::vector<fs::path> paths;
  for (const Arg& arg : o.paths)
    for (fs::path& path : Expanded(arg.path))
      paths.push_back(std::move(path));
  return paths;
}

void CheckRead(Item& item) {
  if (!item.checkRead) return;
  item.problem = ReadProblem(item.path);
  item.unread = !item.problem.empty();
}

void AnswerItem(const Engine* engine, const Module& module, const std::vector<int>& queried,
                Item& item) {
  const HostString name = ToHost(item.path);
  // A file the engine opened is readable: no second look for a reason.
  if (engine && engine->Answer(name, queried, item.cells)) return;
  CheckRead(item);
  for (const int field : queried)
    item.cells.push_back(module.Query(field, name));
}

void Tell(const Item& item) {
  std::fprintf(stderr, "charsift: %s: %s\n", TableEscaped(Shown(item.path)).c_str(),
               item.problem.c_str());
}

int Main(const std::vector<fs::path>& args) {
  BeginConsoleOutput();
  // An argument's text is the name as it prints: its bytes, or on Windows its UTF-8.
  std::vector<Arg> texts;
  for (const fs::path& arg : args)
    texts.push_back({Shown(arg), arg});
  const int status = Finished(Run(texts));
  EndConsoleOutput();
  return status;
}

} // namespace charsift::cli
