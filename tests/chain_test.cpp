// The Encoding chain: its labels in order, against the reference, and with its trace.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "Charsift.h"
#include "ContPlug.h"
#include "Encodings.h"
#include "Explain.h"
#include "SingleOpen.h"
#include "TestSupport.h"
#include "reference/ApplySettings.h"
#include "reference/ReferenceClassifier.h"

using namespace testing_support;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Box() {
  return BoxTable437({{"Name", "Size", "Date", "Description"},
                      {"README.TXT", "1024", "01-02-93", "Release notes"},
                      {"COMMAND.COM", "54619", "09-30-93", "Command interpreter"},
                      {"AUTOEXEC.BAT", "212", "10-01-93", "Start-up script"}},
                     false);
}

// A DOS listing above Russian prose in 866: its first KB is box-heavy
// (OEM), its 2 KB Cyrillic sample mostly 866 letters.
Bytes DosRussian() { return Concat({Box(), ToCp866(RussianProse()), Repeat('x', 600)}); }

Bytes AsciiWithAt(std::size_t size, std::size_t at, std::uint8_t code) {
  Bytes b = Repeat('a', size);
  b[at] = code;
  return b;
}

struct ChainRow {
  const char* name;
  Bytes (*content)();
  void (*setup)(); // settings beyond the defaults, or nullptr
  const char* expected;
  const char* why;
};
// Failure messages name the row by its reason.
void PrintTo(const ChainRow& row, std::ostream* os) { *os << row.why; }

class Chain : public ::testing::TestWithParam<ChainRow> {};

