// charsift: loads the module the way the file manager does and prints its
// two fields for files and folders, for the command line and for scripts.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "ContPlug.h"
#include "Explain.h"
#include "Version.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using HostString = std::basic_string<ContPlugChar>;
using GetSupportedFieldFn = int(CONTPLUG_CALL*)(int, char*, char*, int);
using GetValueWFn = int(CONTPLUG_CALL*)(const ContPlugChar*, int, int, void*, int, int);

constexpr int kValueSize = 64;
constexpr int kMaxFields = 64; // a module that never answers 0 stops here

const char* const kUsage =
    "usage: charsift [-r] [--format table|tsv|json] [--field Type|Encoding]\n"
    "                [--module PATH] PATH...\n"
    "       charsift --version | --help\n";

const char* const kHelp =
    "Prints the Type and Encoding the plug-in gives each PATH.\n"
    "  -r, --recursive   also every entry of a folder, the whole tree, sorted\n"
    "  --format FORMAT   table (aligned, with a header), tsv (no header), json\n"
    "  --field NAME      only this field: Type or Encoding\n"
    "  --module PATH     the module to load (default: the one beside charsift)\n"
    "Exit status: 0 fine, 1 a path was missing, 2 usage error, 3 module not loaded.\n";

// One command-line argument: its text for options and messages, and the
// file-system path it names.
struct Arg {
  std::string text;
  fs::path path;
};

// ---- Platform ------------------------------------------------------------------
#ifdef _WIN32
const wchar_t* const kModuleName = sizeof(void*) == 8 ? L"Charsift.wdx64" : L"Charsift.wdx";

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::string Display(const fs::path& p) { return Utf8(p.native()); }
std::optional<HostString> ToHost(const fs::path& p) { return p.native(); }
bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// The runtime's stat fails for a bare drive ("C:"); the system call does not.
bool Exists(const fs::path& p, bool& isFolder) {
  const DWORD attributes = GetFileAttributesW(p.c_str());
  isFolder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  return attributes != INVALID_FILE_ATTRIBUTES;
}

fs::path SelfDir() {
  std::wstring buffer(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return fs::path(buffer).parent_path();
}

struct Library {
  HMODULE handle = nullptr;
  std::string Open(const fs::path& p) {
    handle = LoadLibraryW(p.c_str());
    return handle ? "" : "error " + std::to_string(GetLastError());
  }
  void* Find(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(handle, name));
  }
};
#else
const char* const kModuleName = "Charsift.so";

std::string Display(const fs::path& p) { return p.string(); }
bool StderrIsTerminal() { return isatty(2) != 0; }

bool Exists(const fs::path& p, bool& isFolder) {
  std::error_code ec;
  const fs::file_status status = fs::status(p, ec);
  isFolder = fs::is_directory(status);
  return fs::exists(status);
}

