// The win32 half of --to-utf8's files (ConvertPlatform.h): a whole file read
// with its identity, a new file written whole, and ReplaceFileW over the
// original once the original is checked to be unchanged.
#include <windows.h>

#include <algorithm>

#include "ConvertFaults.h"
#include "ConvertPlatform.h"
#include "Win32Files.h"

namespace charsift::cli {

namespace {

// The file being written, for the Ctrl+C handler. The lock keeps the handler
// from cutting a replacement in half: it waits until ReplaceFileW and its
// clean-up are over.
struct Pending {
  Pending() { InitializeCriticalSection(&lock); }
  CRITICAL_SECTION lock;
  std::wstring file;
};

Pending& Current() {
  static Pending pending;
  return pending;
}

class Locked {
public:
  Locked() { EnterCriticalSection(&Current().lock); }
  ~Locked() { LeaveCriticalSection(&Current().lock); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
};

void Forget() {
  Locked locked;
  Current().file.clear();
}

BOOL WINAPI OnCtrl(DWORD) {
  // The lock stays held: the process is ending, and nothing new may start.
  EnterCriticalSection(&Current().lock);
  if (!Current().file.empty()) DeleteFileW(Current().file.c_str());
  return FALSE; // the next handler, the system's, ends the process
}

FileState StateOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileState state;
  state.identity = IdentityOf(info);
  state.size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  state.modified =
      static_cast<std::int64_t>(std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                                info.ftLastWriteTime.dwLowDateTime);
  state.links = info.nNumberOfLinks;
  return state;
}

HANDLE OpenToRead(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The state of an open file; false with the reason, also for no disk file.
bool StateOfHandle(HANDLE file, FileState& state, std::string& why) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) {
    why = Reason(GetLastError());
    return false;
  }
  if (GetFileType(file) != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    why = "not a regular file";
    return false;
  }
  state = StateOf(info);
  return true;
}

bool StateNow(const std::wstring& path, FileState& state, std::string& why) {
  HANDLE file = OpenToRead(path);
  if (file == INVALID_HANDLE_VALUE) {
    why = Reason(GetLastError());
    return false;
  }
  const bool ok = StateOfHandle(file, state, why);
  CloseHandle(file);
  return ok;
}

bool WriteAll(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 30));
    DWORD written = 0;
    if (ShouldFailStep("write")) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    if (!WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) return false;
    content.remove_prefix(written);
  }
  return true;
}

// The name's part after its folder.
std::wstring BaseName(const std::wstring& path) {
  const std::size_t last = path.find_last_of(L"\\/:");
  return last == std::wstring::npos ? path : path.substr(last + 1);
}

// A name beside path that says what it is, should a kill leave it behind:
// "notes.txt" has ".notes.txt.charsift-tmp-1234", then "-1234-2" and so on.
std::wstring Beside(const std::wstring& path, const wchar_t* kind, int attempt) {
  const std::wstring base = BaseName(path);
  // std::to_wstring would bring the runtime's wide printf along.
  std::string number = std::to_string(GetCurrentProcessId());
  if (attempt > 1) number.append("-").append(std::to_string(attempt));
  return path.substr(0, path.size() - base.size()) + L"." + base + L".charsift-" + kind +
         std::wstring(number.begin(), number.end());
}

constexpr int kAttempts = 100;

// A temporary file beside a path, created new, written in full, flushed
// and closed; removed again unless kept. Ctrl+C removes it too.
class TempFile {
public:
  explicit TempFile(const std::wstring& path) {
    for (int attempt = 1; attempt <= kAttempts && file_ == INVALID_HANDLE_VALUE; ++attempt) {
      const Locked locked;
      name_ = Beside(path, L"tmp-", attempt);
      if (ShouldFailStep("open")) {
        SetLastError(ERROR_IO_DEVICE);
        break;
      }
      // Shared for delete, so that the Ctrl+C handler can remove it while open.
      file_ = CreateFileW(name_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file_ != INVALID_HANDLE_VALUE) {
        Current().file = name_;
        return;
      }
      if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    why_ = "cannot create a temporary file beside it: " + Reason(GetLastError());
    name_.clear();
  }
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Open(std::string& why) const {
    why = why_;
    return file_ != INVALID_HANDLE_VALUE;
  }
  const std::wstring& Name() const { return name_; }

  bool Write(std::string_view content, std::string& why) {
    if (!WriteAll(file_, content)) {
      why = "cannot write the converted file: " + Reason(GetLastError());
      return false;
    }
    if (ShouldFailStep("flush") ? (SetLastError(ERROR_IO_DEVICE), true)
                                : !FlushFileBuffers(file_)) {
      why = "cannot flush the converted file to the disk: " + Reason(GetLastError());
      return false;
    }
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) {
      why = "cannot write the converted file: " + Reason(GetLastError());
      return false;
    }
    return true;
  }

  // The temporary file now has the target's name: it is no longer removed.
  void Kept() {
    name_.clear();
    Forget();
  }
  void Discard() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    if (!name_.empty()) DeleteFileW(name_.c_str());
    if (!name_.empty()) Forget();
    name_.clear();
  }

