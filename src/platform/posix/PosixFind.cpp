// Searches: FindFirstFile's lookup of one name and its record, and search handles.
#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "PosixInternal.h"
#include "PosixWin32.h"
#include "platform/TestHooks.h"

using namespace charsift::posix;

namespace {

// A search handle holds no state: the record is filled by FindFirstFile.
HANDLE NewSearchHandle() {
  static std::atomic<std::uintptr_t> serial{0};
  return reinterpret_cast<HANDLE>((++serial << 2 & ~kKindMask) | kSearchKind);
}

bool IsSearchHandle(HANDLE handle) {
  return handle != INVALID_HANDLE_VALUE &&
         (reinterpret_cast<std::uintptr_t>(handle) & kKindMask) == kSearchKind;
}

template <typename FindData> void FillFindData(const struct stat& st, FindData* data) {
  std::memset(data, 0, sizeof *data);
  data->dwFileAttributes = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  data->ftCreationTime = FileTimeFromTimespec(st.st_ctim);
  data->ftLastAccessTime = FileTimeFromTimespec(st.st_atim);
  data->ftLastWriteTime = FileTimeFromTimespec(st.st_mtim);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  data->nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
}

// A dangling link or a link loop is still an entry of its folder, as
// Windows lists a reparse point whatever it points to.
bool StatEntry(const char* path, struct stat* st) {
  return stat(path, st) == 0 || lstat(path, st) == 0;
}

// The entry the path names, as FindFirstFile finds it. '?' and '*' are
// characters of POSIX names, never wildcards: a pattern matching some other
// entry would answer for a file the host did not name.
// path is zero-terminated at path.size().
bool FindFirst(std::string_view path, struct stat* st) {
  return !path.empty() && StatEntry(path.data(), st);
}

template <typename FindData> HANDLE FindFirstCommon(std::string_view path, FindData* findData) {
  struct stat st;
  if (!FindFirst(path, &st)) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  if (findData) FillFindData(st, findData);
  return NewSearchHandle();
}

} // namespace

// FindFirstFileW: a search handle and the record (attributes, times, size)
// of the entry of that very name (kernel32 would match wildcards in its last
// component; here they are characters of names); none fails with
// ERROR_FILE_NOT_FOUND. The record
// holds no name, which the module never reads.
HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  charsift::trace::Note(charsift::trace::Op::Find);
  if (charsift::fault::ShouldFail(charsift::fault::Call::FindFirstFileW)) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  return FindFirstCommon(PathFromWide(fileName).View(), findData);
}

// FindFirstFileA: FindFirstFileW for a name already in the ANSI code page's bytes.
HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  return FindFirstCommon(fileName ? std::string_view(fileName) : std::string_view(""), findData);
}

// FindClose: closes a search handle; any other value fails with
// ERROR_INVALID_HANDLE, as kernel32 does.
BOOL FindClose(HANDLE findHandle) {
  return IsSearchHandle(findHandle) ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}
