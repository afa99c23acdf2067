// The Cyrillic test: the letter sets, the run and share rules, and file samples.
#include <algorithm>
#include <memory>
#include <random>

#include "CyrillicTally.h"
#include "Kernels.h"
#include "TestSupport.h"
#include "reference/ReferenceClassifier.h"

using namespace testing_support;

namespace {

// Every byte value through each set of loops a query may run, alone (the
// tail of a sample) and filling a 64-byte block (the vector step), against
// the letter ranges written out again here.
TEST(CyrillicLetter, EveryTallyFollowsTheRuleForAll256Bytes) {
  for (const Kernels* kernels : RunnableKernels())
    for (int b = 0; b < 256; ++b) {
      const bool letter[2] = {b >= 0xC0, (b >= 0x80 && b <= 0xAF) || (b >= 0xE0 && b <= 0xF1)};
      for (const std::size_t size : {1, 64}) {
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[size]);
        std::fill_n(exact.get(), size, static_cast<std::uint8_t>(b));
        const CyrillicTally tally = kernels->cyrillicTally(exact.get(), size, {0, true, true});
        for (int page = 0; page < 2; ++page) {
          EXPECT_EQ(tally.letters[page], letter[page] ? static_cast<std::int64_t>(size) : 0)
              << kernels->name << ", " << (page ? "866" : "1251") << ", byte 0x" << std::hex << b
              << std::dec << " x" << size;
          const bool vowel = reference::IsVowel(static_cast<std::uint8_t>(b), page == 1);
          EXPECT_EQ(tally.vowels[page], vowel ? static_cast<std::int64_t>(size) : 0)
              << kernels->name << ", " << (page ? "866" : "1251") << ", vowel 0x" << std::hex << b
              << std::dec << " x" << size;
          // One byte repeated is a run of two at most with runs of one letter broken.
          EXPECT_EQ(tally.longest[page],
                    letter[page] ? static_cast<int>(std::min<std::size_t>(size, 2)) : 0)
              << kernels->name << ", run of 0x" << std::hex << b;
        }
      }
    }
}

// ---- Run and share rules --------------------------------------------------------
struct TextRow {
  Bytes buffer;
  int count; // bytes examined; -1: the whole buffer
  bool oem;
  int percent;
  int wordLen;
  bool expected;
  const char* why;
};
// Failure messages name the row by its reason.
void PrintTo(const TextRow& row, std::ostream* os) { *os << row.why; }

class CyrillicText : public ::testing::TestWithParam<TextRow> {};

TEST_P(CyrillicText, RunAndShareRules) {
  SettingsGuard settings;
  const TextRow& row = GetParam();
  rus_percent = row.percent;
  rus_word_len = row.wordLen;
  // Exactly the buffer's bytes, so a read past the count shows under ASan.
  const Bytes exact = row.buffer;
  const int count = row.count < 0 ? static_cast<int>(exact.size()) : row.count;
  EXPECT_EQ(HasCyrillicText(exact.data(), count, row.oem), row.expected) << row.why;
}

Bytes Letters(int letters, int total, std::uint8_t letter = 0xE0) {
  return Concat({Repeat(letter, letters), Repeat('a', total - letters)});
}

