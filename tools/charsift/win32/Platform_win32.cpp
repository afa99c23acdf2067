// The host's Windows half: names as UTF-16, listings and reasons from the
// system's calls, the console and the processors.
#include "Platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Charsift.h"
#include "ModuleNames.h"
#include "Win32Files.h"
#include "platform/FileNames.h"

namespace charsift::cli {

std::string Reason(DWORD error) {
  switch (error) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND:
  case ERROR_INVALID_NAME:
  case ERROR_BAD_NETPATH:
  case ERROR_INVALID_DRIVE:
    return "no such file or folder";
  case ERROR_ACCESS_DENIED:
    return "permission denied";
  case ERROR_SHARING_VIOLATION:
    return "in use by another process";
  case ERROR_CANT_RESOLVE_FILENAME:
    return "symbolic link loop";
  case ERROR_FILE_EXISTS:
  case ERROR_ALREADY_EXISTS:
    return "file exists";
  case ERROR_DISK_FULL:
  case ERROR_HANDLE_DISK_FULL:
    return "no space left on the disk";
  case ERROR_IO_DEVICE:
    return "input/output error";
  case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
  case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
    return "the new file could not be moved into place";
  default:
    return "error " + std::to_string(error);
  }
}

std::string IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) +
         ":" + std::to_string(info.nFileIndexLow);
}

namespace {

bool IsLinkTag(DWORD tag) {
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// The link's target, opened to read its attributes.
HANDLE OpenFollowing(const fs::path& path) {
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::string Utf8(const std::wstring& wide) {
  return charsift::names::BytesFromUtf16(std::u16string(wide.begin(), wide.end()));
}

} // namespace

HostString ToHost(const fs::path& path) { return path.native(); }
std::u16string Utf16Of(const fs::path& path) {
  return std::u16string(path.native().begin(), path.native().end());
}
std::string Shown(const fs::path& path) { return Utf8(path.native()); }
fs::path FromListBytes(const std::string& bytes) {
  const std::u16string units = charsift::names::Utf16FromBytes(bytes);
  return fs::path(std::wstring(units.begin(), units.end()));
}

const char kSeparators[] = "\\/";
const bool kNamesMayEndWithCarriageReturn = false;
const std::size_t kLongestPath = 3 * 32767; // UTF-8 of the longest path the wide calls take

IniFileName SettingsName(const fs::path& path) { return IniFileName(WideString(path.native())); }

fs::path BesideModule(const fs::path& modulePath, const char* extension) {
  return ReplaceExtension(modulePath.native(),
                          WideString(extension, extension + strlen(extension)));
}

void LoadModuleSettings(const fs::path& modulePath) {
  if (!modulePath.empty()) LoadSettingsForModule(WideString(modulePath.native()));
}

// A Windows link's target is not read: the table shows "?".
std::string LinkTarget(const fs::path&) { return "?"; }

std::vector<fs::path> Expanded(const fs::path& path) {
  const NativeString& text = path.native();
  const std::size_t last = text.find_last_of(L"\\/:");
  const std::size_t start = last == NativeString::npos ? 0 : last + 1;
  if (text.find_first_of(L"*?", start) == NativeString::npos ||
      GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
    return {path};
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return {path};
  std::vector<NativeString> names;
  do {
    const NativeString name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  if (names.empty()) return {path};
  std::sort(names.begin(), names.end());
  std::vector<fs::path> paths;
  for (const NativeString& name : names)
    paths.emplace_back(text.substr(0, start) + name);
  return paths;
}

fs::path Child(const fs::path& folder, const NativeString& name) {
  const NativeString& base = folder.native();
  const bool separated =
      !base.empty() && (base.back() == L'\\' || base.back() == L'/' || base.back() == L':');
  return fs::path(base + (separated ? L"" : L"\\") + name);
}

bool ListFolder(const fs::path& folder, std::vector<Entry>& entries, std::string& why) {
  WIN32_FIND_DATAW data;
  const fs::path pattern = Child(folder, L"*");
  // Without the short names and in larger batches where the system knows
  // how (Windows 7 on); Windows XP refuses those flags.
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE && GetLastError() == ERROR_INVALID_PARAMETER)
    search = FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &data, FindExSearchNameMatch,
                              nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return true; // a root with no entry
    why = Reason(error);
    return false;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    Kind kind = Kind::File;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsLinkTag(data.dwReserved0))
      kind = Kind::Link;
    else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      kind = Kind::Folder;
    entries.push_back({name, kind});
  } while (FindNextFileW(search, &data));
  const DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    why = Reason(error);
    return false;
  }
  return true;
}

