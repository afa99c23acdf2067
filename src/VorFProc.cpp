// The probes: path, signature, UTF-8, text/binary, OEM and Cyrillic.
#include "VorFProc.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "CyrillicTally.h"
#include "TVorUTF8Detect.h"
#include "platform/TestHooks.h"

SampleBuffer::SampleBuffer(std::size_t size) : size_(size) {
  charsift::fault::NoteAllocation(size);
  if (charsift::fault::ShouldFail(charsift::fault::Call::Allocation)) throw std::bad_alloc();
  // Zeroing only what the read leaves: filling a 64 KB sample that the read
  // overwrites anyway would cost as much as the read.
  data_ = std::make_unique_for_overwrite<BYTE[]>(size);
}

// ---- Path and file probes -------------------------------------------------------
DWORD QueryPlatformId() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  return GetVersionExA(&info) ? info.dwPlatformId : 0;
}

namespace {

// The default ANSI code page of the thread locale at start, or the
// system's when the locale names none.
UINT QueryAnsiCodePage() {
  DWORD codePage = 0;
  if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                     reinterpret_cast<LPSTR>(&codePage), sizeof codePage / sizeof(CHAR)) == 0 ||
      codePage == 0) {
    codePage = GetACP();
  }
  return codePage;
}

const UINT AnsiCodePage = QueryAnsiCodePage();

bool UsesWideCalls() { return PlatformId == VER_PLATFORM_WIN32_NT; }