// Latin text with one word of `n` letters in the middle, 1000 bytes.
Bytes LatinWithWord(int n, std::uint8_t letter = 0xC5) {
  return Concat({Repeat('x', 500), B({' '}), Repeat(letter, n), B({' '}), Repeat('x', 498 - n)});
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, CyrillicText, ::testing::Values(
  TextRow{Letters(30, 100), -1, false, 30, 0, true, "30 of 100 is the default share"},
  TextRow{Letters(29, 100), -1, false, 30, 0, false, "29 of 100 falls short"},
  TextRow{Letters(299, 1000), -1, false, 30, 0, false, "299 of 1000 is 29 after division"},
  TextRow{Letters(300, 1000), -1, false, 30, 0, true, "300 of 1000"},
  TextRow{Letters(1, 3), -1, false, 30, 0, true, "multiply before dividing: 1 of 3 is 33"},
  TextRow{Letters(30, 100, 0x80), -1, true, 30, 0, true, "866 capitals count under the OEM flag"},
  TextRow{Letters(30, 100, 0x80), -1, false, 30, 0, false, "and not under 1251"},
  TextRow{Concat({Repeat('a', 10), Repeat(0xE0, 90)}), 10, false, 30, 0, false,
          "only `count` bytes are examined"},
  TextRow{LatinWithWord(5), -1, false, 30, 5, true, "a five-letter word passes by the run rule"},
  TextRow{LatinWithWord(4), -1, false, 30, 5, false, "four letters are no run of five"},
  TextRow{Concat({Repeat('x', 100), Repeat(0xC5, 3), B({' '}), Repeat(0xC5, 2), Repeat('x', 100)}),
          -1, false, 30, 5, false, "a blank ends a run: 3 and 2 letters are no run of 5"},
  TextRow{LatinWithWord(5, 0x85), -1, true, 30, 5, true, "the run rule under 866"},
  TextRow{LatinWithWord(5, 0x85), -1, false, 30, 5, false, "866 capitals make no 1251 run"},
  TextRow{Letters(0, 10), -1, false, 0, 0, true, "percent 0: any sample"},
  TextRow{Letters(0, 10), -1, false, -5, 0, true, "negative percent: any sample"},
  TextRow{Letters(100, 100), -1, false, 101, 0, false, "above 100 the share never passes"},
  TextRow{Letters(100, 100), -1, false, 101, 3, true, "only the run rule can then pass"},
  TextRow{Letters(0, 1), 0, false, 0, 0, false, "an empty sample holds no letters"}
), NamedByWhy());
// clang-format on

// ---- Samples from files -----------------------------------------------------------
struct FileRow {
  Bytes content;
  int bufferKb;
  int minSize;
  int wordLen;
  bool cyrillic;
  bool oem; // the flag, read only when cyrillic
  const char* why;
};
void PrintTo(const FileRow& row, std::ostream* os) { *os << row.why; }

// `size` Latin bytes with the two 1251 letters `at` and `at` + 1: with
// the run rule at 2 the sample passes exactly when both are read.
Bytes PairAt(std::size_t size, std::size_t at) {
  Bytes b = Repeat('x', size);
  b[at] = b[at + 1] = 0xE8;
  return b;
}

// Blanks and 30 letters taken in turn from [first, first + span).
Bytes Spread(int first, int span) {
  Bytes b = Repeat(' ', 100);
  for (int i = 0; i < 30; ++i)
    b[static_cast<std::size_t>(i) * 3] = static_cast<std::uint8_t>(first + i % span);
  return b;
}

class CyrillicFile : public ::testing::TestWithParam<FileRow> {};

TEST_P(CyrillicFile, FileHasCyrillic) {
  SettingsGuard settings;
  TempDir dir;
  const FileRow& row = GetParam();
  rus_buffer_size_kb = row.bufferKb;
  rus_min_size = row.minSize;
  rus_word_len = row.wordLen;
  bool isOem = true;
  EXPECT_EQ(FileHasCyrillic(Wide(dir.Write("r.txt", row.content)), isOem), row.cyrillic) << row.why;
  if (row.cyrillic) {
    EXPECT_EQ(isOem, row.oem) << row.why;
  }
  EXPECT_EQ(rus_buffer_size_kb, row.bufferKb) << "the clamp works on a copy";
}

