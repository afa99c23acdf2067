// The module's exports as the host sees them.
#include "Module.h"

#include <cstdio>
#include <cstring>
#include <system_error>

#include "ModuleNames.h"
#include "Output.h"

namespace charsift::cli {

namespace {

constexpr int kValueSize = 64;
constexpr int kMaxFields = 64; // a module that never answers 0 stops here
constexpr int kNameSize = 256; // both buffers of ContentGetSupportedField

std::vector<std::string> SplitChoices(const std::string& units) {
  std::vector<std::string> choices;
  std::size_t start = 0;
  while (start <= units.size() && !units.empty()) {
    const std::size_t bar = units.find('|', start);
    choices.push_back(units.substr(start, bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return choices;
}

} // namespace

std::vector<fs::path> Module::Places() {
  const fs::path dir = SelfDir();
  std::vector<fs::path> places{dir / CHARSIFT_MODULE_SHIPPED};
  // Only the Linux build names its module otherwise than it ships.
  if (std::strcmp(CHARSIFT_MODULE_FILE, CHARSIFT_MODULE_SHIPPED) != 0)
    places.push_back(dir / CHARSIFT_MODULE_FILE);
  for (const fs::path& place : ModulePlacesElsewhere(dir))
    places.push_back(place);
  return places;
}

fs::path Module::Found(const std::vector<fs::path>& places) {
  std::error_code ec;
  for (const fs::path& place : places)
    if (fs::exists(place, ec)) return place;
  return {};
}

bool Module::Load(const fs::path& given) {
  if (given.empty()) {
    std::fprintf(stderr, "charsift: cannot load module: the path is empty\n");
    return false;
  }
  // A module path is a path: a bare name is a file here, never one the
  // loader would look for on its library path.
  const fs::path path = given.has_parent_path() ? given : fs::path(".") / given;
  // The system's reason in the host's words, before the loader's own message.
  const Look look = LookAt(path);
  if (!look.exists || !look.why.empty() || look.target == Kind::Folder) {
    std::fprintf(stderr, "charsift: cannot load module %s: %s\n", TableEscaped(Shown(path)).c_str(),
                 look.target == Kind::Folder ? "is a folder" : look.why.c_str());
    return false;
  }
  Library library;
  const std::string error = library.Open(path);
  if (!error.empty()) {
    std::fprintf(stderr, "charsift: cannot load module %s: %s\n", TableEscaped(Shown(path)).c_str(),
                 TableEscaped(error).c_str());
    return false;
  }
  void* fieldProc = library.Find(CHARSIFT_EXPORT_FIELDS);
  void* valueProc = library.Find(CHARSIFT_EXPORT_VALUE);
  void* valueWProc = library.Find(CHARSIFT_EXPORT_VALUE_W);
  if (!fieldProc || !valueProc || !valueWProc) {
    std::fprintf(stderr, "charsift: %s lacks the plug-in exports\n",
                 TableEscaped(Shown(path)).c_str());
    return false;
  }
  getSupportedField_ = reinterpret_cast<GetSupportedFieldFn>(fieldProc);
  getValueW_ = reinterpret_cast<GetValueWFn>(valueWProc);
  char name[kNameSize], units[kNameSize];
  for (int i = 0; i < kMaxFields; ++i) {
    std::memset(name, 0, sizeof name);
    std::memset(units, 0, sizeof units);
    if (getSupportedField_(i, name, units, kNameSize) <= 0) break;
    fields_.push_back({std::string(name, strnlen(name, kNameSize)),
                       SplitChoices(std::string(units, strnlen(units, kNameSize)))});
  }
  if (fields_.empty()) {
    std::fprintf(stderr, "charsift: %s offers no fields\n", TableEscaped(Shown(path)).c_str());
    return false;
  }
  return true;
}

std::string Module::Query(int index, const HostString& name) const {
  char value[kValueSize] = {};
  const int result = getValueW_(name.c_str(), index, 0, value, kValueSize, 0);
  if (result == FT_MULTIPLE_CHOICE) return std::string(value, strnlen(value, kValueSize));
  return result == FT_FIELD_EMPTY ? "" : "?";
}

} // namespace charsift::cli