TEST_P(Chain, Labels) {
  SettingsGuard settings;
  TempDir dir;
  const ChainRow& row = GetParam();
  if (row.setup) row.setup();
  const auto path = dir.Write(std::string(row.name) + ".txt", row.content());
  EXPECT_STREQ(ClassifyEncoding(Wide(path)), row.expected) << row.name << ": " << row.why;
  // A trace changes no answer, and ends in the step that gave it.
  ChainTrace trace;
  EXPECT_STREQ(ClassifyEncoding(Wide(path), &trace), row.expected) << row.why;
  EXPECT_STREQ(LabelText(trace.label), row.expected) << row.why;
  ASSERT_FALSE(trace.steps.empty());
  EXPECT_EQ(trace.steps.back().answer, trace.label) << row.why;
  for (std::size_t i = 1; i < trace.steps.size(); ++i)
    EXPECT_LT(trace.steps[i - 1].step, trace.steps[i].step) << row.why << ": the chain's order";
  // charsift's single open reads the file once and must agree.
  SingleOpenAnswer once;
  ASSERT_TRUE(AnswerBySingleOpen(Wide(path), true, true, once)) << row.why;
  EXPECT_STREQ(once.encoding, row.expected) << row.why;
  EXPECT_STREQ(once.type, FileIsText(Wide(path)) ? "Text" : "Binary") << row.why;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Chain, ::testing::Values(
  ChainRow{"utf16le", [] { return ToUtf16("Hello", false, true); }, nullptr, "UTF-16 LE",
           "little-endian mark"},
  ChainRow{"utf16be", [] { return ToUtf16("Hello", true, true); }, nullptr, "UTF-16 BE",
           "big-endian mark"},
  ChainRow{"utf16le_ru", [] { return ToUtf16(RussianProse(), false, true); }, nullptr,
           "UTF-16 LE", "the mark decides although the text test would say binary"},
  ChainRow{"utf16be_bare", [] { return B({0xFE, 0xFF}); }, nullptr, "UTF-16 BE",
           "the mark alone"},
  ChainRow{"rtf", [] { return Text("{\\rtf1\\ansi Hello}"); }, nullptr, "RTF", "signature"},
  ChainRow{"rtf_utf8", [] { return Text("{\\rtf1 caf\xC3\xA9}"); }, nullptr, "RTF",
           "RTF before the UTF-8 test"},
  ChainRow{"rtf_upper", [] { return Text("{\\RTF1 x}"); }, nullptr, "ANSI",
           "the signature is case-sensitive"},
  ChainRow{"rtf_short", [] { return Text("{\\rt"); }, nullptr, "ANSI", "four bytes are no signature"},
  ChainRow{"bom", [] { return B({0xEF, 0xBB, 0xBF, 0xFF, 0x00, 0x01}); }, nullptr, "UTF-8 BOM",
           "the mark wins over an invalid, binary rest"},
  ChainRow{"utf8", [] { return Text(RussianProse()); }, nullptr, "UTF-8 no BOM",
           "Russian prose in UTF-8"},
  ChainRow{"utf8_zero", [] { return B({0xC3, 0xA9, 0x00, 0x01, 0xFF}); }, nullptr,
           "UTF-8 no BOM", "valid before its first zero: the UTF-8 test comes before the text test"},
  ChainRow{"ascii", [] { return Text("Hello, world.\r\n\tTabbed line\n"); }, nullptr, "ANSI",
           "7-bit text"},
  ChainRow{"empty", [] { return Bytes{}; }, nullptr, "ANSI", "an empty file is text"},
  ChainRow{"binary", [] { return B({0x01, 0x02, 0x03}); }, nullptr, "Binary", "control codes"},
  ChainRow{"cp1251", [] { return ToWindows1251(RussianProse()); }, nullptr, "ANSI Ru",
           "Russian prose in 1251"},
  ChainRow{"cp866", [] { return ToCp866(RussianProse()); }, nullptr, "DOS Ru",
           "Russian prose in 866: no box character, r-ya too rare for 1251"},
  ChainRow{"box", Box, nullptr, "DOS", "CP437 box-drawing table"},
  ChainRow{"box_double", [] { return BoxTable437({{"A", "B"}, {"left", "right"}}, true); },
           nullptr, "DOS", "double-line table"},
  ChainRow{"box_no_oem", Box, [] { oem_enabled = 0; }, "ANSI Ru",
           "without the OEM test the box characters pass as 1251 capitals"},
  ChainRow{"dos_ru", DosRussian, nullptr, "DOS", "the OEM test comes before the Cyrillic one"},
  ChainRow{"dos_ru_no_oem", DosRussian, [] { oem_enabled = 0; }, "DOS Ru",
           "with the OEM test off the Cyrillic test sees it"},
  ChainRow{"dos_ru_oem_neg", DosRussian, [] { oem_enabled = -1; }, "DOS",
           "any non-zero value switches the OEM test on"},
  ChainRow{"cp1251_no_rus", [] { return ToWindows1251(RussianProse()); },
           [] { rus_enabled = 0; }, "ANSI", "Cyrillic test off"},
  ChainRow{"cp1251_rus_neg", [] { return ToWindows1251(RussianProse()); },
           [] { rus_enabled = -1; }, "ANSI Ru", "any non-zero value switches it on"},
  ChainRow{"zero_1023", [] { return AsciiWithAt(2000, 1023, 0); }, nullptr, "Binary",
           "zero in the last byte of the text sample"},
  ChainRow{"zero_1024", [] { return AsciiWithAt(2000, 1024, 0); }, nullptr, "ANSI",
           "zero beyond every sample that looks for it"},
  ChainRow{"zero_listed", [] { return AsciiWithAt(2000, 10, 0); }, [] {
             binary_ignore = "00";
             ApplyListSettings();
           },
           "ANSI", "a listed zero is harmless"},
  ChainRow{"no_text_sample", [] { return Text("abc"); }, [] { text_buffer_size_kb = 0; },
           "Binary", "no text sample: every non-empty unlabelled file is binary"},
  ChainRow{"no_text_sample_empty", [] { return Bytes{}; }, [] { text_buffer_size_kb = 0; },
           "ANSI", "an empty file is text without a sample"}
), [](const ::testing::TestParamInfo<ChainRow>& info) { return std::string(info.param.name); });
// clang-format on

TEST(Chain, FolderIsEmptyAndMissingIsBinary) {
  SettingsGuard settings;
  TempDir dir;
  EXPECT_STREQ(ClassifyEncoding(Wide(dir.Path())), "");
  EXPECT_STREQ(ClassifyEncoding(Wide(dir / "missing.txt")), "Binary");
}

// The two fields are independent: the mark labels the encoding while the
// zero bytes of UTF-16 text make its Type binary, unless 00 is listed.
TEST(Chain, Utf16IsNotText) {
  SettingsGuard settings;
  TempDir dir;
  const WideString russian = Wide(dir.Write("ru.txt", ToUtf16(RussianProse(), false, true)));
  EXPECT_STREQ(ClassifyEncoding(russian), "UTF-16 LE");
  EXPECT_FALSE(FileIsText(russian));
  const WideString latin = Wide(dir.Write("en.txt", ToUtf16("Plain text\r\n", true, true)));
  EXPECT_STREQ(ClassifyEncoding(latin), "UTF-16 BE");
  EXPECT_FALSE(FileIsText(latin));
  binary_ignore = "00";
  ApplyListSettings();
  EXPECT_TRUE(FileIsText(latin));
}