Look LookAt(const fs::path& path) {
  Look look;
  // The runtime's stat fails for a bare drive ("C:"); the system call does not.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    look.why = Reason(GetLastError());
    return look;
  }
  look.exists = true;
  look.target = attributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::Folder : Kind::File;
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return look;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return look;
  FindClose(search);
  if (!IsLinkTag(data.dwReserved0)) return look;
  look.link = true;
  HANDLE target = OpenFollowing(path);
  if (target == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    look.target = Kind::Unknown;
    look.why = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? "broken symbolic link"
                   : Reason(error);
    return look;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(target, &info))
    look.target = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? Kind::Folder : Kind::File;
  CloseHandle(target);
  return look;
}

std::string ReadProblem(const fs::path& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Reason(GetLastError());
  CloseHandle(file);
  return "";
}

bool IsDiskFile(void* handle) { return GetFileType(static_cast<HANDLE>(handle)) == FILE_TYPE_DISK; }

std::string FolderIdentity(const fs::path& folder) {
  HANDLE handle = OpenFollowing(folder);
  if (handle == INVALID_HANDLE_VALUE) return "";
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(handle, &info);
  CloseHandle(handle);
  return ok ? IdentityOf(info) : "";
}

std::string Library::Open(const fs::path& path) {
  handle_ = LoadLibraryW(path.c_str());
  return handle_ ? "" : "error " + std::to_string(GetLastError());
}

void* Library::Find(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

// Windows installs keep the module beside charsift.exe.
std::vector<fs::path> ModulePlacesElsewhere(const fs::path&) { return {}; }

const char kModuleBesideSelfHelp[] =
    "" CHARSIFT_MODULE_WDX ", 64-bit\n"
    "                          " CHARSIFT_MODULE_WDX64 ", beside charsift.exe)\n";

// ---- The console ---------------------------------------------------------------------
// What goes to a console is written as UTF-16 with WriteConsoleW, so that
// every name shows whatever the console's code page, and that code page is
// left alone. The output itself stays UTF-8 bytes through stdio: standard
// output and error, where they are the console, are a pipe whose other end
// a thread reads, turns into UTF-16 and writes to the console.
namespace {

struct ConsoleRelay {
  bool out = false, err = false; // which streams go through the relay
  HANDLE console = nullptr;
  HANDLE pipe = nullptr; // the end the relay reads
  HANDLE thread = nullptr;
  int savedOut = -1, savedErr = -1; // the descriptors as they were
} relay;

bool IsConsole(HANDLE handle) {
  DWORD mode;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// The bytes of text up to the last whole UTF-8 sequence: a sequence that a
// read cut waits for the rest.
std::size_t WholeSequences(const std::string& text) {
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
    const unsigned char byte = static_cast<unsigned char>(text[size - back]);
    if (byte < 0x80) return size;
    if (byte < 0xC0) continue;
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : 2;
    return length > back ? size - back : size;
  }
  return size;
}

void WriteConsoleText(const std::string& bytes) {
  const std::u16string units = charsift::names::Utf16FromBytes(bytes);
  // Old consoles take a few thousand characters per call.
  constexpr std::size_t kChunk = 4096;
  for (std::size_t at = 0; at < units.size(); at += kChunk) {
    const DWORD count = static_cast<DWORD>(std::min(kChunk, units.size() - at));
    DWORD written;
    if (!WriteConsoleW(relay.console, reinterpret_cast<const wchar_t*>(units.data() + at), count,
                       &written, nullptr))
      return;
  }
}

DWORD WINAPI RelayToConsole(void*) {
  std::string pending;
  char buffer[4096];
  DWORD got;
  while (ReadFile(relay.pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    pending.append(buffer, got);
    const std::size_t whole = WholeSequences(pending);
    WriteConsoleText(pending.substr(0, whole));
    pending.erase(0, whole);
  }
  WriteConsoleText(pending);
  return 0;
}

} // namespace

void BeginConsoleOutput() {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
  const bool toOut = IsConsole(out), toErr = IsConsole(err);
  if (!toOut && !toErr) return;
  HANDLE write;
  if (!CreatePipe(&relay.pipe, &write, nullptr, 0)) return;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(write), _O_TEXT);
  if (fd < 0) {
    CloseHandle(write);
    CloseHandle(relay.pipe);
    return;
  }
  // The relay's own handle to the console: the _dup2 below closes the one
  // GetStdHandle gave, as it closes whatever a descriptor held before.
  if (!DuplicateHandle(GetCurrentProcess(), toOut ? out : err, GetCurrentProcess(), &relay.console,
                       0, FALSE, DUPLICATE_SAME_ACCESS)) {
    _close(fd);
    CloseHandle(relay.pipe);
    return;
  }
  relay.thread = CreateThread(nullptr, 0, RelayToConsole, nullptr, 0, nullptr);
  if (relay.thread == nullptr) {
    _close(fd);
    CloseHandle(relay.pipe);
    CloseHandle(relay.console);
    return;
  }
  // Both streams into the one pipe keep their lines in the order written.
  std::fflush(stdout);
  std::fflush(stderr);
  if ((relay.out = toOut)) {
    relay.savedOut = _dup(_fileno(stdout));
    _dup2(fd, _fileno(stdout));
  }
  if ((relay.err = toErr)) {
    relay.savedErr = _dup(_fileno(stderr));
    _dup2(fd, _fileno(stderr));
  }
  _close(fd);
}

void EndConsoleOutput() {
  if (relay.thread == nullptr) return;
  std::fflush(stdout);
  std::fflush(stderr);
  // Putting the console back closes the pipe's last writing end: the relay
  // writes what is left and ends.
  if (relay.out) {
    _dup2(relay.savedOut, _fileno(stdout));
    _close(relay.savedOut);
  }
  if (relay.err) {
    _dup2(relay.savedErr, _fileno(stderr));
    _close(relay.savedErr);
  }
  relay.out = relay.err = false;
  WaitForSingleObject(relay.thread, INFINITE);
  CloseHandle(relay.thread);
  CloseHandle(relay.pipe);
  CloseHandle(relay.console);
  relay.thread = nullptr;
}

bool IsTerminal(std::FILE* stream) {
  if ((stream == stdout && relay.out) || (stream == stderr && relay.err)) return true;
  return _isatty(_fileno(stream)) != 0;
}

int TerminalColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE err = relay.err ? relay.console : GetStdHandle(STD_ERROR_HANDLE);
  if (!GetConsoleScreenBufferInfo(err, &info)) return 80;
  return std::max(20, info.srWindow.Right - info.srWindow.Left + 1);
}

