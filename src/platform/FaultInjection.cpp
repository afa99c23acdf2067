#include "FaultInjection.h"

#include <atomic>

namespace charsift::fault {
namespace {

constexpr int kKinds = static_cast<int>(Call::Count);
std::atomic<int> armed[kKinds];
std::atomic<int> seen[kKinds];

} // namespace

void FailNth(Call call, int k) {
  seen[static_cast<int>(call)] = 0;
  armed[static_cast<int>(call)] = k;
}

void Reset() {
  for (int i = 0; i < kKinds; ++i) {
    armed[i] = 0;
    seen[i] = 0;
  }
}

int Seen(Call call) { return seen[static_cast<int>(call)]; }

bool ShouldFail(Call call) {
  const int n = ++seen[static_cast<int>(call)];
  return armed[static_cast<int>(call)] == n;
}

} // namespace charsift::fault
