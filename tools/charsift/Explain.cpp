// --explain: the chain's trace as text, and its check against the module.
#include "Explain.h"

#include <cstdarg>
#include <string>
#include <system_error>

#include "ExitStatus.h"
#include "Output.h"
#include "Platform.h"

namespace fs = charsift::cli::fs;

namespace {

// A path as the terminal shows it, escaped as the table escapes names.
std::string Display(const fs::path& p) {
  return charsift::cli::TableEscaped(charsift::cli::Shown(p));
}

// Numbers go in as long long: one conversion for every runtime's printf.
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

template <class T> long long Ll(T value) { return static_cast<long long>(value); }

std::string Quoted(const std::string& list) { return "\"" + list + "\""; }

// One line of a step: its answer, then the numbers and settings behind it
// on a line of their own.
void Line(std::FILE* out, int number, const char* name, const std::string& answer,
          const std::string& detail = "") {
  std::fprintf(out, "  %d. %-16s %s\n", number, name, answer.c_str());
  if (!detail.empty()) std::fprintf(out, "     %-16s %s\n", "", detail.c_str());
}

const char* const kNotOpened = "the file cannot be opened";

void WriteUtf8(std::FILE* out, int n, const ChainTrace::Step& step) {
  if (!step.facts.opened) return Line(out, n, "UTF-8", std::string("no: ") + kNotOpened);
  const Utf8SampleFacts& f = step.facts.utf8;
  const std::string sample =
      Format("%lld bytes read into a %lld-byte sample (utf8_buffer_size_kb %d)", Ll(f.bytesRead),
             Ll(f.size), utf8_buffer_size_kb);
  const Utf8Stop& s = f.stop;
  std::string why;
  if (f.size == 0)
    why = "no: the file starts with EF BB BF";
  else if (!f.read)
    why = "no: the sample cannot be read";
  else if (s.kind == Utf8Stop::Invalid && s.due > 0)
    why = Format("no: byte %02X at offset %lld is no continuation byte", s.byte, Ll(s.offset));
  else if (s.kind == Utf8Stop::Invalid)
    why = Format("no: continuation byte %02X at offset %lld follows no lead byte", s.byte,
                 Ll(s.offset));
  else if (!s.sawContinuation && s.offset < f.bytesRead)
    why = Format("no: no multi-byte character before the zero byte at offset %lld", Ll(s.offset));
  else if (!s.sawContinuation)
    why = "no: no multi-byte character";
  else if (f.valid && s.due > 0)
    why = "yes: valid, the last character cut by the end of the sample";
  else
    why = f.valid ? "yes: valid" : "no";
  Line(out, n, "UTF-8", why, f.size == 0 ? "" : sample);
}

void WriteBinaryCode(std::FILE* out, int n, const ChainTrace::Step& step) {
  const ProbeFacts& facts = step.facts;
  const TextSampleFacts& f = facts.text;
  const std::string settings =
      Format("text_buffer_size_kb %d, binary_ignore ", text_buffer_size_kb) + Quoted(binary_ignore);
  if (!facts.opened)
    Line(out, n, "binary code", std::string("yes: ") + kNotOpened);
  else if (facts.empty)
    Line(out, n, "binary code", "none: the file is empty");
  else if (text_buffer_size_kb <= 0)
    Line(out, n, "binary code", "yes: no text sample", settings);
  else if (!f.read)
    Line(out, n, "binary code", "yes: nothing read", settings);
  else if (!f.IsText())
    Line(out, n, "binary code", Format("yes: %02X at offset %lld", f.binaryCode, Ll(f.binaryAt)),
         settings);
  else
    Line(out, n, "binary code", Format("none in %lld bytes read", Ll(f.bytesRead)), settings);
}

void WriteDos(std::FILE* out, int n, const ChainTrace::Step& step) {
  if (!step.asked) return Line(out, n, "DOS", "not asked: oem_enabled 0");
  if (!step.facts.opened) return Line(out, n, "DOS", std::string("no: ") + kNotOpened);
  const TextSampleFacts& f = step.facts.text;
  const std::string settings = Format("oem_buffer_size_kb %d, oem_ignore ", oem_buffer_size_kb) +
                               Quoted(oem_ignore) +
                               (f.drawnOnly ? Format(", oem_draw %d", DrawRun()) : "");
  // Under oem_draw a code counts only where it draws.
  const char* counted = f.drawnOnly ? "pseudo-graphics code that draws" : "pseudo-graphics code";
  const std::string needs = Format("needs oem_percent %d; ", oem_percent) + settings;
  if (!f.read)
    Line(out, n, "DOS", "no: nothing read", settings);
  else if (!f.IsText())
    Line(out, n, "DOS",
         Format("no: its sample holds binary code %02X at offset %lld", f.binaryCode,
                Ll(f.binaryAt)),
         settings);
  else if (f.upper == 0)
    Line(out, n, "DOS", Format("no: no byte of 80 or above in %lld bytes", Ll(f.bytesRead)),
         settings);
  else if (f.leadCode < 0)
    Line(out, n, "DOS", "no: every pseudo-graphics code is ignored", settings);
  else if (f.leadCount == 0 && step.answer != Label::Dos)
    Line(out, n, "DOS", Format("no: no %s among %lld upper-half bytes", counted, Ll(f.upper)),
         needs);
  else
    Line(out, n, "DOS",
         Format("%s: the commonest %s %02X is %lld%% of %lld upper-half bytes",
                step.answer == Label::Dos ? "yes" : "no", counted, f.leadCode, Ll(f.LeadShare()),
                Ll(f.upper)),
         needs);
}

void WriteRussian(std::FILE* out, int n, const ChainTrace::Step& step) {
  if (!step.asked) return Line(out, n, "Russian", "not asked: rus_enabled 0");
  if (!step.facts.opened) return Line(out, n, "Russian", std::string("no: ") + kNotOpened);
  const CyrillicFacts& f = step.facts.cyrillic;
  const std::string read = Format("%lld of %lld bytes read, rus_min_size %d", Ll(f.bytesRead),
                                  Ll(f.asked), rus_min_size);
  if (!f.read) return Line(out, n, "Russian", "no: the sample cannot be read");
  if (!f.longEnough) return Line(out, n, "Russian", "no: too short", read);
  const int vowels = VowelPercent();
  const std::string needs =
      (vowels > 0 ? Format("needs rus_vowels %d, then ", vowels) : std::string("needs ")) +
      (rus_word_len > 0
           ? Format("rus_percent %d or a run of rus_word_len %d; ", rus_percent, rus_word_len)
           : Format("rus_percent %d (rus_word_len %d: no run rule); ", rus_percent, rus_word_len)) +
      (MixedWordsOnly() ? "rus_word_mixed 1; " : "");
  const char* answer = step.answer == Label::AnsiRu  ? "yes, 1251"
                       : step.answer == Label::DosRu ? "yes, 866"
                                                     : "no";
  const auto page = [&](int p) {
    return Format("%s letters %lld%%, longest run %d", p == 0 ? "1251" : "866", Ll(f.share[p]),
                  f.run[p]) +
           (vowels > 0 ? Format(", vowels %lld%%", Ll(f.vowelShare[p])) : "");
  };
  Line(out, n, "Russian", Format("%s: %s; %s", answer, page(0).c_str(), page(1).c_str()),
       needs + read);
}

} // namespace

