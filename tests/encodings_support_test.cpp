// The suite's own encoders (1251, 866, 437 boxes, UTF-16), pinned before other tests lean on them.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "Encodings.h"

namespace testing_support {
namespace {

std::vector<char32_t> Decode(const std::string& utf8) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int trail = b < 0x80 ? 0 : b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : -1;
    if (trail < 0 || i + trail >= utf8.size())
      throw std::invalid_argument("bad UTF-8 in a test string");
    char32_t cp = trail == 0 ? b : b & (0x3F >> trail);
    for (int k = 1; k <= trail; ++k)
      cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(cp);
    i += static_cast<std::size_t>(trail) + 1;
  }
  return out;
}

// The byte of one code page for ASCII, Ё, ё and А to я; upper/lower are
// the first bytes of А-Я and а-п, rest that of р-я.
Bytes SingleByte(const std::string& utf8, int yo, int yoSmall, int upper, int lower, int rest) {
  Bytes out;
  for (char32_t cp : Decode(utf8)) {
    if (cp < 0x80)
      out.push_back(static_cast<std::uint8_t>(cp));
    else if (cp == U'Ё')
      out.push_back(static_cast<std::uint8_t>(yo));
    else if (cp == U'ё')
      out.push_back(static_cast<std::uint8_t>(yoSmall));
    else if (cp >= U'А' && cp <= U'Я')
      out.push_back(static_cast<std::uint8_t>(upper + (cp - U'А')));
    else if (cp >= U'а' && cp <= U'п')
      out.push_back(static_cast<std::uint8_t>(lower + (cp - U'а')));
    else if (cp >= U'р' && cp <= U'я')
      out.push_back(static_cast<std::uint8_t>(rest + (cp - U'р')));
    else
      throw std::invalid_argument("character outside the test's code page table");
  }
  return out;
}

} // namespace

Bytes ToWindows1251(const std::string& utf8) {
  return SingleByte(utf8, 0xA8, 0xB8, 0xC0, 0xE0, 0xF0);
}

Bytes ToCp866(const std::string& utf8) { return SingleByte(utf8, 0xF0, 0xF1, 0x80, 0xA0, 0xE0); }

Bytes ToKoi8r(const std::string& utf8) {
  // KOI8-R orders the letters by their Latin look-alikes: small ones from
  // C0, capitals from E0, in this order.
  const std::u32string order = U"юабцдефгхийклмнопярстужвьызшэщчъ";
  Bytes out;
  for (const std::uint8_t b : ToWindows1251(utf8)) {
    if (b < 0x80) {
      out.push_back(b);
    } else if (b == 0xA8 || b == 0xB8) {
      out.push_back(b == 0xA8 ? 0xB3 : 0xA3);
    } else {
      const char32_t small = U'а' + ((b - 0xC0) & 0x1F);
      const auto at = static_cast<std::uint8_t>(order.find(small));
      out.push_back(static_cast<std::uint8_t>((b < 0xE0 ? 0xE0 : 0xC0) + at));
    }
  }
  return out;
}

