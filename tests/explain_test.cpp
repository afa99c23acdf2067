// charsift --explain: each step of the chain with the numbers it went by.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "Charsift.h"
#include "ContPlug.h"
#include "Encodings.h"
#include "Explain.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// What Explain writes for one path, under an ini beside a module path in
// its own folder, and its exit status.
struct Explained {
  int status;
  std::string text;
};

// The exports linked into the suite stand for the module: they answer
// under the settings Explain loaded.
std::string ExportsAnswer(const charsift::cli::fs::path& path) {
  char value[64] = {};
  const WideString wide = Wide(fs::path(path.native()));
  const int result = ContentGetValueW(wide.c_str(), kEncodingField, 0, value, sizeof value, 0);
  return result == FT_MULTIPLE_CHOICE ? value : result == FT_FIELD_EMPTY ? "" : "?";
}

Explained ExplainOne(const std::string& ini, const fs::path& path,
                     const ModuleAnswer& answer = ExportsAnswer) {
  TempDir dir;
  dir.WriteText("Charsift.ini", "[ini]\n" + ini + "\n");
  const fs::path outPath = dir / "out.txt";
  std::FILE* out = std::fopen(outPath.string().c_str(), "wb");
  const int status = Explain((dir / "Charsift.so").native(), {path.native()}, out, answer);
  std::fclose(out);
  std::ifstream in(outPath, std::ios::binary);
  return {status, std::string(std::istreambuf_iterator<char>(in), {})};
}

struct StepRow {
  const char* ini;
  Bytes content;
  const char* step; // parts of the explanation, apart by '|', each found in it
  const char* label;
  const char* why;
};

TEST(Explain, EachStepShowsItsNumbers) {
  const SettingsGuard defaults;
  const Bytes russian = ToWindows1251(RussianProse());
  const StepRow rows[] = {
      {"", B({0xFE, 0xFF, 0, 'A'}), "2. UTF-16 mark      yes: FE FF", "UTF-16 BE", "mark order"},
      {"", Text("{\\rtf1 x}"), "RTF: the file starts with {\\rtf", "RTF", "signature"},
      {"", B({0xEF, 0xBB, 0xBF, 0xC3}), "UTF-8 mark: the file starts with EF BB BF", "UTF-8 BOM",
       "mark, whatever follows"},
      {"", Text("caf\xC3\xA9"),
       "yes: valid|5 bytes read into a 65536-byte sample (utf8_buffer_size_kb 64)", "UTF-8 no BOM",
       "sample size and bytes read"},
      {"utf8_buffer_size_kb=1", Text("abc\xE2\x82"),
       "cut by the end of the sample|5 bytes read into "
       "a 1024-byte sample (utf8_buffer_size_kb 1)",
       "UTF-8 no BOM", "a cut sequence passes"},
      {"", Text("ab\xC3(\xC3\xA9"), "byte 28 at offset 3 is no continuation byte", "DOS",
       "offset of the first failure"},
      {"", Text("\x89PNG"), "continuation byte 89 at offset 0 follows no lead byte", "ANSI",
       "a continuation first"},
      {"", Text(std::string("abc\0\xC3\xA9", 6)),
       "no multi-byte character before the zero byte at offset 3", "Binary",
       "the walk ends at a zero byte"},
      {"", Text(std::string("abc\0\xC3\xA9", 6)),
       "yes: 00 at offset 3|text_buffer_size_kb 1, binary_ignore \"\"", "Binary",
       "first binary code and its offset"},
      {"binary_ignore=00", Text(std::string("abc\0x", 5)), "none in 5 bytes read", "ANSI",
       "an ignored code is no binary code"},
      {"", Bytes(), "binary code      none: the file is empty", "ANSI", "empty file is text"},
      {"", BoxTable437({{"NAME", "SIZE"}, {"A.TXT", "10"}}, false),
       "DOS              yes: the commonest pseudo-graphics code C4 is|needs oem_percent 18", "DOS",
       "leading code, its share and the threshold"},
      {"oem_ignore=B3 C4 DA BF C0 D9 C3 B4 C2 C1 C5",
       BoxTable437({{"NAME", "SIZE"}, {"A.TXT", "10"}}, false), "no: no pseudo-graphics code among",
       "ANSI Ru", "ignored codes leave the lead to an absent one"},
      {"oem_buffer_size_kb=2", Concat({Repeat('a', 1500), B({0xC4, 0x01})}),
       "no: its sample holds binary code 01 at offset 1501", "ANSI",
       "the longer OEM sample meets a code the text sample did not"},
      {"oem_enabled=0", BoxTable437({{"A", "B"}}, true),
       "DOS              not asked: oem_enabled 0", "ANSI Ru", "switched off"},
      {"", russian, "yes, 1251: 1251 letters", "ANSI Ru", "shares of both code pages"},
      {"", ToCp866(RussianProse()), "yes, 866: 1251 letters", "DOS Ru", "866 after 1251 fails"},
      {"rus_word_len=5", Concat({Repeat('a', 300), ToWindows1251("слово"), Repeat('a', 300)}),
       "yes, 1251: 1251 letters 0%, longest run 5;|needs rus_percent 30 or a run of rus_word_len 5",
       "ANSI Ru", "the run rule, share 0"},
      {"", ToWindows1251("слова"), "no: too short|5 of 2047 bytes read, rus_min_size 8", "ANSI",
       "fewer bytes than rus_min_size"},
      {"", Text("plain"), "8. otherwise        ANSI", "ANSI", "nothing matched"},
      {"oem_draw=3", Concat({Text("Se"), B({0xD1}), Text("or "), Repeat('a', 30)}),
       "no: no pseudo-graphics code that draws among 1 upper-half bytes|oem_draw 3", "ANSI",
       "a letter that does not draw"},
      {"rus_vowels=35", ToKoi8r(RussianProse()),
       "no: 1251 letters|, vowels |needs rus_vowels 35, then rus_percent 30", "ANSI",
       "KOI8-R read as 1251 lacks the vowels"},
      {"rus_word_len=5\nrus_word_mixed=1\noem_enabled=0",
       Concat({Repeat('a', 300), Repeat(0xDF, 25)}),
       "no: 1251 letters 7%, longest run 2;|rus_word_mixed 1", "ANSI",
       "a line of one repeated code is no word"},
  };
  for (const StepRow& row : rows) {
    SCOPED_TRACE(row.why);
    TempDir dir;
    const Explained e = ExplainOne(row.ini, dir.Write("f", row.content));
    EXPECT_EQ(e.status, 0);
    const std::string parts = row.step;
    for (std::size_t from = 0, bar; from <= parts.size(); from = bar + 1) {
      bar = std::min(parts.find('|', from), parts.size());
      EXPECT_NE(e.text.find(parts.substr(from, bar - from)), std::string::npos) << e.text;
    }
    EXPECT_NE(e.text.find(std::string("  Encoding: ") + row.label + ", decided at step"),
              std::string::npos)
        << e.text;
    EXPECT_STREQ(ClassifyEncoding(Wide(dir / "f")), row.label) << "the module's own answer";
  }
}

