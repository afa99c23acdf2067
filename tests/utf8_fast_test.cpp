// The walks look at many bytes at a time; these tests hold each of them to
// the plain byte-at-a-time walk on every buffer of a generated set.
#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "Kernels.h"
#include "TVorUTF8Detect.h"
#include "TestSupport.h"
#include "reference/ReferenceUtf8.h"

using namespace testing_support;

namespace {

void ExpectSameAsReference(const Bytes& content) {
  // An exact-size copy on the heap, no spare terminator: a walk that reads
  // one byte too far trips ASan.
  std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[content.size()]);
  std::copy(content.begin(), content.end(), exact.get());
  for (bool flag : {true, false}) {
    const bool expected = reference::IsValidUtf8(content.data(), content.size(), flag);
    for (const Kernels* kernels : RunnableKernels())
      ASSERT_EQ(kernels->utf8Walk(exact.get(), content.size(), flag), expected)
          << kernels->name << ", size " << content.size() << ", flag " << flag << ": "
          << Hex(content);
    ASSERT_EQ(IsValidUtf8(exact.get(), content.size(), flag), expected);
  }
  Bytes terminated = content;
  terminated.push_back(0);
  for (bool flag : {true, false}) {
    ASSERT_EQ(IsValidUtf8(terminated.data(), flag),
              reference::IsValidUtf8(terminated.data(), terminated.size(), flag))
        << "flag " << flag << ": " << Hex(content);
  }
}

// Every run of one to three interesting bytes, at offsets around the steps
// of the walks (the bytes walked singly first, words, 16- and 32-byte
// vectors, four vectors of ASCII), inside ASCII and inside a sequence.
TEST(Utf8FastWalk, AgreesOnShortRunsAroundWordBoundaries) {
  const int values[] = {0x00, 0x41, 0x7F, 0x80, 0xBF, 0xC0, 0xC3, 0xDF,
                        0xE0, 0xE2, 0xEF, 0xF0, 0xF8, 0xFC, 0xFF};
  const std::size_t offsets[] = {0,  1,  7,  8,  9,  10, 15,  16,  17, 31,
                                 32, 47, 63, 64, 65, 79, 127, 128, 131};
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

namespace {

// Long buffers the way real text mixes them: ASCII runs long enough for the
// four-vector skip, valid sequences of every length back to back, and now
// and then one broken, cut or zero byte, so that each walk leaves and
// re-enters its fast loop at every offset.
TEST(Utf8FastWalk, AgreesOnLongMixedText) {
  std::mt19937 rng(8122026);
  const Bytes sequences[] = {B({0xD0, 0x96}), B({0xE2, 0x94, 0x80}), B({0xF0, 0x9F, 0x98, 0x80}),
                             B({0xF8, 0x88, 0x80, 0x80, 0x80}),
                             B({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80})};
  for (int round = 0; round < 3000; ++round) {
    Bytes buffer;
    const std::size_t size = 64 + rng() % 1500;
    while (buffer.size() < size) {
      const unsigned r = rng() % 100;
      if (r < 30) {
        buffer.resize(buffer.size() + rng() % 200, static_cast<std::uint8_t>('a' + rng() % 26));
      } else if (r < 97) {
        const Bytes& s = sequences[r < 80 ? 0 : rng() % 5];
        buffer.insert(buffer.end(), s.begin(), s.end());
      } else {
        // Stray continuation, lead without its continuation, or a zero.
        const std::uint8_t strays[] = {0x80, 0xBF, 0xC3, 0xE2, 0xF0, 0xFC, 0x00};
        buffer.push_back(strays[rng() % 7]);
      }
    }
    // Cut anywhere, inside a sequence too.
    buffer.resize(size);
    ExpectSameAsReference(buffer);
    if (HasFatalFailure()) return;
  }
}

// Text of one sequence length, or a random mix of 1- to 5-byte sequences,
// after no ASCII or a run long enough for the ASCII skip, with a fault put
// at every offset and a cut at every offset: the walk must find each
// whichever check the blocks before it chose, at and across every vector
// and block boundary.
TEST(Utf8FastWalk, AgreesWithAFaultAtEveryOffset) {
  std::mt19937 rng(10122026);
  const Bytes sequences[] = {B({'a'}), B({0xD0, 0x96}), B({0xE2, 0x94, 0x80}),
                             B({0xF0, 0x9F, 0x98, 0x80}), B({0xF8, 0x88, 0x80, 0x80, 0x80})};
  // The five-byte sequences, which only the byte walk takes, land in the
  // last block too, where the walk checks bytes it has walked already.
  const std::vector<int> mixes[] = {{1}, {2}, {3}, {0, 1}, {1, 2}, {2, 3}, {0, 1, 2, 3}, {0, 1, 4}};
  // A zero, ASCII, both ends of the continuations, and a lead of each length.
  const std::uint8_t faults[] = {0x00, 0x41, 0x80, 0xBF, 0xC3, 0xE2, 0xF0, 0xF8, 0xFC};
  for (const std::vector<int>& mix : mixes)
    for (std::size_t ascii : {0, 130}) {
      Bytes text = Repeat('a', ascii);
      while (text.size() < ascii + 300) {
        const Bytes& s = sequences[mix[rng() % mix.size()]];
        text.insert(text.end(), s.begin(), s.end());
      }
      ExpectSameAsReference(text);
      for (std::size_t offset = 0; offset < text.size(); ++offset) {
        for (std::uint8_t fault : faults) {
          Bytes faulty = text;
          faulty[offset] = fault;
          ExpectSameAsReference(faulty);
          if (HasFatalFailure()) return;
        }
        ExpectSameAsReference(Bytes(text.begin(), text.begin() + offset));
        if (HasFatalFailure()) return;
      }
    }
}

TEST(Kernels, ThisProcessorRunsAVectorSet) {
  // Every x86 processor of this century has SSE2; without it the module
  // still works, at a fraction of the speed.
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_GE(RunnableKernels().size(), 2u);
#endif
  EXPECT_STREQ(RunnableKernels().front()->name, "plain");
  EXPECT_EQ(&ChosenKernels(), RunnableKernels().back());
}

} // namespace
