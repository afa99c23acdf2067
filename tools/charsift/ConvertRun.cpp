// --to-utf8's run: each path walked in the listing's order, its label asked
// as the listing asks it, the file converted in place or into another
// folder, or refused, and a row for each path.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "Charsift.h"
#include "Convert.h"
#include "Engine.h"
#include "ExitStatus.h"
#include "Help.h"
#include "Output.h"
#include "Run.h"

namespace charsift::cli {

namespace {

// The actions, as rows and the summary name them; a dry run says the same.
const char* const kConverted = "converted";
const char* const kAlreadyUtf8 = "already UTF-8";
const char* const kSkipped = "skipped";
const char* const kRefused = "refused";

struct Verdict {
  const char* action;
  std::string reason;
};

bool IsSeparator(NativeString::value_type c) {
  const auto code = static_cast<std::make_unsigned_t<NativeString::value_type>>(c);
  return code > 0 && code < 0x80 && std::strchr(kSeparators, static_cast<char>(code)) != nullptr;
}

// Where --output-dir puts each file: at its place relative to the folder
// that holds the path named, so that a named folder comes along by its own
// name, and an absolute path or one with .. cannot lead out of the folder.
// A path named "." or ".." (or a root) is the top itself.
class Destinations {
public:
  explicit Destinations(fs::path dir) : dir_(std::move(dir)) {}

  fs::path For(const Item& item) {
    const NativeString& text = item.path.native();
    NativeString rest;
    if (item.named) {
      root_ = text;
      std::size_t end = text.size();
      while (end > 1 && IsSeparator(text[end - 1]))
        --end;
      std::size_t start = end;
      while (start > 0 && !IsSeparator(text[start - 1]))
        --start;
      base_ = text.substr(start, end - start);
      const NativeString dot(1, '.'), dots(2, '.');
      if (base_ == dot || base_ == dots || (end == 1 && IsSeparator(text[0]))) base_.clear();
    } else {
      std::size_t start = root_.size();
      while (start < text.size() && IsSeparator(text[start]))
        ++start;
      rest = text.substr(start);
    }
    fs::path to = dir_;
    if (!base_.empty()) to = to / fs::path(base_);
    if (!rest.empty()) to = to / fs::path(rest);
    return to;
  }

private:
  fs::path dir_;
  NativeString root_, base_;
};

class Converter {
public:
  Converter(const Conversion& c, std::optional<CodePage> from, unsigned ansi)
      : c_(c), from_(std::move(from)), ansi_(ansi), places_(c.outputDir.value_or(fs::path())) {}

