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

// The chain, written once: the first step that finds a label decides.
Label Classify(const WideString& path, ChainTrace* trace) {
  // With a trace, each step notes itself and gets its probe's facts to fill.
  const auto step = [trace](ChainStep which, bool asked = true) -> ProbeFacts* {
    if (!trace) return nullptr;
    trace->steps.push_back({which, asked, Label::None, {}});
    return &trace->steps.back().facts;
  };
  const auto decide = [trace](Label label) {
    if (trace) trace->steps.back().answer = trace->label = label;
    return label;
  };
  step(ChainStep::Folder);
  if (IsFolder(path)) return decide(Label::None);
  bool bigEndian = false;
  if (FileUtf16Bom(path, bigEndian, step(ChainStep::Utf16Mark)))
    return decide(bigEndian ? Label::Utf16Be : Label::Utf16Le);
  bool isRtf = false, hasUtf8Bom = false;
  FileRtfOrUtf8Bom(path, isRtf, hasUtf8Bom, step(ChainStep::RtfOrUtf8Mark));
  if (isRtf) return decide(Label::Rtf);
  if (hasUtf8Bom) return decide(Label::Utf8Bom);
  if (FileIsUtf8NoBom(path, step(ChainStep::Utf8))) return decide(Label::Utf8NoBom);
  if (!FileIsText(path, step(ChainStep::BinaryCode))) return decide(Label::Binary);
  if (oem_enabled == 0)
    step(ChainStep::Dos, false);
  else if (FileIsOem(path, step(ChainStep::Dos)))
    return decide(Label::Dos);
  bool isOem = false;
  if (rus_enabled == 0)
    step(ChainStep::Russian, false);
  else if (FileHasCyrillic(path, isOem, step(ChainStep::Russian)))
    return decide(isOem ? Label::DosRu : Label::AnsiRu);
  step(ChainStep::Otherwise);
  return decide(Label::Ansi);
}

} // namespace

const char* ClassifyEncoding(const WideString& path, ChainTrace* trace) {
  if (trace) *trace = ChainTrace{};
  return LabelText(Classify(path, trace));
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

namespace {

// A file exists here when the lookup finds a non-folder entry whose
// last-write time is a local DOS date (1980 to 2107).
bool SettingsFileExists(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
  FILETIME local;
  WORD dosDate = 0, dosTime = 0;
  return FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) &&
         FileTimeToDosDateTime(&local, &dosDate, &dosTime);
}

} // namespace

void LoadSettingsForModule(const std::string& modulePath) {
  const std::string settingsPath = ReplaceExtension(modulePath, ".ini");
  const std::string examplePath = ReplaceExtension(modulePath, ".example.ini");
  if (SettingsFileExists(examplePath) && !SettingsFileExists(settingsPath))
    CopyFileA(examplePath.c_str(), settingsPath.c_str(), TRUE);
  LoadSettingsFile(settingsPath);
}

void LoadSettingsFile(const std::string& settingsPath) {
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
