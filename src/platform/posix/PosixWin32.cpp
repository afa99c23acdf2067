// The Win32 subset the module uses, on POSIX: handles, files, searches, profiles, code pages.
#include "PosixWin32.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "../CallTrace.h"
#include "../FaultInjection.h"
#include "AsciiText.h"
#include "platform/FileNames.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

DWORD ErrorFromErrno(int err) {
  switch (err) {
  case ENOENT:
    return ERROR_FILE_NOT_FOUND;
  case ENOTDIR:
  case ENAMETOOLONG:
  case ELOOP:
    return ERROR_PATH_NOT_FOUND;
  case EACCES:
  case EPERM:
  case EISDIR:
    return ERROR_ACCESS_DENIED;
  case EBADF:
    return ERROR_INVALID_HANDLE;
  case ENOMEM:
    return ERROR_NOT_ENOUGH_MEMORY;
  case EEXIST:
    return ERROR_FILE_EXISTS;
  case EIO:
    return ERROR_READ_FAULT;
  case EINVAL:
    return ERROR_NEGATIVE_SEEK;
  default:
    return ERROR_INVALID_FUNCTION;
  }
}

BOOL FailWith(DWORD code) {
  lastError = code;
  return FALSE;
}

// A handle carries its kind in its two low bits, so that a file handle
// given to FindClose, or a search handle to CloseHandle, fails with
// ERROR_INVALID_HANDLE as in kernel32 instead of closing something else.
// Null and INVALID_HANDLE_VALUE (all bits set) are of neither kind.
constexpr std::uintptr_t kKindMask = 3, kFileKind = 1, kSearchKind = 2;

// An open file, always a regular one. It keeps its position here and is
// read with pread(2), so that moving the position costs no system call; its
// size is the one its open saw, as each probe sees a file as it was when it
// opened it. A size of 0 may be no size at all (procfs, sysfs).
struct OpenFile {
  int fd;
  std::uint64_t size;
  std::uint64_t position;
};

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

HANDLE HandleFromFile(OpenFile* file) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(file) | kFileKind);
}

OpenFile* FileFromHandle(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (handle == INVALID_HANDLE_VALUE || (value & kKindMask) != kFileKind) return nullptr;
  return reinterpret_cast<OpenFile*>(value & ~kKindMask);
}

// A search handle holds no state: the record is filled by FindFirstFile.
HANDLE NewSearchHandle() {
  static std::atomic<std::uintptr_t> serial{0};
  return reinterpret_cast<HANDLE>((++serial << 2 & ~kKindMask) | kSearchKind);
}

bool IsSearchHandle(HANDLE handle) {
  return handle != INVALID_HANDLE_VALUE &&
         (reinterpret_cast<std::uintptr_t>(handle) & kKindMask) == kSearchKind;
}

// UTF-16 to UTF-8 in the name mapping's lossless form, so that the ANSI
// calls name the very file the wide calls do: a lone surrogate is no
// replacement character but its escaped byte or its three-byte form.
std::string Utf8FromUtf16(const WCHAR* text, std::size_t length) {
  return charsift::names::BytesFromUtf16(std::u16string_view(text, length));
}

std::size_t WideLength(const WCHAR* text) {
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

// FILETIME counts 100 ns ticks since 1601-01-01 UTC, as a signed 64-bit
// count in kernel32's eyes. A time outside that range (tmpfs keeps an mtime
// of 1e15 s) is clamped to its nearer end instead of overflowing.
FILETIME FileTimeFromTimespec(const timespec& ts) {
  constexpr std::int64_t kEpochDelta = 11644473600LL, kTicksPerSecond = 10000000LL;
  constexpr std::int64_t kMaxTicks = INT64_MAX;
  constexpr std::int64_t kMaxSeconds = kMaxTicks / kTicksPerSecond - kEpochDelta;
  const auto seconds = static_cast<std::int64_t>(ts.tv_sec);
  std::int64_t ticks;
  if (seconds < -kEpochDelta)
    ticks = 0;
  else if (seconds >= kMaxSeconds)
    ticks = kMaxTicks;
  else
    ticks = (seconds + kEpochDelta) * kTicksPerSecond + ts.tv_nsec / 100;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return ft;
}

std::int64_t UnixSecondsFromFileTime(const FILETIME& ft) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
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

// The Windows wildcard rule for one name: '*' any run, '?' one character.
bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*')
    ++p;
  return p == pattern.size();
}