void WriteTrace(const ChainTrace& trace, std::FILE* out) {
  int n = 0;
  for (const ChainTrace::Step& step : trace.steps) {
    ++n;
    const bool decided = &step == &trace.steps.back();
    const bool opened = step.facts.opened;
    switch (step.step) {
    case ChainStep::Folder:
      Line(out, n, "folder", decided ? "yes: a folder has no Encoding" : "no");
      break;
    case ChainStep::Utf16Mark:
      Line(out, n, "UTF-16 mark",
           !opened                         ? std::string("no: ") + kNotOpened
           : step.answer == Label::Utf16Be ? "yes: FE FF"
           : step.answer == Label::Utf16Le ? "yes: FF FE"
                                           : "no");
      break;
    case ChainStep::RtfOrUtf8Mark:
      Line(out, n, "RTF, UTF-8 mark",
           !opened                         ? std::string("neither: ") + kNotOpened
           : step.answer == Label::Rtf     ? "RTF: the file starts with {\\rtf"
           : step.answer == Label::Utf8Bom ? "UTF-8 mark: the file starts with EF BB BF"
                                           : "neither");
      break;
    case ChainStep::Utf8:
      WriteUtf8(out, n, step);
      break;
    case ChainStep::BinaryCode:
      WriteBinaryCode(out, n, step);
      break;
    case ChainStep::Dos:
      WriteDos(out, n, step);
      break;
    case ChainStep::Russian:
      WriteRussian(out, n, step);
      break;
    case ChainStep::Otherwise:
      Line(out, n, "otherwise", LabelText(step.answer));
      break;
    }
  }
  const char* label = LabelText(trace.label);
  std::fprintf(out, "  Encoding: %s, decided at step %d\n", *label ? label : "(none)", n);
}

namespace {

// The module's answer as the explanation names it.
std::string Named(const std::string& answer) {
  return answer.empty() ? "(none)" : answer == "?" ? "? (the query failed)" : answer;
}

} // namespace

int Explain(const fs::path& modulePath, const std::vector<fs::path>& paths, std::FILE* out,
            const ModuleAnswer& moduleAnswer) {
  ResetSettings();
  std::error_code ec;
  charsift::cli::LoadModuleSettings(modulePath);
  const fs::path settings = charsift::cli::BesideModule(modulePath, ".ini");
  std::fprintf(out, "settings: %s%s\n", Display(settings).c_str(),
               fs::is_regular_file(settings, ec) ? "" : " (none: built-in defaults)");
  int status = charsift::cli::kExitOk;
  bool differs = false;
  for (const fs::path& path : paths) {
    const WideString host = charsift::cli::ToHost(path);
    if (!IsFolder(host) && !fs::exists(path, ec)) {
      std::fprintf(stderr, "charsift: %s: no such file or folder\n", Display(path).c_str());
      status = charsift::cli::kExitTrouble;
      continue;
    }
    std::fprintf(out, "%s\n", Display(path).c_str());
    ChainTrace trace;
    const std::string label = ClassifyEncoding(host, &trace);
    WriteTrace(trace, out);
    // The trace is this build's chain; the answer that counts is the module's.
    const std::string answer = moduleAnswer(path);
    if (answer != label) {
      std::fprintf(out, "  The module answers %s: this explanation is not its decision\n",
                   Named(answer).c_str());
      std::fprintf(stderr,
                   "charsift: %s: the module answers %s, the explanation %s (is the module of "
                   "another build?)\n",
                   Display(path).c_str(), Named(answer).c_str(), Named(label).c_str());
      differs = true;
    }
  }
  if (std::fflush(out) != 0) status = charsift::cli::kExitTrouble;
  return differs ? charsift::cli::kExitExplainDiffers : status;
}
