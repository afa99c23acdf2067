// The text and OEM samples' counts: the first binary code, the upper-half
// bytes and the pseudo-graphics code with the largest share of them.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "AsciiText.h"
#include "VorFProc.h"

namespace {

// Offset of the first byte that is a code of the set, which holds codes
// below 0x20 only, or -1: a word of eight bytes none of which is below 0x20
// is skipped whole.
std::int64_t FirstBinaryCode(const BYTE* bytes, std::size_t count, const CodeSet& binary) {
  constexpr std::uint64_t kSpaces = 0x2020202020202020ULL, kHighs = 0x8080808080808080ULL;
  std::size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, bytes + i, sizeof w);
    // Nonzero exactly when some byte is below 0x20 (bytes from 0x80 up
    // have their high bit already and are masked out by ~w).
    if (((w - kSpaces) & ~w & kHighs) == 0) continue;
    for (std::size_t k = i; k < i + 8; ++k)
      if (binary.has[bytes[k]]) return static_cast<std::int64_t>(k);
  }
  for (; i < count; ++i)
    if (binary.has[bytes[i]]) return static_cast<std::int64_t>(i);
  return -1;
}

// Whether some byte of an eight-byte word is a box code (B0..DF). With the
// high bits flipped those are 30..5F and every other byte is 80 or above
// or below 30; the usual test for a byte strictly between two values
// (below 80) then finds them.
constexpr bool HasBoxCode(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL, kHighs = kOnes * 0x80;
  const std::uint64_t y = w ^ kHighs;
  const std::uint64_t low = y & (kOnes * 0x7F);
  constexpr std::uint64_t above = kOnes * (0x7F + (kLastPseudoGraphics - 0x80 + 1));
  constexpr std::uint64_t below = kOnes * (0x7F - (kFirstPseudoGraphics - 0x80 - 1));
  return ((above - low) & ~y & (low + below) & kHighs) != 0;
}

// How often each box code (B0..DF) draws in a sample: where it lies in a
// run of at least `run` codes on a line that are copies of one code (═══,
// ───) or all shades and blocks (░░░, ▀▄█▌), or stands alone between blanks
// or punctuation below the same code in the same column of the line above
// (║, │). Letters do neither: a word in capitals or in KOI8-R is a run of
// different codes, and a letter stands beside other letters. Words of eight bytes without a box
// code are skipped whole; the lines are found only where a code stands alone.
void CountDrawing(const BYTE* bytes, std::size_t count, std::size_t run, std::uint32_t drawn[256]) {
  const auto isBox = [](BYTE b) { return b >= kFirstPseudoGraphics && b <= kLastPseudoGraphics; };
  std::size_t lineStart = 0, aboveStart = 0, scanned = 0;
  for (std::size_t i = 0; i < count;) {
    std::uint64_t w;
    if (i + 8 <= count && (std::memcpy(&w, bytes + i, sizeof w), !HasBoxCode(w))) {
      i += 8;
      continue;
    }
    if (!isBox(bytes[i])) {
      ++i;
      continue;
    }
    std::size_t end = i + 1;
    while (end < count && isBox(bytes[end]))
      ++end;
    for (std::size_t k = i; k < end;) { // copies of one code, or shades and blocks
      std::size_t same = k + 1;
      const bool blocks = IsShadeOrBlock(bytes[k]);
      while (same < end && (blocks ? IsShadeOrBlock(bytes[same]) : bytes[same] == bytes[k]))
        ++same;
      if (same - k >= run) drawn[bytes[k]] += static_cast<std::uint32_t>(same - k);
      k = same;
    }
    // Alone: blanks, punctuation or line ends on both sides, never a letter
    // or digit, as around the │ of a frame or a tree.
    const auto apart = [](BYTE b) { return b < 0x80 && !IsAsciiAlphanumeric(b); };
    if (end - i == 1 && run > 1 && (i == 0 || apart(bytes[i - 1])) &&
        (end == count || apart(bytes[end]))) {
      // The line that holds i, and the one above it.
      while (const void* feed = std::memchr(bytes + scanned, '\n', i - scanned)) {
        aboveStart = lineStart;
        lineStart = static_cast<std::size_t>(static_cast<const BYTE*>(feed) - bytes) + 1;
        scanned = lineStart;
      }
      scanned = i;
      const std::size_t above = aboveStart + (i - lineStart);
      if (lineStart > 0 && above + 1 < lineStart && bytes[above] == bytes[i]) ++drawn[bytes[i]];
    }
    i = end;
  }
}

} // namespace

TextSampleFacts InspectTextBytes(const BYTE* bytes, DWORD bytesRead, bool wantOem) {
  TextSampleFacts facts;
  facts.bytesRead = bytesRead;
  if (bytesRead == 0) return facts;
  facts.read = true;
  const CodeSet& binary = BinaryCodeSet;
  const auto noteBinary = [&](std::size_t from, std::size_t count) {
    const std::int64_t at = FirstBinaryCode(bytes + from, count, binary);
    if (at < 0) return false;
    facts.binaryAt = static_cast<std::int64_t>(from) + at;
    facts.binaryCode = bytes[facts.binaryAt];
    return true;
  };
  if (!wantOem) {
    noteBinary(0, facts.bytesRead);
    return facts;
  }
  // A binary code anywhere makes the statistics void, so each block is
  // looked through for one before its bytes are counted. Only the upper
  // half is counted: a word of eight bytes below 0x80 is skipped whole.
  std::uint32_t counts[256] = {};
  constexpr DWORD kBlock = 1024; // bytes between two looks for a binary code
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  for (DWORD start = 0; start < facts.bytesRead; start += kBlock) {
    const DWORD end = std::min(facts.bytesRead, start + kBlock);
    if (noteBinary(start, end - start)) return facts;
    DWORD i = start;
    for (; i + 8 <= end; i += 8) {
      std::uint64_t w;
      std::memcpy(&w, bytes + i, sizeof w);
      if ((w & kHighs) == 0) continue;
      for (DWORD k = i; k < i + 8; ++k)
        ++counts[bytes[k]];
    }
    for (; i < end; ++i)
      ++counts[bytes[i]];
  }
  for (int code = 128; code <= 255; ++code)
    facts.upper += counts[code];
  if (facts.upper == 0) return facts;
  if (const int run = DrawRun(); run > 0) {
    // Only where it draws does a code count; the no-break space never does.
    facts.drawnOnly = true;
    std::fill(std::begin(counts), std::end(counts), 0u);
    CountDrawing(bytes, facts.bytesRead, static_cast<std::size_t>(run), counts);
  }
  // The commonest code decides: if any code reaches the threshold, it does.
  const CodeSet& ignored = OemIgnoredSet;
  for (int code = kFirstPseudoGraphics; code <= 0xFF; ++code) {
    if (ignored.has[code] || !IsPseudoGraphicsCode(code)) continue;
    if (facts.leadCode < 0 || counts[code] > facts.leadCount) {
      facts.leadCode = code;
      facts.leadCount = counts[code];
    }
  }
  return facts;
}

std::int64_t TextSampleFacts::LeadShare() const {
  return upper == 0 ? 0 : static_cast<std::int64_t>(leadCount * 100 / upper);
}

bool TextSampleFacts::IsOem() const {
  return upper > 0 && leadCode >= 0 && LeadShare() >= oem_percent;
}
