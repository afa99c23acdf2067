// The option parser: long and short forms, values inline or after, and the
// combinations each mode refuses.
#include "Options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <initializer_list>

namespace charsift::cli {

std::string Join(const std::vector<std::string>& words, const char* last) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i)
    out += (i == 0 ? "" : i + 1 == words.size() ? last : ", ") + words[i];
  return out;
}

namespace {

constexpr unsigned kMaxJobs = 256;
constexpr long kMaxCodePage = 65535;

// The options that take a value.
const char* const kTakeValues[] = {"--format",     "--field",  "--where",         "--jobs",
                                   "--depth",      "--module", "--files-from",    "--settings",
                                   "--output-dir", "--from",   "--ansi-codepage", "--dos-codepage"};

// A number from 1 to most, or a usage error naming the option.
unsigned Number(const std::string& name, const std::string& value, long most) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > most)
    throw UsageError{name + " takes a number from 1 to " + std::to_string(most) + ", not " + value};
  return static_cast<unsigned>(n);
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
    o.jobs = Number(name, value, kMaxJobs);
  } else if (name == "--depth") {
    o.depth = Number(name, value, kMaxJobs);
  } else if (name == "--ansi-codepage") {
    o.convert.ansiCodePage = Number(name, value, kMaxCodePage);
  } else if (name == "--dos-codepage") {
    o.convert.dosCodePage = Number(name, value, kMaxCodePage);
  } else if (name == "--from") {
    if (value.empty()) throw UsageError{"--from needs a code page, not an empty name"};
    o.convert.from = value;
  } else if (name == "--module" || name == "--files-from" || name == "--settings" ||
             name == "--output-dir") {
    if (value.empty()) throw UsageError{name + " needs a path, not an empty one"};
    if (name == "--module")
      o.module = FromListBytes(value);
    else if (name == "--settings")
      o.settings = FromListBytes(value);
    else if (name == "--output-dir")
      o.convert.outputDir = FromListBytes(value);
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
  else if (name == "--to-utf8")
    o.convert.on = true;
  else if (name == "--in-place")
    o.convert.inPlace = true;
  else if (name == "--dry-run")
    o.convert.dryRun = true;
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

// --to-utf8 writes one file at a time and prints every path's row; its
// options mean nothing without it.
void RefuseConversion(const Options& o) {
  const Conversion& c = o.convert;
  if (!c.on) {
    for (const char* name : {"--in-place", "--output-dir", "--dry-run", "--backup", "--from",
                             "--ansi-codepage", "--dos-codepage"})
      if (Given(o, name)) throw UsageError{std::string(name) + " goes with --to-utf8"};
    return;
  }
  RefuseWith(o, "--to-utf8",
             {"--explain", "--check-settings", "--where", "--field", "--jobs", "--depth",
              "--progress", "--no-progress"});
  if (c.inPlace == c.outputDir.has_value())
    throw UsageError{"--to-utf8 takes either --in-place or --output-dir DIR"};
  if (c.backupSuffix && !c.inPlace) throw UsageError{"--backup goes with --in-place"};
}

} // namespace

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
      if (name == "--backup") { // its value only inline: a path may follow it
        const std::string suffix = eq == std::string::npos ? ".orig" : a.substr(eq + 1);
        if (suffix.empty() || suffix.find_first_of(kSeparators) != std::string::npos)
          throw UsageError{"--backup takes a suffix without a separator, not '" + suffix + "'"};
        o.convert.backupSuffix = FromListBytes(suffix).native();
        o.given.push_back(name);
        continue;
      }
      if (eq == std::string::npos && SetFlag(o, name)) continue;
      if (eq != std::string::npos && SetFlag(o, name)) throw UsageError{name + " takes no value"};
      std::string value;
      if (eq != std::string::npos) {
        value = a.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        value = args[i + 1].text;
      } else if (std::find(std::begin(kTakeValues), std::end(kTakeValues), name) !=
                 std::end(kTakeValues)) {
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
      if (name == "--output-dir") o.convert.outputDir = args[i].path;
      continue;
    }
    for (std::size_t k = 1; k < a.size(); ++k) { // -rL0, -j4, -j 4, -rh
      if (a[k] == 'h') return Asked::Help;
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
  const std::initializer_list<const char*> shaping = {
      "--format", "--field", "--where",    "--summary",    "--summary-only",
      "--jobs",   "--depth", "--progress", "--no-progress"};
  RefuseConversion(o);
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

} // namespace charsift::cli