// The host passes UTF-16; a name that is no valid UTF-8 has no such form.
std::optional<HostString> ToHost(const fs::path& p) {
  try {
    return p.u16string();
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

fs::path SelfDir() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path();
}

struct Library {
  void* handle = nullptr;
  std::string Open(const fs::path& p) {
    handle = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
    const char* error = handle ? nullptr : dlerror();
    return handle ? "" : error ? error : "unknown error";
  }
  void* Find(const char* name) const { return dlsym(handle, name); }
};
#endif

// ---- The module as the host sees it ------------------------------------------------
struct Module {
  GetSupportedFieldFn getSupportedField = nullptr;
  GetValueWFn getValueW = nullptr;
  std::vector<std::string> fields; // names, in field-index order
};

bool LoadModule(const fs::path& path, Module& module) {
  Library library;
  const std::string error = library.Open(path);
  if (!error.empty()) {
    std::fprintf(stderr, "charsift: cannot load module %s: %s\n", Display(path).c_str(),
                 error.c_str());
    return false;
  }
  void* fieldProc = library.Find("ContentGetSupportedField");
  void* valueProc = library.Find("ContentGetValue");
  void* valueWProc = library.Find("ContentGetValueW");
  if (!fieldProc || !valueProc || !valueWProc) {
    std::fprintf(stderr, "charsift: %s lacks the plug-in exports\n", Display(path).c_str());
    return false;
  }
  module.getSupportedField = reinterpret_cast<GetSupportedFieldFn>(fieldProc);
  module.getValueW = reinterpret_cast<GetValueWFn>(valueWProc);
  char name[256], units[256];
  for (int i = 0; i < kMaxFields; ++i) {
    if (module.getSupportedField(i, name, units, sizeof name) <= 0) break;
    module.fields.emplace_back(name);
  }
  if (module.fields.empty()) {
    std::fprintf(stderr, "charsift: %s offers no fields\n", Display(path).c_str());
    return false;
  }
  return true; // the module stays loaded until the process ends
}

// The cell the host would show: the value, empty for "field empty", "?" for
// any other answer.
std::string QueryField(const Module& module, const std::optional<HostString>& path, int field) {
  if (!path) return "?";
  char value[kValueSize] = {};
  const int result = module.getValueW(path->c_str(), field, 0, value, kValueSize, 0);
  if (result == FT_MULTIPLE_CHOICE) return std::string(value, strnlen(value, kValueSize));
  return result == FT_FIELD_EMPTY ? "" : "?";
}

// ---- Collecting rows --------------------------------------------------------------
struct Row {
  std::string path;
  std::vector<std::string> cells;
};

struct Walker {
  const Module& module;
  std::vector<int> fields;
  bool progress = false;
  std::vector<Row> rows;
  int status = 0;

  void Add(const fs::path& path, const std::string& shown) {
    Row row{shown, {}};
    const std::optional<HostString> host = ToHost(path);
    for (int field : fields)
      row.cells.push_back(QueryField(module, host, field));
    rows.push_back(std::move(row));
    if (progress && rows.size() > 1000 && rows.size() % 100 == 0)
      std::fprintf(stderr, "\r%s files", std::to_string(rows.size()).c_str());
  }

  // A folder's entries, sorted by name, each folder's content right after it.
  void AddTree(const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      entries.push_back(it->path());
    if (ec) {
      std::fprintf(stderr, "charsift: %s: cannot read folder\n", Display(folder).c_str());
      status = 1;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
      Add(entry, Display(entry));
      if (fs::is_directory(fs::symlink_status(entry, ec))) AddTree(entry);
    }
  }
};

// ---- Output -------------------------------------------------------------------------
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (b < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", b);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

void PrintTable(const std::vector<std::string>& header, const std::vector<Row>& rows) {
  std::vector<std::size_t> widths;
  for (const std::string& name : header)
    widths.push_back(name.size());
  for (const Row& row : rows)
    for (std::size_t i = 0; i < row.cells.size(); ++i)
      widths[i] = std::max(widths[i], row.cells[i].size());
  auto line = [&](const std::vector<std::string>& cells, const std::string& path) {
    for (std::size_t i = 0; i < cells.size(); ++i)
      std::printf("%-*s  ", static_cast<int>(widths[i]), cells[i].c_str());
    std::printf("%s\n", path.c_str());
  };
  line(header, "Path");
  for (const Row& row : rows)
    line(row.cells, row.path);
}

void PrintTsv(const std::vector<Row>& rows) {
  for (const Row& row : rows) {
    for (const std::string& cell : row.cells)
      std::printf("%s\t", cell.c_str());
    std::printf("%s\n", row.path.c_str());
  }
}

void PrintJson(const std::vector<std::string>& header, const std::vector<Row>& rows) {
  std::printf("[");
  for (std::size_t r = 0; r < rows.size(); ++r) {
    std::printf("%s\n  {\"path\": %s", r ? "," : "", JsonString(rows[r].path).c_str());
    for (std::size_t i = 0; i < header.size(); ++i)
      std::printf(", %s: %s", JsonString(header[i]).c_str(), JsonString(rows[r].cells[i]).c_str());
    std::printf("}");
  }
  std::printf("%s]\n", rows.empty() ? "" : "\n");
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "charsift: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// ---- The command ----------------------------------------------------------------------
int Run(const std::vector<Arg>& args) {
  bool recursive = false, optionsDone = false, explain = false;
  std::string format = "table", fieldName;
  std::optional<fs::path> modulePath;
  std::vector<Arg> paths;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i].text;
    if (optionsDone || a == "-" || a.empty() || a[0] != '-') {
      paths.push_back(args[i]);
      continue;
    }
    if (a == "--") {
      optionsDone = true;
    } else if (a == "-h" || a == "--help") {
      std::printf("%s\n%s", kUsage, kHelp);
      return 0;
    } else if (a == "--version") {
      std::printf("charsift %s\n", CHARSIFT_VERSION);
      return 0;
    } else if (a == "-r" || a == "--recursive") {
      recursive = true;
    } else if (a == "--explain") {
      explain = true;
    } else if (a == "--format" || a == "--field" || a == "--module") {
      if (i + 1 == args.size()) return UsageError(a + " needs an argument");
      const Arg& value = args[++i];
      if (a == "--format") format = value.text;
      if (a == "--field") fieldName = value.text;
      if (a == "--module") modulePath = value.path;
    } else {
      return UsageError("unknown option " + a);
    }
  }
  if (format != "table" && format != "tsv" && format != "json")
    return UsageError("--format takes table, tsv or json, not " + format);
  if (!fieldName.empty() && fieldName != "Type" && fieldName != "Encoding")
    return UsageError("--field takes Type or Encoding, not " + fieldName);
  if (paths.empty()) return UsageError("no path given");

  const fs::path moduleFile = modulePath ? *modulePath : SelfDir() / kModuleName;
  if (explain) {
    std::vector<fs::path> explained;
    for (const Arg& arg : paths)
      explained.push_back(arg.path);
    return Explain(moduleFile, explained, stdout);
  }
  Module module;
  if (!LoadModule(moduleFile, module)) return 3;

  Walker walker{module, {}, StderrIsTerminal(), {}, 0};
  std::vector<std::string> header;
  for (int i = 0; i < static_cast<int>(module.fields.size()); ++i) {
    if (!fieldName.empty() && module.fields[i] != fieldName) continue;
    walker.fields.push_back(i);
    header.push_back(module.fields[i]);
  }
  if (header.empty()) {
    std::fprintf(stderr, "charsift: the module offers no field %s\n", fieldName.c_str());
    return 3;
  }

  for (const Arg& arg : paths) {
    bool isFolder = false;
    if (!Exists(arg.path, isFolder)) {
      std::fprintf(stderr, "charsift: %s: no such file or folder\n", arg.text.c_str());
      walker.status = 1;
      continue;
    }
    walker.Add(arg.path, arg.text);
    if (recursive && isFolder) walker.AddTree(arg.path);
  }
  if (walker.progress && walker.rows.size() > 1000) std::fprintf(stderr, "\r%20s\r", "");

  if (format == "table") PrintTable(header, walker.rows);
  if (format == "tsv") PrintTsv(walker.rows);
  if (format == "json") PrintJson(header, walker.rows);
  return std::fflush(stdout) == 0 ? walker.status : 1;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  std::vector<Arg> args;
  for (int i = 1; i < argc; ++i)
    args.push_back({Utf8(argv[i]), fs::path(argv[i])});
  return Run(args);
}
#else
int main(int argc, char** argv) {
  std::vector<Arg> args;
  for (int i = 1; i < argc; ++i)
    args.push_back({argv[i], fs::path(argv[i])});
  return Run(args);
}
#endif