  Verdict Do(const Item& item, const std::string& label) {
    // Every item, in order: the places of a folder's entries follow from it.
    const fs::path to = c_.outputDir ? places_.For(item) : fs::path();
    if (!item.problem.empty()) return {kRefused, item.problem};
    const LabelPlan plan = PlanFor(label, ansi_, c_.dosCodePage, from_);
    if (item.kind == Kind::Folder) return {kSkipped, "a folder"};
    if (plan.plan == Plan::AlreadyUtf8) return {kAlreadyUtf8, ""};
    if (plan.plan == Plan::Skip) return {kSkipped, plan.reason};

    std::string bytes, why, utf8;
    FileState state;
    if (!ReadWhole(item.path, bytes, state, why)) return {kRefused, why};
    if (c_.inPlace && state.links > 1)
      return {kRefused, "has " + std::to_string(state.links) +
                            " hard links, which a new file would part: left as it is"};
    if (plan.ansi && std::none_of(bytes.begin(), bytes.end(), [](char b) { return b & 0x80; }))
      return {kAlreadyUtf8, "ASCII"};
    if (std::string binary = BinaryCodeIn(plan.page, bytes); !binary.empty())
      return {kRefused, binary};
    const Decoded decoded = ToUtf8(plan.page, bytes, utf8);
    if (!decoded.ok) return {kRefused, decoded.why};
    // A page named with --from is the user's word; a label's is a guess.
    if (!from_)
      if (std::string odd = ImplausibleCyrillic(plan.page, bytes); !odd.empty())
        return {kRefused, odd};
    if (utf8 == bytes) return {kAlreadyUtf8, "reads the same in UTF-8"};
    const std::string from = "from " + NameOf(plan.page);
    if (c_.outputDir) {
      if (c_.dryRun) {
        std::error_code ec;
        if (fs::exists(to, ec)) return {kRefused, "exists in the output folder: never overwritten"};
        return {kConverted, from + " (dry run) to " + Shown(to)};
      }
      if (!WriteNew(to, utf8, why)) return {kRefused, why};
      return {kConverted, from + " to " + Shown(to)};
    }
    if (c_.dryRun) {
      // Looked for beside the name given: a link's backup goes beside its target.
      std::error_code ec;
      if (c_.backupSuffix && fs::exists(fs::path(item.path.native() + *c_.backupSuffix), ec))
        return {kRefused, "the backup exists: never overwritten"};
      return {kConverted, from + " (dry run)"};
    }
    if (!Replace(item.path, state, utf8, c_.backupSuffix ? &*c_.backupSuffix : nullptr, why))
      return {kRefused, why};
    return {kConverted, from};
  }

private:
  const Conversion& c_;
  std::optional<CodePage> from_;
  unsigned ansi_;
  Destinations places_;
};

} // namespace

int RunConvert(const Options& o, const fs::path& moduleFile, const Module& module) {
  const Conversion& c = o.convert;
  std::optional<CodePage> from;
  if (c.from) from = CodePage{0, *c.from};
  const CodePage ansi{c.ansiCodePage ? c.ansiCodePage : DefaultAnsiCodePage(), ""};
  // The page named first: it is what the user asked for.
  std::vector<std::pair<CodePage, const char*>> pages;
  if (from) pages.push_back({*from, "--from"});
  pages.push_back({ansi, "--ansi-codepage"});
  pages.push_back({CodePage{c.dosCodePage, ""}, "--dos-codepage"});
  for (const auto& [page, option] : pages)
    if (!Knows(page))
      return Usage(std::string(option) + ": the system knows no code page " + NameOf(page));

  const std::vector<Field>& fields = module.Fields();
  std::vector<int> queried;
  for (std::size_t f = 0; f < fields.size(); ++f)
    if (fields[f].name == FieldTable[kEncodingField].name) queried.push_back(static_cast<int>(f));
  if (queried.empty()) {
    std::fprintf(stderr, "charsift: the module has no %s field\n", FieldTable[kEncodingField].name);
    return kExitNoModule;
  }
  PathLists lists;
  if (!OpenLists(o, lists)) return kExitTrouble;
  const std::vector<fs::path> paths = PathsOf(o);

  // The engine's settings also give the binary codes the whole-file check takes.
  Engine engine;
  engine.Start(moduleFile, o.settings ? &*o.settings : nullptr, fields);
  const std::vector<Column> columns = {
      {fields[queried[0]].name, fields[queried[0]].choices, 0},
      {"Action", {kConverted, kAlreadyUtf8, kSkipped, kRefused}, 1},
      {"Reason", {}, 2, false}};
  Output output(o.format, columns, !o.summaryOnly, o.summary || o.summaryOnly, stdout);
  if (!c.dryRun) CleanUpOnSignals();
  Converter converter(c, from, ansi.number);
  Walker walker({o.recursive, o.follow});
  int status = kExitOk;

  output.Begin();
  // One file at a time, on this thread: a signal then finds at most one
  // temporary file to remove, and no other thread renaming.
  walker.Run(paths, lists, [&](Item&& item) {
    if (item.row) AnswerItem(o.module ? nullptr : &engine, module, queried, item);
    if (!item.problem.empty()) {
      Tell(item);
      status = kExitTrouble;
    }
    if (!item.row) return true;
    const Verdict verdict = converter.Do(item, item.cells[0]);
    if (verdict.action == kRefused) status = kExitTrouble;
    item.cells.push_back(verdict.action);
    item.cells.push_back(verdict.reason);
    output.Row(item);
    return std::ferror(stdout) == 0;
  });
  output.End();
  if (ListsFailed(lists)) status = kExitTrouble;
  return status;
}

} // namespace charsift::cli