// FindFirstFile: the first entry matching the path. '?' and '*' are legal
// in POSIX names, so the entry of that very name wins; only when there is
// none is a wildcard in the last component matched against the folder's
// names, the smallest name (as NTFS lists them, "." first) being the first
// match.
// path is zero-terminated at path.size().
bool FindFirst(std::string_view path, struct stat* st) {
  if (path.empty()) return false;
  if (StatEntry(path.data(), st)) return true;
  const std::size_t slash = path.rfind('/');
  const std::string last(slash == std::string::npos ? path : path.substr(slash + 1));
  if (last.find_first_of("*?") == std::string::npos) return false;

  const std::string folder =
      slash == std::string::npos ? std::string(".") : std::string(path.substr(0, slash + 1));
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  std::string best;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (WildcardMatch(last, name) && (!found || name < best)) {
      best = name;
      found = true;
    }
  }
  closedir(dir);
  return found && StatEntry((folder + (folder.back() == '/' ? "" : "/") + best).c_str(), st);
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

// Opens a regular file for reading, and nothing else. A FIFO, socket or
// device, also behind a link, is refused before any open: the open alone
// may block, arm a watchdog, rewind a tape or take a terminal, and a read
// takes bytes a writer left for someone else. Off Windows none of these is
// a file a host means to classify, so each answers as a file that cannot be
// opened. The fstat after the open refuses an entry swapped in between,
// unread; O_NONBLOCK keeps a swapped-in FIFO from stalling the open, and
// O_NOCTTY a terminal from becoming ours. A folder is refused too, as
// kernel32 refuses one without the backup-semantics flag.
Descriptor OpenRegularFile(const char* path, struct stat* st, DWORD* error) {
  if (stat(path, st) != 0) {
    *error = ErrorFromErrno(errno);
    return Descriptor();
  }
  if (!S_ISREG(st->st_mode)) {
    *error = ERROR_ACCESS_DENIED;
    return Descriptor();
  }
  Descriptor fd(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.IsOpen()) {
    *error = ErrorFromErrno(errno);
    return fd;
  }
  charsift::fault::NoteDescriptorOpened();
  if (fstat(fd.Get(), st) != 0 || !S_ISREG(st->st_mode)) {
    *error = ERROR_ACCESS_DENIED;
    return Descriptor();
  }
  return fd;
}

HANDLE CreateFileCommon(const char* path, DWORD creationDisposition) {
  if (creationDisposition != OPEN_EXISTING) {
    lastError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  Descriptor fd = OpenRegularFile(path, &st, &lastError);
  if (!fd.IsOpen()) return INVALID_HANDLE_VALUE;
  // kernel32 fails an open it has no memory for; it throws nothing.
  auto* file = new (std::nothrow) OpenFile{fd.Get(), static_cast<std::uint64_t>(st.st_size), 0};
  if (file == nullptr) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return INVALID_HANDLE_VALUE;
  }
  fd.Release();
  return HandleFromFile(file);
}

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

// One pread(2), cut short and interrupted first when the tests ask for it.
ssize_t ReadSome(const OpenFile& file, void* buffer, std::size_t size, std::uint64_t position) {
  if (const std::size_t limit = charsift::fault::ShortReadLimit(); limit > 0) {
    static thread_local bool interrupted = false;
    if ((interrupted = !interrupted)) {
      errno = EINTR;
      return -1;
    }
    size = std::min(size, limit);
  }
  return pread(file.fd, buffer, size, static_cast<off_t>(position));
}

