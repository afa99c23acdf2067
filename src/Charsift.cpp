// The module's boundary: the field table, the Encoding chain, the settings load and the exports.
#include "Charsift.h"

#include <cstring>
#include <exception>
#include <iterator>

#include "CIniFile.h"
#include "ContPlug.h"

namespace {

constexpr auto kTypeChoices = FieldChoices<kTypeField>();
constexpr auto kEncodingChoices = FieldChoices<kEncodingField>();

} // namespace

const FieldRow FieldTable[2] = {
    {"Type", FT_MULTIPLE_CHOICE, kTypeChoices.data()},
    {"Encoding", FT_MULTIPLE_CHOICE, kEncodingChoices.data()},
};

HMODULE ModuleInstance = nullptr;

void CopyToHostBuffer(char* dest, const char* src, int maxlen) {
  if (dest == nullptr || maxlen <= 0) return;
  std::memset(dest, 0, static_cast<std::size_t>(maxlen));
  lstrcpynA(dest, src, maxlen);
}

namespace {

// The module's source for the chain: each probe opens the file itself, as
// the host's contract describes.
struct PathProbes {
  const WideString& path;
  bool IsFolder() const { return ::IsFolder(path); }
  bool Utf16Bom(bool& bigEndian, ProbeFacts* facts) const {
    return FileUtf16Bom(path, bigEndian, facts);
  }
  void RtfOrUtf8Bom(bool& isRtf, bool& hasUtf8Bom, ProbeFacts* facts) const {
    FileRtfOrUtf8Bom(path, isRtf, hasUtf8Bom, facts);
  }
  bool Utf8NoBom(ProbeFacts* facts) const { return FileIsUtf8NoBom(path, facts); }
  bool IsText(ProbeFacts* facts) const { return FileIsText(path, facts); }
  bool IsOem(ProbeFacts* facts) const { return FileIsOem(path, facts); }
  bool HasCyrillic(bool& isOem, ProbeFacts* facts) const {
    return FileHasCyrillic(path, isOem, facts);
  }
};

} // namespace

const char* ClassifyEncoding(const WideString& path, ChainTrace* trace) {
  if (trace) *trace = ChainTrace{};
  PathProbes probes{path};
  return LabelText(RunChain(probes, trace));
}

// ---- Settings file ------------------------------------------------------------
std::string ReplaceExtension(const std::string& modulePath, const std::string& newExtension) {
  std::size_t dot = std::string::npos;
  for (std::size_t i = 0; i < modulePath.size(); ++i) {
    const BYTE b = static_cast<BYTE>(modulePath[i]);
    // The second byte of a double-byte character is never a delimiter.
    if (IsDBCSLeadByteEx(CP_ACP, b) && i + 1 < modulePath.size()) {
      ++i;
      continue;
    }
    if (b == '\\' || b == ':' || b == '/') dot = std::string::npos;
    if (b == '.') dot = i;
  }
  return (dot == std::string::npos ? modulePath : modulePath.substr(0, dot)) + newExtension;
}

WideString ReplaceExtension(const WideString& modulePath, const WideString& newExtension) {
  const WCHAR delimiters[] = {'\\', ':', '/', 0};
  const std::size_t dot = modulePath.rfind(static_cast<WCHAR>('.'));
  const std::size_t delimiter = modulePath.find_last_of(delimiters);
  const bool replaced =
      dot != WideString::npos && (delimiter == WideString::npos || dot > delimiter);
  return (replaced ? modulePath.substr(0, dot) : modulePath) + newExtension;
}

namespace {

HANDLE FindFirst(const std::string& path, WIN32_FIND_DATAA& data) {
  return FindFirstFileA(path.c_str(), &data);
}
HANDLE FindFirst(const WideString& path, WIN32_FIND_DATAW& data) {
  return FindFirstFileW(path.c_str(), &data);
}
void CopyExample(const std::string& example, const std::string& settings) {
  CopyFileA(example.c_str(), settings.c_str(), TRUE);
}
void CopyExample(const WideString& example, const WideString& settings) {
  CopyFileW(example.c_str(), settings.c_str(), TRUE);
}
std::string Extension(const std::string& text, std::string) { return text; }
WideString Extension(const std::string& text, WideString) {
  return WideString(text.begin(), text.end());
}

// A file exists here when the lookup finds a non-folder entry whose
// last-write time is a local DOS date (1980 to 2107).
template <typename Data, typename Text> bool SettingsFileExists(const Text& path) {
  Data data;
  HANDLE search = FindFirst(path, data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  FILETIME local;
  WORD dosDate = 0, dosTime = 0;
  return FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) &&
         FileTimeToDosDateTime(&local, &dosDate, &dosTime);
}

// The settings beside the module, through the calls of Data's kind (A or W).
template <typename Data, typename Text> void LoadBeside(const Text& modulePath) {
  const Text settingsPath = ReplaceExtension(modulePath, Extension(".ini", Text()));
  const Text examplePath = ReplaceExtension(modulePath, Extension(".example.ini", Text()));
  if (SettingsFileExists<Data>(examplePath) && !SettingsFileExists<Data>(settingsPath))
    CopyExample(examplePath, settingsPath);
  LoadSettingsFile(IniFileName(settingsPath));
}

// The module's whole path through the W call, however long; "" when it fails.
WideString WideModulePath() {
  WideString path(MAX_PATH + 1, 0);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(ModuleInstance, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return WideString();
    // A cut path fills the whole buffer (on XP without its terminator).
    if (length < path.size()) return path.substr(0, length);
    if (path.size() > 65536) return WideString();
    path.resize(path.size() * 2);
  }
}

} // namespace