// The explanation is the module's only when the module agrees: a module
// that answers otherwise (another build) is told, and the run fails.
TEST(Explain, AnAnswerThatDiffersIsToldAndFails) {
  const SettingsGuard defaults;
  TempDir dir;
  const fs::path file = dir.WriteText("f", "plain");
  const struct {
    const char* module;
    int status;
    const char* told;
    const char* why;
  } rows[] = {
      {"ANSI", 0, "", "the same answer"},
      {"DOS", 4, "The module answers DOS: this explanation is not its decision", "another label"},
      {"?", 4, "The module answers ? (the query failed)", "a failed query"},
      {"", 4, "The module answers (none)", "field empty for a file"},
  };
  for (const auto& row : rows) {
    const Explained e =
        ExplainOne("", file, [&](const charsift::cli::fs::path&) { return row.module; });
    EXPECT_EQ(e.status, row.status) << row.why;
    EXPECT_NE(e.text.find("  Encoding: ANSI, decided at step 8\n"), std::string::npos) << e.text;
    EXPECT_EQ(e.text.find(*row.told ? row.told : "module answers") != std::string::npos,
              *row.told != '\0')
        << row.why << e.text;
  }
}

TEST(Explain, FolderAndMissingPath) {
  const SettingsGuard defaults;
  TempDir dir;
  const Explained folder = ExplainOne("", dir.Path());
  EXPECT_NE(folder.text.find("1. folder           yes"), std::string::npos) << folder.text;
  EXPECT_NE(folder.text.find("  Encoding: (none), decided at step 1\n"), std::string::npos)
      << folder.text;
  const Explained missing = ExplainOne("", dir / "missing");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.text.find("Encoding"), std::string::npos) << missing.text;
}

} // namespace
