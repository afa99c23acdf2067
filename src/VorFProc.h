// Settings, file access and the encoding probes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Win32.h"

// A path as the host passes it: UTF-16, whatever the platform's wchar_t.
using WideString = std::basic_string<WCHAR>;

// ---- Settings: process-wide, defaults built in, overridden at load --------
// A list setting's constructor runs before the ordinary initialisers of
// every source, so the module entry may read the settings from any of them.
#define CHARSIFT_EARLY_INIT __attribute__((init_priority(101)))
extern int text_buffer_size_kb;
extern int utf8_buffer_size_kb;
extern std::string binary_ignore;
extern int oem_enabled;
extern int oem_buffer_size_kb;
extern int oem_percent;
extern std::string oem_ignore;
extern int rus_enabled;
extern int rus_buffer_size_kb;
extern int rus_min_size;
extern int rus_percent;
extern int rus_word_len;

// One row per setting, in the order the settings file is read: its key, its
// variable (an integer or a code list) and its built-in default.
struct SettingRow {
  const char* key;
  int* integer; // null for a list
  std::string* list;
  int integerDefault;
  const char* listDefault;
};
extern const SettingRow SettingsTable[12];

// Puts every setting back to its built-in default.
void ResetSettings();
// Releases the two list settings (module unload).
void ReleaseListSettings();

// Largest text or OEM sample, in KB: a bigger setting is capped here, the
// ceiling the UTF-8 sample has too.
constexpr int kMaxTextSampleKb = 10240;
constexpr int kMaxUtf8SampleKb = 10240;
constexpr int kMaxRusSampleKb = 2048;

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
bool DetectUtf16Bom(HANDLE file, bool& bigEndian);
bool HasUtf8Bom(HANDLE file);
bool HasRtfSignature(HANDLE file);
bool FileUtf16Bom(const WideString& path, bool& bigEndian);
void FileRtfOrUtf8Bom(const WideString& path, bool& isRtf, bool& hasUtf8Bom);

// ---- UTF-8 without a mark ---------------------------------------------------
bool HandleIsUtf8(HANDLE file);
bool FileIsUtf8NoBom(const WideString& path);

// ---- Text/binary and OEM ----------------------------------------------------
// Which of the 256 codes a code list names, as IsCodeListed says for each.
struct CodeSet {
  bool has[256];
};
bool IsCodeListed(int code, const std::string& list);
CodeSet ListedCodes(const std::string& list);
bool IsBinaryCode(int code);
bool ScanTextSample(HANDLE file, int sizeKb, bool wantOem, bool& isOem);
bool FileIsText(const WideString& path);
bool FileIsOem(const WideString& path);

// ---- Cyrillic letters -------------------------------------------------------
bool IsCyrillicLetter(BYTE b, bool oem);
bool HasCyrillicText(const BYTE* buffer, int count, bool oem);
bool HandleHasCyrillic(HANDLE file, int sizeKb, bool& isOem);
bool FileHasCyrillic(const WideString& path, bool& isOem);
