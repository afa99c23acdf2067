// Times: file-system times as FILETIMEs, and FILETIMEs as local and DOS times.
#include <cstdint>
#include <ctime>

#include "PosixInternal.h"
#include "PosixWin32.h"

namespace charsift::posix {

// FILETIME counts 100 ns ticks since 1601-01-01 UTC, as a signed 64-bit
// count in kernel32's eyes. A time outside that range (tmpfs keeps an mtime
// of 1e15 s) is clamped to its nearer end instead of overflowing.
FILETIME FileTimeFromTimespec(const timespec& ts) {
  constexpr std::int64_t kEpochDelta = 11644473600LL, kTicksPerSecond = 10000000LL;
  constexpr std::int64_t kMaxTicks = INT64_MAX;
  constexpr std::int64_t kMaxSeconds = kMaxTicks / kTicksPerSecond - kEpochDelta;
  const auto seconds = static_cast<std::int64_t>(ts.tv_sec);
  std::int64_t ticks;
  if (seconds < -kEpochDelta)
    ticks = 0;
  else if (seconds >= kMaxSeconds)
    ticks = kMaxTicks;
  else
    ticks = (seconds + kEpochDelta) * kTicksPerSecond + ts.tv_nsec / 100;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  return ft;
}

} // namespace charsift::posix

using namespace charsift::posix;

namespace {

std::int64_t UnixSecondsFromFileTime(const FILETIME& ft) {
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

} // namespace

// FileTimeToLocalFileTime: a UTC file time shifted by the local zone's
// offset, as kernel32 shifts it; kernel32 takes the offset in force now,
// this layer the one in force at that time.
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, LPFILETIME localFileTime) {
  if (!fileTime || !localFileTime) return FailWith(ERROR_INVALID_PARAMETER);
  const std::int64_t seconds = UnixSecondsFromFileTime(*fileTime);
  const time_t t = static_cast<time_t>(seconds);
  tm local;
  const std::int64_t offset = localtime_r(&t, &local) ? local.tm_gmtoff : 0;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
  // Unsigned, so an offset past either end wraps as kernel32's unchecked
  // 64-bit add does, and is no overflow.
  const std::uint64_t shifted = ticks + static_cast<std::uint64_t>(offset * 10000000LL);
  localFileTime->dwLowDateTime = static_cast<DWORD>(shifted & 0xFFFFFFFFu);
  localFileTime->dwHighDateTime = static_cast<DWORD>(shifted >> 32);
  return TRUE;
}

// FileTimeToDosDateTime: fails for a time a DOS date cannot hold
// (before 1980 or after 2107).
BOOL FileTimeToDosDateTime(const FILETIME* fileTime, WORD* fatDate, WORD* fatTime) {
  if (!fileTime || !fatDate || !fatTime) return FailWith(ERROR_INVALID_PARAMETER);
  const time_t t = static_cast<time_t>(UnixSecondsFromFileTime(*fileTime));
  tm utc;
  if (!gmtime_r(&t, &utc)) return FailWith(ERROR_INVALID_PARAMETER);
  const int year = utc.tm_year + 1900;
  if (year < 1980 || year > 2107) return FailWith(ERROR_INVALID_PARAMETER);
  *fatDate = static_cast<WORD>(((year - 1980) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
  *fatTime = static_cast<WORD>((utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
  return TRUE;
}
