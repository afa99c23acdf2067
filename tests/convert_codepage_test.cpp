// --to-utf8's code pages against a second implementation: every byte of
// 1251, 866, 437 and 1252 as Python's codecs decode it (tests/data/
// codepages.txt, from scripts/make-codepage-data), UTF-16's pairs and marks,
// and the --from names. Natively the system's half is iconv; under Wine it is
// the Windows code-page calls, which must give the same answers.
#include <array>
#include <fstream>
#include <map>
#include <sstream>

#include "ConvertPlatform.h"
#include "TestSupport.h"
#include "platform/FileNames.h"

namespace {

using charsift::cli::CodePage;
using charsift::cli::Decoded;
using charsift::cli::ToUtf8;
using namespace std::string_view_literals;

constexpr long kNone = -1;

// Per page, each byte's code point, or kNone.
std::map<unsigned, std::array<long, 256>> Reference() {
  std::ifstream in(testing_support::HostPath(CHARSIFT_TEST_DATA_DIR "/codepages.txt"));
  std::map<unsigned, std::array<long, 256>> pages;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    unsigned page = 0;
    std::string byte, point;
    fields >> page >> byte >> point;
    pages[page][std::stoul(byte, nullptr, 16)] =
        point == "none" ? kNone : static_cast<long>(std::stoul(point, nullptr, 16));
  }
  return pages;
}

std::string Utf8Of(long point) {
  std::string utf8;
  charsift::names::AppendUtf8(utf8, static_cast<std::uint32_t>(point));
  return utf8;
}

TEST(ConvertCodePage, TheReferenceHoldsEveryByteOfFourPages) {
  const auto pages = Reference();
  EXPECT_EQ(pages.size(), 4u);
  for (unsigned page : {1251u, 866u, 437u, 1252u})
    EXPECT_TRUE(pages.count(page)) << page;
}

// Each byte alone: a character of the page where the reference has one, and
// then exactly its UTF-8; refused at offset 0 where it has none.
TEST(ConvertCodePage, EveryByteAloneAsTheReferenceDecodesIt) {
  for (const auto& [page, points] : Reference()) {
    std::string wrong;
    for (int byte = 0; byte < 256; ++byte) {
      std::string utf8;
      const Decoded got = ToUtf8({page, ""}, std::string(1, static_cast<char>(byte)), utf8);
      const long want = points[static_cast<std::size_t>(byte)];
      const bool right = want == kNone ? !got.ok && got.offset == 0 && !got.why.empty()
                                       : got.ok && utf8 == Utf8Of(want);
      if (!right) wrong.append(" ").append(testing_support::Hex(testing_support::B({byte})));
    }
    EXPECT_EQ(wrong, "") << "bytes of " << page << " decoded otherwise than the reference";
  }
}

// All 256 bytes in one buffer: refused at the first byte that is none of the
// page, or, in a page where every byte is one, the whole as UTF-8.
TEST(ConvertCodePage, AllBytesAtOnceStopAtTheFirstByteThatIsNone) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte)
    all += static_cast<char>(byte);
  for (const auto& [page, points] : Reference()) {
    std::string want;
    std::size_t firstNone = all.size();
    for (std::size_t byte = 0; byte < 256 && firstNone == all.size(); ++byte)
      if (points[byte] == kNone)
        firstNone = byte;
      else
        want += Utf8Of(points[byte]);
    std::string utf8;
    const Decoded got = ToUtf8({page, ""}, all, utf8);
    EXPECT_EQ(got.ok, firstNone == all.size()) << page;
    if (got.ok)
      EXPECT_EQ(utf8, want) << page;
    else
      EXPECT_EQ(got.offset, firstNone) << page;
  }
}

struct Row {
  const char* why;
  unsigned number;  // the page by number,
  const char* name; // or by its --from name
  std::string_view bytes;
  bool ok;
  std::size_t offset;    // when refused
  std::string_view utf8; // when ok
};

class ConvertRows : public ::testing::TestWithParam<Row> {};

