// One read of the largest sample the settings ask for, and the chain on it.
#include "SingleOpen.h"

#include <algorithm>
#include <vector>

#include "Platform.h"

namespace {

// Paths whose folder lookup could find something else than the open:
// a trailing backslash, a drive root, a wildcard.
bool LookupMayDiffer(const WideString& path) {
  if (path.empty() || path.back() == u'\\' || IsDriveRoot(path)) return true;
  return std::any_of(path.begin(), path.end(), [](WCHAR c) { return c == u'*' || c == u'?'; });
}

// charsift's source for the chain: every step's sample is a slice of one read
// from the start of the file, got bytes long.
struct SampleProbes {
  BYTE* bytes;
  DWORD got;
  std::size_t utf8Size, oemSize, rusSize;
  bool isText;

  DWORD Slice(std::size_t n) const { return static_cast<DWORD>(std::min<std::size_t>(n, got)); }
  bool IsFolder() const { return false; } // it opened as a file
  bool Utf16Bom(bool& bigEndian, ProbeFacts*) const {
    return Utf16BomIn(bytes, Slice(2), bigEndian);
  }
  void RtfOrUtf8Bom(bool& isRtf, bool& hasUtf8Bom, ProbeFacts*) const {
    isRtf = RtfSignatureIn(bytes, Slice(5));
    hasUtf8Bom = Utf8BomIn(bytes, Slice(3));
  }
  bool Utf8NoBom(ProbeFacts*) const {
    const DWORD count = Slice(utf8Size);
    const BYTE after = bytes[count];
    bytes[count] = 0; // where the module's own sample buffer ends
    const bool valid = Utf8SampleValid(bytes, count);
    bytes[count] = after;
    return valid;
  }
  bool IsText(ProbeFacts*) const { return isText; }
  bool IsOem(ProbeFacts*) const {
    if (oemSize == 0) return false;
    const TextSampleFacts oem = InspectTextBytes(bytes, Slice(oemSize), true);
    return oem.IsText() && oem.IsOem();
  }
  bool HasCyrillic(bool& isOem, ProbeFacts*) const {
    return CyrillicSamplePasses(bytes, Slice(rusSize), isOem);
  }
};

// Each step's sample, in bytes; all are read from offset 0.
struct StepSizes {
  std::size_t text, utf8 = 0, oem = 0, rus = 0;
};

StepSizes SizesInForce(bool wantEncoding) {
  StepSizes s{TextSampleSize(text_buffer_size_kb)};
  if (wantEncoding) {
    s.utf8 = Utf8BufferSize() - 1;
    if (oem_enabled != 0) s.oem = TextSampleSize(oem_buffer_size_kb);
    if (rus_enabled != 0) s.rus = CyrillicBufferSize(rus_buffer_size_kb) - 1;
  }
  return s;
}

} // namespace

std::size_t SampleSize(bool wantEncoding) {
  const StepSizes s = SizesInForce(wantEncoding);
  return std::max({std::size_t{5}, s.text, s.utf8, s.oem, s.rus});
}

void AnswerFromSample(BYTE* bytes, DWORD got, bool empty, bool wantType, bool wantEncoding,
                      SingleOpenAnswer& answer) {
  const StepSizes s = SizesInForce(wantEncoding);
  SampleProbes probes{bytes, got, s.utf8, s.oem, s.rus, false};
  probes.isText =
      empty || (s.text > 0 && InspectTextBytes(bytes, probes.Slice(s.text), false).IsText());
  if (wantType) answer.type = LabelText(probes.isText ? Label::Text : Label::BinaryType);
  if (wantEncoding) answer.encoding = LabelText(RunChain(probes, nullptr));
}

bool ReadSample(const WideString& path, std::size_t size, std::vector<BYTE>& buffer, DWORD& got,
                bool& empty) {
  if (LookupMayDiffer(path)) return false;
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return false;
  // A device or a pipe is the exports' to answer.
  if (!charsift::cli::IsDiskFile(file.Get())) return false;
  const std::int64_t fileSize = GetFileSize64(file.Get());
  if (fileSize < 0) return false;
  std::size_t need = size;
  if (fileSize > 0) need = std::min(need, static_cast<std::size_t>(fileSize));
  // One byte more for the zero that ends the UTF-8 walk.
  if (buffer.size() < need + 1) buffer.resize(need + 1);
  got = 0;
  empty = fileSize == 0;
  return ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(need), &got, nullptr) != FALSE;
}

bool AnswerBySingleOpen(const WideString& path, bool wantType, bool wantEncoding,
                        SingleOpenAnswer& answer) {
  // Kept per thread: a small file costs no allocation.
  thread_local std::vector<BYTE> buffer;
  DWORD got = 0;
  bool empty = false;
  if (!ReadSample(path, SampleSize(wantEncoding), buffer, got, empty)) return false;
  AnswerFromSample(buffer.data(), got, empty, wantType, wantEncoding, answer);
  return true;
}
