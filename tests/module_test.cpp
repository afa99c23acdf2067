// The built module, loaded the way the file manager loads it: the exports'
// contracts at the boundary, the label of every example file, and the
// settings file read beside the module's own copy.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ContPlug.h"
#include "TestSupport.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

using namespace testing_support;

namespace {

using GetSupportedFieldFn = int(CONTPLUG_CALL*)(int, char*, char*, int);
using GetValueFn = int(CONTPLUG_CALL*)(char*, int, int, void*, int, int);
using GetValueWFn = int(CONTPLUG_CALL*)(const ContPlugChar*, int, int, void*, int, int);

constexpr int kUntouched = 'x'; // pre-fill of every buffer handed to the module

// One loaded instance of the module; a copy under another path is another
// instance with its own settings.
class Module {
public:
  explicit Module(const fs::path& file) {
#ifdef _WIN32
    handle_ = LoadLibraryW(file.c_str());
#else
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (handle_ == nullptr) return;
    getSupportedField = reinterpret_cast<GetSupportedFieldFn>(Find("ContentGetSupportedField"));
    getValue = reinterpret_cast<GetValueFn>(Find("ContentGetValue"));
    getValueW = reinterpret_cast<GetValueWFn>(Find("ContentGetValueW"));
  }
  ~Module() {
#ifdef _WIN32
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
#else
    if (handle_) dlclose(handle_);
#endif
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool Loaded() const { return getSupportedField && getValue && getValueW; }
  void* Find(const char* name) const {
#ifdef _WIN32
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
    return dlsym(handle_, name);
#endif
  }

  GetSupportedFieldFn getSupportedField = nullptr;
  GetValueFn getValue = nullptr;
  GetValueWFn getValueW = nullptr;

private:
  void* handle_ = nullptr;
};

fs::path ModuleFile() { return HostPath(CHARSIFT_MODULE_PATH); }
fs::path Example(const std::string& name) {
  return (HostPath(CHARSIFT_EXAMPLES_DIR) / name).make_preferred();
}

// The one instance built beside the tests, loaded once for the whole run.
const Module& Shipped() {
  static const Module module(ModuleFile());
  return module;
}

// The result code and the text left in a 64-byte buffer: the value for a 7,
// "" when nothing was written, "<written>" otherwise.
struct Answer {
  int result;
  std::string value;
};

Answer Query(GetValueWFn getValueW, const ContPlugChar* path, int field) {
  char buffer[64];
  std::memset(buffer, kUntouched, sizeof buffer);
  const int result = getValueW(path, field, 0, buffer, sizeof buffer, 0);
  if (result == FT_MULTIPLE_CHOICE) return {result, std::string(buffer, strnlen(buffer, 64))};
  const bool untouched = std::all_of(buffer, buffer + 64, [](char c) { return c == kUntouched; });
  return {result, untouched ? "" : "<written>"};
}

Answer Query(GetValueWFn getValueW, const fs::path& path, int field) {
  const WideString wide = Wide(path);
  return Query(getValueW, wide.c_str(), field);
}

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ModuleBoundary : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(Shipped().Loaded()) << ModuleFile(); }
  const Module& module = Shipped();
};

// ---- Field enumeration -------------------------------------------------------------
struct FieldRow {
  int index;
  int maxlen;
  int result;
  const char* name; // nullptr: neither buffer may be touched
  const char* units;
  const char* why;
};