TEST_P(ConvertRows, DecodesOrRefusesAtTheOffset) {
  const Row& row = GetParam();
  std::string utf8;
  const Decoded got = ToUtf8({row.number, row.name}, row.bytes, utf8);
  ASSERT_EQ(got.ok, row.ok) << got.why;
  if (row.ok)
    EXPECT_EQ(utf8, row.utf8);
  else
    EXPECT_EQ(got.offset, row.offset) << got.why;
}

constexpr unsigned kLe = 1200, kBe = 1201;
constexpr std::string_view kSmile = "\xF0\x9F\x98\x80"; // U+1F600, a pair in UTF-16

INSTANTIATE_TEST_SUITE_P(
    Rows, ConvertRows,
    ::testing::Values(
        Row{"a little-endian pair is one code point", kLe, "", "\x3D\xD8\x00\xDE"sv, true, 0,
            kSmile},
        Row{"a big-endian pair is one code point", kBe, "", "\xD8\x3D\xDE\x00"sv, true, 0, kSmile},
        Row{"a high surrogate last is unpaired", kLe, "", "A\0\x3D\xD8"sv, false, 2, ""},
        Row{"a high surrogate before a letter is unpaired", kLe, "", "\x3D\xD8\x41\x00"sv, false, 0,
            ""},
        Row{"a low surrogate alone is unpaired", kBe, "", "\0A\xDE\x00"sv, false, 2, ""},
        Row{"the little-endian mark is dropped", kLe, "", "\xFF\xFE\x41\x00"sv, true, 0, "A"},
        Row{"the big-endian mark is dropped", kBe, "", "\xFE\xFF\x04\x10", true, 0, "\xD0\x90"},
        Row{"a mark after the first character stays one", kLe, "", "A\0\xFF\xFE"sv, true, 0,
            "A\xEF\xBB\xBF"},
        Row{"an offset after a dropped mark counts the mark", kLe, "", "\xFF\xFE\x00\xDC"sv, false,
            2, ""},
        Row{"a high surrogate before an odd byte is cut at the surrogate", kLe, "",
            "A\0\x3D\xD8\x41"sv, false, 2, ""},
        Row{"an odd length is refused at its last byte", kLe, "", "A\0B"sv, false, 2, ""},
        Row{"empty UTF-16 is empty UTF-8", kLe, "", "", true, 0, ""},
        Row{"koi8-r names KOI8-R, whose E1 is А", 0, "koi8-r", "\xE1", true, 0, "\xD0\x90"},
        Row{"CP1250 names Windows-1250, whose 8A is Š", 0, "CP1250", "\x8A", true, 0, "\xC5\xA0"},
        Row{"iso-8859-7 names Greek, whose E1 is α", 0, "iso-8859-7", "\xE1", true, 0, "\xCE\xB1"},
        Row{"ISO 8859 holds the C1 controls, unlike Windows-1252", 0, "iso-8859-1", "\x81", true, 0,
            "\xC2\x81"},
        Row{"an undefined byte after text is named at its offset", 1252, "", "abc\x9D", false, 3,
            ""},
        Row{"a byte of the page follows ASCII", 866, "", "ok \x80", true, 0, "ok \xD0\x90"}),
    testing_support::NamedByWhy());

struct NameRow {
  const char* why;
  const char* name;
  bool known;
};

class ConvertNames : public ::testing::TestWithParam<NameRow> {};

TEST_P(ConvertNames, KnownOrNot) {
  EXPECT_EQ(charsift::cli::Knows({0, GetParam().name}), GetParam().known);
}

INSTANTIATE_TEST_SUITE_P(Rows, ConvertNames,
                         ::testing::Values(NameRow{"cp1251 is known", "cp1251", true},
                                           NameRow{"windows-1252 is known", "windows-1252", true},
                                           NameRow{"IBM866 in capitals is known", "IBM866", true},
                                           NameRow{"koi8-u is known", "koi8-u", true},
                                           NameRow{"utf-16be is known", "utf-16be", true},
                                           NameRow{"a made-up name is not", "no-such-page", false},
                                           NameRow{"an empty name is not", "", false}),
                         testing_support::NamedByWhy());

} // namespace
