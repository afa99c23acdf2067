// Loading the module the way the file manager does: finding it beside
// charsift, its fields and their choices, and asking it for a value.
#pragma once

#include <string>
#include <vector>

#include "Platform.h"

namespace charsift::cli {

struct Field {
  std::string name;
  std::vector<std::string> choices; // the values the module may answer, before any query
};

class Module {
public:
  // Where charsift looks for the module, in order: beside itself by the
  // name it ships under (on Linux the name Linux hosts load), by the one its
  // build gives it, then where a package puts it.
  static std::vector<fs::path> Places();
  // The first of the places that holds a file; empty when none does.
  static fs::path Found(const std::vector<fs::path>& places);

  // Loads it and reads its fields; false with a message on stderr. The
  // module stays loaded until the process ends.
  bool Load(const fs::path& path);

  const std::vector<Field>& Fields() const { return fields_; }

  // The cell the host shows for field number index of the file: the value,
  // "" for "field empty", "?" for any other answer. Safe from any thread.
  std::string Query(int index, const HostString& name) const;

private:
  using GetSupportedFieldFn = int(CONTPLUG_CALL*)(int, char*, char*, int);
  using GetValueWFn = int(CONTPLUG_CALL*)(const ContPlugChar*, int, int, void*, int, int);
  GetSupportedFieldFn getSupportedField_ = nullptr;
  GetValueWFn getValueW_ = nullptr;
  std::vector<Field> fields_;
};

} // namespace charsift::cli
