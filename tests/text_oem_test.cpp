// Code lists, binary codes, the text sample and the OEM statistics.
#include <cstdio>
#include <set>
#include <string>

#include "TestSupport.h"
#include "platform/FaultInjection.h"

using namespace testing_support;

namespace {

using CodeList = std::set<int>;

// ---- Code lists -------------------------------------------------------------
struct ListRow {
  std::string list;
  CodeList listed;
  const char* why;
};
// Failure messages name the row by its reason.
void PrintTo(const ListRow& row, std::ostream* os) { *os << row.why; }

std::string EvenCodes300() {
  std::string list;
  char cell[4];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(cell, sizeof cell, "%02X ", (i * 2) % 256);
    list += cell;
  }
  return list;
}

CodeList EvenCodes() {
  CodeList s;
  for (int c = 0; c < 256; c += 2)
    s.insert(c);
  return s;
}

class CodeLists : public ::testing::TestWithParam<ListRow> {};

// The one-pass table and the needle search must name the same codes.
TEST_P(CodeLists, LookupAndTableAgree) {
  const ListRow& row = GetParam();
  const CodeSet table = ListedCodes(row.list);
  for (int code = 0; code < 256; ++code) {
    const bool expected = row.listed.count(code) > 0;
    EXPECT_EQ(IsCodeListed(code, row.list), expected) << row.why << ", code 0x" << std::hex << code;
    EXPECT_EQ(table.has[code], expected) << row.why << ", code 0x" << std::hex << code;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, CodeLists, ::testing::Values(
  ListRow{"", {}, "an empty list names nothing"},
  ListRow{"AB BB", {0xAB, 0xBB}, "the default OEM list"},
  ListRow{"ab", {}, "lower-case digits are not recognised"},
  ListRow{"0A0B", {}, "entries need a blank between them"},
  ListRow{"0A 0B 0C", {0x0A, 0x0B, 0x0C}, "one blank serves both neighbours"},
  ListRow{"  0A  ", {0x0A}, "outer blanks change nothing"},
  ListRow{"0A\t0B", {}, "a tab is no separator"},
  ListRow{"0A,0B", {}, "a comma is no separator"},
  ListRow{"G0 0G", {}, "not hex digits"},
  ListRow{"A 0AB 00A", {}, "one- and three-digit forms"},
  ListRow{"00 FF", {0x00, 0xFF}, "both ends of the code range"},
  ListRow{EvenCodes300(), EvenCodes(), "300 entries, repeats included"},
  ListRow{std::string("0A\0 0B", 6), {0x0B}, "an embedded zero is no blank, nor the end"}
), NamedByWhy());
// clang-format on

// ---- Binary codes -------------------------------------------------------------
struct IgnoreRow {
  std::string ignore;
  CodeList listed; // what the list names below 32
  const char* why;
};
void PrintTo(const IgnoreRow& row, std::ostream* os) { *os << row.why; }

bool BinaryByRule(int code, const CodeList& listed) {
  return code < 32 && code != 9 && code != 10 && code != 13 && listed.count(code) == 0;
}

class BinaryIgnore : public ::testing::TestWithParam<IgnoreRow> {
protected:
  // One file "a<code>b" per code, shared by every row.
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    for (int code = 0; code < 256; ++code)
      dir_->Write(std::to_string(code) + ".txt", B({'a', code, 'b'}));
  }
  static void TearDownTestSuite() { delete dir_; }
  static TempDir* dir_;
};

TempDir* BinaryIgnore::dir_ = nullptr;