TEST_F(ModuleBoundary, SupportedFieldFillsExactlyMaxlenBytes) {
  const char* const encodings =
      "UTF-16 LE|UTF-16 BE|UTF-8 BOM|UTF-8 no BOM|ANSI|ANSI Ru|DOS|DOS Ru|RTF|Binary";
  const FieldRow rows[] = {
      {0, 128, 7, "Type", "Folder|Binary|Text", "first row in full"},
      {1, 128, 7, "Encoding", encodings, "second row in full"},
      {1, 5, 7, "Enco", "UTF-", "cut to maxlen-1 and terminated"},
      {1, 1, 7, "", "", "room for the terminator only"},
      {1, 0, 7, nullptr, nullptr, "no room: nothing written, still a field"},
      {1, -5, 7, nullptr, nullptr, "negative maxlen writes nothing"},
      {2, 128, 0, nullptr, nullptr, "past the last field ends the enumeration"},
      {-1, 128, 0, nullptr, nullptr, "negative index is no field"},
  };
  for (const FieldRow& row : rows) {
    SCOPED_TRACE(row.why);
    std::string name(128, kUntouched), units(128, kUntouched);
    EXPECT_EQ(module.getSupportedField(row.index, name.data(), units.data(), row.maxlen),
              row.result);
    // Expected: maxlen zero bytes holding the text, the rest still untouched.
    std::string wantName(128, kUntouched), wantUnits(128, kUntouched);
    if (row.name) {
      std::fill_n(wantName.begin(), row.maxlen, '\0');
      std::fill_n(wantUnits.begin(), row.maxlen, '\0');
      std::copy_n(row.name, std::strlen(row.name), wantName.begin());
      std::copy_n(row.units, std::strlen(row.units), wantUnits.begin());
    }
    EXPECT_EQ(name, wantName);
    EXPECT_EQ(units, wantUnits);
  }
}

// ---- Value queries -----------------------------------------------------------------
TEST_F(ModuleBoundary, AnsiEntryIsAlwaysEmpty) {
  std::string path = Example("ascii.txt").string();
  for (int field : {0, 1, 2, -1}) {
    char buffer[64];
    std::memset(buffer, kUntouched, sizeof buffer);
    EXPECT_EQ(module.getValue(path.data(), field, 0, buffer, sizeof buffer, 0), FT_FIELD_EMPTY);
    EXPECT_EQ(module.getValue(nullptr, field, 0, buffer, sizeof buffer, 0), FT_FIELD_EMPTY);
    EXPECT_EQ(std::string(buffer, 64), std::string(64, kUntouched)) << "field " << field;
  }
}

TEST_F(ModuleBoundary, WideEntryCodesAndValues) {
  TempDir dir;
  const fs::path empty = dir.Write("empty.txt", {});
  struct Row {
    fs::path path;
    int field;
    int result;
    const char* value;
    const char* why;
  } rows[] = {
      {Example("ascii.txt"), 2, FT_NO_SUCH_FIELD, "", "index past the last field"},
      {Example("ascii.txt"), -1, FT_NO_SUCH_FIELD, "", "negative index"},
      {Example("folder"), 1, FT_FIELD_EMPTY, "", "a folder has no encoding"},
      {Example("folder"), 0, 7, "Folder", "folder test comes first"},
      {empty, 0, 7, "Text", "nothing read is no control code"},
      {dir / "missing.txt", 0, 7, "Binary", "missing file fails the text test"},
      {dir / "missing.txt", 1, 7, "Binary", "missing file ends the chain at the text test"},
      {empty / "below-a-file", 1, 7, "Binary", "a file used as a folder cannot be opened"},
  };
  for (const Row& row : rows) {
    const Answer answer = Query(module.getValueW, row.path, row.field);
    EXPECT_EQ(answer.result, row.result) << row.why;
    EXPECT_EQ(answer.value, row.value) << row.why;
  }
}

// No file name is the empty path: no folder, nothing opens.
TEST_F(ModuleBoundary, NullFileNameIsBinary) {
  for (int field : {0, 1}) {
    const Answer answer = Query(module.getValueW, static_cast<const ContPlugChar*>(nullptr), field);
    EXPECT_EQ(answer.result, FT_MULTIPLE_CHOICE) << "field " << field;
    EXPECT_EQ(answer.value, "Binary") << "field " << field;
  }
}

