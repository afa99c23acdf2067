// Every UTF-8 walk this processor runs against the plain reference walk,
// both flags, on the sized and the zero-terminated entry.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Kernels.h"
#include "TVorUTF8Detect.h"
#include "reference/ReferenceUtf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (bool flag : {true, false}) {
    const bool expected = reference::IsValidUtf8(data, size, flag);
    for (const Kernels* kernels : RunnableKernels())
      if (kernels->utf8Walk(data, size, flag) != expected) std::abort();
  }
  std::vector<std::uint8_t> terminated(data, data + size);
  terminated.push_back(0);
  for (bool flag : {true, false}) {
    if (IsValidUtf8(terminated.data(), flag) !=
        reference::IsValidUtf8(terminated.data(), terminated.size(), flag))
      std::abort();
  }
  return 0;
}