// ---- Against the reference ----------------------------------------------------------
class RandomCase {
public:
  explicit RandomCase(std::uint32_t seed) : rng_(seed) {}

  // Half the settings at their defaults, the rest near their edges.
  reference::Settings Settings() {
    reference::Settings s;
    Maybe(s.textKb, {0, -1, 2});
    Maybe(s.utf8Kb, {0, 1, 2});
    Maybe(s.binaryIgnore, {"00", "1A 00", "0B"});
    Maybe(s.oemEnabled, {0, -1});
    Maybe(s.oemKb, {0, 2});
    Maybe(s.oemPercent, {0, 50, 101});
    Maybe(s.oemIgnore, {"", "C4 B3"});
    Maybe(s.rusEnabled, {0});
    Maybe(s.rusKb, {0, 1, 3});
    Maybe(s.rusMinSize, {0, 2048, 100});
    Maybe(s.rusPercent, {0, 10, 101});
    Maybe(s.rusWordLen, {3, 5});
    Maybe(s.oemDraw, {1, 3, -2, 200});
    Maybe(s.rusVowels, {30, 101, -1});
    Maybe(s.rusWordMixed, {1, -1});
    return s;
  }

  // Up to 3.5 KB, so every sample boundary falls inside some files; bytes
  // drawn from the classes the probes tell apart.
  Bytes Content() {
    const int style = Pick(4);
    const std::size_t size = Pick(5) == 0 ? Pick(12) : Pick(3500);
    Bytes b;
    while (b.size() < size) {
      const int r = Pick(100);
      if (style == 0 && r < 50) { // valid UTF-8, now and then cut or spoilt
        const int lead = 0xC0 + Pick(0x40);
        b.push_back(static_cast<std::uint8_t>(lead));
        int trail = reference::TrailCount(static_cast<std::uint8_t>(lead));
        if (Pick(200) == 0) --trail;
        for (int k = 0; k < trail; ++k)
          b.push_back(static_cast<std::uint8_t>(0x80 + Pick(0x40)));
      } else if (style == 1 && r < 40) { // box-drawing runs
        b.insert(b.end(), 1 + Pick(20), static_cast<std::uint8_t>(0xB0 + Pick(0x30)));
      } else if (style == 2 && r < 60) { // letters of either code page
        b.push_back(
            static_cast<std::uint8_t>(Pick(4) == 0 ? 0xC0 + Pick(0x40) : 0x80 + Pick(0x30)));
      } else if (r < 2) {
        b.push_back(static_cast<std::uint8_t>(Pick(3) == 0 ? 0 : Pick(32)));
      } else if (style == 3 && r < 50) {
        b.push_back(static_cast<std::uint8_t>(0x80 + Pick(0x80)));
      } else {
        // Lines now and then, so that box codes fall under one another.
        const int c = Pick(40);
        b.push_back(static_cast<std::uint8_t>(c == 0 ? '\n' : c < 10 ? ' ' : 'a' + Pick(26)));
      }
    }
    b.resize(size);
    static const Bytes kPrefixes[] = {B({0xFF, 0xFE}), B({0xFE, 0xFF}), B({0xEF, 0xBB, 0xBF}),
                                      Text("{\\rtf"),  B({0xEF, 0xBB}), B({0xFF})};
    if (Pick(8) == 0) {
      const Bytes& p = kPrefixes[Pick(6)];
      b.insert(b.begin(), p.begin(), p.end());
    }
    return b;
  }

private:
  std::size_t Pick(std::size_t n) {
    return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
  }

  template <typename T> void Maybe(T& field, std::type_identity_t<std::initializer_list<T>> edges) {
    if (Pick(2) == 0) field = edges.begin()[Pick(edges.size())];
  }

  std::mt19937 rng_;
};