void LoadSettingsForModule(const std::string& modulePath) {
  LoadBeside<WIN32_FIND_DATAA>(modulePath);
}
void LoadSettingsForModule(const WideString& modulePath) {
  LoadBeside<WIN32_FIND_DATAW>(modulePath);
}

void LoadSettingsFile(const IniFileName& settingsPath) {
  // The code sets follow the lists even when a read throws half-way.
  struct ListsApplied {
    ~ListsApplied() { ApplyListSettings(); }
  } applied;
  for (const SettingRow& row : SettingsTable) {
    if (row.integer) ReadIniInteger(settingsPath, row.key, *row.integer);
    if (row.list) ReadIniList(settingsPath, row.key, *row.list);
  }
}

void LoadSettings() {
  // On the NT platforms the W calls, which take a folder the ANSI code page
  // cannot name and a path of any length. (The module entry may run before
  // the probes' own platform check is set.)
  if (QueryPlatformId() == VER_PLATFORM_WIN32_NT) {
    const WideString path = WideModulePath();
    if (!path.empty()) LoadSettingsForModule(path);
    return;
  }
  char path[MAX_PATH + 1] = {};
  const DWORD length = GetModuleFileNameA(ModuleInstance, path, sizeof path);
  // A cut path would name some other file: keep the defaults instead.
  if (length == 0 || length >= sizeof path - 1) return;
  LoadSettingsForModule(path);
}

// ---- Exports -------------------------------------------------------------------
namespace {

bool IsField(int index) { return index >= 0 && index < static_cast<int>(std::size(FieldTable)); }

} // namespace

// No exception may reach the host: each export answers "field empty"
// instead, which is also what a failed sample allocation gives.
extern "C" {

CONTPLUG_EXPORT int CONTPLUG_CALL ContentGetSupportedField(int FieldIndex, char* FieldName,
                                                           char* Units, int maxlen) {
  try {
    if (!IsField(FieldIndex)) return FT_NO_MORE_FIELDS;
    const FieldRow& row = FieldTable[FieldIndex];
    CopyToHostBuffer(FieldName, row.name, maxlen);
    CopyToHostBuffer(Units, row.choices, maxlen);
    return row.type;
  } catch (...) {
    return FT_FIELD_EMPTY;
  }
}

CONTPLUG_EXPORT int CONTPLUG_CALL ContentGetValue(char*, int, int, void*, int, int) {
  return FT_FIELD_EMPTY;
}

CONTPLUG_EXPORT int CONTPLUG_CALL ContentGetValueW(const ContPlugChar* FileName, int FieldIndex,
                                                   int, void* FieldValue, int maxlen, int) {
  try {
    if (!IsField(FieldIndex)) return FT_NO_SUCH_FIELD;
    const WideString path = FileName ? WideString(FileName) : WideString();
    const char* value;
    if (FieldIndex == kTypeField)
      value = LabelText(IsFolder(path)     ? Label::Folder
                        : FileIsText(path) ? Label::Text
                                           : Label::BinaryType);
    else
      value = ClassifyEncoding(path);
    if (*value == '\0') return FT_FIELD_EMPTY;
    CopyToHostBuffer(static_cast<char*>(FieldValue), value, maxlen);
    return FieldTable[FieldIndex].type;
  } catch (...) {
    return FT_FIELD_EMPTY;
  }
}

} // extern "C"

// ---- Module entry ----------------------------------------------------------------
#ifdef CHARSIFT_MODULE
#ifdef _WIN32
// The runtime's default terminate handler reports on standard error, which
// is the host's, and brings a demangler along; this one takes its place in
// the link. No exception leaves an export, so it can only end a module that
// is broken: as a fault at this address, which the host can report, and
// without a word on the host's console.
namespace __gnu_cxx {
void __verbose_terminate_handler() { __builtin_trap(); }
} // namespace __gnu_cxx

// Where the runtime linked in cannot go on (the unwinder on a broken table,
// the per-thread exception store out of memory) it calls abort, which in
// msvcrt writes to the host's console and exits the host without a chance
// to recover. A fault lets a host that guards its plug-in calls carry on.
extern "C" void abort() { __builtin_trap(); }

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    ModuleInstance = instance;
    try {
      LoadSettings();
    } catch (...) {
      // Out of memory while loading: whatever was read stays, the rest keeps its default.
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    ReleaseListSettings();
  }
  return TRUE;
}
#else
namespace {

// Any address inside the module names it to dladdr. A variable of internal
// linkage, unlike an exported function, cannot be interposed by a host that
// exports a function of the same name.
const char moduleAnchor = 0;

// dlopen runs this once the settings hold their defaults; dlclose runs the
// release.
struct ModuleEntry {
  ModuleEntry() {
    ModuleInstance = const_cast<char*>(&moduleAnchor);
    try {
      LoadSettings();
    } catch (...) {
    }
  }
  ~ModuleEntry() { ReleaseListSettings(); }
} moduleEntry;

} // namespace
#endif
#endif
