// The choice of the byte loops' instruction set, made once at load.
#include "Kernels.h"

namespace {

constexpr Kernels kPlainKernels = {"plain", Utf8WalkPlain, CyrillicTallyPlain};

struct KernelList {
  const Kernels* sets[3];
  std::size_t count;
};

KernelList FindKernels() {
  KernelList list{{&kPlainKernels}, 1};
#ifdef CHARSIFT_X86_KERNELS
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse2")) return list;
  list.sets[list.count++] = &kSse2Kernels;
  // True only when the system saves the AVX registers as well.
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("popcnt")) return list;
  list.sets[list.count++] = &kAvx2Kernels;
#endif
  return list;
}

// The plain set until the module's initialisers have run, then the fastest:
// settled at load, never while a query runs. A function-local static would
// need a guard, and the guard would bring a lock into the host's process.
constinit KernelList runnable{{&kPlainKernels}, 1};
constinit const Kernels* chosen = &kPlainKernels;
[[maybe_unused]] const bool chosenAtLoad =
    (runnable = FindKernels(), chosen = runnable.sets[runnable.count - 1], true);

} // namespace

std::span<const Kernels* const> RunnableKernels() { return {runnable.sets, runnable.count}; }

const Kernels& ChosenKernels() { return *chosen; }
