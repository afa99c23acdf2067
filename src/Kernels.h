// The byte loops of the detection, one set per instruction set, and the one
// choice among the sets, made at load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "CyrillicTally.h"

// Every loop a set holds gives the same answer on every buffer as the same
// loop of any other set; the sets differ in the instructions they need.
struct Kernels {
  const char* name;
  // The UTF-8 walk over a buffer of known size, as IsValidUtf8 gives it.
  bool (*utf8Walk)(const std::uint8_t* buffer, std::size_t size, bool allowTruncated);
  // The Cyrillic tally, as TallyCyrillic gives it.
  CyrillicTally (*cyrillicTally)(const std::uint8_t* buffer, std::size_t count,
                                 TallyOptions options);
};

// The sets this processor runs, plain first: each needs what the one before
// it needs, and more. Tests and benchmarks hold each to the plain one.
std::span<const Kernels* const> RunnableKernels();

// The last of RunnableKernels: what every query uses.
const Kernels& ChosenKernels();

// The plain loops, for any processor.
bool Utf8WalkPlain(const std::uint8_t* buffer, std::size_t size, bool allowTruncated);
CyrillicTally CyrillicTallyPlain(const std::uint8_t* buffer, std::size_t count,
                                 TallyOptions options);

// The vector sets, each built for its instruction set in a folder of its
// own; only x86 builds have them, and only the choice above refers to them.
extern const Kernels kSse2Kernels;
extern const Kernels kAvx2Kernels;
