// One read of the largest sample the settings ask for, and the chain on it.
#include "SingleOpen.h"

#include <algorithm>
#include <vector>

namespace {

// Paths whose folder lookup could find something else than the open:
// a trailing backslash, a drive root, a wildcard.
bool LookupMayDiffer(const WideString& path) {
  if (path.empty() || path.back() == u'\\' || IsDriveRoot(path)) return true;
  return std::any_of(path.begin(), path.end(), [](WCHAR c) { return c == u'*' || c == u'?'; });
}

} // namespace

bool AnswerBySingleOpen(const WideString& path, bool wantType, bool wantEncoding,
                        SingleOpenAnswer& answer) {
  if (LookupMayDiffer(path)) return false;
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return false;
#ifdef _WIN32
  // The open takes devices and pipes too; only a disk file is read here.
  if (GetFileType(file.Get()) != FILE_TYPE_DISK) return false;
#endif
  const std::int64_t size = GetFileSize64(file.Get());
  if (size < 0) return false;

  // Each step's sample, in bytes; all are read from offset 0.
  const std::size_t textSize = TextSampleSize(text_buffer_size_kb);
  std::size_t utf8Size = 0, oemSize = 0, rusSize = 0;
  if (wantEncoding) {
    utf8Size = Utf8SampleBuffer() - 1;
    if (oem_enabled != 0) oemSize = TextSampleSize(oem_buffer_size_kb);
    if (rus_enabled != 0) rusSize = CyrillicSampleBuffer(rus_buffer_size_kb) - 1;
  }
  std::size_t need = std::max({std::size_t{5}, textSize, utf8Size, oemSize, rusSize});
  if (size > 0) need = std::min(need, static_cast<std::size_t>(size));

  // Kept per thread: a small file costs no allocation. One byte more for the
  // zero that ends the UTF-8 walk.
  thread_local std::vector<BYTE> buffer;
  if (buffer.size() < need + 1) buffer.resize(need + 1);
  BYTE* bytes = buffer.data();
  DWORD got = 0;
  if (!ReadFile(file.Get(), bytes, static_cast<DWORD>(need), &got, nullptr)) return false;
  const auto slice = [got](std::size_t n) {
    return static_cast<DWORD>(std::min<std::size_t>(n, got));
  };

  const bool isText =
      size == 0 || (textSize > 0 && InspectTextBytes(bytes, slice(textSize), false).IsText());
  if (wantType) answer.type = LabelText(isText ? Label::Text : Label::BinaryType);
  if (!wantEncoding) return true;

  const auto decide = [&](Label label) {
    answer.encoding = LabelText(label);
    return true;
  };
  bool bigEndian = false;
  if (Utf16BomIn(bytes, slice(2), bigEndian))
    return decide(bigEndian ? Label::Utf16Be : Label::Utf16Le);
  if (RtfSignatureIn(bytes, slice(5))) return decide(Label::Rtf);
  if (Utf8BomIn(bytes, slice(3))) return decide(Label::Utf8Bom);
  const DWORD utf8Count = slice(utf8Size);
  const BYTE after = bytes[utf8Count];
  bytes[utf8Count] = 0; // where the module's own sample buffer ends
  const bool utf8 = Utf8SampleValid(bytes, utf8Count);
  bytes[utf8Count] = after;
  if (utf8) return decide(Label::Utf8NoBom);
  if (!isText) return decide(Label::Binary);
  if (oemSize > 0) {
    const TextSampleFacts oem = InspectTextBytes(bytes, slice(oemSize), true);
    if (oem.IsText() && oem.IsOem()) return decide(Label::Dos);
  }
  bool isOem = false;
  if (rus_enabled != 0 && CyrillicSamplePasses(bytes, slice(rusSize), isOem))
    return decide(isOem ? Label::DosRu : Label::AnsiRu);
  return decide(Label::Ansi);
}
