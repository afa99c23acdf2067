// The system's half of --to-utf8: a code page decoded to UTF-8 and checked
// to encode back, a whole file read with what it was, and a file replaced or
// written so that an interruption leaves either all of the old or all of
// the new. CMake picks posix/ (iconv, rename) or win32/ (the code-page calls,
// ReplaceFileW).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Platform.h"

namespace charsift::cli {

// A code page: a Windows number (1251, 866, 437, 1252; 1200 and 1201 for
// UTF-16 LE and BE), or a name that --from gave (number 0).
struct CodePage {
  unsigned number = 0;
  std::string name; // as given to --from, or "" for a number
};

// "CP1251", "UTF-16LE", or the name given: how rows and messages name a page.
std::string NameOf(const CodePage& page);
// Whether the system can convert from the page: --from is a usage error otherwise.
bool Knows(const CodePage& page);
// "ANSI"'s page when --ansi-codepage is not given: 1252 off Windows, the
// system's ANSI code page on Windows.
unsigned DefaultAnsiCodePage();

struct Decoded {
  bool ok = false;
  std::size_t offset = 0; // when not ok: the first byte that is no character
                          // of the page or does not come back the same
  std::string why;        // when not ok: why, in the tool's words
};
// bytes, in page, as UTF-8 in utf8; ok only when every byte is a character
// of the page and the UTF-8 encodes back to exactly the bytes. UTF-16 with an
// unpaired surrogate is not ok. A mark at the start of UTF-16 is dropped.
Decoded ToUtf8(const CodePage& page, std::string_view bytes, std::string& utf8);

// What a file was when it was read: told again just before it is replaced.
struct FileState {
  std::string identity; // device and file number (Windows: volume and file index)
  std::uint64_t size = 0;
  std::int64_t modified = 0; // nanoseconds, or the system's finest unit
  std::uint64_t links = 1;
  bool operator==(const FileState&) const = default;
};

// The whole of a regular file and its state; false with the reason.
bool ReadWhole(const fs::path& path, std::string& bytes, FileState& state, std::string& why);

// Replaces the file at path, read as was, by content: a temporary file
// beside it, written in full, flushed to the disk, with the original's
// mode, owner and group (and attributes), renamed over it in one step after
// the original is checked to be still as was. backupSuffix non-null: the
// original is first kept under path + suffix (a hard link; never over an
// existing file). False with the reason; then the original is as it was and
// no temporary file is left.
bool Replace(const fs::path& path, const FileState& was, std::string_view content,
             const NativeString* backupSuffix, std::string& why);

// Writes content to a new file at path, making the folders it needs; never
// over an existing file; written in full or not at all.
bool WriteNew(const fs::path& path, std::string_view content, std::string& why);

// From here on, SIGINT and SIGTERM (Windows: Ctrl+C and Ctrl+Break) remove
// the temporary file being written before the process ends by the signal.
void CleanUpOnSignals();

} // namespace charsift::cli
