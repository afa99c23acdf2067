// File handles: opening a regular file only, its size, position and reads, and closing it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>

#include "PosixInternal.h"
#include "PosixWin32.h"
#include "platform/TestHooks.h"

namespace charsift::posix {

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

} // namespace charsift::posix

using namespace charsift::posix;

namespace {

// An open file, always a regular one. It keeps its position here and is
// read with pread(2), so that moving the position costs no system call; its
// size is the one its open saw, as each probe sees a file as it was when it
// opened it. A size of 0 may be no size at all (procfs, sysfs).
struct OpenFile {
  int fd;
  std::uint64_t size;
  std::uint64_t position;
};

HANDLE HandleFromFile(OpenFile* file) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(file) | kFileKind);
}

OpenFile* FileFromHandle(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (handle == INVALID_HANDLE_VALUE || (value & kKindMask) != kFileKind) return nullptr;
  return reinterpret_cast<OpenFile*>(value & ~kKindMask);
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

} // namespace

// CreateFileW: opens an existing file for reading (OPEN_EXISTING only, any
// other disposition fails with ERROR_INVALID_PARAMETER); a folder fails with
// ERROR_ACCESS_DENIED as in kernel32 without backup semantics, and so here
// does a FIFO, socket or device. Access, sharing and flags are not looked at.
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

// CreateFileA: CreateFileW for a name already in the ANSI code page's bytes.
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

// CloseHandle: closes a file handle; any other value fails with
// ERROR_INVALID_HANDLE, as kernel32 does.
BOOL CloseHandle(HANDLE object) {
  charsift::trace::Note(charsift::trace::Op::Close);
  OpenFile* open = FileFromHandle(object);
  if (open == nullptr) return FailWith(ERROR_INVALID_HANDLE);
  const int result = close(open->fd);
  delete open;
  return result == 0 ? TRUE : FailWith(ERROR_INVALID_HANDLE);
}