// The size of a file whose system size is 0: what a read to its end finds.
// One that runs on past the limit has no size to tell, as a device has
// none; a failing read fails with its error.
constexpr std::uint64_t kMeasureLimit = std::uint64_t{1} << 20;

bool MeasureByReading(const OpenFile& file, std::uint64_t* size) {
  char chunk[4096];
  std::uint64_t total = 0;
  while (total <= kMeasureLimit) {
    const ssize_t n = ReadSome(file, chunk, sizeof chunk, total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailWith(ErrorFromErrno(errno));
    if (n == 0) {
      *size = total;
      return true;
    }
    total += static_cast<std::uint64_t>(n);
  }
  return FailWith(ERROR_INVALID_FUNCTION);
}

// The profile-string lookup: the value of the first matching key in a
// section of that name, or nothing.
bool FindProfileValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string* value) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  bool inSection = false;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = TrimBlanks(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      line.remove_prefix(1);
      line = TrimBlanks(line.substr(0, line.find(']')));
      inSection = EqualsIgnoringCase(line, section);
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inSection || equals == std::string_view::npos) continue;
    if (!EqualsIgnoringCase(TrimBlanks(line.substr(0, equals)), key)) continue;
    std::string_view found = TrimBlanks(line.substr(equals + 1));
    if (found.size() >= 2 && (found.front() == '"' || found.front() == '\'') &&
        found.back() == found.front()) {
      found = found.substr(1, found.size() - 2);
    }
    value->assign(found);
    return true;
  }
  return false;
}

} // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  charsift::trace::Note(charsift::trace::Op::Find);
  if (charsift::fault::ShouldFail(charsift::fault::Call::FindFirstFileW)) {
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  }
  return FindFirstCommon(PathFromWide(fileName).View(), findData);
}

HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  return FindFirstCommon(fileName ? std::string_view(fileName) : std::string_view(""), findData);
}

BOOL FindClose(HANDLE findHandle) {
  return IsSearchHandle(findHandle) ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE) {
  charsift::trace::Note(charsift::trace::Op::Open);
  charsift::fault::BeforeOpen();
  if (charsift::fault::ShouldFail(charsift::fault::Call::CreateFileW)) {
    lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileCommon(PathFromWide(fileName).c_str(), creationDisposition);
}

HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition,
                   DWORD, HANDLE) {
  return CreateFileCommon(fileName ? fileName : "", creationDisposition);
}

// GetFileSize: the size the open saw. A file the system calls empty may
// still hold bytes that are made as they are read (procfs, sysfs); kernel32
// gives a file's true size, so such a file is measured by reading it.
DWORD GetFileSize(HANDLE file, LPDWORD fileSizeHigh) {
  charsift::trace::Note(charsift::trace::Op::Size);
  const OpenFile* open = FileFromHandle(file);
  if (open == nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return INVALID_FILE_SIZE;
  }
  std::uint64_t size = open->size;
  if (size == 0 && !MeasureByReading(*open, &size)) return INVALID_FILE_SIZE;
  if (fileSizeHigh) *fileSizeHigh = static_cast<DWORD>(size >> 32);
  lastError = ERROR_SUCCESS; // so a size whose low part is all ones is no failure
  return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

// SetFilePointer: the new position from the start, the current position or
// the end; a position before the start fails. The position lives in the
// handle.
DWORD SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh, DWORD moveMethod) {
  charsift::trace::Note(charsift::trace::Op::Seek);
  if (charsift::fault::ShouldFail(charsift::fault::Call::SetFilePointer)) {
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  OpenFile* open = FileFromHandle(file);
  if (open == nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t distance = distanceToMove;
  if (distanceToMoveHigh) {
    distance = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceToMoveHigh)) << 32) |
        static_cast<DWORD>(distanceToMove));
  }
  const std::int64_t base = moveMethod == FILE_BEGIN     ? 0
                            : moveMethod == FILE_CURRENT ? static_cast<std::int64_t>(open->position)
                                                         : static_cast<std::int64_t>(open->size);
  const std::int64_t position = base + distance;
  if (position < 0) {
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  open->position = static_cast<std::uint64_t>(position);
  const auto unsignedPosition = static_cast<std::uint64_t>(position);
  if (distanceToMoveHigh) *distanceToMoveHigh = static_cast<LONG>(unsignedPosition >> 32);
  lastError = ERROR_SUCCESS;
  return static_cast<DWORD>(unsignedPosition & 0xFFFFFFFFu);
}

