// The test-only switch that makes the k-th call of a kind fail.
#include "FaultInjection.h"

#include <atomic>

namespace charsift::fault {
namespace {

constexpr int kKinds = static_cast<int>(Call::Count);
std::atomic<int> armed[kKinds];
std::atomic<int> seen[kKinds];
std::atomic<std::size_t> largest{0};
std::atomic<int> opens{0};
std::atomic<OpenHook> openHook{nullptr};
std::atomic<void*> openContext{nullptr};
std::atomic<std::size_t> shortReads{0};
std::atomic<int> descriptors{0};

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
  largest = 0;
  opens = 0;
  openHook = nullptr;
  shortReads = 0;
  descriptors = 0;
}

int Seen(Call call) { return seen[static_cast<int>(call)]; }

bool ShouldFail(Call call) {
  const int n = ++seen[static_cast<int>(call)];
  return armed[static_cast<int>(call)] == n;
}

void NoteAllocation(std::size_t size) {
  std::size_t seenSize = largest.load();
  while (size > seenSize && !largest.compare_exchange_weak(seenSize, size)) {
  }
}

std::size_t LargestAllocation() { return largest; }

void SetOpenHook(OpenHook hook, void* context) {
  opens = 0;
  openContext = context;
  openHook = hook;
}

void BeforeOpen() {
  const int n = ++opens;
  if (OpenHook hook = openHook.load()) hook(n, openContext.load());
}

void SetShortReads(std::size_t bytes) { shortReads = bytes; }

std::size_t ShortReadLimit() { return shortReads; }

void NoteDescriptorOpened() { ++descriptors; }

int DescriptorsOpened() { return descriptors; }

} // namespace charsift::fault
