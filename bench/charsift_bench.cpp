// Benchmarks, all in one process so that the ratios share the machine's
// weather: the UTF-8 walk against memchr, each query against the system
// calls it cannot avoid (its floor), under the built-in defaults and under
// the example settings file, and two peers on the same files.
// Usage: charsift_bench [--smoke] [--plot-data=FILE] [--settings-table=FILE]
//                       [benchmark flags]
//        charsift_bench --write-files DIR COUNT    (a mixed folder, then exit)
#include <fcntl.h>
#include <magic.h>
#include <sys/stat.h>
#include <uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Charsift.h"
#include "ContPlug.h"
#include "CyrillicTally.h"
#include "Kernels.h"
#include "TVorUTF8Detect.h"
#include "VorFProc.h"
#include "platform/CallTrace.h"
#include "platform/Win32.h"

namespace fs = std::filesystem;

namespace {

// ---- Content ----------------------------------------------------------------------
const std::string kEnglish =
    "The survey team reached the northern ridge two days late. Rain had washed out the\n"
    "lower track, so they carried the instruments by hand, counting every step, and\n"
    "wrote the readings into a notebook that still smells of wet canvas and diesel.\n";
const std::string kRussian =
    "Экспедиция добралась до северного хребта на два дня позже срока. Дождь размыл\n"
    "нижнюю дорогу, и приборы пришлось нести на руках, считая каждый шаг, а показания\n"
    "записывать в тетрадь, которая до сих пор пахнет мокрым брезентом и соляркой.\n";
const std::string kCjk = "調査隊は予定より二日遅れて北の尾根に着いた。雨で下の道が流され、"
                         "測定器は手で運ぶしかなかった。记录本上的数字至今仍带着潮湿帆布的气味。\n";
const std::string kBoxes = "┌──────────────┬──────────┬───────────┐\n"
                           "│ file         │     size │ date      │\n"
                           "├──────────────┼──────────┼───────────┤\n"
                           "│ REPORT.TXT   │    12034 │ 12-03-94  │\n"
                           "│ SURVEY.DBF   │   402112 │ 14-03-94  │\n"
                           "└──────────────┴──────────┴───────────┘\n";

std::u32string Decode(const std::string& utf8) {
  std::u32string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int n = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t c = n == 0 ? b : b & (0x3F >> n);
    for (int k = 1; k <= n; ++k)
      c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out += c;
    i += n + 1;
  }
  return out;
}

// Cyrillic (and, for code page 866, box drawing) in a single-byte code page.
std::string SingleByte(const std::string& utf8, bool oem) {
  static const std::map<char32_t, unsigned char> boxes = {
      {U'─', 0xC4}, {U'│', 0xB3}, {U'┌', 0xDA}, {U'┐', 0xBF}, {U'└', 0xC0}, {U'┘', 0xD9},
      {U'├', 0xC3}, {U'┤', 0xB4}, {U'┬', 0xC2}, {U'┴', 0xC1}, {U'┼', 0xC5}};
  std::string out;
  for (const char32_t c : Decode(utf8)) {
    unsigned b = '?';
    if (c < 0x80)
      b = c;
    else if (c >= U'А' && c <= U'я' && !oem)
      b = 0xC0 + (c - U'А');
    else if (c >= U'А' && c <= U'п')
      b = 0x80 + (c - U'А');
    else if (c >= U'р' && c <= U'я')
      b = 0xE0 + (c - U'р');
    else if (oem && boxes.count(c))
      b = boxes.at(c);
    out += static_cast<char>(b);
  }
  return out;
}

std::string Utf16(const std::string& utf8, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char32_t c : Decode(utf8)) {
    const char hi = static_cast<char>(c >> 8), lo = static_cast<char>(c & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  }
  return out;
}