// Files on which the chain fuzzer found the module and the reference apart,
// under the defaults and the few settings named.
TEST(Chain, MatchesTheReferenceOnFoundCases) {
  struct Found {
    const char* why;
    Bytes content;
    int oemDraw, oemPercent;
    const char* label;
  };
  const Found found[] = {
      {"a run of shades and blocks in any mix counts, whole, for its first code (B2 of B2 DE)",
       B({0x6A, 0xB2, 0xDE, 0x57, 0xE0, 0xFF, 0x7F, 0x57, 0xDF, 0xBE}), 2, 28, "DOS"},
  };
  SettingsGuard guard;
  TempDir dir;
  for (const Found& f : found) {
    reference::Settings s;
    s.oemDraw = f.oemDraw;
    s.oemPercent = f.oemPercent;
    const auto path = dir.Write("found.bin", f.content);
    reference::ApplyToModule(s);
    EXPECT_EQ(reference::Classify(path, s), f.label) << f.why;
    EXPECT_EQ(ClassifyEncoding(Wide(path)), f.label) << f.why;
  }
}

TEST(Chain, MatchesTheReferenceOnRandomFiles) {
  SettingsGuard guard;
  TempDir dir;
  RandomCase random(20240611);
  std::map<std::string, int> seen;
  for (int i = 0; i < 300; ++i) {
    const reference::Settings s = random.Settings();
    const Bytes content = random.Content();
    const auto path = dir.Write(std::to_string(i) + ".bin", content);
    const std::string expected = reference::Classify(path, s);
    reference::ApplyToModule(s);
    ++seen[expected];
    ASSERT_EQ(ClassifyEncoding(Wide(path)), expected)
        << "case " << i << ", " << content.size() << " bytes starting "
        << Hex(Bytes(content.begin(),
                     content.begin() + std::min<std::ptrdiff_t>(16, content.size())));
  }
  // A generator that stopped reaching some label would hide faults there.
  std::string counts;
  for (const auto& [label, n] : seen)
    counts += label + ": " + std::to_string(n) + "; ";
  for (const char* label : {"UTF-16 LE", "UTF-16 BE", "RTF", "UTF-8 BOM", "UTF-8 no BOM", "Binary",
                            "DOS", "DOS Ru", "ANSI Ru", "ANSI"})
    EXPECT_GT(seen[label], 0) << label << " never drawn; drawn: " << counts;
}

// The settings as the ini file the module reads.
std::string IniText(const reference::Settings& s) {
  std::string ini = "[ini]\n";
  for (const reference::SettingField& field : reference::kSettingFields)
    ini += std::string(field.key) + "=" + reference::ValueText(s, field) + "\n";
  return ini;
}

