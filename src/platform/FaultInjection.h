// A test-only switch that makes the k-th call of a kind fail. Compiled in
// only where CHARSIFT_FAULT_INJECTION is defined (the test build); in the
// shipped module every check is a constant false.
#pragma once

namespace charsift::fault {

enum class Call { CreateFileW, ReadFile, SetFilePointer, FindFirstFileW, Allocation, Count };

#ifdef CHARSIFT_FAULT_INJECTION
// Arms the k-th (1-based) call of that kind from now on to fail; 0 disarms.
void FailNth(Call call, int k);
// Disarms every kind and zeroes the counters.
void Reset();
// Calls of that kind seen since the last Reset.
int Seen(Call call);
bool ShouldFail(Call call);
#else
constexpr bool ShouldFail(Call) { return false; }
#endif

} // namespace charsift::fault
