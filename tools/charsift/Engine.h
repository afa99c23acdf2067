// The answers charsift gives without --module: a regular file's fields from
// one open by the detection code linked in, under the settings the module
// beside charsift reads (or another file's); everything else from the
// module's exports.
#pragma once

#include <string>
#include <vector>

#include "Module.h"
#include "Walk.h"

struct SingleOpenAnswer;

namespace charsift::cli {

class Engine {
public:
  // Loads the settings (settingsFile, or else those of modulePath) and takes
  // the module's fields by name; a field it does not know leaves every
  // answer to the exports.
  void Start(const fs::path& modulePath, const fs::path* settingsFile,
             const std::vector<Field>& fields);

  // The cells of the queried fields, as Module::Query would give them; false
  // when the exports must answer (not started, or no regular file that opens).
  bool Answer(const HostString& name, const std::vector<int>& queried,
              std::vector<std::string>& cells) const;

  // The bytes a reader ahead of the workers takes from the start of each
  // regular file for these fields; 0 when the exports answer them.
  std::size_t SampleSize(const std::vector<int>& queried) const;
  // The cells from the item's sample, read that far or to the file's end;
  // false when it holds none (the worker then calls Answer).
  bool AnswerFromSample(Item& item, const std::vector<int>& queried) const;

private:
  bool Wants(const std::vector<int>& queried, bool& type, bool& encoding) const;
  void Cells(const SingleOpenAnswer& answer, const std::vector<int>& queried,
             std::vector<std::string>& cells) const;

  bool started_ = false;
  std::vector<int> kinds_; // per module field: kTypeField, kEncodingField or -1
};

} // namespace charsift::cli
