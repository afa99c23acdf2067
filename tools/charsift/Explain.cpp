#include "Explain.h"

#include <cstdarg>
#include <string>
#include <system_error>

#include "Charsift.h"
#include "VorFProc.h"

#ifndef _WIN32
#include "platform/FileNames.h"
#endif

namespace fs = std::filesystem;

namespace {

WideString HostPath(const fs::path& p) {
#ifdef _WIN32
  const std::wstring& native = p.native();
  return WideString(native.begin(), native.end());
#else
  const std::u16string u = charsift::names::Utf16FromBytes(p.native());
  return WideString(u.begin(), u.end());
#endif
}

// A path as the console shows it: UTF-8 on Windows (charsift sets the
// console to it), the name's own bytes elsewhere.
std::string Display(const fs::path& p) {
#ifdef _WIN32
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
#else
  return p.native();
#endif
}

// The module's path as the module itself sees it: in the ANSI code page,
// which its settings calls take.
std::string ModulePathAnsi(const fs::path& p) {
  try {
    return p.string();
  } catch (const std::exception&) {
    return std::string();
  }
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

// One step of the chain: its answer, then the numbers and settings behind
// it on a line of their own.
struct Step {
  std::FILE* out;
  int number = 0;
  void Line(const char* name, const std::string& answer, const std::string& detail = "") {
    std::fprintf(out, "  %d. %-16s %s\n", ++number, name, answer.c_str());
    if (!detail.empty()) std::fprintf(out, "     %-16s %s\n", "", detail.c_str());
  }
};

// The chain of ClassifyEncoding, step by step, each probe's numbers taken
// from the functions the probe decides by. Returns the label.
std::string ExplainPath(const WideString& path, Step& step) {
  if (IsFolder(path)) {
    step.Line("folder", "yes: a folder has no Encoding");
    return "";
  }
  step.Line("folder", "no");

  bool bigEndian = false;
  {
    FileHandle file(OpenForReading(path));
    if (!file.IsOpen()) {
      step.Line("UTF-16 mark", "no: the file cannot be opened");
      step.Line("RTF, UTF-8 mark", "no: the file cannot be opened");
      step.Line("UTF-8", "no: the file cannot be opened");
      step.Line("binary code", "yes: the file cannot be opened");
      return "Binary";
    }
    if (DetectUtf16Bom(file.Get(), bigEndian)) {
      step.Line("UTF-16 mark", bigEndian ? "yes: FE FF" : "yes: FF FE");
      return bigEndian ? "UTF-16 BE" : "UTF-16 LE";
    }
    step.Line("UTF-16 mark", "no");
  }

  bool isRtf = false, hasUtf8Bom = false;
  FileRtfOrUtf8Bom(path, isRtf, hasUtf8Bom);
  step.Line("RTF, UTF-8 mark", isRtf        ? "RTF: the file starts with {\\rtf"
                               : hasUtf8Bom ? "UTF-8 mark: the file starts with EF BB BF"
                                            : "neither");
  if (isRtf) return "RTF";
  if (hasUtf8Bom) return "UTF-8 BOM";

  {
    FileHandle file(OpenForReading(path));
    if (!file.IsOpen()) {
      step.Line("UTF-8", "no: the file cannot be opened");
    } else {
      const Utf8SampleFacts f = InspectUtf8Sample(file.Get(), true);
      const std::string sample = Format(
          "%lld bytes read into a %lld-byte sample (utf8_buffer_size_kb %d)",
          static_cast<long long>(f.bytesRead), static_cast<long long>(f.size), utf8_buffer_size_kb);
      const Utf8Stop& s = f.stop;
      std::string why;
      if (!f.read)
        why = "no: the sample cannot be read";
      else if (s.kind == Utf8Stop::Invalid && s.due > 0)
        why = Format("no: byte %02X at offset %lld is no continuation byte", s.byte, Ll(s.offset));
      else if (s.kind == Utf8Stop::Invalid)
        why = Format("no: continuation byte %02X at offset %lld follows no lead byte", s.byte,
                     Ll(s.offset));
      else if (!s.sawContinuation && s.offset < f.bytesRead)
        why =
            Format("no: no multi-byte character before the zero byte at offset %lld", Ll(s.offset));
      else if (!s.sawContinuation)
        why = "no: no multi-byte character";
      else if (f.valid && s.due > 0)
        why = "yes: valid, the last character cut by the end of the sample";
      else
        why = f.valid ? "yes: valid" : "no";
      step.Line("UTF-8", why, sample);
      if (f.valid) return "UTF-8 no BOM";
    }
  }

  {
    FileHandle file(OpenForReading(path));
    bool text = false;
    if (!file.IsOpen()) {
      step.Line("binary code", "yes: the file cannot be opened");
    } else if (GetFileSize64(file.Get()) == 0) {
      text = true;
      step.Line("binary code", "none: the file is empty");
    } else {
      const TextSampleFacts f = InspectTextSample(file.Get(), text_buffer_size_kb, false);
      text = f.IsText();
      const std::string settings =
          Format("text_buffer_size_kb %d, binary_ignore ", text_buffer_size_kb) +
          Quoted(binary_ignore);
      if (text_buffer_size_kb <= 0)
        step.Line("binary code", "yes: no text sample", settings);
      else if (!f.read)
        step.Line("binary code", "yes: nothing read", settings);
      else if (!text)
        step.Line("binary code", Format("yes: %02X at offset %lld", f.binaryCode, Ll(f.binaryAt)),
                  settings);
      else
        step.Line("binary code", Format("none in %lld bytes read", Ll(f.bytesRead)), settings);
    }
    if (!text) return "Binary";
  }

  if (oem_enabled == 0) {
    step.Line("DOS", "not asked: oem_enabled 0");
  } else {
    FileHandle file(OpenForReading(path));
    const std::string settings =
        Format("oem_buffer_size_kb %d, oem_ignore ", oem_buffer_size_kb) + Quoted(oem_ignore);
    if (!file.IsOpen()) {
      step.Line("DOS", "no: the file cannot be opened");
    } else {
      const TextSampleFacts f = InspectTextSample(file.Get(), oem_buffer_size_kb, true);
      const std::string needs = Format("needs oem_percent %d; ", oem_percent) + settings;
      if (!f.read)
        step.Line("DOS", "no: nothing read", settings);
      else if (!f.IsText())
        step.Line("DOS",
                  Format("no: its sample holds binary code %02X at offset %lld", f.binaryCode,
                         Ll(f.binaryAt)),
                  settings);
      else if (f.upper == 0)
        step.Line("DOS", Format("no: no byte of 80 or above in %lld bytes", Ll(f.bytesRead)),
                  settings);
      else if (f.leadCode < 0)
        step.Line("DOS", "no: every pseudo-graphics code is ignored", settings);
      else if (f.leadCount == 0 && !f.IsOem())
        step.Line("DOS",
                  Format("no: no pseudo-graphics code among %lld upper-half bytes", Ll(f.upper)),
                  needs);
      else
        step.Line("DOS",
                  Format("%s: the commonest pseudo-graphics code %02X is %lld%% of %lld "
                         "upper-half bytes",
                         f.IsOem() ? "yes" : "no", f.leadCode, Ll(f.LeadShare()), Ll(f.upper)),
                  needs);
      if (f.IsText() && f.IsOem()) return "DOS";
    }
  }

  if (rus_enabled == 0) {
    step.Line("Russian", "not asked: rus_enabled 0");
  } else {
    FileHandle file(OpenForReading(path));
    if (!file.IsOpen()) {
      step.Line("Russian", "no: the file cannot be opened");
    } else {
      CyrillicSample sample(file.Get(), rus_buffer_size_kb);
      const std::string read =
          Format("%lld of %lld bytes read, rus_min_size %d", Ll(sample.bytesRead),
                 Ll(sample.buffer.Size() - 1), rus_min_size);
      if (!sample.read) {
        step.Line("Russian", "no: the sample cannot be read");
      } else if (!sample.LongEnough()) {
        step.Line("Russian", "no: too short", read);
      } else {
        const BYTE* bytes = sample.buffer.Data();
        const int count = static_cast<int>(sample.bytesRead);
        const bool ansi = HasCyrillicText(bytes, count, false);
        const bool oem = !ansi && HasCyrillicText(bytes, count, true);
        const std::string needs =
            rus_word_len > 0 ? Format("needs rus_percent %d or a run of rus_word_len %d; ",
                                      rus_percent, rus_word_len)
                             : Format("needs rus_percent %d (rus_word_len %d: no run rule); ",
                                      rus_percent, rus_word_len);
        const char* answer = ansi ? "yes, 1251" : oem ? "yes, 866" : "no";
        step.Line("Russian",
                  Format("%s: 1251 letters %lld%%, longest run %d; 866 letters %lld%%, longest "
                         "run %d",
                         answer, Ll(CyrillicShare(bytes, count, false)),
                         CyrillicRun(bytes, count, false, 0), Ll(CyrillicShare(bytes, count, true)),
                         CyrillicRun(bytes, count, true, 0)),
                  needs + read);
        if (ansi) return "ANSI Ru";
        if (oem) return "DOS Ru";
      }
    }
  }
  step.Line("otherwise", "ANSI");
  return "ANSI";
}

} // namespace

int Explain(const fs::path& modulePath, const std::vector<fs::path>& paths, std::FILE* out) {
  ResetSettings();
  const std::string module = ModulePathAnsi(modulePath);
  std::error_code ec;
  if (module.empty()) {
    // No settings file could be named either: the module would keep its defaults.
    std::fprintf(out, "settings: none: built-in defaults\n");
  } else {
    LoadSettingsForModule(module);
    const std::string settings = ReplaceExtension(module, ".ini");
    std::fprintf(out, "settings: %s%s\n", Display(fs::path(settings)).c_str(),
                 fs::is_regular_file(fs::path(settings), ec) ? "" : " (none: built-in defaults)");
  }
  int status = 0;
  for (const fs::path& path : paths) {
    const WideString host = HostPath(path);
    if (!IsFolder(host) && !fs::exists(path, ec)) {
      std::fprintf(stderr, "charsift: %s: no such file or folder\n", Display(path).c_str());
      status = 1;
      continue;
    }
    std::fprintf(out, "%s\n", Display(path).c_str());
    Step step{out};
    const std::string label = ExplainPath(HostPath(path), step);
    std::fprintf(out, "  Encoding: %s, decided at step %d\n",
                 label.empty() ? "(none)" : label.c_str(), step.number);
  }
  return std::fflush(out) == 0 ? status : 1;
}