constexpr std::size_t kMax = 2048 * 1024;

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, CyrillicFile, ::testing::Values(
  FileRow{Repeat(0xE0, 7), 2, 8, 0, false, false, "seven bytes are below the minimum"},
  FileRow{Repeat(0xE0, 8), 2, 8, 0, true, false, "eight bytes are enough"},
  FileRow{PairAt(3000, 2045), 2, 8, 2, true, false, "default: 2047 bytes are read"},
  FileRow{PairAt(3000, 2046), 2, 8, 2, false, false, "byte 2047 is never read"},
  FileRow{PairAt(2000, 1021), 0, 8, 2, true, false, "size 0 gives 1 KB: 1023 bytes read"},
  FileRow{PairAt(2000, 1022), 0, 8, 2, false, false, "byte 1023 is beyond the 1 KB sample"},
  FileRow{PairAt(2000, 1022), -3, 8, 2, false, false, "a negative size gives 1 KB too"},
  FileRow{PairAt(4000, 3069), 3, 8, 2, true, false, "3 KB is taken as it is"},
  FileRow{PairAt(4000, 3070), 3, 8, 2, false, false, "3 KB reads 3071 bytes"},
  FileRow{PairAt(kMax + 10, kMax - 3), 5000, 8, 2, true, false, "5000 gives the 2048 KB cap"},
  FileRow{PairAt(kMax + 10, kMax - 2), 5000, 8, 2, false, false, "not beyond it"},
  FileRow{Repeat(0xE0, 4000), 2, 2048, 0, false, false, "minimum of the buffer size: never"},
  FileRow{Repeat(0xE0, 4000), 2, 2047, 0, true, false, "minimum of the bytes read"},
  FileRow{Spread(0x80, 48), 2, 8, 0, true, true, "866 capitals and a-p: found by the OEM test"},
  FileRow{Spread(0xE0, 16), 2, 8, 0, true, false, "866 r-ya are 1251 letters: 1251 wins"},
  FileRow{Repeat(' ', 100), 2, 8, 0, false, false, "no letters"},
  FileRow{Bytes{}, 2, 0, 0, false, false, "minimum 0 lets an empty sample through"},
  FileRow{Bytes{}, 2, -1, 0, false, false, "a negative minimum as well"}
), NamedByWhy());
// clang-format on

TEST(CyrillicFile, OemFlagIsClearedWhenNothingIsFound) {
  SettingsGuard settings;
  TempDir dir;
  FileHandle file(OpenForReading(Wide(dir.Write("r.txt", Repeat('x', 100)))));
  ASSERT_TRUE(file.IsOpen());
  bool isOem = true;
  EXPECT_FALSE(HandleHasCyrillic(file.Get(), 2, isOem));
  EXPECT_FALSE(isOem);
}

} // namespace

namespace {

// The counting loop against the plain one, on text where letters and
// others alternate at random, for word lengths and shares around the
// edges (a word rule of 0 or less is off).
TEST(CyrillicText, AgreesWithThePlainCountOnRandomText) {
  SettingsGuard settings;
  std::mt19937 rng(1251866);
  const int wordLens[] = {-1, 0, 1, 2, 3, 7, 1000};
  const int percents[] = {-5, 0, 1, 30, 50, 100, 101};
  for (int round = 0; round < 4000; ++round) {
    Bytes text(1 + rng() % 300);
    const unsigned density = rng() % 101;
    for (std::uint8_t& b : text)
      b = rng() % 100 < density ? static_cast<std::uint8_t>(0x80 + rng() % 0x80)
                                : static_cast<std::uint8_t>(rng() % 0x80);
    reference::Settings s;
    s.rusWordLen = wordLens[rng() % 7];
    s.rusPercent = percents[rng() % 7];
    rus_word_len = s.rusWordLen;
    rus_percent = s.rusPercent;
    for (bool oem : {false, true})
      ASSERT_EQ(HasCyrillicText(text.data(), static_cast<int>(text.size()), oem),
                reference::IsCyrillic(text, oem, s))
          << "oem " << oem << ", word " << s.rusWordLen << ", percent " << s.rusPercent << ": "
          << Hex(text);
  }
}

} // namespace

