// The bench-only record of the system calls a query asks the layer for.
#include "CallTrace.h"

namespace charsift::trace {
namespace {

thread_local std::vector<Call>* recording = nullptr;

} // namespace

void Start(std::vector<Call>* calls) { recording = calls; }
void Stop() { recording = nullptr; }

void Note(Op op, std::uint32_t bytes) {
  if (recording) recording->push_back({op, bytes});
}

} // namespace charsift::trace
