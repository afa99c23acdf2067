// Shared by the layer's files: the last error, errno mapping, handle kinds, descriptors, paths.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>

#include "PosixWin32.h"
#include "platform/FileNames.h"

namespace charsift::posix {

// The calling thread's last error, as GetLastError reports it.
inline constinit thread_local DWORD lastError = ERROR_SUCCESS;

DWORD ErrorFromErrno(int err);

inline BOOL FailWith(DWORD code) {
  lastError = code;
  return FALSE;
}

// A handle carries its kind in its two low bits, so that a file handle
// given to FindClose, or a search handle to CloseHandle, fails with
// ERROR_INVALID_HANDLE as in kernel32 instead of closing something else.
// Null and INVALID_HANDLE_VALUE (all bits set) are of neither kind.
constexpr std::uintptr_t kKindMask = 3, kFileKind = 1, kSearchKind = 2;

// A descriptor that is closed on every path, an exception included.
class Descriptor {
public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.Release()) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  bool IsOpen() const { return fd_ >= 0; }
  int Get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }

private:
  int fd_;
};

// Opens a regular file for reading, and nothing else (see PosixFiles.cpp);
// otherwise *error says why.
Descriptor OpenRegularFile(const char* path, struct stat* st, DWORD* error);

inline std::size_t WideLength(const WCHAR* text) {
  std::size_t n = 0;
  while (text[n] != 0)
    ++n;
  return n;
}

// The file-system bytes a host's UTF-16 path names, so that every name on
// disk, UTF-8 or not, can be named back. A path of plain ASCII, nearly every
// one, is narrowed unit by unit into a buffer on the stack; only a longer
// one, or one that needs the full mapping, takes the heap.
class PathFromWide {
public:
  explicit PathFromWide(LPCWSTR path) {
    local_[0] = '\0';
    if (!path) return;
    std::size_t n = 0;
    for (; path[n] != 0 && path[n] < 0x80 && n + 1 < sizeof local_; ++n)
      local_[n] = static_cast<char>(path[n]);
    local_[n] = '\0';
    size_ = n;
    if (path[n] == 0) return;
    heap_ = charsift::names::BytesFromUtf16(std::u16string_view(path, WideLength(path)));
    data_ = heap_.c_str();
    size_ = heap_.size();
  }
  PathFromWide(const PathFromWide&) = delete;
  PathFromWide& operator=(const PathFromWide&) = delete;
  const char* c_str() const { return data_; }
  std::string_view View() const { return {data_, size_}; }

private:
  char local_[256];
  std::string heap_;
  const char* data_ = local_;
  std::size_t size_ = 0;
};

// A file-system time as a FILETIME (see PosixTime.cpp).
FILETIME FileTimeFromTimespec(const timespec& ts);

} // namespace charsift::posix
