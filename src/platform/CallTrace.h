// A bench-only record of the system calls a query asks the layer for, so
// that the benchmark's floor replays exactly the module's own calls, in its
// own order, whatever the chain does. A test hook (TestHooks.h): compiled in
// only where CHARSIFT_TEST_HOOKS is defined; elsewhere every note is a no-op.
#pragma once

#include <cstdint>
#include <vector>

namespace charsift::trace {

enum class Op { Find, Open, Size, Seek, Read, Close };

struct Call {
  Op op;
  std::uint32_t bytes; // for a read: the count asked for
};

#ifdef CHARSIFT_TEST_HOOKS
// Records the calls of this thread into `calls` until Stop.
void Start(std::vector<Call>* calls);
void Stop();
void Note(Op op, std::uint32_t bytes = 0);
#else
constexpr void Note(Op, std::uint32_t = 0) {}
#endif

} // namespace charsift::trace