#ifdef _WIN32
TEST_F(ModuleBoundary, FileHeldWithoutSharingIsBinary) {
  const fs::path path = Example("ascii.txt");
  HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Query(module.getValueW, path, 0).value, "Binary");
  EXPECT_EQ(Query(module.getValueW, path, 1).value, "Binary");
  CloseHandle(held);
}

// The exports clean their own arguments off the stack; a caller built for
// the wrong convention drifts the stack pointer and crashes within a loop.
TEST_F(ModuleBoundary, StdcallSurvivesManyCalls) {
  const WideString path = Wide(Example("ascii.txt"));
  std::string ansi = Example("ascii.txt").string();
  char name[64], units[128], value[64];
  int fields = 0, ansiEmpty = 0, types = 0;
  for (int i = 0; i < 10000; ++i) {
    fields += module.getSupportedField(i % 3, name, units, sizeof name) == 7;
    ansiEmpty += module.getValue(ansi.data(), 0, 0, value, sizeof value, 0) == FT_FIELD_EMPTY;
    types += module.getValueW(path.c_str(), 0, 0, value, sizeof value, 0) == 7;
  }
  EXPECT_EQ(fields, 6667);
  EXPECT_EQ(ansiEmpty, 10000);
  EXPECT_EQ(types, 10000);
}
#endif

// The wide calls open any name; the ANSI form of this one has '?' for the
// characters outside the code page, and opens nothing.
TEST_F(ModuleBoundary, NameOutsideTheAnsiCodePage) {
  TempDir dir;
  const fs::path path = dir.Write("Кириллица-漢字-😀.txt", B({0xD0, 0x94, 0xD0, 0xB0, 0x21}));
  EXPECT_EQ(Query(module.getValueW, path, 1).value, UsesAnsiCalls() ? "Binary" : "UTF-8 no BOM");
  EXPECT_EQ(Query(module.getValueW, path, 0).value, UsesAnsiCalls() ? "Binary" : "Text");
}

#ifndef _WIN32
// Old Russian archives name their files in cp1251 or cp866 bytes: the host
// passes such a byte as U+DC80 plus the byte, and the module opens that very
// file. Any other lone surrogate names the file of its three-byte form, never
// the one a replacement character would name.
TEST_F(ModuleBoundary, NamesThatAreNoUtf8) {
  TempDir dir;
  const struct {
    std::string name;
    std::u16string host;
    Bytes content;
    const char* encoding;
    const char* why;
  } rows[] = {
      {"\xCF\xE8\xF1\xFC\xEC\xEE.txt", u"\xDCCF\xDCE8\xDCF1\xDCFC\xDCEC\xDCEE.txt",
       Repeat(0xE0, 40), "ANSI Ru", "cp1251 bytes in the name"},
      {"\xED\xA0\x80", u"\xD800", B({0xFF, 0xFE}), "UTF-16 LE", "a lone surrogate's own file"},
      {"\xEF\xBF\xBD", u"\xFFFD", B({0xFE, 0xFF}), "UTF-16 BE", "the replacement character's"},
  };
  for (const auto& row : rows) {
    std::ofstream(dir.Path() / row.name, std::ios::binary)
        .write(reinterpret_cast<const char*>(row.content.data()),
               static_cast<std::streamsize>(row.content.size()));
  }
  for (const auto& row : rows) {
    const std::u16string path = Wide(dir.Path()) + u"/" + row.host;
    EXPECT_EQ(Query(module.getValueW, path.c_str(), 1).value, row.encoding) << row.why;
  }
}
#endif

// A drive root is a folder where there are drives; elsewhere "C:" and "C:\\"
// are names like any other, of no file here.
TEST_F(ModuleBoundary, DriveRootFormsAreFoldersWhereThereAreDrives) {
  for (const char16_t* root : {u"C:", u"C:\\"}) {
    const WideString wide(root, root + std::char_traits<char16_t>::length(root));
    EXPECT_EQ(Query(module.getValueW, wide.c_str(), 0).value,
              kWindowsPathRules ? "Folder" : "Binary");
  }
}

