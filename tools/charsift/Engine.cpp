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

bool Engine::Wants(const std::vector<int>& queried, bool& type, bool& encoding) const {
  if (!started_) return false;
  type = encoding = false;
  for (const int field : queried) {
    const int kind = field >= 0 && field < static_cast<int>(kinds_.size()) ? kinds_[field] : -1;
    if (kind < 0) return false;
    (kind == kTypeField ? type : encoding) = true;
  }
  return true;
}

void Engine::Cells(const SingleOpenAnswer& answer, const std::vector<int>& queried,
                   std::vector<std::string>& cells) const {
  for (const int field : queried)
    cells.push_back(kinds_[field] == kTypeField ? answer.type : answer.encoding);
}

bool Engine::Answer(const HostString& name, const std::vector<int>& queried,
                    std::vector<std::string>& cells) const {
  bool wantType = false, wantEncoding = false;
  SingleOpenAnswer answer;
  if (!Wants(queried, wantType, wantEncoding) ||
      !AnswerBySingleOpen(name, wantType, wantEncoding, answer))
    return false;
  Cells(answer, queried, cells);
  return true;
}

std::size_t Engine::SampleSize(const std::vector<int>& queried) const {
  bool wantType = false, wantEncoding = false;
  return Wants(queried, wantType, wantEncoding) ? ::SampleSize(wantEncoding) : 0;
}

bool Engine::AnswerFromSample(Item& item, const std::vector<int>& queried) const {
  bool wantType = false, wantEncoding = false;
  if (!item.sampled || !Wants(queried, wantType, wantEncoding)) return false;
  SingleOpenAnswer answer;
  ::AnswerFromSample(item.sample.data(), static_cast<DWORD>(item.sample.size() - 1), item.empty,
                     wantType, wantEncoding, answer);
  Cells(answer, queried, item.cells);
  // The window holds items by the thousand: their bytes go as soon as they are used.
  std::vector<unsigned char>().swap(item.sample);
  return true;
}

} // namespace charsift::cli