Bytes ToUtf16(const std::string& utf8, bool bigEndian, bool withMark) {
  Bytes out;
  auto unit = [&](unsigned u) {
    const auto hi = static_cast<std::uint8_t>(u >> 8), lo = static_cast<std::uint8_t>(u & 0xFF);
    out.push_back(bigEndian ? hi : lo);
    out.push_back(bigEndian ? lo : hi);
  };
  if (withMark) unit(0xFEFF);
  for (char32_t cp : Decode(utf8)) {
    if (cp < 0x10000) {
      unit(cp);
    } else {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
  }
  return out;
}

Bytes BoxTable437(const std::vector<std::vector<std::string>>& rows, bool doubleLines) {
  // Corners and joints: top, middle and bottom lines, each left/joint/right.
  struct Frame {
    std::uint8_t horizontal, vertical, top[3], middle[3], bottom[3];
  };
  static const Frame single{0xC4, 0xB3, {0xDA, 0xC2, 0xBF}, {0xC3, 0xC5, 0xB4}, {0xC0, 0xC1, 0xD9}};
  static const Frame twin{0xCD, 0xBA, {0xC9, 0xCB, 0xBB}, {0xCC, 0xCE, 0xB9}, {0xC8, 0xCA, 0xBC}};
  const Frame& f = doubleLines ? twin : single;
  std::vector<std::size_t> widths;
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (widths.size() <= c) widths.push_back(0);
      widths[c] = std::max(widths[c], row[c].size());
    }
  Bytes out;
  auto line = [&](const std::uint8_t(&joints)[3]) {
    for (std::size_t c = 0; c < widths.size(); ++c) {
      out.push_back(c == 0 ? joints[0] : joints[1]);
      out.insert(out.end(), widths[c] + 2, f.horizontal);
    }
    out.insert(out.end(), {joints[2], '\r', '\n'});
  };
  line(f.top);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) line(f.middle);
    for (std::size_t c = 0; c < widths.size(); ++c) {
      const std::string cell = c < rows[r].size() ? rows[r][c] : std::string();
      out.insert(out.end(), {f.vertical, ' '});
      out.insert(out.end(), cell.begin(), cell.end());
      out.insert(out.end(), widths[c] - cell.size() + 1, ' ');
    }
    out.insert(out.end(), {f.vertical, '\r', '\n'});
  }
  line(f.bottom);
  return out;
}

std::string RussianProse() {
  std::ifstream in(HostPath(CHARSIFT_TEST_DATA_DIR "/russian.txt"), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.empty()) throw std::runtime_error("tests/data/russian.txt is missing");
  return text;
}

namespace {

// The encoders feed every detection test: a wrong table would make those
// pass or fail for the wrong reason.
TEST(Encoders, MapTheAlphabetEnds) {
  EXPECT_EQ(ToWindows1251("AЁЯаяё"), B({'A', 0xA8, 0xDF, 0xE0, 0xFF, 0xB8}));
  EXPECT_EQ(ToCp866("AЁЯапря"), B({'A', 0xF0, 0x9F, 0xA0, 0xAF, 0xE0, 0xEF}));
  EXPECT_EQ(ToCp866("ё"), B({0xF1}));
  EXPECT_EQ(ToKoi8r("AЁёЮюПятьЪ"), B({'A', 0xB3, 0xA3, 0xE0, 0xC0, 0xF0, 0xD1, 0xD4, 0xD8, 0xFF}));
  EXPECT_EQ(ToUtf16("Aё€", false, true), B({0xFF, 0xFE, 'A', 0, 0x51, 0x04, 0xAC, 0x20}));
  EXPECT_EQ(ToUtf16("A\xF0\x9F\x98\x80", true, false), B({0, 'A', 0xD8, 0x3D, 0xDE, 0x00}));
  EXPECT_THROW(ToWindows1251("café"), std::invalid_argument);
  EXPECT_THROW(ToCp866("\xD0"), std::invalid_argument);
}

TEST(Encoders, BoxTableIsFramed) {
  const Bytes table = BoxTable437({{"ab", "c"}, {"d", ""}}, false);
  const Bytes expected =
      Concat({B({0xDA, 0xC4, 0xC4, 0xC4, 0xC4, 0xC2, 0xC4, 0xC4, 0xC4, 0xBF}),
              B({'\r', '\n', 0xB3, ' ', 'a', 'b', ' ', 0xB3, ' ', 'c', ' ', 0xB3}),
              B({'\r', '\n', 0xC3, 0xC4, 0xC4, 0xC4, 0xC4, 0xC5}),
              B({0xC4, 0xC4, 0xC4, 0xB4, '\r', '\n'})});
  ASSERT_GE(table.size(), expected.size());
  EXPECT_EQ(Bytes(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(expected.size())),
            expected)
      << Hex(table);
  EXPECT_EQ(table.back(), '\n');
  EXPECT_EQ(table[table.size() - 3], 0xD9);
}

TEST(Encoders, ProseHasBothYoLetters) {
  const Bytes ansi = ToWindows1251(RussianProse());
  EXPECT_NE(std::find(ansi.begin(), ansi.end(), 0xA8), ansi.end());
  EXPECT_NE(std::find(ansi.begin(), ansi.end(), 0xB8), ansi.end());
  EXPECT_GT(ansi.size(), 1000u);
}

} // namespace
} // namespace testing_support