namespace {

// Each tallier against the plain count of the reference: letters of both
// code pages exactly, and the longest run up to the limit; then again with
// the vowels counted and runs of one repeated letter broken.
void ExpectTalliesAgree(const Bytes& content, int limit) {
  // An exact-size copy on the heap: a tallier that reads one byte too far
  // trips ASan.
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[content.size()]);
  std::copy(content.begin(), content.end(), exact.get());
  for (const bool sharper : {false, true}) {
    std::int64_t letters[2], vowels[2];
    int longest[2];
    for (int page = 0; page < 2; ++page) {
      letters[page] = reference::CountLetters(content, page == 1);
      vowels[page] = sharper ? reference::CountVowels(content, page == 1) : 0;
      const long long run = reference::LongestRun(content, page == 1, sharper);
      longest[page] = static_cast<int>(limit > 0 ? std::min<long long>(run, limit) : run);
    }
    for (const Kernels* kernels : RunnableKernels()) {
      const CyrillicTally tally =
          kernels->cyrillicTally(exact.get(), content.size(), {limit, sharper, sharper});
      for (int page = 0; page < 2; ++page) {
        const auto where = [&] {
          return std::string(kernels->name) + (sharper ? " sharper" : "") + ", page " +
                 std::to_string(page) + ", limit " + std::to_string(limit) + ", size " +
                 std::to_string(content.size()) + ": " + Hex(content);
        };
        ASSERT_EQ(tally.letters[page], letters[page]) << where();
        ASSERT_EQ(tally.vowels[page], vowels[page]) << where();
        ASSERT_EQ(tally.longest[page], longest[page]) << where();
      }
    }
  }
}

const int kLimits[] = {0, -3, 1, 2, 7, 8, 63, 64, 65, 129, 5000};

// Every byte value alone and in runs that start and end on each side of
// the 16-, 32- and 64-byte steps of the vector talliers, on backgrounds of
// letters of one code page, the other, both or neither.
TEST(CyrillicTally, AgreesOnEveryByteAroundBlockEdges) {
  const std::uint8_t backgrounds[] = {'a', 0xC5, 0x85, 0xE5, 0x00, 0xFF};
  const std::size_t starts[] = {0, 1, 15, 16, 31, 32, 33, 63, 64, 65, 127, 128};
  const std::size_t lengths[] = {1, 2, 7, 8, 9, 31, 32, 33, 63, 64, 65, 128, 200};
  for (int value = 0; value < 256; ++value)
    for (std::uint8_t background : backgrounds)
      for (std::size_t start : starts) {
        const std::size_t length = lengths[(value + start) % std::size(lengths)];
        Bytes buffer = Repeat(background, 128 + 200 + 40);
        std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(start), length,
                    static_cast<std::uint8_t>(value));
        for (int limit : {0, 8, static_cast<int>(length)}) {
          ExpectTalliesAgree(buffer, limit);
          if (HasFatalFailure()) return;
        }
      }
}

// Random samples of every size from 1 byte to 4 KB + 1: letters of either
// code page and other bytes mixed at random densities, in words of random
// length, so that runs cross block edges at every offset.
TEST(CyrillicTally, AgreesOnRandomSamplesOfEverySize) {
  std::mt19937 rng(7866251);
  for (std::size_t size = 1; size <= 4097; ++size) {
    Bytes buffer(size);
    const unsigned density = rng() % 101;
    for (std::size_t i = 0; i < size;) {
      const bool letters = rng() % 100 < density;
      const std::size_t word = 1 + rng() % (rng() % 4 == 0 ? 150 : 12);
      for (std::size_t k = 0; k < word && i < size; ++k, ++i)
        buffer[i] = letters ? static_cast<std::uint8_t>(0x80 + rng() % 0x80)
                            : static_cast<std::uint8_t>(rng() % 0x80);
    }
    ExpectTalliesAgree(buffer, kLimits[rng() % std::size(kLimits)]);
    if (HasFatalFailure()) return;
  }
}

} // namespace
