// The test-only switch that makes the k-th call of a kind fail.
#include "FaultInjection.h"

#include <atomic>

namespace charsift::fault {
namespace {

// Idle until a test first resets or arms a switch: till then each check is
// one plain load, so a build that only records calls (the bench) pays no
// atomic increment on every call for switches no one arms.
std::atomic<bool> engaged{false};
constexpr int kKinds = static_cast<int>(Call::Count);
std::atomic<int> armed[kKinds];
std::atomic<int> seen[kKinds];
std::atomic<std::size_t> largest{0};
std::atomic<int> opens{0};
std::atomic<OpenHook> openHook{nullptr};
std::atomic<void*> openContext{nullptr};
std::atomic<std::size_t> shortReads{0};
std::atomic<int> descriptors{0};

bool Idle() { return !engaged.load(std::memory_order_relaxed); }

} // namespace

void FailNth(Call call, int k) {
  engaged = true;
  seen[static_cast<int>(call)] = 0;
  armed[static_cast<int>(call)] = k;
}

void Reset() {
  engaged = true;
  for (int i = 0; i < kKinds; ++i) {
    armed[i] = 0;
    seen[i] = 0;
  }
  largest = 0;
  opens = 0;
  openHook = nullptr;
  shortReads = 0;
  descriptors = 0;
}

int Seen(Call call) { return seen[static_cast<int>(call)]; }

bool ShouldFail(Call call) {
  if (Idle()) return false;
  const int n = ++seen[static_cast<int>(call)];
  return armed[static_cast<int>(call)] == n;
}

void NoteAllocation(std::size_t size) {
  if (Idle()) return;
  std::size_t seenSize = largest.load();
  while (size > seenSize && !largest.compare_exchange_weak(seenSize, size)) {
  }
}

std::size_t LargestAllocation() { return largest; }

void SetOpenHook(OpenHook hook, void* context) {
  engaged = true;
  opens = 0;
  openContext = context;
  openHook = hook;
}

void BeforeOpen() {
  if (Idle()) return;
  const int n = ++opens;
  if (OpenHook hook = openHook.load()) hook(n, openContext.load());
}

void SetShortReads(std::size_t bytes) {
  engaged = true;
  shortReads = bytes;
}

std::size_t ShortReadLimit() { return shortReads; }

void NoteDescriptorOpened() {
  if (!Idle()) ++descriptors;
}

int DescriptorsOpened() { return descriptors; }

} // namespace charsift::fault
