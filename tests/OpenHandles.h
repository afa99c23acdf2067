// How many handles (descriptors off Windows) this process holds: a probe
// that leaves a file open moves the count. Header only, for the fuzzers too.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <dirent.h>
#endif

namespace testing_support {

#ifdef _WIN32
// The system's handle table, NtQuerySystemInformation's extended form: Wine's
// GetProcessHandleCount answers 0 whatever is open, its table is the truth.
struct HandleTableEntry {
  void* object;
  ULONG_PTR process;
  ULONG_PTR handle;
  ULONG access;
  USHORT creatorBackTrace;
  USHORT type;
  ULONG attributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleTableEntry entries[1];
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
#endif

inline long OpenHandles() {
#ifdef _WIN32
  static const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<ULONG_PTR> table(8192);
  LONG status;
  ULONG needed = 0;
  while ((status = query(kSystemExtendedHandleInformation, table.data(),
                         static_cast<ULONG>(table.size() * sizeof table[0]), &needed)) ==
         kInfoLengthMismatch)
    table.resize(table.size() * 2);
  if (status != 0) return -1;
  const auto* handles = reinterpret_cast<const HandleTable*>(table.data());
  long count = 0;
  for (ULONG_PTR i = 0; i < handles->count; ++i)
    count += handles->entries[i].process == GetCurrentProcessId();
  return count;
#else
  long count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir))
      ++count;
    closedir(dir);
  }
  return count;
#endif
}

} // namespace testing_support