unsigned UsableProcessors() {
  DWORD_PTR process = 0, system = 0;
  unsigned count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
    for (; process; process &= process - 1)
      ++count;
  if (count) return count;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return std::max<unsigned>(1, info.dwNumberOfProcessors);
}

fs::path SelfDir() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return fs::path(buffer).parent_path();
}

void BinaryStdin() { _setmode(_fileno(stdin), _O_BINARY); }

OpenFolder::~OpenFolder() = default;
bool OpenFolder::Open(const OpenFolder*, const fs::path& path, const NativeString&, std::string&) {
  path_ = path;
  return true;
}
bool OpenFolder::List(std::vector<Entry>& entries, std::string& why) const {
  return ListFolder(path_, entries, why);
}
Look OpenFolder::LookAt(const fs::path& path, const NativeString&) const {
  return cli::LookAt(path);
}
SharedFolder::~SharedFolder() = default;
FolderShare OpenFolder::Share() const { return nullptr; }

std::string OpenFolder::Identity() const { return FolderIdentity(path_); }
void OpenFolder::Release() {} // nothing is held: the folder is listed by its path
bool OpenFolder::Retake(const OpenFolder*, const OpenFolder*, const fs::path&,
                        const NativeString&) {
  return true;
}
bool TooLongForModule(const fs::path&) { return false; }

std::FILE* OpenList(const fs::path& path, std::string& why) {
  if (path == "-") {
    BinaryStdin();
    return stdin;
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    why = Reason(GetLastError());
    return nullptr;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    why = "is a folder";
    return nullptr;
  }
  std::FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) why = ErrnoReason(errno);
  return file;
}

// A console's Ctrl-C is the console's own business; the line is left as is.
void ClearLineOnSignals() {}
void NoteLineWidth(std::size_t) {}

} // namespace charsift::cli
