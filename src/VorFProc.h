// Settings, file access and the encoding probes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "TVorUTF8Detect.h"
#include "platform/Win32.h"

// A path as the host passes it: UTF-16, whatever the platform's wchar_t.
using WideString = std::basic_string<WCHAR>;

// ---- Settings: process-wide, defaults built in, overridden at load --------
// A list setting's constructor runs before the ordinary initialisers of
// every source, so the module entry may read the settings from any of them.
#define CHARSIFT_EARLY_INIT __attribute__((init_priority(101)))

// Every setting, written once, in the order the settings file is read: its
// key (the variable's name) and its built-in default, an integer (INTEGER)
// or a code list (LIST). The declarations, the definitions and SettingsTable
// are all made from this list.
#define CHARSIFT_SETTINGS(INTEGER, LIST)                                                           \
  INTEGER(text_buffer_size_kb, 1)                                                                  \
  INTEGER(utf8_buffer_size_kb, 64)                                                                 \
  LIST(binary_ignore, "")                                                                          \
  INTEGER(oem_enabled, 1)                                                                          \
  INTEGER(oem_buffer_size_kb, 1)                                                                   \
  INTEGER(oem_percent, 18)                                                                         \
  LIST(oem_ignore, "AB BB")                                                                        \
  INTEGER(rus_enabled, 1)                                                                          \
  INTEGER(rus_buffer_size_kb, 2)                                                                   \
  INTEGER(rus_min_size, 8)                                                                         \
  INTEGER(rus_percent, 30)                                                                         \
  INTEGER(rus_word_len, 0)

#define CHARSIFT_DECLARE_INTEGER(key, value) extern int key;
#define CHARSIFT_DECLARE_LIST(key, value) extern std::string key;
CHARSIFT_SETTINGS(CHARSIFT_DECLARE_INTEGER, CHARSIFT_DECLARE_LIST)
#undef CHARSIFT_DECLARE_INTEGER
#undef CHARSIFT_DECLARE_LIST

// One row per setting, in the order of CHARSIFT_SETTINGS: its key, its
// variable and its built-in default.
struct SettingRow {
  const char* key;
  int* integer; // null for a list
  std::string* list;
  int integerDefault;
  const char* listDefault;
};
#define CHARSIFT_COUNT_SETTING(key, value) +1
constexpr int kSettingCount = 0 CHARSIFT_SETTINGS(CHARSIFT_COUNT_SETTING, CHARSIFT_COUNT_SETTING);
#undef CHARSIFT_COUNT_SETTING
extern const SettingRow SettingsTable[kSettingCount];

// Puts every setting back to its built-in default.
void ResetSettings();
// Builds the code sets the probes read from the two list settings. The
// settings load and ResetSettings call it; whatever else assigns a list
// calls it after.
void ApplyListSettings();
// Releases the two list settings (module unload).
void ReleaseListSettings();

// Largest text or OEM sample, in KB: a bigger setting is capped here, the
// ceiling the UTF-8 sample has too.
constexpr int kMaxTextSampleKb = 10240;
constexpr int kMaxUtf8SampleKb = 10240;
constexpr int kMaxRusSampleKb = 2048;

// ---- The byte ranges the tests are built on -----------------------------------
// A sample size setting counts kilobytes of this many bytes.
constexpr std::size_t kBytesPerKb = 1024;

// Control codes below 0x20 mark a binary file, but for tab, line feed and
// carriage return, which every text holds.
constexpr bool IsControlCode(int code) {
  return code >= 0 && code < 0x20 && code != '\t' && code != '\n' && code != '\r';
}

// The DOS pseudo-graphics codes of code pages 437 and 866: shades, box
// drawing and blocks (B0 to DF), and the no-break space (FF).
constexpr int kFirstPseudoGraphics = 0xB0, kLastPseudoGraphics = 0xDF, kNoBreakSpace = 0xFF;
constexpr bool IsPseudoGraphicsCode(int code) {
  return (code >= kFirstPseudoGraphics && code <= kLastPseudoGraphics) || code == kNoBreakSpace;
}