private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
  std::wstring name_;
  std::string why_;
};

// Where ReplaceFileW keeps the original when no backup is asked for: given
// a backup it leaves both files under their own names when it cannot finish.
std::wstring AsideName(const std::wstring& path) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    std::wstring name = Beside(path, L"was-", attempt);
    if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) return name;
  }
  return L"";
}

// ReplaceFileW, which keeps the original's attributes and security. Its
// "rename" fault fails half-way as the system may: the original moved to the
// backup's name, the new file not moved to the original's.
bool ReplaceOrFail(const std::wstring& original, const std::wstring& temp,
                   const std::wstring& backup) {
  if (ShouldFailStep("rename")) {
    MoveFileExW(original.c_str(), backup.c_str(), 0);
    SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    return false;
  }
  return ReplaceFileW(original.c_str(), temp.c_str(), backup.c_str(), REPLACEFILE_WRITE_THROUGH,
                      nullptr, nullptr);
}

// Another program's write to the original: the "changed" fault.
void AppendByte(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written;
  WriteFile(file, "x", 1, &written, nullptr);
  CloseHandle(file);
}

bool MakeFolders(const fs::path& folder) {
  if (folder.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const fs::path parent = folder.parent_path();
  if (!(parent == folder) && !MakeFolders(parent)) return false;
  return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

} // namespace

bool ReadWhole(const fs::path& path, std::string& bytes, FileState& state, std::string& why) {
  HANDLE file = OpenToRead(path.native());
  if (file == INVALID_HANDLE_VALUE) {
    why = Reason(GetLastError());
    return false;
  }
  bool ok = StateOfHandle(file, state, why);
  bytes.clear();
  if (ok) bytes.resize(static_cast<std::size_t>(state.size));
  std::size_t have = 0;
  while (ok) {
    if (have == bytes.size()) bytes.resize(have + 65536); // it grew since
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - have, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(file, bytes.data() + have, ask, &got, nullptr)) {
      why = Reason(GetLastError());
      ok = false;
    } else if (got == 0) {
      break;
    }
    have += got;
  }
  bytes.resize(have);
  CloseHandle(file);
  return ok;
}

bool Replace(const fs::path& path, const FileState& was, std::string_view content,
             const NativeString* backupSuffix, std::string& why) {
  const std::wstring& original = path.native();
  // ReplaceFileW would put a file in a link's place, and XP has no call that
  // names the file a link leads to.
  const DWORD attributes = GetFileAttributesW(original.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    why = "a symbolic link or junction: name the file it leads to";
    return false;
  }
  TempFile temp(original);
  if (!temp.Open(why) || !temp.Write(content, why)) return false;

  // Ctrl+C waits from here until the original is replaced or left alone.
  const Locked locked;
  if (ShouldFailStep("changed")) AppendByte(original);
  FileState now;
  std::string problem;
  if (!StateNow(original, now, problem) || !(now == was)) {
    why = "changed since it was read: left as it is";
    return false;
  }
  std::wstring backup;
  if (backupSuffix != nullptr) {
    backup = original + *backupSuffix;
    const std::string name = Shown(fs::path(BaseName(backup)));
    if (GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES) {
      why = "the backup " + name + " exists: never overwritten";
      return false;
    }
    // ReplaceFileW makes the backup; a failure there leaves all as it was.
    if (ShouldFailStep("link")) {
      why = "cannot make the backup " + name + ": " + Reason(ERROR_IO_DEVICE);
      return false;
    }
  }
  const bool aside = backup.empty();
  if (aside) backup = AsideName(original);
  if (backup.empty()) {
    why = "cannot replace it: no free name beside it to keep it while replaced";
    return false;
  }
  if (!ReplaceOrFail(original, temp.Name(), backup)) {
    const DWORD error = GetLastError();
    // The original went to the backup's name but the new file could not
    // take its place: the original goes back.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
      MoveFileExW(backup.c_str(), original.c_str(), MOVEFILE_WRITE_THROUGH);
    why = "cannot rename the converted file over it: " + Reason(error);
    return false;
  }
  temp.Kept();
  if (aside) DeleteFileW(backup.c_str());
  return true;
}

bool WriteNew(const fs::path& path, std::string_view content, std::string& why) {
  const fs::path parent = path.parent_path();
  if (!MakeFolders(parent)) {
    why = "cannot make the folder " + Shown(parent) + ": " + Reason(GetLastError());
    return false;
  }
  TempFile temp(path.native());
  if (!temp.Open(why) || !temp.Write(content, why)) return false;
  const Locked locked;
  // Without MOVEFILE_REPLACE_EXISTING: never over an existing file.
  if (ShouldFailStep("rename")
          ? (SetLastError(ERROR_IO_DEVICE), true)
          : !MoveFileExW(temp.Name().c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    why = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS
              ? "exists in the output folder: never overwritten"
              : "cannot name the converted file: " + Reason(error);
    return false;
  }
  temp.Kept();
  return true;
}

void CleanUpOnSignals() { SetConsoleCtrlHandler(OnCtrl, TRUE); }

} // namespace charsift::cli