std::string Noise(std::size_t n, std::uint32_t seed) {
  std::string out(n, '\0');
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

// `head`, then `unit` over and over, cut to exactly n bytes.
std::string Fill(const std::string& head, const std::string& unit, std::size_t n) {
  std::string out = head;
  while (out.size() < n)
    out += unit;
  out.resize(n);
  return out;
}

const char* const kLabels[] = {"UTF-16 LE", "UTF-16 BE", "UTF-8 BOM", "UTF-8 no BOM", "ANSI",
                               "ANSI Ru",   "DOS",       "DOS Ru",    "RTF",          "Binary"};
constexpr int kLabelCount = 10;

std::string Content(int label, std::size_t n) {
  const std::string mixed = kEnglish + kRussian;
  switch (label) {
  case 0:
    return Fill(Utf16(mixed, false).substr(0, 2), Utf16(mixed, false).substr(2), n);
  case 1:
    return Fill(Utf16(mixed, true).substr(0, 2), Utf16(mixed, true).substr(2), n);
  case 2:
    return Fill("\xEF\xBB\xBF", kRussian, n);
  case 3:
    return Fill("", kRussian, n);
  case 4:
    return Fill("", kEnglish, n);
  case 5:
    return Fill("", SingleByte(kRussian, false), n);
  case 6:
    return Fill("", SingleByte(kBoxes, true), n);
  case 7:
    return Fill("", SingleByte(kRussian, true), n);
  case 8:
    return Fill("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\r\n",
                "\\f0 " + kEnglish + "\\par\r\n", n);
  default:
    // An ELF identification first: zeros come early, as in most binaries.
    return Fill(std::string("\177ELF\2\1\1\0\0\0\0\0\0\0\0\0", 16), Noise(4096, 7), n);
  }
}

std::string ExtensionOf(int label) { return label == 8 ? ".rtf" : label == 9 ? ".bin" : ".txt"; }

bool WriteFile(const fs::path& path, const std::string& bytes, std::uintmax_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !ok) return false;
  std::error_code error;
  if (size > bytes.size()) fs::resize_file(path, size, error);
  return !error;
}

// ---- Settings ----------------------------------------------------------------------
// The twelve settings' values, taken from the process-wide ones, so that each
// benchmark runs under its own set whatever runs before it.
struct SettingValues {
  std::string name;
  std::vector<int> integers;
  std::vector<std::string> lists;
};

SettingValues CurrentSettings(const std::string& name) {
  SettingValues v{name, {}, {}};
  for (const SettingRow& row : SettingsTable) {
    if (row.integer) v.integers.push_back(*row.integer);
    if (row.list) v.lists.push_back(*row.list);
  }
  return v;
}

void Apply(const SettingValues& v) {
  std::size_t i = 0, l = 0;
  for (const SettingRow& row : SettingsTable) {
    if (row.integer) *row.integer = v.integers[i++];
    if (row.list) *row.list = v.lists[l++];
  }
  ApplyListSettings();
}

// The built-in defaults, and the example file as a first load copies it
// into place (read where it lies: its own name with ".ini" is itself).
std::vector<SettingValues> BothSettings() {
  ResetSettings();
  std::vector<SettingValues> both = {CurrentSettings("defaults")};
  LoadSettingsForModule(CHARSIFT_EXAMPLE_INI);
  both.push_back(CurrentSettings("example"));
  ResetSettings();
  return both;
}

// ---- The timed operations -----------------------------------------------------------
WideString Wide(const std::string& ascii) { return WideString(ascii.begin(), ascii.end()); }

const char* Query(const WideString& path, int field, char* value) {
  return ContentGetValueW(path.c_str(), field, 0, value, 64, 0) == FT_MULTIPLE_CHOICE ? value : "";
}

// The floor of a query: the system calls it asked the layer for, in its own
// order, issued bare into one buffer reused across calls. It follows the
// chain by itself, since it is recorded from a real query.
struct Replay {
  std::string path;
  std::vector<charsift::trace::Call> calls;
};

Replay Record(const std::string& path, int field) {
  Replay replay{path, {}};
  char value[64];
  charsift::trace::Start(&replay.calls);
  Query(Wide(path), field, value);
  charsift::trace::Stop();
  return replay;
}

// Every read of every floor goes here, allocated and touched before timing.
std::vector<char> floorBuffer(std::size_t{10240} * 1024);

