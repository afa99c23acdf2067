// A test-only switch that makes the k-th call of a kind fail. A test hook
// (TestHooks.h): compiled in only where CHARSIFT_TEST_HOOKS is defined; in
// the shipped module every check is a constant false.
#pragma once

#include <cstddef>

namespace charsift::fault {

enum class Call { CreateFileW, ReadFile, SetFilePointer, FindFirstFileW, Allocation, Count };

#ifdef CHARSIFT_TEST_HOOKS
// Arms the k-th (1-based) call of that kind from now on to fail; 0 disarms.
void FailNth(Call call, int k);
// Disarms every kind and zeroes the counters. The counters run from the
// first Reset or arming call on; until then every check is idle.
void Reset();
// Calls of that kind seen since the last Reset.
int Seen(Call call);
bool ShouldFail(Call call);
// The largest sample allocation asked for since the last Reset.
void NoteAllocation(std::size_t size);
std::size_t LargestAllocation();
// Runs before the n-th (1-based) file open since the last Reset, so a test
// can change the file between two probes of one query.
using OpenHook = void (*)(int n, void* context);
void SetOpenHook(OpenHook hook, void* context);
void BeforeOpen();
// Makes every read(2) of the layer deliver at most `bytes` bytes, after
// being interrupted once, as FUSE, network file systems and procfs may; 0
// reads as asked.
void SetShortReads(std::size_t bytes);
std::size_t ShortReadLimit();
// Counts the files the layer has really opened since the last Reset, so a
// test can tell that a path was refused before any open.
void NoteDescriptorOpened();
int DescriptorsOpened();
#else
constexpr bool ShouldFail(Call) { return false; }
constexpr std::size_t ShortReadLimit() { return 0; }
constexpr void NoteAllocation(std::size_t) {}
constexpr void BeforeOpen() {}
constexpr void NoteDescriptorOpened() {}
#endif

} // namespace charsift::fault
