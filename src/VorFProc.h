// The encoding probes: path and file, signatures, UTF-8, text/binary and OEM, Cyrillic.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ByteClasses.h"
#include "Settings.h"
#include "TVorUTF8Detect.h"
#include "platform/Win32.h"

// A path as the host passes it: UTF-16, whatever the platform's wchar_t.
using WideString = std::basic_string<WCHAR>;

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
  int run[2] = {};                 // the longest run of letters
  std::int64_t vowelShare[2] = {}; // vowels among the letters, in percent
};
// Filled by a file probe when one is passed, for the chain's trace; a probe
// passed none does no work for it.
struct ProbeFacts;

// ---- Path and file probes ---------------------------------------------------
// The platform identifier of the version query, read once at start: 2 (NT)
// selects the wide calls, anything else the ANSI ones.
extern const DWORD PlatformId;
// The version query itself, for code that may run before PlatformId is set
// (the module entry); 0 when it fails.
DWORD QueryPlatformId();

bool ProbePath(const WideString& path, bool& isDirectory);
// Where kernel32's path rules hold (kWindowsPathRules), one trailing "\" is
// stripped and "X:" or "X:\" is a drive root; elsewhere neither ever is.
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
// The rule on a sample of bytesRead bytes; bytes[bytesRead] must be zero.
bool Utf8SampleValid(const BYTE* bytes, std::size_t bytesRead);
bool FileIsUtf8NoBom(const WideString& path, ProbeFacts* facts = nullptr);

// ---- Text/binary and OEM ----------------------------------------------------
bool IsCodeListed(int code, const std::string& list);
bool IsBinaryCode(int code);
bool ScanTextSample(HANDLE file, int sizeKb, bool wantOem, bool& isOem);
bool FileIsText(const WideString& path, ProbeFacts* facts = nullptr);
bool FileIsOem(const WideString& path, ProbeFacts* facts = nullptr);

// ---- Cyrillic letters -------------------------------------------------------
bool HasCyrillicText(const BYTE* buffer, int count, bool oem);
bool HandleHasCyrillic(HANDLE file, int sizeKb, bool& isOem, CyrillicFacts* facts = nullptr);
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
  bool drawnOnly = false; // oem_draw: a code counted only where it draws
  bool IsText() const { return read && binaryAt < 0; }
  // The lead code's share of the upper-half bytes, in whole percent.
  std::int64_t LeadShare() const;
  // ScanTextSample's OEM flag: the lead code reaches oem_percent.
  bool IsOem() const;
};
TextSampleFacts InspectTextSample(HANDLE file, int sizeKb, bool wantOem);
// The same facts from the bytesRead bytes read of such a sample.
TextSampleFacts InspectTextBytes(const BYTE* bytes, DWORD bytesRead, bool wantOem);

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