// Windows-1251 letters: А to я from C0 on (Ё and ё, A8 and B8, not counted).
constexpr BYTE kFirst1251Letter = 0xC0;
// Code page 866 letters: А to п (80 to AF), then р to я, Ё and ё (E0 to F1).
constexpr BYTE kFirst866Letter = 0x80, kLast866LowLetter = 0xAF;
constexpr BYTE kFirst866HighLetter = 0xE0, kLast866Letter = 0xF1;

// ---- Owned resources --------------------------------------------------------
// A file handle from OpenForReading, closed when it goes out of scope.
class FileHandle {
public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (IsOpen()) CloseHandle(handle_);
  }
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

private:
  HANDLE handle_;
};

// A sample buffer from the heap, released when it goes out of scope. A
// failed allocation throws std::bad_alloc. ReadFromStart fills it with the
// bytes read and one zero after them: all a zero-filled buffer would show
// to a walk that stops at its first zero. Nothing is filled twice, so a
// large sample of a small file costs no more than the bytes read.
class SampleBuffer {
public:
  explicit SampleBuffer(std::size_t size);
  BYTE* Data() { return data_.get(); }
  std::size_t Size() const { return size_; }
  // Seeks to the start and reads count bytes (at most Size()) with one
  // request; false when the read fails.
  bool ReadFromStart(HANDLE file, DWORD count, DWORD& bytesRead);

private:
  std::unique_ptr<BYTE[]> data_;
  std::size_t size_;
};

// ---- What a file probe went by ------------------------------------------------
// The Cyrillic test's numbers for both code pages ([0] 1251, [1] 866).
struct CyrillicFacts {
  bool read = false;
  DWORD bytesRead = 0;
  std::size_t asked = 0;   // bytes the sample asked for
  bool longEnough = false; // at least rus_min_size bytes arrived
  std::int64_t share[2] = {};
  int run[2] = {}; // the longest run of letters
};
// Filled by a file probe when one is passed, for the chain's trace; a probe
// passed none does no work for it.
struct ProbeFacts;

// ---- Path and file probes ---------------------------------------------------
// The platform identifier of the version query, read once at start: 2 (NT)
// selects the wide calls, anything else the ANSI ones.
extern const DWORD PlatformId;

bool ProbePath(const WideString& path, bool& isDirectory);
WideString StripTrailingBackslash(const WideString& path);
bool IsDriveRoot(const WideString& path);
bool IsFolder(const WideString& path);
HANDLE OpenForReading(const WideString& path);
std::int64_t GetFileSize64(HANDLE file);

// ---- Signature probes -------------------------------------------------------
// The rules on bytes read from the start of a file, count of them; fewer
// bytes than a mark or signature holds are none.
bool Utf16BomIn(const BYTE* bytes, std::size_t count, bool& bigEndian);
bool Utf8BomIn(const BYTE* bytes, std::size_t count);
bool RtfSignatureIn(const BYTE* bytes, std::size_t count);
bool DetectUtf16Bom(HANDLE file, bool& bigEndian);
bool HasUtf8Bom(HANDLE file);
bool HasRtfSignature(HANDLE file);
bool FileUtf16Bom(const WideString& path, bool& bigEndian, ProbeFacts* facts = nullptr);
void FileRtfOrUtf8Bom(const WideString& path, bool& isRtf, bool& hasUtf8Bom,
                      ProbeFacts* facts = nullptr);

// ---- UTF-8 without a mark ---------------------------------------------------
bool HandleIsUtf8(HANDLE file);
// The UTF-8 sample's buffer size in bytes (the clamped setting); the sample
// is one byte less.
std::size_t Utf8SampleBuffer();
// The rule on a sample of bytesRead bytes; bytes[bytesRead] must be zero.
bool Utf8SampleValid(const BYTE* bytes, std::size_t bytesRead);
bool FileIsUtf8NoBom(const WideString& path, ProbeFacts* facts = nullptr);