#ifndef _WIN32
// Exactly the three host entries leave the module: a stray export could
// collide with the host's own symbols.
TEST_F(ModuleBoundary, ExportsExactlyTheThreeEntries) {
  const std::string command = "nm -D --defined-only '" + ModuleFile().string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char address[64], type[8], name[512];
  while (std::fscanf(pipe, "%63s %7s %511s", address, type, name) == 3)
    names.insert(name);
  EXPECT_EQ(pclose(pipe), 0);
  std::set<std::string> exports;
  std::istringstream list(CHARSIFT_EXPORTS);
  for (std::string name; list >> name;)
    exports.insert(name);
  EXPECT_EQ(exports.size(), 3u);
  EXPECT_EQ(names, exports);
  EXPECT_EQ(module.Find("ClassifyEncoding"), nullptr);
  EXPECT_EQ(module.Find("_Z16ClassifyEncodingRKNSt7__cxx1112basic_stringIDsSt11char_"
                        "traitsIDsESaIDsEEEP10ChainTrace"),
            nullptr);
}
#endif

// ---- The example files, one per label -----------------------------------------------
struct ExampleRow {
  const char* file;
  const char* type;
  const char* encoding; // "" : field empty
};

const ExampleRow kExamples[] = {
    {"utf16-le.txt", "Binary", "UTF-16 LE"},
    {"utf16-be.txt", "Binary", "UTF-16 BE"},
    {"utf8-bom.txt", "Text", "UTF-8 BOM"},
    {"utf8-no-bom.txt", "Text", "UTF-8 no BOM"},
    {"ascii.txt", "Text", "ANSI"},
    {"russian-1251.txt", "Text", "ANSI Ru"},
    {"box-drawing-437.txt", "Text", "DOS"},
    {"russian-866.txt", "Text", "DOS Ru"},
    {"document.rtf", "Text", "RTF"},
    {"binary.bin", "Binary", "Binary"},
    {"folder", "Folder", ""},
    {"folder/notes.txt", "Text", "ANSI"},
};

class ModuleExamples : public ::testing::TestWithParam<ExampleRow> {};

TEST_P(ModuleExamples, Label) {
  ASSERT_TRUE(Shipped().Loaded());
  const ExampleRow& row = GetParam();
  EXPECT_EQ(Query(Shipped().getValueW, Example(row.file), 0).value, row.type);
  EXPECT_EQ(Query(Shipped().getValueW, Example(row.file), 1).value, row.encoding);
}

