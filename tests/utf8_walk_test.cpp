// The UTF-8 walk over byte rows, and its trail table against the rule.
#include <string>

#include "TVorUTF8Detect.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

struct WalkRow {
  Bytes bytes;
  bool truncatedOk; // answer with the allow-truncated flag set
  bool strict;      // answer with it clear
  const char* why;
};

// `unit` over and over: text long enough for the walk's vector blocks.
Bytes Times(const Bytes& unit, std::size_t count) {
  Bytes out;
  for (std::size_t k = 0; k < count; ++k)
    out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

const Bytes kZhe = B({0xD0, 0x96}), kBox = B({0xE2, 0x94, 0x80});

void PrintTo(const WalkRow& row, std::ostream* os) { *os << row.why; }

class Utf8WalkRows : public ::testing::TestWithParam<WalkRow> {};

TEST_P(Utf8WalkRows, AnswersBothFlags) {
  const WalkRow& row = GetParam();
  // Exactly the bytes plus the terminator, so ASan sees any read past it.
  Bytes exact = row.bytes;
  exact.push_back(0);
  EXPECT_EQ(IsValidUtf8(exact.data(), true), row.truncatedOk) << row.why << ": " << Hex(row.bytes);
  EXPECT_EQ(IsValidUtf8(exact.data(), false), row.strict) << row.why << ": " << Hex(row.bytes);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, Utf8WalkRows, ::testing::Values(
  WalkRow{B({0x61, 0x62, 0x63}), false, false, "7-bit only holds no continuation byte"},
  WalkRow{B({0x63, 0x61, 0x66, 0xC3, 0xA9}), true, true, "two-byte sequence"},
  WalkRow{B({0xE2, 0x82, 0xAC}), true, true, "three-byte sequence"},
  WalkRow{B({0xC3, 0x28}), false, false, "lead byte followed by ASCII"},
  WalkRow{B({0xA9, 0x61, 0x62, 0x63}), false, false, "continuation byte first"},
  WalkRow{B({0xC3, 0xA9, 0xA9}), false, false, "continuation byte after a finished sequence"},
  WalkRow{B({0xC3, 0xC3, 0xA9}), false, false, "lead byte where a continuation byte is due"},
  WalkRow{B({0x61, 0x62, 0x63, 0xE2, 0x82}), true, false, "cut inside a sequence"},
  WalkRow{B({0x61, 0x62, 0x63, 0xC3}), false, false, "lead byte last, no sequence before it"},
  WalkRow{B({0xC3, 0xA9, 0x78, 0xC3}), true, false, "lead byte last after a finished sequence"},
  WalkRow{B({0xC0, 0x80}), true, true, "overlong form passes: only counts matter"},
  WalkRow{B({0xED, 0xA0, 0x80}), true, true, "encoded surrogate passes"},
  WalkRow{B({0xF4, 0x90, 0x80, 0x80}), true, true, "above U+10FFFF passes"},
  WalkRow{B({0xF8, 0x88, 0x80, 0x80, 0x80}), true, true, "five-byte sequence passes"},
  WalkRow{B({0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}), true, true, "FF leads six bytes"},
  WalkRow{B({0xFE, 0x80, 0x80, 0x80, 0x80}), true, false, "FE leads six bytes, one missing"},
  WalkRow{B({0x61, 0x62, 0x63, 0x00, 0xC3, 0xA9}), false, false, "zero byte ends the walk"},
  WalkRow{B({}), false, false, "empty"},
  WalkRow{B({0xE2}), false, false, "a single lead byte sets no flag"},
  WalkRow{B({0xE2, 0x82}), true, false, "one continuation byte is enough for the flag"},
  WalkRow{Concat({Times(kZhe, 40), B({0xE2, 0x82, 0x41})}), false, false,
          "three-byte lead cut by ASCII in two-byte text"},
  WalkRow{Concat({Times(kBox, 30), Times(kZhe, 40), B({0x80})}), false, false,
          "stray continuation after three-byte text turned two-byte"},
  WalkRow{Concat({Times(kZhe, 40), B({0xF0, 0x9F, 0x98, 0x80}), Times(kZhe, 40)}), true, true,
          "four-byte sequence inside two-byte text"},
  WalkRow{Concat({Repeat('a', 200), Times(kZhe, 40), B({0xF8, 0x88, 0x80, 0x80, 0x80}),
                  Repeat('a', 100)}), true, true, "five-byte sequence after long runs"},
  WalkRow{Concat({Times(kZhe, 63), B({0x61, 0xD0})}), true, false,
          "lead byte last in a buffer of whole vector blocks"}
), NamedByWhy());
// clang-format on

TEST(Utf8TrailTable, FollowsTheRuleForAll256Bytes) {
  for (int b = 0; b < 256; ++b) {
    const int expected = b < 0xC0   ? 0
                         : b < 0xE0 ? 1
                         : b < 0xF0 ? 2
                         : b < 0xF8 ? 3
                         : b < 0xFC ? 4
                                    : 5;
    EXPECT_EQ(Utf8TrailTable[b], expected) << "byte 0x" << std::hex << b;
  }
}

} // namespace