TEST_P(BinaryIgnore, PredicateAndFileScanFollowTheRule) {
  SettingsGuard settings;
  const IgnoreRow& row = GetParam();
  binary_ignore = row.ignore;
  ApplyListSettings();
  for (int code = 0; code < 256; ++code) {
    const bool binary = BinaryByRule(code, row.listed);
    EXPECT_EQ(IsBinaryCode(code), binary) << row.why << ", code 0x" << std::hex << code;
    // The scan builds its own table of binary codes; it must agree.
    const WideString path = Wide(*dir_ / (std::to_string(code) + ".txt"));
    EXPECT_EQ(FileIsText(path), !binary) << row.why << ", code 0x" << std::hex << code;
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, BinaryIgnore, ::testing::Values(
  IgnoreRow{"", {}, "default: every control code but tab, LF and CR"},
  IgnoreRow{"00", {0x00}, "zero bytes allowed"},
  IgnoreRow{"1a", {}, "lower case lists nothing"},
  IgnoreRow{"1A", {0x1A}, "end-of-file mark allowed"},
  IgnoreRow{"1A,1B", {}, "a comma joins the two into no entry"},
  IgnoreRow{"1A  1B", {0x1A, 0x1B}, "two blanks separate as well as one"},
  IgnoreRow{" 1B ", {0x1B}, "outer blanks"},
  IgnoreRow{"09 0A 0D 20 7F 80 FF", {}, "listing text codes changes nothing"}
), NamedByWhy());
// clang-format on

// ---- Text and OEM samples ------------------------------------------------------
// A file's bytes, the integer setting and the code list the probe runs
// under, and its answer.
struct SampleRow {
  Bytes content;
  int setting;      // text_buffer_size_kb, or oem_percent
  std::string list; // binary_ignore, or oem_ignore
  bool expected;
  const char* why;
  int draw = 0; // oem_draw
};
void PrintTo(const SampleRow& row, std::ostream* os) { *os << row.why; }

bool ProbeUnder(const SampleRow& row, int& setting, std::string& list,
                bool (*probe)(const WideString&, ProbeFacts*)) {
  SettingsGuard settings;
  TempDir dir;
  setting = row.setting;
  list = row.list;
  oem_draw = row.draw;
  ApplyListSettings();
  return probe(Wide(dir.Write("sample.txt", row.content)), nullptr);
}

Bytes TextWithAt(std::size_t size, std::size_t at, std::uint8_t code) {
  Bytes b = Repeat('t', size);
  b[at] = code;
  return b;
}

class TextSample : public ::testing::TestWithParam<SampleRow> {};

TEST_P(TextSample, FileIsText) {
  const SampleRow& row = GetParam();
  EXPECT_EQ(ProbeUnder(row, text_buffer_size_kb, binary_ignore, FileIsText), row.expected)
      << row.why;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, TextSample, ::testing::Values(
  SampleRow{TextWithAt(2000, 0, 0), 1, "", false, "zero first"},
  SampleRow{TextWithAt(2000, 700, 0), 1, "", false, "zero inside the sample"},
  SampleRow{TextWithAt(2000, 1023, 0), 1, "", false, "the sample is the full 1024 bytes"},
  SampleRow{TextWithAt(2000, 1024, 0), 1, "", true, "zero just beyond the sample"},
  SampleRow{TextWithAt(2000, 1024, 0), 2, "", false, "a bigger setting reads further"},
  SampleRow{TextWithAt(2000, 3, 0), 1, "00", true, "listed zero"},
  SampleRow{TextWithAt(2000, 3, 0x7F), 1, "", true, "DEL is text"},
  SampleRow{B({'a'}), 0, "", false, "no sample: not text"},
  SampleRow{B({'a'}), -1, "", false, "negative sample: not text"},
  SampleRow{Repeat('t', 2048), 2000000000, "", true, "a huge setting is capped, not honoured"},
  SampleRow{TextWithAt(2048, 1500, 1), 2000000000, "", false,
            "the capped sample still covers 2 KB"},
  SampleRow{Bytes{}, 0, "", true, "an empty file is text whatever the sample size"}
), NamedByWhy());
// clang-format on

TEST(TextSample, EmptyFileIsTextWithoutASample) {
  SettingsGuard settings;
  TempDir dir;
  const auto path = dir.Write("empty.txt", {});
  charsift::fault::Reset();
  EXPECT_TRUE(FileIsText(Wide(path)));
  EXPECT_EQ(charsift::fault::Seen(charsift::fault::Call::Allocation), 0);
  FileHandle file(OpenForReading(Wide(path)));
  bool isOem = true;
  EXPECT_FALSE(ScanTextSample(file.Get(), 1, true, isOem)) << "the scan itself wants a byte";
  EXPECT_FALSE(isOem);
  EXPECT_FALSE(FileIsOem(Wide(path)));
  charsift::fault::Reset();
}

TEST(TextSample, MissingFileIsNeitherTextNorOem) {
  SettingsGuard settings;
  TempDir dir;
  EXPECT_FALSE(FileIsText(Wide(dir / "missing.txt")));
  EXPECT_FALSE(FileIsOem(Wide(dir / "missing.txt")));
}

// ---- OEM statistics ---------------------------------------------------------------
// The parts in order, then ASCII text up to 1024 bytes.
Bytes Sample(std::initializer_list<Bytes> parts) {
  Bytes b = Concat(parts);
  b.resize(1024, 'x');
  return b;
}

// count lines of `line`, each ended by a line feed.
Bytes Lines(const Bytes& line, std::size_t count) {
  Bytes b;
  for (std::size_t i = 0; i < count; ++i) {
    b.insert(b.end(), line.begin(), line.end());
    b.push_back('\n');
  }
  return b;
}

// A word of Latin text with one accented letter among the box codes.
const Bytes kWord = B({'S', 'e', 0xD1, 'o', 'r', ' '});

class OemShare : public ::testing::TestWithParam<SampleRow> {};

TEST_P(OemShare, FileIsOem) {
  const SampleRow& row = GetParam();
  EXPECT_EQ(ProbeUnder(row, oem_percent, oem_ignore, FileIsOem), row.expected) << row.why;
}

const std::string kAllTested = [] {
  std::string list;
  char cell[4];
  for (int c = 0xB0; c <= 0xDF; ++c) {
    std::snprintf(cell, sizeof cell, "%02X ", c);
    list += cell;
  }
  return list + "FF";
}();

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, OemShare, ::testing::Values(
  SampleRow{Sample({Repeat(0xB3, 18), Repeat(0xE0, 82)}), 18, "AB BB", true,
            "18 of 100 reaches 18"},
  SampleRow{Sample({Repeat(0xB3, 17), Repeat(0xE0, 83)}), 18, "AB BB", false, "E0 is never tested"},
  SampleRow{Sample({Repeat(0xC4, 179), Repeat(0xE0, 821)}), 18, "AB BB", false, "179/1000 is 17"},
  SampleRow{Sample({Repeat(0xC4, 180), Repeat(0xE0, 820)}), 18, "AB BB", true, "180/1000 is 18"},
  SampleRow{Sample({Repeat(0xBB, 100)}), 18, "AB BB", false, "BB is in the default list"},
  SampleRow{Sample({Repeat(0xBB, 100)}), 18, "", true, "an empty list tests BB"},
  SampleRow{Sample({Repeat(0xBB, 50), Repeat(0xC4, 50)}), 51, "AB BB", false,
            "a listed code still counts in the total"},
  SampleRow{Sample({Repeat(0xB0, 100)}), 18, "AB BB", true, "B0 is the first tested code"},
  SampleRow{Sample({Repeat(0xDF, 100)}), 18, "AB BB", true, "DF is the last of the range"},
  SampleRow{Sample({Repeat(0xFF, 100)}), 18, "AB BB", true, "FF is tested too"},
  SampleRow{Sample({Repeat(0xAF, 100)}), 18, "AB BB", false, "AF lies below the range"},
  SampleRow{Sample({Repeat(0xFE, 100)}), 18, "AB BB", false, "FE lies outside"},
  SampleRow{Sample({B({0xE0})}), 0, "AB BB", true, "percent 0: one high byte is enough"},
  SampleRow{Sample({B({0x80})}), -5, "AB BB", true, "negative percent likewise"},
  SampleRow{Sample({B({0x80})}), 0, kAllTested, false, "no unlisted tested code is left"},
  SampleRow{Sample({Repeat(0xC4, 100)}), 100, "AB BB", true, "percent 100 needs every high byte"},
  SampleRow{Sample({Repeat(0xC4, 100)}), 101, "AB BB", false, "percent above 100: never"},
  SampleRow{Sample({}), 0, "AB BB", false, "no high byte: never OEM"},
  SampleRow{Sample({Repeat(0xC4, 100), B({0x00})}), 18, "AB BB", false, "not text: never OEM"},
  SampleRow{Concat({Repeat(0xC4, 100), TextWithAt(924, 923, 0)}), 18, "AB BB", false,
            "the OEM sample is the full 1024 bytes"},
  SampleRow{Concat({Repeat(0xC4, 100), TextWithAt(925, 924, 0)}), 18, "AB BB", true,
            "a zero beyond the OEM sample is not seen"},
  // oem_draw: a code counts only where it draws.
  SampleRow{Sample({Lines(kWord, 20)}), 18, "AB BB", true, "a scattered letter is DOS without the draw rule"},
  SampleRow{Sample({Lines(B({'S', 'e', 0xD1, 'o', 'r', '\n', 'a', 0xD1, 'o', '\n', 0xD1, 'u'}), 7)}),
            18, "AB BB", false,
            "a letter scattered among words never draws", 3},
  SampleRow{Sample({Lines(kWord, 20)}), 18, "AB BB", true, "a negative draw run is off", -1},
  SampleRow{Sample({Repeat(0xCD, 3), Repeat(0xE0, 13)}), 18, "AB BB", true, "a run of three draws", 3},
  SampleRow{Sample({Repeat(0xCD, 2), B({'a'}), Repeat(0xE0, 8)}), 18, "AB BB", false,
            "a run of two is a pair of letters under 3", 3},
  SampleRow{Sample({Repeat(0xCD, 2), B({'a'}), Repeat(0xE0, 8)}), 18, "AB BB", true,
            "and a drawing under 2", 2},
  SampleRow{Sample({B({0xC7, 0xC3}), Repeat(0xE0, 8)}), 18, "AB BB", false,
            "two different codes side by side are letters, not a line", 2},
  SampleRow{Sample({Lines(B({0xC1, 0xC2, 0xC3}), 10)}), 18, "AB BB", false,
            "a word of box codes under the same word is no vertical line", 3},
  SampleRow{Sample({Lines(B({'a', 'b', ' ', 0xBA, ' ', 'c'}), 10)}), 18, "AB BB", true,
            "the same code in the same column of the line above draws", 3},
  SampleRow{Sample({Lines(B({'a', 'b', ' ', 0xBA, 'c', 'd'}), 10)}), 18, "AB BB", false,
            "but not beside a letter, as a letter at the start of each line", 3},
  SampleRow{Sample({Lines(B({'a', 'b', 0xBA, 'c', 0xBA}), 1), Lines(B({'a', 0xBA, 'b', 'c', 'd'}), 1),
                    Lines(B({'a', 'b', 0xBA, 'c', 'd'}), 1), Lines(B({0xBA, 'a', 'b', 'c', 'd'}), 1)}),
            18, "AB BB", false, "a column that moves is no vertical line", 3},
  SampleRow{Sample({B({'a', '\n', ' ', 0xBA, ' ', 0xBA})}), 18, "AB BB", false,
            "a column past the end of the line above is in no line above", 3},
  SampleRow{Sample({B({0xB3, ' ', 'a', ' ', 0xB3}), Repeat(' ', 20)}), 18, "AB BB", false,
            "the first line has no line above", 3},
  SampleRow{Sample({Repeat(0xFF, 100)}), 18, "AB BB", false, "the no-break space never draws", 3},
  SampleRow{Sample({Repeat(0xBB, 100)}), 18, "AB BB", false, "a listed code stays out under the rule", 3},
  SampleRow{Sample({Repeat(0xCD, 80)}), 18, "AB BB", true, "a draw run above 80 is 80", 1000},
  SampleRow{Sample({Repeat(0xCD, 79), B({'\n'}), Repeat(0xB0, 79)}), 18, "AB BB", false,
            "and a run of 79 then no drawing", 1000},
  SampleRow{Sample({B({0xDF, 0xDC, 0xDB, 0xDD, 0xB0}), Repeat(0xE0, 20)}), 18, "AB BB", true,
            "shades and blocks join in any mix", 5},
  SampleRow{Sample({B({0xDF, 0xDC, 0xDB, 0xCD, 0xB0}), Repeat(0xE0, 20)}), 18, "AB BB", false,
            "a line code parts a run of blocks", 4}
), NamedByWhy());
// clang-format on

TEST(OemShare, NoSampleIsNoOem) {
  SettingsGuard settings;
  TempDir dir;
  const auto path = dir.Write("o.txt", Sample({Repeat(0xC4, 100)}));
  oem_buffer_size_kb = 0;
  EXPECT_FALSE(FileIsOem(Wide(path)));
  oem_buffer_size_kb = 1;
  EXPECT_TRUE(FileIsOem(Wide(path)));
}

} // namespace