// ReadFile: a file delivers the count asked for, or all that is left before
// its end. pread(2) may deliver less on FUSE, network file systems and
// procfs, so read on until then. The size the open saw ends the read without
// one more call, and a file that grows is read as it was at the open; a file
// whose size was 0 is read on to its end, which procfs and sysfs files
// report so. A read that fails fails the call, as kernel32's does, whatever
// came before it.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED) {
  charsift::trace::Note(charsift::trace::Op::Read, bytesToRead);
  if (bytesRead) *bytesRead = 0;
  if (charsift::fault::ShouldFail(charsift::fault::Call::ReadFile))
    return FailWith(ERROR_INVALID_FUNCTION);
  OpenFile* open = FileFromHandle(file);
  if (open == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  DWORD total = 0;
  while (total < bytesToRead) {
    const ssize_t n = ReadSome(*open, static_cast<char*>(buffer) + total, bytesToRead - total,
                               open->position + total);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return FailWith(ErrorFromErrno(errno));
    if (n == 0) break;
    total += static_cast<DWORD>(n);
    if (open->size > 0 && open->position + total >= open->size) break;
  }
  open->position += total;
  if (bytesRead) *bytesRead = total;
  return TRUE;
}

BOOL CloseHandle(HANDLE object) {
  charsift::trace::Note(charsift::trace::Op::Close);
  OpenFile* open = FileFromHandle(object);
  if (open == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  const int result = close(open->fd);
  delete open;
  return result == 0 ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}

// GetModuleFileNameA: the full path of the module that holds the given
// address (null: the executable), cut to size-1 characters like Windows.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  std::string path;
  if (module == nullptr) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) return FailWith(ERROR_INVALID_FUNCTION);
    path.assign(buffer, static_cast<std::size_t>(n));
  } else {
    Dl_info info;
    if (dladdr(module, &info) == 0 || info.dli_fname == nullptr)
      return FailWith(ERROR_INVALID_HANDLE);
    char* resolved = realpath(info.dli_fname, nullptr);
    path = resolved ? resolved : info.dli_fname;
    std::free(resolved);
  }
  if (size == 0) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    lastError = ERROR_INSUFFICIENT_BUFFER;
    return size;
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  lastError = ERROR_SUCCESS;
  return static_cast<DWORD>(path.size());
}

// GetPrivateProfileStringA: the value from the named section, or the
// default when the file, the section or the key is missing; at most size-1
// characters and a terminator.
DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultValue, LPSTR returned,
                               DWORD size, LPCSTR fileName) {
  if (returned == nullptr || size == 0) return 0;
  std::string content, value;
  const bool found = appName && keyName && fileName && ReadWholeFile(fileName, &content) &&
                     FindProfileValue(content, appName, keyName, &value);
  if (!found) value = defaultValue ? defaultValue : "";
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

BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localFileTime) {
  if (!fileTime || !localFileTime) return FailWith(ERROR_INVALID_PARAMETER);
  const std::int64_t seconds = UnixSecondsFromFileTime(*fileTime);
  const time_t t = static_cast<time_t>(seconds);
  tm local;
  const std::int64_t offset = localtime_r(&t, &local) ? local.tm_gmtoff : 0;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  // Unsigned, so an offset past either end wraps as kernel32's unchecked
  // 64-bit add does, and is no overflow.
  const std::uint64_t shifted = ticks + static_cast<std::uint64_t>(offset * 10000000LL);
  localFileTime->dwLowDateTime = static_cast<DWORD>(shifted & 0xFFFFFFFFu);
  localFileTime->dwHighDateTime = static_cast<DWORD>(shifted >> 32);
  return TRUE;
}