void Floor(const Replay& replay) {
  using charsift::trace::Op;
  std::vector<char>& buffer = floorBuffer;
  int open[4], depth = 0; // probes nest no opens, but a few would do
  struct stat st;
  for (const charsift::trace::Call& call : replay.calls) {
    const int fd = depth > 0 ? open[depth - 1] : -1;
    switch (call.op) {
    case Op::Find:
      benchmark::DoNotOptimize(stat(replay.path.c_str(), &st));
      break;
    case Op::Open:
      // A stat first: the layer refuses a FIFO or a device before it opens.
      benchmark::DoNotOptimize(stat(replay.path.c_str(), &st));
      if (depth < 4) open[depth++] = ::open(replay.path.c_str(), O_RDONLY | O_CLOEXEC);
      break;
    case Op::Size:
      benchmark::DoNotOptimize(fstat(fd, &st));
      break;
    case Op::Seek:
      benchmark::DoNotOptimize(lseek(fd, 0, SEEK_SET));
      break;
    case Op::Read:
      benchmark::DoNotOptimize(
          read(fd, buffer.data(), std::min<std::size_t>(call.bytes, buffer.size())));
      break;
    case Op::Close:
      if (depth > 0) close(open[--depth]);
      break;
    }
  }
  benchmark::ClobberMemory();
}

// Feeds the file (up to limit bytes) to uchardet as its own tool does, in
// 64 KB blocks; without a detector, only reads it.
const char* Uchardet(uchardet_t detector, const std::string& path, std::size_t limit) {
  static char buffer[65536];
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  if (detector) uchardet_reset(detector);
  std::size_t total = 0;
  ssize_t n;
  while (total < limit && (n = read(fd, buffer, std::min(sizeof buffer, limit - total))) > 0) {
    if (detector) uchardet_handle_data(detector, buffer, static_cast<std::size_t>(n));
    total += static_cast<std::size_t>(n);
  }
  close(fd);
  if (!detector) return "";
  uchardet_data_end(detector);
  return uchardet_get_charset(detector);
}

// ---- Results --------------------------------------------------------------------------
// CPU seconds per iteration of each repetition; the table shows the least:
// on this shared machine a neighbour only ever adds time, to a query and to
// its floor alike.
std::map<std::string, std::vector<double>> runsOf;

class Collector : public benchmark::BenchmarkReporter {
public:
  bool ReportContext(const Context&) override { return true; }
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      runsOf[run.run_name.function_name].push_back(run.cpu_accumulated_time /
                                                   static_cast<double>(run.iterations));
    }
    std::fputc('.', stderr);
  }
};

