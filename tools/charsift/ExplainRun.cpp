// --explain's run: the walk's paths, their reasons, the settings check and
// the explanations, with the exit status they make.
#include <algorithm>
#include <cstdio>

#include "CheckSettings.h"
#include "ExitStatus.h"
#include "Explain.h"
#include "Output.h"
#include "Run.h"

namespace charsift::cli {

int RunExplain(const Options& o, const fs::path& moduleFile, const Module& module) {
  const std::vector<Field>& fields = module.Fields();
  const auto encoding = std::find_if(fields.begin(), fields.end(),
                                     [](const Field& f) { return f.name == "Encoding"; });
  if (encoding == fields.end()) {
    std::fprintf(stderr, "charsift: %s offers no Encoding field\n",
                 TableEscaped(Shown(moduleFile)).c_str());
    return kExitNoModule;
  }
  const int field = static_cast<int>(encoding - fields.begin());
  PathLists lists;
  if (!OpenLists(o, lists)) return kExitTrouble;
  int status = kExitOk;
  std::vector<fs::path> explained;
  Walker walker({o.recursive, o.follow});
  walker.Run(PathsOf(o), lists, [&](Item&& item) {
    CheckRead(item);
    if (!item.problem.empty()) {
      Tell(item);
      status = kExitTrouble;
    }
    // A file that does not open is still explained: the chain's answer is the module's.
    if (item.kind == Kind::File || item.kind == Kind::Folder) explained.push_back(item.path);
    return true;
  });
  if (ListsFailed(lists)) status = kExitTrouble;
  CheckSettings(moduleFile, stdout, false);
  return std::max(status, Explain(moduleFile, explained, stdout, [&](const fs::path& path) {
                    return module.Query(field, ToHost(path));
                  }));
}

} // namespace charsift::cli