// The ANSI form of a path; characters the code page lacks become its
// default character. An empty or unconvertible path gives "".
std::string AnsiFromWide(const WideString& path) {
  if (path.empty()) return std::string();
  const int wideLength = static_cast<int>(path.size());
  const int size =
      WideCharToMultiByte(AnsiCodePage, 0, path.c_str(), wideLength, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string ansi(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(AnsiCodePage, 0, path.c_str(), wideLength, ansi.data(), size, nullptr,
                      nullptr);
  return ansi;
}

// Seeks to the start and makes one read request.
bool ReadFromStart(HANDLE file, void* buffer, DWORD size, DWORD& bytesRead) {
  bytesRead = 0;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  return ReadFile(file, buffer, size, &bytesRead, nullptr) != FALSE;
}

// One seek and one read of exactly `size` signature bytes into `buffer`
// (zeroed first); false on a failed or short read.
bool ReadSignature(HANDLE file, BYTE* buffer, DWORD size) {
  std::memset(buffer, 0, size);
  DWORD bytesRead = 0;
  return ReadFromStart(file, buffer, size, bytesRead) && bytesRead == size;
}

} // namespace

bool SampleBuffer::ReadFromStart(HANDLE file, DWORD count, DWORD& bytesRead) {
  const bool ok = ::ReadFromStart(file, data_.get(), count, bytesRead);
  const std::size_t filled = ok ? std::min<std::size_t>(bytesRead, size_) : 0;
  if (filled < size_) data_[filled] = 0;
  return ok;
}

const DWORD PlatformId = QueryPlatformId();

bool ProbePath(const WideString& path, bool& isDirectory) {
  isDirectory = false;
  HANDLE search;
  DWORD attributes = 0;
  if (UsesWideCalls()) {
    WIN32_FIND_DATAW data;
    search = FindFirstFileW(path.c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) attributes = data.dwFileAttributes;
  } else {
    const std::string ansi = AnsiFromWide(path);
    WIN32_FIND_DATAA data;
    search = FindFirstFileA(ansi.c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) attributes = data.dwFileAttributes;
  }
  if (search == INVALID_HANDLE_VALUE) return false;
  isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  FindClose(search);
  return true;
}

WideString StripTrailingBackslash(const WideString& path) {
  WideString copy = path;
  if (kWindowsPathRules && !copy.empty() && copy.back() == u'\\') copy.pop_back();
  return copy;
}

bool IsDriveRoot(const WideString& path) {
  if (!kWindowsPathRules) return false;
  if (path.size() == 2) return path[1] == u':';
  if (path.size() == 3) return path[1] == u':' && path[2] == u'\\';
  return false;
}

bool IsFolder(const WideString& path) {
  bool isDirectory = false;
  // Only a path that ends in a backslash needs a copy without it.
  const bool found = kWindowsPathRules && !path.empty() && path.back() == u'\\'
                         ? ProbePath(StripTrailingBackslash(path), isDirectory)
                         : ProbePath(path, isDirectory);
  if (found && isDirectory) return true;
  return IsDriveRoot(path);
}

HANDLE OpenForReading(const WideString& path) {
  if (UsesWideCalls()) {
    return CreateFileW(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
  }
  const std::string ansi = AnsiFromWide(path);
  return CreateFileA(ansi.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

std::int64_t GetFileSize64(HANDLE file) {
  DWORD high = 0;
  const DWORD low = GetFileSize(file, &high);
  if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS) return -1;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}

// ---- Signature probes -------------------------------------------------------------
bool Utf16BomIn(const BYTE* bytes, std::size_t count, bool& bigEndian) {
  bigEndian = false;
  if (count < 2) return false;
  bigEndian = bytes[0] == 0xFE && bytes[1] == 0xFF;
  return bigEndian || (bytes[0] == 0xFF && bytes[1] == 0xFE);
}

bool Utf8BomIn(const BYTE* bytes, std::size_t count) {
  return count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
}

bool RtfSignatureIn(const BYTE* bytes, std::size_t count) {
  return count >= 5 && std::memcmp(bytes, "{\\rtf", 5) == 0;
}

bool DetectUtf16Bom(HANDLE file, bool& bigEndian) {
  BYTE mark[2];
  bigEndian = false;
  if (!ReadSignature(file, mark, sizeof mark)) return false;
  return Utf16BomIn(mark, sizeof mark, bigEndian);
}

bool HasUtf8Bom(HANDLE file) {
  BYTE mark[3];
  return ReadSignature(file, mark, sizeof mark) && Utf8BomIn(mark, sizeof mark);
}

bool HasRtfSignature(HANDLE file) {
  BYTE header[5];
  return ReadSignature(file, header, sizeof header) && RtfSignatureIn(header, sizeof header);
}

bool FileUtf16Bom(const WideString& path, bool& bigEndian, ProbeFacts* facts) {
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return false;
  if (facts) facts->opened = true;
  return DetectUtf16Bom(file.Get(), bigEndian);
}

void FileRtfOrUtf8Bom(const WideString& path, bool& isRtf, bool& hasUtf8Bom, ProbeFacts* facts) {
  isRtf = false;
  hasUtf8Bom = false;
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return;
  if (facts) facts->opened = true;
  isRtf = HasRtfSignature(file.Get());
  hasUtf8Bom = HasUtf8Bom(file.Get());
}

// ---- UTF-8 without a mark -----------------------------------------------------------
bool HandleIsUtf8(HANDLE file) { return InspectUtf8Sample(file, false).valid; }

bool Utf8SampleValid(const BYTE* bytes, std::size_t bytesRead) {
  // The walk ends at the first zero: the one after the bytes read, or one
  // of theirs.
  return IsValidUtf8(bytes, bytesRead + 1, true);
}

Utf8SampleFacts InspectUtf8Sample(HANDLE file, bool locateStop) {
  Utf8SampleFacts facts;
  SampleBuffer sample(Utf8BufferSize());
  facts.size = sample.Size();
  // One byte less than the buffer, so the sample always ends in a zero.
  facts.read = sample.ReadFromStart(file, static_cast<DWORD>(sample.Size() - 1), facts.bytesRead);
  if (!facts.read) return facts;
  const std::size_t walked = std::size_t{facts.bytesRead} + 1;
  facts.valid = Utf8SampleValid(sample.Data(), facts.bytesRead);
  if (locateStop) facts.stop = LocateUtf8Stop(sample.Data(), walked);
  return facts;
}

bool FileIsUtf8NoBom(const WideString& path, ProbeFacts* facts) {
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return false;
  if (facts) facts->opened = true;
  if (HasUtf8Bom(file.Get())) return false;
  if (!facts) return HandleIsUtf8(file.Get());
  facts->utf8 = InspectUtf8Sample(file.Get(), true);
  return facts->utf8.valid;
}

// ---- Text/binary and OEM ----------------------------------------------------------
// The rule: the code's last three hex digits, written " %02X ", are found in
// the list padded with a blank at each end. A byte's two digits are what the
// one pass finds; a wider code's three digits only a three-digit entry holds.
bool IsCodeListed(int code, const std::string& list) {
  const unsigned digits = static_cast<unsigned>(code) & 0xFFFu;
  if (digits <= 0xFF) return ListedCodes(list).has[digits];
  // By hand: snprintf would bring the runtime's whole formatter into the module.
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const char needle[] = {
      ' ', kDigits[digits >> 8], kDigits[(digits >> 4) & 0xF], kDigits[digits & 0xF], ' ', '\0'};
  return (" " + list + " ").find(needle) != std::string::npos;
}

bool IsBinaryCode(int code) { return code >= 0 && code < 256 && BinaryCodeSet.has[code]; }

bool ScanTextSample(HANDLE file, int sizeKb, bool wantOem, bool& isOem) {
  isOem = false;
  const TextSampleFacts facts = InspectTextSample(file, sizeKb, wantOem);
  if (!facts.IsText()) return false;
  isOem = wantOem && facts.IsOem();
  return true;
}

bool FileIsText(const WideString& path, ProbeFacts* facts) {
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return false;
  if (facts) facts->opened = true;
  if (GetFileSize64(file.Get()) == 0) {
    if (facts) facts->empty = true;
    return true;
  }
  if (!facts) {
    bool isOem = false;
    return ScanTextSample(file.Get(), text_buffer_size_kb, false, isOem);
  }
  facts->text = InspectTextSample(file.Get(), text_buffer_size_kb, false);
  return facts->text.IsText();
}

bool FileIsOem(const WideString& path, ProbeFacts* facts) {
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return false;
  if (!facts) {
    bool isOem = false;
    return ScanTextSample(file.Get(), oem_buffer_size_kb, true, isOem) && isOem;
  }
  facts->opened = true;
  facts->text = InspectTextSample(file.Get(), oem_buffer_size_kb, true);
  return facts->text.IsText() && facts->text.IsOem();
}

// ---- Cyrillic letters -----------------------------------------------------------
namespace {

// What the rules ask of a tally. Its pass stops looking for runs at the
// word rule's length; with the rule off, any run will do.
TallyOptions RuleOptions() {
  return TallyOptions{rus_word_len > 0 ? rus_word_len : 1, VowelPercent() > 0, MixedWordsOnly()};
}

// The vowel rule, then the run rule, then the share rule, for one code page
// of a tally. Letters without a vowel among them are no Cyrillic text.
bool PassesCyrillicRules(const CyrillicTally& tally, int page, int count) {
  const int vowels = VowelPercent();
  if (vowels > 0 &&
      (tally.letters[page] == 0 || tally.vowels[page] * 100 / tally.letters[page] < vowels))
    return false;
  if (rus_word_len > 0 && tally.longest[page] >= rus_word_len) return true;
  return tally.letters[page] * 100 / count >= rus_percent;
}

} // namespace

bool HasCyrillicText(const BYTE* buffer, int count, bool oem) {
  // An empty sample holds no letters; the share rule would divide by zero.
  if (count <= 0) return false;
  const CyrillicTally tally = TallyCyrillic(buffer, static_cast<std::size_t>(count), RuleOptions());
  return PassesCyrillicRules(tally, oem ? 1 : 0, count);
}

bool HandleHasCyrillic(HANDLE file, int sizeKb, bool& isOem, CyrillicFacts* facts) {
  isOem = false;
  CyrillicSample sample(file, sizeKb);
  if (facts) {
    facts->read = sample.read;
    facts->bytesRead = sample.bytesRead;
    facts->asked = sample.buffer.Size() - 1;
    facts->longEnough = sample.LongEnough();
  }
  if (!sample.read) return false;
  if (facts && sample.LongEnough() && sample.bytesRead > 0) {
    // The whole longest run, not the one the rule stops at: only for the trace.
    TallyOptions whole = RuleOptions();
    whole.limit = 0;
    whole.vowels = true;
    const CyrillicTally tally = TallyCyrillic(sample.buffer.Data(), sample.bytesRead, whole);
    for (const int page : {0, 1}) {
      facts->share[page] = tally.letters[page] * 100 / sample.bytesRead;
      facts->run[page] = tally.longest[page];
      facts->vowelShare[page] =
          tally.letters[page] == 0 ? 0 : tally.vowels[page] * 100 / tally.letters[page];
    }
  }
  return CyrillicSamplePasses(sample.buffer.Data(), sample.bytesRead, isOem);
}

bool CyrillicSamplePasses(const BYTE* bytes, DWORD bytesRead, bool& isOem) {
  isOem = false;
  if (!ReachesCyrillicMinimum(bytesRead) || bytesRead == 0) return false;
  const int count = static_cast<int>(bytesRead);
  // Both code pages from one pass; 1251 is asked first.
  const CyrillicTally tally = TallyCyrillic(bytes, bytesRead, RuleOptions());
  if (PassesCyrillicRules(tally, 0, count)) return true;
  isOem = PassesCyrillicRules(tally, 1, count);
  return isOem;
}

bool FileHasCyrillic(const WideString& path, bool& isOem, ProbeFacts* facts) {
  FileHandle file(OpenForReading(path));
  if (!file.IsOpen()) return false;
  if (facts) facts->opened = true;
  return HandleHasCyrillic(file.Get(), rus_buffer_size_kb, isOem,
                           facts ? &facts->cyrillic : nullptr);
}

// ---- The numbers behind the answers ---------------------------------------------
TextSampleFacts InspectTextSample(HANDLE file, int sizeKb, bool wantOem) {
  const std::size_t size = TextSampleSize(sizeKb);
  if (size == 0) return TextSampleFacts{};
  SampleBuffer sample(size);
  DWORD bytesRead = 0;
  if (!sample.ReadFromStart(file, static_cast<DWORD>(size), bytesRead)) return TextSampleFacts{};
  return InspectTextBytes(sample.Data(), bytesRead, wantOem);
}

CyrillicSample::CyrillicSample(HANDLE file, int sizeKb) : buffer(CyrillicBufferSize(sizeKb)) {
  read = buffer.ReadFromStart(file, static_cast<DWORD>(buffer.Size() - 1), bytesRead);
}

bool CyrillicSample::LongEnough() const { return ReachesCyrillicMinimum(bytesRead); }