double Least(const std::vector<double>& v) {
  return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

std::string SizeName(std::uintmax_t n) {
  return n >= 1 << 20 ? std::to_string(n >> 20) + " MB"
         : n >= 1024  ? std::to_string(n >> 10) + " KB"
                      : std::to_string(n) + " B";
}

std::string Cell(const char* format, double v) {
  char text[32];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

std::string Micro(double seconds) {
  return seconds < 1e-6   ? Cell("%.0f ns", seconds * 1e9)
         : seconds < 1e-4 ? Cell("%.2f µs", seconds * 1e6)
                          : Cell("%.0f µs", seconds * 1e6);
}

// A benchmark that runs fn once an iteration, under the given settings
// (put in place before the timed loop).
template <typename F>
void Add(const std::string& name, F fn, const SettingValues* settings = nullptr) {
  benchmark::RegisterBenchmark(name.c_str(), [fn, settings](benchmark::State& s) {
    if (settings) Apply(*settings);
    for (auto _ : s)
      fn();
  });
}

void Row(const std::vector<std::string>& cells) {
  std::string line = "|";
  for (const std::string& c : cells)
    line += " " + c + " |";
  std::puts(line.c_str());
}

struct TestFile {
  int label;
  std::uintmax_t size;
  std::string path, name;
};

// ---- The run ------------------------------------------------------------------------------
int WriteMixedFolder(const fs::path& dir, int count) {
  const std::size_t sizes[] = {100, 1024, 4096, 16384};
  for (int i = 0; i < count; ++i) {
    const int label = i % kLabelCount;
    const fs::path folder = dir / std::to_string(i / 100);
    fs::create_directories(folder);
    const std::string name = std::to_string(i) + ExtensionOf(label);
    if (!WriteFile(folder / name, Content(label, sizes[(i / kLabelCount) % 4]), 0)) return 1;
  }
  return 0;
}

struct TempDir {
  fs::path path = fs::temp_directory_path() / ("charsift-bench-" + std::to_string(getpid()));
  TempDir() { fs::create_directories(path); }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

// The walk: 64 KB buffers as the UTF-8 probe reads them, a zero last.
const std::pair<const char*, std::string> kWalks[] = {{"ASCII prose", kEnglish},
                                                      {"Russian UTF-8", kRussian},
                                                      {"CJK UTF-8", kCjk},
                                                      {"Windows-1251", SingleByte(kRussian, false)},
                                                      {"binary", Noise(4096, 11)}};

std::vector<std::string> RegisterWalks() {
  std::vector<std::string> buffers;
  for (const auto& [name, text] : kWalks)
    buffers.push_back(Fill("", text, 65535) + '\0');
  for (std::size_t w = 0; w < buffers.size(); ++w) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(buffers[w].data());
    const std::size_t size = buffers[w].size();
    Add("walk/" + std::to_string(w),
        [=] { benchmark::DoNotOptimize(IsValidUtf8(data, size, true)); });
    Add("memchr/" + std::to_string(w), [=] {
      benchmark::DoNotOptimize(data);
      benchmark::DoNotOptimize(std::memchr(data, 0, size));
    });
  }
  return buffers;
}

// The Cyrillic test's sample at the example settings' 4 KB, by each set of loops.
const std::pair<const char*, std::string> kTallies[] = {
    {"English", kEnglish},
    {"Windows-1251", SingleByte(kRussian, false)},
    {"code page 866", SingleByte(kRussian, true)}};

std::vector<std::string> RegisterTallies() {
  std::vector<std::string> buffers;
  for (const auto& [name, text] : kTallies)
    buffers.push_back(Fill("", text, 4095));
  for (std::size_t t = 0; t < buffers.size(); ++t) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(buffers[t].data());
    for (const Kernels* kernels : RunnableKernels()) {
      const auto tally = kernels->cyrillicTally;
      Add(std::string("tally.") + kernels->name + "/" + kTallies[t].first,
          [=] { benchmark::DoNotOptimize(tally(data, 4095, {8})); });
    }
  }
  return buffers;
}

// One file of every label and size; the 100 MB ones are 1 MB of content
// and a hole, since no probe reads past 64 KB.
bool WriteTestFiles(const fs::path& dir, bool smoke, std::vector<TestFile>& files) {
  std::vector<std::uintmax_t> sizes = {100, 4096, 65536};
  if (!smoke) sizes.insert(sizes.end(), {1 << 20, 100 << 20});
  for (const std::uintmax_t size : sizes) {
    for (int label = 0; label < kLabelCount; ++label) {
      TestFile f{label, size, "", std::string(kLabels[label]) + ", " + SizeName(size)};
      f.path = (dir / (std::to_string(label) + "-" + std::to_string(size) + ExtensionOf(label)))
                   .string();
      if (!WriteFile(f.path, Content(label, std::min<std::uintmax_t>(size, 1 << 20)), size)) {
        std::fprintf(stderr, "cannot write %s\n", f.path.c_str());
        return false;
      }
      files.push_back(f);
    }
  }
  return true;
}

// "/i", the suffix of the benchmarks of file i (built so, since GCC 12 sees
// a false overlap in "/" + std::to_string(i)).
std::string Id(std::size_t i) {
  std::string id(1, '/');
  id += std::to_string(i);
  return id;
}

// The two queries and their floors under both settings, and the peers, for
// every file. Each file must be in the page cache, answer its own label under
// both settings, and be readable by libmagic, or the run stops.
bool RegisterQueries(const std::vector<TestFile>& files, const std::vector<SettingValues>& settings,
                     magic_t magic, uchardet_t detector) {
  for (std::size_t i = 0; i < files.size(); ++i) {
    const TestFile& f = files[i];
    const WideString wide = Wide(f.path);
    const std::string id = Id(i), path = f.path;
    Uchardet(nullptr, f.path, SIZE_MAX);
    for (const SettingValues& set : settings) {
      Apply(set);
      char value[64];
      const std::string encoding = Query(wide, 1, value), type = Query(wide, 0, value);
      if (encoding != kLabels[f.label] ||
          type != (f.label == 9 || f.label < 2 ? "Binary" : "Text")) {
        std::fprintf(stderr, "%s (%s): answered %s, %s\n", f.name.c_str(), set.name.c_str(),
                     encoding.c_str(), type.c_str());
        return false;
      }
      const Replay encodingCalls = Record(f.path, 1), typeCalls = Record(f.path, 0);
      const std::string suffix = "." + set.name + id;
      Add(
          "encoding" + suffix,
          [=] {
            char v[64];
            benchmark::DoNotOptimize(Query(wide, 1, v));
          },
          &set);
      Add("encoding.floor" + suffix, [=] { Floor(encodingCalls); });
      Add(
          "type" + suffix,
          [=] {
            char v[64];
            benchmark::DoNotOptimize(Query(wide, 0, v));
          },
          &set);
      Add("type.floor" + suffix, [=] { Floor(typeCalls); });
    }
    if (!magic_file(magic, f.path.c_str())) {
      std::fprintf(stderr, "%s: libmagic cannot read it\n", f.name.c_str());
      return false;
    }
    Add("uchardet" + id, [=] { benchmark::DoNotOptimize(Uchardet(detector, path, SIZE_MAX)); });
    Add("uchardet64k" + id, [=] { benchmark::DoNotOptimize(Uchardet(detector, path, 65536)); });
    Add("magic" + id, [=] { benchmark::DoNotOptimize(magic_file(magic, path.c_str())); });
  }
  return true;
}

double T(const std::string& name) { return Least(runsOf[name]); }

std::string Ratio(double a, double b) { return b > 0 ? Cell("%.2f", a / b) : std::string("-"); }

// The table on stdout, and per size the mean over the ten labels (a mixed
// folder) for the plot.
void Report(const std::vector<std::string>& walkBuffers, const std::vector<TestFile>& files,
            const std::string& plotData) {
  Row({"measurement", "Charsift", "floor", "÷ floor", "Charsift Type", "floor", "÷ floor",
       "uchardet", "÷ Charsift", "uchardet 64K", "÷ Charsift", "libmagic", "÷ Charsift"});
  Row(std::vector<std::string>(13, "---"));
  for (std::size_t w = 0; w < walkBuffers.size(); ++w) {
    const double walk = T("walk/" + std::to_string(w)), floor = T("memchr/" + std::to_string(w));
    // An early stop (an invalid sequence, a zero byte) has no rate worth printing.
    auto rate = [](double s) {
      return s < 5e-8 ? Micro(s) : Cell("%.1f GB/s", 65536 / s / 1e9) + ", " + Micro(s);
    };
    Row({std::string("UTF-8 walk vs memchr, 64 KB ") + kWalks[w].first, rate(walk), rate(floor),
         Ratio(walk, floor), "", "", "", "", "", "", "", "", ""});
  }
  std::map<std::uintmax_t, std::array<double, 5>> perSize;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string id = Id(i);
    const double q = T("encoding.defaults" + id), floor = T("encoding.floor.defaults" + id),
                 u = T("uchardet" + id), u64 = T("uchardet64k" + id), m = T("magic" + id);
    const double type = T("type.defaults" + id), typeFloor = T("type.floor.defaults" + id);
    Row({"query, " + files[i].name, Micro(q), Micro(floor), Ratio(q, floor), Micro(type),
         Micro(typeFloor), Ratio(type, typeFloor), Micro(u), Ratio(u, q), Micro(u64), Ratio(u64, q),
         Micro(m), Ratio(m, q)});
    const double costs[5] = {q, floor, u, u64, m};
    for (int k = 0; k < 5; ++k)
      perSize[files[i].size][k] += costs[k] * 1e6 / kLabelCount;
  }
  if (std::FILE* plot = plotData.empty() ? nullptr : std::fopen(plotData.c_str(), "w")) {
    for (const auto& [size, c] : perSize)
      std::fprintf(plot, "%ju %g %g %g %g %g\n", size, c[0], c[1], c[2], c[3], c[4]);
    std::fclose(plot);
  }
}