// FileTimeToDosDateTime: fails for a time a DOS date cannot hold
// (before 1980 or after 2107).
BOOL FileTimeToDosDateTime(const FILETIME* fileTime, WORD* fatDate, WORD* fatTime) {
  if (!fileTime || !fatDate || !fatTime) return FailWith(ERROR_INVALID_PARAMETER);
  const time_t t = static_cast<time_t>(UnixSecondsFromFileTime(*fileTime));
  tm utc;
  if (!gmtime_r(&t, &utc)) return FailWith(ERROR_INVALID_PARAMETER);
  const int year = utc.tm_year + 1900;
  if (year < 1980 || year > 2107) return FailWith(ERROR_INVALID_PARAMETER);
  *fatDate = static_cast<WORD>(((year - 1980) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
  *fatTime = static_cast<WORD>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
  return TRUE;
}

// lstrcpynA: at most maxLength-1 characters and a terminator; nothing for 0.
LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxLength) {
  if (!dest || !src) return nullptr;
  LPSTR d = dest;
  int count = maxLength;
  while (count > 1 && *src) {
    *d++ = *src++;
    --count;
  }
  if (count > 0) *d = '\0';
  return dest;
}

BOOL GetVersionExA(LPOSVERSIONINFOA versionInfo) {
  if (!versionInfo || versionInfo->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA))
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  versionInfo->dwMajorVersion = 10;
  versionInfo->dwMinorVersion = 0;
  versionInfo->dwBuildNumber = 0;
  versionInfo->dwPlatformId = VER_PLATFORM_WIN32_NT;
  versionInfo->szCSDVersion[0] = '\0';
  return TRUE;
}

LCID GetThreadLocale() { return 0x0409; }

// The ANSI code page of this layer is UTF-8: file names on POSIX are bytes
// that are conventionally UTF-8.
int GetLocaleInfoA(LCID, DWORD type, LPSTR data, int size) {
  if ((type & ~LOCALE_RETURN_NUMBER) != LOCALE_IDEFAULTANSICODEPAGE)
    return static_cast<int>(FailWith(ERROR_INVALID_PARAMETER));
  if (type & LOCALE_RETURN_NUMBER) {
    const DWORD value = CP_UTF8;
    if (size < static_cast<int>(sizeof value / sizeof(CHAR)))
      return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
    std::memcpy(data, &value, sizeof value);
    return static_cast<int>(sizeof value);
  }
  static const char text[] = "65001";
  if (size < static_cast<int>(sizeof text))
    return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
  std::memcpy(data, text, sizeof text);
  return static_cast<int>(sizeof text);
}

UINT GetACP() { return CP_UTF8; }

BOOL IsDBCSLeadByteEx(UINT, BYTE) { return FALSE; }

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength, LPSTR multiByte,
                        int multiByteLength, LPCSTR, LPBOOL usedDefaultChar) {
  if (!wide || wideLength == 0 || multiByteLength < 0 ||
      (codePage != CP_ACP && codePage != CP_UTF8 && codePage != GetACP()))
    return static_cast<int>(FailWith(ERROR_INVALID_PARAMETER));
  // -1: the terminator is part of the text and of the result.
  const std::size_t length =
      wideLength < 0 ? WideLength(wide) + 1 : static_cast<std::size_t>(wideLength);
  const std::string bytes = Utf8FromUtf16(wide, length);
  if (usedDefaultChar) *usedDefaultChar = FALSE; // the mapping is lossless
  if (bytes.size() > static_cast<std::size_t>(INT_MAX))
    return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
  if (multiByteLength == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<std::size_t>(multiByteLength))
    return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
  std::memcpy(multiByte, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}