// The label --explain ends in, read from its last line.
std::string ExplainedLabel(const fs::path& module, const fs::path& file, const TempDir& dir) {
  const fs::path outPath = dir / "explained.txt";
  std::FILE* out = std::fopen(outPath.string().c_str(), "wb");
  // The linked-in exports stand for the module, under the settings Explain loaded.
  const auto exports = [](const charsift::cli::fs::path& path) {
    char value[64] = {};
    const WideString wide = Wide(fs::path(path.native()));
    ContentGetValueW(wide.c_str(), kEncodingField, 0, value, sizeof value, 0);
    return std::string(value);
  };
  EXPECT_EQ(Explain(module.native(), {file.native()}, out, exports), 0);
  std::fclose(out);
  std::ifstream in(outPath, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  const std::string mark = "  Encoding: ";
  const std::size_t at = text.rfind(mark);
  const std::size_t end = text.find(", decided at step", at);
  if (at == std::string::npos || end == std::string::npos) return "<no label>";
  return text.substr(at + mark.size(), end - at - mark.size());
}

// --explain reads the ini beside the module and walks the chain with the
// probes' own numbers: the label it ends in must be the module's answer
// under any settings, or the explanation tells a story the module did not.
TEST(Chain, ExplanationEndsInTheModulesAnswer) {
  SettingsGuard guard;
  TempDir dir;
  RandomCase random(12122026);
  std::map<std::string, int> seen;
  for (int i = 0; i < 300; ++i) {
    const reference::Settings s = random.Settings();
    const Bytes content = random.Content();
    const fs::path path = dir.Write(std::to_string(i) + ".bin", content);
    dir.WriteText("Charsift.ini", IniText(s));
    const std::string explained = ExplainedLabel(dir / "Charsift.so", path, dir);
    // Explain loaded the settings; the exports answer under them.
    char value[64] = {};
    const WideString wide = Wide(path);
    ASSERT_EQ(ContentGetValueW(wide.c_str(), 1, 0, value, sizeof value, 0), FT_MULTIPLE_CHOICE);
    ASSERT_EQ(explained, value) << "case " << i << "\n" << IniText(s);
    ASSERT_EQ(explained, reference::Classify(path, s)) << "case " << i << "\n" << IniText(s);
    ++seen[explained];
  }
  for (const char* label : {"UTF-16 LE", "UTF-16 BE", "RTF", "UTF-8 BOM", "UTF-8 no BOM", "Binary",
                            "DOS", "DOS Ru", "ANSI Ru", "ANSI"})
    EXPECT_GT(seen[label], 0) << label << " never explained";
}

// The exports' answer for one field.
std::string ExportsAnswer(const fs::path& path, int field) {
  char value[64] = {};
  const WideString wide = Wide(path);
  ContentGetValueW(wide.c_str(), field, 0, value, sizeof value, 0);
  return value;
}

// One read of the largest sample, sliced per step, answers as the exports'
// step-by-step opens do: for both fields together and for each alone, under
// random settings, over a generated tree, the examples and the test data,
// and files that straddle the UTF-8 sample's end.
TEST(Chain, SingleOpenGivesTheExportsAnswers) {
  SettingsGuard guard;
  TempDir dir;
  RandomCase random(9122026);
  std::vector<fs::path> files;
  for (int i = 0; i < 200; ++i)
    files.push_back(dir.Write(std::to_string(i) + ".gen", random.Content()));
  for (const std::size_t at : {1023u, 2046u, 65534u, 65535u, 70000u}) {
    Bytes b = Concat({Text(RussianProse()), Repeat('a', 70000)});
    b[at] = 0xFF; // invalid UTF-8 exactly at, or past, a sample's end
    files.push_back(dir.Write(std::to_string(at) + ".edge", b));
  }
  for (const char* root : {CHARSIFT_EXAMPLES_DIR, CHARSIFT_TEST_DATA_DIR})
    for (const auto& entry : fs::recursive_directory_iterator(HostPath(root)))
      if (entry.is_regular_file()) files.push_back(entry.path());
  int compared = 0;
  for (int round = 0; round < 4; ++round) {
    const reference::Settings s = round == 0 ? reference::Settings{} : random.Settings();
    reference::ApplyToModule(s);
    for (const fs::path& path : files) {
      const std::string type = ExportsAnswer(path, kTypeField);
      const std::string encoding = ExportsAnswer(path, kEncodingField);
      SingleOpenAnswer both, typeOnly, encodingOnly;
      const WideString wide = Wide(path);
      ASSERT_TRUE(AnswerBySingleOpen(wide, true, true, both)) << path;
      ASSERT_TRUE(AnswerBySingleOpen(wide, true, false, typeOnly)) << path;
      ASSERT_TRUE(AnswerBySingleOpen(wide, false, true, encodingOnly)) << path;
      ASSERT_EQ(both.type, type) << path << "\n" << IniText(s);
      ASSERT_EQ(both.encoding, encoding) << path << "\n" << IniText(s);
      ASSERT_EQ(typeOnly.type, type) << path;
      EXPECT_EQ(typeOnly.encoding, nullptr) << path;
      ASSERT_EQ(encodingOnly.encoding, encoding) << path;
      ++compared;
    }
  }
  EXPECT_GT(compared, 800);
}

// What is no regular file, or whose folder lookup could find another entry,
// is left to the exports.
TEST(Chain, SingleOpenLeavesTheRestToTheExports) {
  TempDir dir;
  dir.WriteText("plain.txt", "plain");
  const struct {
    WideString path;
    const char* why;
  } rows[] = {
      {Wide(dir.Path()), "a folder"},
      {Wide(dir / "missing.txt"), "no such file"},
      {Wide(dir / "plain.txt") + Wide(fs::path("\\")), "a trailing backslash"},
      {Wide(dir / "plain.tx?"), "a wildcard the folder lookup would expand"},
      {Wide(dir / "*"), "a wildcard"},
      {Wide(fs::path("C:")), "a drive root"},
      {Wide(fs::path("C:\\")), "a drive root with its backslash"},
      {WideString(), "an empty path"},
  };
  for (const auto& row : rows) {
    SingleOpenAnswer answer;
    EXPECT_FALSE(AnswerBySingleOpen(row.path, true, true, answer)) << row.why;
    EXPECT_EQ(answer.encoding, nullptr) << row.why;
  }
  SingleOpenAnswer answer;
  EXPECT_TRUE(AnswerBySingleOpen(Wide(dir / "plain.txt"), true, true, answer));
}

} // namespace
