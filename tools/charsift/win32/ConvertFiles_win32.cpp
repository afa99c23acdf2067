// The win32 half of --to-utf8's files (ConvertPlatform.h): a whole file read
// with its identity, a new file written whole, and ReplaceFileW over the
// original once the original is checked to be unchanged.
#include <windows.h>

#include <algorithm>

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
    if (!WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) return false;
    content.remove_prefix(written);
  }
  return true;
}

// Writes content to a file that must not exist yet, flushed to the disk;
// on a failure the file is gone again. The error of the create, when that
// fails, is left for GetLastError.
bool WriteFresh(const std::wstring& name, std::string_view content, std::string& why) {
  HANDLE file;
  {
    Locked locked;
    // Shared for delete, so that the Ctrl+C handler can remove it while open.
    file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      why = Reason(error);
      SetLastError(error);
      return false;
    }
    Current().file = name;
  }
  bool ok = WriteAll(file, content);
  if (ok) ok = FlushFileBuffers(file);
  if (!ok) why = Reason(GetLastError());
  if (!CloseHandle(file) && ok) {
    ok = false;
    why = Reason(GetLastError());
  }
  if (!ok) {
    DeleteFileW(name.c_str());
    Forget();
  }
  return ok;
}

// A name beside path that tells what it is and is not taken yet:
// "notes.txt.to-utf8-1234.tmp", then "-1234-2.tmp" and so on.
std::wstring Beside(const std::wstring& path, const wchar_t* ending, int attempt) {
  // std::to_wstring would bring the runtime's wide printf along.
  std::string number = std::to_string(GetCurrentProcessId());
  if (attempt > 1) number.append("-").append(std::to_string(attempt));
  return path + L".to-utf8-" + std::wstring(number.begin(), number.end()) + ending;
}

constexpr int kAttempts = 100;

bool WriteTemporary(const std::wstring& path, std::string_view content, std::wstring& temp,
                    std::string& why) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    temp = Beside(path, L".tmp", attempt);
    if (WriteFresh(temp, content, why)) return true;
    if (GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

// Where ReplaceFileW keeps the original when no backup is asked for: with a
// backup it leaves both files under their own names when it cannot finish.
std::wstring AsideName(const std::wstring& path) {
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    std::wstring name = Beside(path, L".was", attempt);
    if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) return name;
  }
  return L"";
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
  std::wstring backup;
  if (backupSuffix != nullptr) {
    backup = original + *backupSuffix;
    if (GetFileAttributesW(backup.c_str()) != INVALID_FILE_ATTRIBUTES) {
      why = "its backup " + Shown(fs::path(backup)) + " already exists";
      return false;
    }
  }
  std::wstring temp;
  if (!WriteTemporary(original, content, temp, why)) return false;
  const auto discard = [&](std::string reason) {
    DeleteFileW(temp.c_str());
    Forget();
    why = std::move(reason);
    return false;
  };
  FileState now;
  std::string problem;
  if (!StateNow(original, now, problem)) return discard(problem);
  if (!(now == was)) return discard("changed since it was read");
  const bool aside = backup.empty();
  if (aside) backup = AsideName(original);
  if (backup.empty()) return discard("no free name beside it to keep the original while replacing");

  Locked locked;
  if (!ReplaceFileW(original.c_str(), temp.c_str(), backup.c_str(), REPLACEFILE_WRITE_THROUGH,
                    nullptr, nullptr)) {
    const DWORD error = GetLastError();
    // The original was moved to the backup's name but the new file could not
    // take its place: the original goes back.
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
      MoveFileExW(backup.c_str(), original.c_str(), MOVEFILE_WRITE_THROUGH);
    return discard(Reason(error));
  }
  Current().file.clear();
  if (aside) DeleteFileW(backup.c_str());
  return true;
}

bool WriteNew(const fs::path& path, std::string_view content, std::string& why) {
  if (!MakeFolders(path.parent_path())) {
    why = Reason(GetLastError());
    return false;
  }
  if (!WriteFresh(path.native(), content, why)) return false;
  Forget();
  return true;
}

void CleanUpOnSignals() { SetConsoleCtrlHandler(OnCtrl, TRUE); }

} // namespace charsift::cli
