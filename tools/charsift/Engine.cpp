// Settings for the linked-in detection code, and the cells from its answer.
#include "Engine.h"

#include "Charsift.h"
#include "SingleOpen.h"

namespace charsift::cli {

void Engine::Start(const fs::path& modulePath, const fs::path* settingsFile,
                   const std::vector<Field>& fields) {
  ResetSettings();
  if (settingsFile) {
    LoadSettingsFile(SettingsName(*settingsFile));
  } else {
    LoadModuleSettings(modulePath);
  }
  kinds_.clear();
  for (const Field& field : fields)
    kinds_.push_back(field.name == FieldTable[kTypeField].name       ? kTypeField
                     : field.name == FieldTable[kEncodingField].name ? kEncodingField
                                                                     : -1);
  started_ = true;
}

bool Engine::Answer(const HostString& name, const std::vector<int>& queried,
                    std::vector<std::string>& cells) const {
  if (!started_) return false;
  bool wantType = false, wantEncoding = false;
  for (const int field : queried) {
    const int kind = field >= 0 && field < static_cast<int>(kinds_.size()) ? kinds_[field] : -1;
    if (kind < 0) return false;
    (kind == kTypeField ? wantType : wantEncoding) = true;
  }
  SingleOpenAnswer answer;
  if (!AnswerBySingleOpen(name, wantType, wantEncoding, answer)) return false;
  for (const int field : queried)
    cells.push_back(kinds_[field] == kTypeField ? answer.type : answer.encoding);
  return true;
}

} // namespace charsift::cli