INSTANTIATE_TEST_SUITE_P(Examples, ModuleExamples, ::testing::ValuesIn(kExamples),
                         [](const auto& info) {
                           std::string name = info.param.file;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

// ---- Settings beside a copy of the module ----------------------------------------------
fs::path CopyModuleInto(const TempDir& dir, const std::string& folder = "") {
  const fs::path copy = dir.Path() / fs::u8path(folder) / ModuleFile().filename();
  fs::copy_file(ModuleFile(), copy);
  return copy;
}

TEST(ModuleSettings, ReadFromTheIniBesideTheCopy) {
  struct Row {
    const char* ini;
    const char* file;
    int field;
    const char* value;
    const char* why;
    std::string folder = ""; // of the copy and its settings in the temporary folder (UTF-8)
  };
  std::vector<Row> rows = {
      {"rus_enabled=0", "russian-1251.txt", 1, "ANSI", "Russian test switched off"},
      {"text_buffer_size_kb=0", "ascii.txt", 0, "Binary", "no text sample: every file is binary"},
      {"utf8_buffer_size_kb=0", "utf8-no-bom.txt", 1, "UTF-8 no BOM", "a zero sample is clamped"},
      {"oem_enabled=0", "box-drawing-437.txt", 1, "ANSI Ru", "box codes pass for 1251 letters"},
      {"oem_ignore=B3 C4 C5 CD BA", "box-drawing-437.txt", 1, "ANSI Ru",
       "a list is read, whatever the order of the module's sources"},
  };
  // The wide calls take a folder that the ANSI code page cannot name; the
  // ANSI calls of Windows 98 cannot.
  if (!UsesAnsiCalls())
    rows.push_back({"rus_enabled=0", "russian-1251.txt", 1, "ANSI",
                    "a folder named outside the ANSI code page",
                    "plug_\xE4\xB8\xAD\xE6\x96\x87"}); // plug_中文
#ifndef _WIN32
  rows.push_back(
      {"rus_enabled=0", "russian-1251.txt", 1, "ANSI",
       "a module path of 260 bytes and more is taken whole",
       std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(100, 'c')});
#endif
  for (const Row& row : rows) {
    TempDir dir;
    const std::string folder = row.folder.empty() ? "" : row.folder + "/";
    fs::create_directories(dir.Path() / fs::u8path(folder));
    const fs::path copy = CopyModuleInto(dir, folder);
    dir.WriteText(folder + "Charsift.ini", std::string("[ini]\n") + row.ini + "\n");
    const Module module(copy);
    ASSERT_TRUE(module.Loaded()) << copy;
    EXPECT_EQ(Query(module.getValueW, Example(row.file), row.field).value, row.value) << row.why;
  }
}

TEST(ModuleSettings, ExampleCopiedWhenNoSettingsFile) {
  const std::string example = Read(HostPath(CHARSIFT_EXAMPLE_INI));
  ASSERT_FALSE(example.empty());
  TempDir dir;
  const fs::path copy = CopyModuleInto(dir);
  dir.WriteText("Charsift.example.ini", example);
  const Module module(copy);
  ASSERT_TRUE(module.Loaded());
  EXPECT_EQ(Read(dir / "Charsift.ini"), example);
}

TEST(ModuleSettings, ExistingSettingsFileLeftAlone) {
  TempDir dir;
  const fs::path copy = CopyModuleInto(dir);
  dir.WriteText("Charsift.example.ini", Read(HostPath(CHARSIFT_EXAMPLE_INI)));
  const std::string own = "[ini]\nrus_enabled=0\n";
  const fs::path settings = dir.WriteText("Charsift.ini", own);
  const auto stamp = fs::last_write_time(settings) - std::chrono::hours(30);
  fs::last_write_time(settings, stamp);
  const Module module(copy);
  ASSERT_TRUE(module.Loaded());
  EXPECT_EQ(Read(settings), own);
  EXPECT_EQ(fs::last_write_time(settings), stamp);
  EXPECT_EQ(Query(module.getValueW, Example("russian-1251.txt"), 1).value, "ANSI")
      << "the settings file, not the example, is read";
}

// ---- Concurrent queries -------------------------------------------------------------------
// Host threads query at once; each must get the single-threaded answer.
// The in-process exports run too, so the thread sanitizer sees the detection code.
TEST(ModuleConcurrency, ThreadsGetTheSingleThreadedAnswers) {
  ASSERT_TRUE(Shipped().Loaded());
  const SettingsGuard defaults;
  const GetValueWFn entries[] = {Shipped().getValueW, &ContentGetValueW};
  std::vector<WideString> paths;
  std::vector<std::string> expected;
  for (const ExampleRow& row : kExamples) {
    paths.push_back(Wide(Example(row.file)));
    expected.push_back(row.type);
    paths.push_back(paths.back());
    expected.push_back(row.encoding);
  }
  std::vector<int> mismatches(8, 0);
  std::vector<TestThread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) {
        const std::size_t k = static_cast<std::size_t>(i * 7 + t) % paths.size();
        const Answer answer =
            Query(entries[(i + t) % 2], paths[k].c_str(), static_cast<int>(k % 2));
        mismatches[t] += answer.value != expected[k];
      }
    });
  }
  for (TestThread& thread : threads)
    thread.join();
  for (int t = 0; t < 8; ++t)
    EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

} // namespace
