// The module's own operations behind the exports.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "CIniFile.h"
#include "VorFProc.h"

struct FieldRow {
  const char* name;
  int type;
  const char* choices;
};

// The rows of FieldTable, by the field index the host passes.
constexpr int kTypeField = 0;
constexpr int kEncodingField = 1;
extern const FieldRow FieldTable[2];

// ---- Labels: every value a field may take, written once -------------------------
// Enumerator, text, field: Type's values, then Encoding's. The field table's
// choices are built from these rows in this order; the probes answer with the
// enumerators.
#define CHARSIFT_TYPE_LABELS(X, field)                                                             \
  X(Folder, "Folder", field) X(BinaryType, "Binary", field) X(Text, "Text", field)
#define CHARSIFT_ENCODING_LABELS(X, field)                                                         \
  X(Utf16Le, "UTF-16 LE", field)                                                                   \
  X(Utf16Be, "UTF-16 BE", field)                                                                   \
  X(Utf8Bom, "UTF-8 BOM", field)                                                                   \
  X(Utf8NoBom, "UTF-8 no BOM", field)                                                              \
  X(Ansi, "ANSI", field)                                                                           \
  X(AnsiRu, "ANSI Ru", field)                                                                      \
  X(Dos, "DOS", field)                                                                             \
  X(DosRu, "DOS Ru", field)                                                                        \
  X(Rtf, "RTF", field)                                                                             \
  X(Binary, "Binary", field)
#define CHARSIFT_LABELS(X)                                                                         \
  CHARSIFT_TYPE_LABELS(X, kTypeField) CHARSIFT_ENCODING_LABELS(X, kEncodingField)

enum class Label {
  None, // no value: a folder's Encoding
#define CHARSIFT_LABEL_ENUMERATOR(name, text, field) name,
  CHARSIFT_LABELS(CHARSIFT_LABEL_ENUMERATOR)
#undef CHARSIFT_LABEL_ENUMERATOR
};

struct LabelRow {
  Label label;
  const char* text;
  int field; // -1: no field's choice
};
inline constexpr LabelRow LabelTable[] = {{Label::None, "", -1},
#define CHARSIFT_LABEL_ROW(name, text, field) {Label::name, text, field},
                                          CHARSIFT_LABELS(CHARSIFT_LABEL_ROW)
#undef CHARSIFT_LABEL_ROW
};

constexpr const char* LabelText(Label label) { return LabelTable[static_cast<int>(label)].text; }

// A field's choices as the host reads them: its labels' texts joined by '|',
// built at compile time.
template <int Field> constexpr auto FieldChoices() {
  constexpr std::size_t size = [] {
    std::size_t n = 0; // each text and one '|' or the terminator
    for (const LabelRow& row : LabelTable)
      if (row.field == Field) n += std::char_traits<char>::length(row.text) + 1;
    return n;
  }();
  std::array<char, size> choices{};
  std::size_t at = 0;
  for (const LabelRow& row : LabelTable) {
    if (row.field != Field) continue;
    if (at > 0) choices[at++] = '|';
    for (const char* c = row.text; *c != '\0'; ++c)
      choices[at++] = *c;
  }
  return choices;
}

// ---- The chain's own account of a decision ---------------------------------------
enum class ChainStep {
  Folder,
  Utf16Mark,
  RtfOrUtf8Mark,
  Utf8,
  BinaryCode,
  Dos,
  Russian,
  Otherwise
};

// Filled by ClassifyEncoding when passed one: each step it took, in order,
// with the numbers its probe went by. The last step decided.
struct ChainTrace {
  struct Step {
    ChainStep step;
    bool asked = true;          // false: its setting switched it off
    Label answer = Label::None; // the last step's: the label
    ProbeFacts facts;
  };
  std::vector<Step> steps;
  Label label = Label::None;
};

// The chain, written once: the first step that finds a label decides. Its
// source answers each step's question: the module's opens the file for each
// probe, charsift's answers from one read of the file. A source has
// IsFolder(), Utf16Bom(bigEndian, facts), RtfOrUtf8Bom(isRtf, hasUtf8Bom,
// facts), Utf8NoBom(facts), IsText(facts), IsOem(facts) and
// HasCyrillic(isOem, facts); facts is null when no trace is kept.
template <class Source> Label RunChain(Source& source, ChainTrace* trace) {
  // With a trace, each step notes itself and gets its probe's facts to fill.
  const auto step = [trace](ChainStep which, bool asked = true) -> ProbeFacts* {
    if (!trace) return nullptr;
    trace->steps.push_back({which, asked, Label::None, {}});
    return &trace->steps.back().facts;
  };
  const auto decide = [trace](Label label) {
    if (trace) trace->steps.back().answer = trace->label = label;
    return label;
  };
  step(ChainStep::Folder);
  if (source.IsFolder()) return decide(Label::None);
  bool bigEndian = false;
  if (source.Utf16Bom(bigEndian, step(ChainStep::Utf16Mark)))
    return decide(bigEndian ? Label::Utf16Be : Label::Utf16Le);
  bool isRtf = false, hasUtf8Bom = false;
  source.RtfOrUtf8Bom(isRtf, hasUtf8Bom, step(ChainStep::RtfOrUtf8Mark));
  if (isRtf) return decide(Label::Rtf);
  if (hasUtf8Bom) return decide(Label::Utf8Bom);
  if (source.Utf8NoBom(step(ChainStep::Utf8))) return decide(Label::Utf8NoBom);
  if (!source.IsText(step(ChainStep::BinaryCode))) return decide(Label::Binary);
  if (oem_enabled == 0)
    step(ChainStep::Dos, false);
  else if (source.IsOem(step(ChainStep::Dos)))
    return decide(Label::Dos);
  bool isOem = false;
  if (rus_enabled == 0)
    step(ChainStep::Russian, false);
  else if (source.HasCyrillic(isOem, step(ChainStep::Russian)))
    return decide(isOem ? Label::DosRu : Label::AnsiRu);
  step(ChainStep::Otherwise);
  return decide(Label::Ansi);
}

// The module instance whose path locates the settings file; set by the
// module entry before LoadSettings runs.
extern HMODULE ModuleInstance;

// Zero-fills maxlen bytes of dest, then copies src cut to maxlen-1
// characters; writes nothing for a maxlen of 0 or below.
void CopyToHostBuffer(char* dest, const char* src, int maxlen);

// The Encoding label of a path; "" for a folder. With a trace, also the
// steps that led to it; without one the chain does no work for a trace.
const char* ClassifyEncoding(const WideString& path, ChainTrace* trace = nullptr);

// modulePath with its extension (after the last '.' that follows every
// path delimiter) replaced by newExtension, or newExtension appended.
std::string ReplaceExtension(const std::string& modulePath, const std::string& newExtension);
WideString ReplaceExtension(const WideString& modulePath, const WideString& newExtension);

// Reads the settings file beside the module; copies the example file into
// place first when only the example exists.
void LoadSettings();
// The A calls for an ANSI path, the W calls for a UTF-16 one.
void LoadSettingsForModule(const std::string& modulePath);
void LoadSettingsForModule(const WideString& modulePath);
// Reads the twelve keys from this settings file; a key it lacks keeps its value.
void LoadSettingsFile(const IniFileName& settingsPath);
