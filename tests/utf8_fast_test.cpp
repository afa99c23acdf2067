// The walk skips ASCII many bytes at a time; these tests hold it to the
// plain byte-at-a-time walk on every buffer of a generated set.
#include <random>

#include "TVorUTF8Detect.h"
#include "TestSupport.h"
#include "reference/ReferenceUtf8.h"

using namespace testing_support;

namespace {

void ExpectSameAsReference(const Bytes& content) {
  // Exact size, no spare terminator: the sized walk must stop at the end.
  for (bool flag : {true, false}) {
    ASSERT_EQ(IsValidUtf8(content.data(), content.size(), flag),
              reference::IsValidUtf8(content.data(), content.size(), flag))
        << "flag " << flag << ": " << Hex(content);
  }
  Bytes terminated = content;
  terminated.push_back(0);
  for (bool flag : {true, false}) {
    ASSERT_EQ(IsValidUtf8(terminated.data(), flag),
              reference::IsValidUtf8(terminated.data(), terminated.size(), flag))
        << "flag " << flag << ": " << Hex(content);
  }
}

// Every run of one to three interesting bytes, at offsets around the 8-,
// 16- and 64-byte steps of the skip, inside ASCII and inside a sequence.
TEST(Utf8FastWalk, AgreesOnShortRunsAroundWordBoundaries) {
  const int values[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC3, 0xDF,
                        0xE0, 0xE2, 0xEF, 0xF0, 0xF8, 0xFC, 0xFF};
  const std::size_t offsets[] = {0, 1, 7, 8, 15, 16, 17, 31, 47, 63, 64, 65, 79};
  const Bytes prefixes[] = {Bytes{}, B({0xC3, 0xA9})};
  for (const Bytes& prefix : prefixes)
    for (std::size_t offset : offsets)
      for (int a : values)
        for (int b : values)
          for (int c : values) {
            Bytes buffer = Concat({prefix, Repeat('a', offset)});
            buffer.push_back(static_cast<std::uint8_t>(a));
            buffer.push_back(static_cast<std::uint8_t>(b));
            buffer.push_back(static_cast<std::uint8_t>(c));
            buffer.resize(buffer.size() + 20, 'z');
            ExpectSameAsReference(buffer);
            if (HasFatalFailure()) return;
          }
}

// Random text biased toward what real samples hold: ASCII runs, valid and
// broken sequences, zero bytes.
TEST(Utf8FastWalk, AgreesOnRandomBuffers) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 20000; ++round) {
    const std::size_t size = rng() % 300;
    Bytes buffer(size);
    const int flavour = static_cast<int>(rng() % 4);
    for (std::uint8_t& byte : buffer) {
      const unsigned r = rng() % 100;
      if (flavour == 0 || r < 70)
        byte = static_cast<std::uint8_t>(0x20 + rng() % 0x5F);
      else if (r < 85)
        byte = static_cast<std::uint8_t>(0x80 + rng() % 0x40);
      else if (r < 98)
        byte = static_cast<std::uint8_t>(0xC0 + rng() % 0x40);
      else
        byte = static_cast<std::uint8_t>(rng() % 256);
    }
    if (flavour == 3 && size > 0) buffer[rng() % size] = 0;
    ExpectSameAsReference(buffer);
    if (HasFatalFailure()) return;
  }
}

} // namespace