// ---- Text/binary and OEM ----------------------------------------------------
// Which of the 256 codes a code list names, as IsCodeListed says for each.
struct CodeSet {
  bool has[256];
};
bool IsCodeListed(int code, const std::string& list);
CodeSet ListedCodes(const std::string& list);
// binary_ignore and oem_ignore as sets, built once per settings load: the
// binary codes (control codes the list leaves in), and the codes the OEM
// test leaves out.
extern CodeSet BinaryCodeSet;
extern CodeSet OemIgnoredSet;
bool IsBinaryCode(int code);
bool ScanTextSample(HANDLE file, int sizeKb, bool wantOem, bool& isOem);
bool FileIsText(const WideString& path, ProbeFacts* facts = nullptr);
bool FileIsOem(const WideString& path, ProbeFacts* facts = nullptr);

// ---- Cyrillic letters -------------------------------------------------------
bool IsCyrillicLetter(BYTE b, bool oem);
bool HasCyrillicText(const BYTE* buffer, int count, bool oem);
bool HandleHasCyrillic(HANDLE file, int sizeKb, bool& isOem, CyrillicFacts* facts = nullptr);
// The Cyrillic sample's buffer size in bytes; the sample is one byte less.
std::size_t CyrillicSampleBuffer(int sizeKb);
// HandleHasCyrillic's rules on the bytesRead bytes read of its sample.
bool CyrillicSamplePasses(const BYTE* bytes, DWORD bytesRead, bool& isOem);
bool FileHasCyrillic(const WideString& path, bool& isOem, ProbeFacts* facts = nullptr);

// ---- The numbers behind the answers -------------------------------------------
// What the probes above decide by, one struct per sample. The probes take
// their answers from these same functions, so an explanation built on them
// gives the numbers the module went by.

// The UTF-8 test's sample: HandleIsUtf8's answer and where its walk stops.
struct Utf8SampleFacts {
  bool read = false;    // the read call succeeded
  std::size_t size = 0; // buffer bytes (one more than asked for)
  DWORD bytesRead = 0;  // bytes the read delivered
  bool valid = false;   // HandleIsUtf8's answer
  Utf8Stop stop{};      // filled only when asked for
};
Utf8SampleFacts InspectUtf8Sample(HANDLE file, bool locateStop);

// A text or OEM sample: the first binary code and the pseudo-graphics code
// with the largest share of the upper-half bytes.
struct TextSampleFacts {
  bool read = false; // the read delivered at least one byte
  DWORD bytesRead = 0;
  std::int64_t binaryAt = -1; // offset of the first binary code, -1: none
  int binaryCode = -1;
  std::uint64_t upper = 0; // bytes at or above 0x80 (with statistics)
  int leadCode = -1;       // unlisted code of B0..DF, FF with the most bytes
  std::uint64_t leadCount = 0;
  bool IsText() const { return read && binaryAt < 0; }
  // The lead code's share of the upper-half bytes, in whole percent.
  std::int64_t LeadShare() const;
  // ScanTextSample's OEM flag: the lead code reaches oem_percent.
  bool IsOem() const;
};
TextSampleFacts InspectTextSample(HANDLE file, int sizeKb, bool wantOem);
// A text or OEM sample's size in bytes under a size setting; 0: none.
std::size_t TextSampleSize(int sizeKb);
// The same facts from the bytesRead bytes read of such a sample.
TextSampleFacts InspectTextBytes(const BYTE* bytes, DWORD bytesRead, bool wantOem);

// The Cyrillic test's numbers for one code page.
std::int64_t CyrillicShare(const BYTE* buffer, int count, bool oem);
// The longest run of letters, or the first run that reaches stopAt when
// stopAt is above 0.
int CyrillicRun(const BYTE* buffer, int count, bool oem, int stopAt);

// The Cyrillic test's sample, read as HandleHasCyrillic reads it.
struct CyrillicSample {
  CyrillicSample(HANDLE file, int sizeKb);
  SampleBuffer buffer;
  bool read = false;
  DWORD bytesRead = 0;
  // At least rus_min_size bytes arrived.
  bool LongEnough() const;
};

struct ProbeFacts {
  bool opened = false;  // the file opened
  Utf8SampleFacts utf8; // FileIsUtf8NoBom
  bool empty = false;   // FileIsText: an empty file, which is text
  TextSampleFacts text; // FileIsText, FileIsOem
  CyrillicFacts cyrillic;
};