// Both settings side by side, every query against its floor, and the
// Cyrillic tally by each tallier; the worst ratio of each column last.
void ReportSettings(const std::vector<TestFile>& files, const std::vector<SettingValues>& settings,
                    std::FILE* out) {
  auto row = [out](const std::vector<std::string>& cells) {
    std::string line = "|";
    for (const std::string& c : cells)
      line += " " + c + " |";
    std::fprintf(out, "%s\n", line.c_str());
  };
  std::vector<std::string> head = {"query"};
  for (const char* field : {"Encoding", "Type"})
    for (const SettingValues& set : settings)
      head.insert(head.end(), {std::string(field) + ", " + set.name, "floor", "÷ floor"});
  row(head);
  row(std::vector<std::string>(head.size(), "---"));
  std::vector<double> worst(head.size(), 0);
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::vector<std::string> cells = {files[i].name};
    for (const char* field : {"encoding", "type"})
      for (const SettingValues& set : settings) {
        const std::string id = "." + set.name + Id(i);
        const double q = T(field + id), floor = T(std::string(field) + ".floor" + id);
        worst[cells.size() + 2] = std::max(worst[cells.size() + 2], floor > 0 ? q / floor : 0);
        cells.insert(cells.end(), {Micro(q), Micro(floor), Ratio(q, floor)});
      }
    row(cells);
  }
  std::vector<std::string> last = {"worst"};
  for (std::size_t c = 1; c < head.size(); ++c)
    last.push_back(c % 3 == 0 ? Cell("%.2f", worst[c]) : "");
  row(last);

  std::fprintf(out, "\n");
  std::vector<std::string> tallyHead = {"Cyrillic tally, 4095 bytes, word rule 8"};
  for (const Kernels* kernels : RunnableKernels())
    tallyHead.push_back(kernels->name);
  row(tallyHead);
  row(std::vector<std::string>(tallyHead.size(), "---"));
  for (const auto& [name, text] : kTallies) {
    std::vector<std::string> cells = {name};
    for (const Kernels* kernels : RunnableKernels())
      cells.push_back(Micro(T(std::string("tally.") + kernels->name + "/" + name)));
    row(cells);
  }
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write-files") == 0)
    return WriteMixedFolder(argv[2], std::atoi(argv[3]));
  bool smoke = false;
  std::string plotData, settingsTable;
  std::vector<char*> args;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--smoke") == 0)
      smoke = true;
    else if (std::strncmp(argv[i], "--plot-data=", 12) == 0)
      plotData = argv[i] + 12;
    else if (std::strncmp(argv[i], "--settings-table=", 17) == 0)
      settingsTable = argv[i] + 17;
    else
      args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

  const std::vector<std::string> walkBuffers = RegisterWalks(), tallyBuffers = RegisterTallies();
  const std::vector<SettingValues> settings = BothSettings();
  TempDir temp;
  std::vector<TestFile> files;
  if (!WriteTestFiles(temp.path, smoke, files)) return 1;
  magic_t magic = magic_open(MAGIC_MIME_ENCODING);
  uchardet_t detector = uchardet_new();
  if (!magic || magic_load(magic, nullptr) != 0 || !detector) {
    std::fprintf(stderr, "cannot start libmagic or uchardet\n");
    return 1;
  }
  if (!RegisterQueries(files, settings, magic, detector)) return 1;

  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  std::fputc('\n', stderr);
  Report(walkBuffers, files, plotData);
  // On stdout after the first table unless a file is named for it.
  std::FILE* out = settingsTable.empty() ? stdout : std::fopen(settingsTable.c_str(), "w");
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", settingsTable.c_str());
    return 1;
  }
  if (out == stdout) std::puts("");
  ReportSettings(files, settings, out);
  if (out != stdout) std::fclose(out);
  magic_close(magic);
  uchardet_delete(detector);
  return 0;
}
