// The module's own files: its path, its settings file's values and the first-run copy.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "CIniFile.h"
#include "PosixInternal.h"
#include "PosixWin32.h"
#include "platform/FileNames.h"

using namespace charsift::posix;

namespace {

// The longest value the W call reads through the A call, in bytes.
constexpr DWORD kMaxValue = 65536;

// Reads a whole regular file; a folder, a FIFO or a device is no file here.
bool ReadWholeFile(const char* path, std::string* content) {
  struct stat st;
  DWORD error = ERROR_SUCCESS;
  const Descriptor fd = OpenRegularFile(path, &st, &error);
  if (!fd.IsOpen()) return false;
  char chunk[65536];
  for (;;) {
    const ssize_t n = read(fd.Get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n == 0;
    content->append(chunk, static_cast<std::size_t>(n));
  }
}

} // namespace

namespace {

// The full path of the module that holds the given address (null: the
// executable); ERROR_SUCCESS or the error.
DWORD ModulePath(HMODULE module, std::string& path) {
  if (module == nullptr) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) return ERROR_INVALID_FUNCTION;
    path.assign(buffer, static_cast<std::size_t>(n));
    return ERROR_SUCCESS;
  }
  Dl_info info;
  if (dladdr(module, &info) == 0 || info.dli_fname == nullptr) return ERROR_INVALID_HANDLE;
  char* resolved = realpath(info.dli_fname, nullptr);
  path = resolved ? resolved : info.dli_fname;
  std::free(resolved);
  return ERROR_SUCCESS;
}

// The path and a terminator into fileName; a path that does not fit is cut
// to size-1 characters and answers size, as Windows answers.
template <typename Char>
DWORD CopyModulePath(const std::basic_string<Char>& path, Char* fileName, DWORD size) {
  if (size == 0) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), (size - 1) * sizeof(Char));
    fileName[size - 1] = 0;
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  std::memcpy(fileName, path.c_str(), (path.size() + 1) * sizeof(Char));
  lastError = ERROR_SUCCESS;
  return static_cast<DWORD>(path.size());
}

} // namespace

// GetModuleFileNameA: the full path of the module that holds the given
// address (null: the executable), cut to size-1 characters like Windows.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  std::string path;
  if (const DWORD error = ModulePath(module, path)) return FailWith(error);
  return CopyModulePath(path, fileName, size);
}

// GetModuleFileNameW: the same path as UTF-16, a byte that is no UTF-8
// mapped as names are; cut as Windows cuts it (Vista on: with a terminator).
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  std::string path;
  if (const DWORD error = ModulePath(module, path)) return FailWith(error);
  return CopyModulePath(charsift::names::Utf16FromBytes(path), fileName, size);
}

// GetPrivateProfileStringA: the value from the named section, or the
// default when the file, the section or the key is missing; at most size-1
// characters and a terminator.
DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultValue, LPSTR returned,
                               DWORD size, LPCSTR fileName) {
  if (returned == nullptr || size == 0) return 0;
  std::string content;
  std::optional<std::string_view> found;
  if (appName && keyName && fileName && ReadWholeFile(fileName, &content))
    found = FindIniValue(content, appName, keyName);
  const std::string value(found ? *found : defaultValue ? defaultValue : "");
  const std::size_t n = std::min<std::size_t>(std::strlen(value.c_str()), size - 1);
  std::memcpy(returned, value.data(), n);
  returned[n] = '\0';
  lastError = found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  return static_cast<DWORD>(n);
}

// CopyFileA: contents and last-write time; with fail-if-exists an existing
// target is left untouched.
BOOL CopyFileA(LPCSTR existingFileName, LPCSTR newFileName, BOOL failIfExists) {
  if (!existingFileName || !newFileName) return FailWith(ERROR_INVALID_PARAMETER);
  struct stat st;
  DWORD error = ERROR_SUCCESS;
  const Descriptor in = OpenRegularFile(existingFileName, &st, &error);
  if (!in.IsOpen()) return FailWith(error);
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC);
  const Descriptor out(open(newFileName, flags, 0644));
  if (!out.IsOpen()) return FailWith(ErrorFromErrno(errno));
  char chunk[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(in.Get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; ok && done < n;) {
      const ssize_t w = write(out.Get(), chunk + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      done += w > 0 ? w : 0;
    }
    if (!ok) break;
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (ok) futimens(out.Get(), times);
  if (!ok) {
    unlink(newFileName);
    return FailWith(ERROR_ACCESS_DENIED);
  }
  return TRUE;
}

// GetPrivateProfileStringW: the A call on the file the UTF-16 name names,
// its value back in UTF-16, cut to size-1 characters as Windows cuts it.
DWORD GetPrivateProfileStringW(LPCWSTR appName, LPCWSTR keyName, LPCWSTR defaultValue,
                               LPWSTR returned, DWORD size, LPCWSTR fileName) {
  if (returned == nullptr || size == 0) return 0;
  const PathFromWide app(appName), key(keyName), value(defaultValue), file(fileName);
  std::string found(kMaxValue, '\0');
  GetPrivateProfileStringA(appName ? app.c_str() : nullptr, keyName ? key.c_str() : nullptr,
                           value.c_str(), found.data(), kMaxValue,
                           fileName ? file.c_str() : nullptr);
  const DWORD error = lastError;
  const std::u16string wide = charsift::names::Utf16FromBytes(found.c_str());
  const std::size_t n = std::min<std::size_t>(wide.size(), size - 1);
  std::memcpy(returned, wide.data(), n * sizeof(WCHAR));
  returned[n] = 0;
  lastError = error;
  return static_cast<DWORD>(n);
}

// CopyFileW: the A call on the files the UTF-16 names name.
BOOL CopyFileW(LPCWSTR existingFileName, LPCWSTR newFileName, BOOL failIfExists) {
  if (!existingFileName || !newFileName) return FailWith(ERROR_INVALID_PARAMETER);
  const PathFromWide existing(existingFileName), target(newFileName);
  return CopyFileA(existing.c_str(), target.c_str(), failIfExists);
}
