// The steps of writing a converted file that the tests' build of charsift
// (charsift_hooks) makes fail on demand, the same names on both systems.
#pragma once

#ifdef CHARSIFT_TEST_HOOKS
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#endif

namespace charsift::cli {

// The steps: "open" (the temporary file), "write", "flush", "link" (the
// backup), "rename", and "changed", which appends a byte to the original
// just before it is checked again, as another program might.
#ifdef CHARSIFT_TEST_HOOKS
// CHARSIFT_FAIL=STEP or STEP:N arms the first (or the N-th) time the run
// reaches that step. Conversion runs on one thread.
inline bool ShouldFailStep(const char* step) {
  const char* armed = std::getenv("CHARSIFT_FAIL");
  const std::size_t length = std::strlen(step);
  if (armed == nullptr || std::strncmp(armed, step, length) != 0) return false;
  if (armed[length] != '\0' && armed[length] != ':') return false;
  static std::map<std::string, int> reached;
  const int n = armed[length] == ':' ? std::atoi(armed + length + 1) : 1;
  return ++reached[step] == n;
}
#else
constexpr bool ShouldFailStep(const char*) { return false; }
#endif

} // namespace charsift::cli
