// Strings and the system: the last error, lstrcpyn, the version, the locale and its code page.
#include <climits>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "PosixInternal.h"
#include "PosixWin32.h"
#include "platform/FileNames.h"

using namespace charsift::posix;

namespace {

// UTF-16 to UTF-8 in the name mapping's lossless form, so that the ANSI
// calls name the very file the wide calls do: a lone surrogate is no
// replacement character but its escaped byte or its three-byte form.
std::string Utf8FromUtf16(const WCHAR* text, std::size_t length) {
  return charsift::names::BytesFromUtf16(std::u16string_view(text, length));
}

} // namespace

// GetLastError: the calling thread's last error code, kept per thread as kernel32 keeps it.
DWORD GetLastError() { return lastError; }

// SetLastError: sets the calling thread's last error code, as kernel32 does.
void SetLastError(DWORD code) { lastError = code; }

// lstrcpynA: at most maxLength-1 characters and a terminator; nothing for 0.
LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxLength) {
  if (!dest || !src) return nullptr;
  LPSTR d = dest;
  int count = maxLength;
  while (count > 1 && *src) {
    *d++ = *src++;
    --count;
  }
  if (count > 0) *d = '\0';
  return dest;
}

// GetVersionExA: Windows 10 on the NT platform, so the module takes the wide
// calls as on any NT; a size field short of the structure fails with
// ERROR_INSUFFICIENT_BUFFER, as kernel32 fails it.
BOOL GetVersionExA(LPOSVERSIONINFOA versionInfo) {
  if (!versionInfo || versionInfo->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA))
    return FailWith(ERROR_INSUFFICIENT_BUFFER);
  versionInfo->dwMajorVersion = 10;
  versionInfo->dwMinorVersion = 0;
  versionInfo->dwBuildNumber = 0;
  versionInfo->dwPlatformId = VER_PLATFORM_WIN32_NT;
  versionInfo->szCSDVersion[0] = '\0';
  return TRUE;
}

// GetThreadLocale: English (United States), 0x0409, for every thread; only
// its ANSI code page is ever asked of it.
LCID GetThreadLocale() { return 0x0409; }

// GetLocaleInfoA: only the default ANSI code page, as text or, with
// LOCALE_RETURN_NUMBER, as a number, with kernel32's size checks; any other
// type fails with ERROR_INVALID_PARAMETER. The ANSI code page of this layer
// is UTF-8: file names on POSIX are bytes that are conventionally UTF-8.
int GetLocaleInfoA(LCID, DWORD type, LPSTR data, int size) {
  if ((type & ~LOCALE_RETURN_NUMBER) != LOCALE_IDEFAULTANSICODEPAGE)
    return static_cast<int>(FailWith(ERROR_INVALID_PARAMETER));
  if (type & LOCALE_RETURN_NUMBER) {
    const DWORD value = CP_UTF8;
    if (size < static_cast<int>(sizeof value / sizeof(CHAR)))
      return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
    std::memcpy(data, &value, sizeof value);
    return static_cast<int>(sizeof value);
  }
  static const char text[] = "65001";
  if (size < static_cast<int>(sizeof text))
    return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
  std::memcpy(data, text, sizeof text);
  return static_cast<int>(sizeof text);
}

// GetACP: the ANSI code page, UTF-8 (65001) here, as Windows answers when
// UTF-8 is the system's ANSI code page.
UINT GetACP() { return CP_UTF8; }

// IsDBCSLeadByteEx: no byte leads a double-byte character, as kernel32
// answers for a code page that is not a DBCS one, UTF-8 among them.
BOOL IsDBCSLeadByteEx(UINT, BYTE) { return FALSE; }

// MultiByteToWideChar: the ANSI code page (UTF-8) to UTF-16, each byte that
// is no UTF-8 mapped as names are, counted as kernel32 counts (-1 takes the
// terminator along; an output size of 0 asks for the size).
int MultiByteToWideChar(UINT codePage, DWORD, LPCSTR multiByte, int multiByteLength, LPWSTR wide,
                        int wideLength) {
  if (!multiByte || multiByteLength == 0 || wideLength < 0 ||
      (codePage != CP_ACP && codePage != CP_UTF8 && codePage != GetACP()))
    return static_cast<int>(FailWith(ERROR_INVALID_PARAMETER));
  const std::size_t length =
      multiByteLength < 0 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteLength);
  const std::u16string units = charsift::names::Utf16FromBytes(std::string_view(multiByte, length));
  if (wideLength == 0) return static_cast<int>(units.size());
  if (units.size() > static_cast<std::size_t>(wideLength))
    return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
  std::memcpy(wide, units.data(), units.size() * sizeof(WCHAR));
  return static_cast<int>(units.size());
}

// WideCharToMultiByte: UTF-16 to the ANSI code page (UTF-8), counted as
// kernel32 counts: a length of -1 takes the terminator along, an output size
// of 0 asks for the size, too small a buffer fails with
// ERROR_INSUFFICIENT_BUFFER. A lone surrogate keeps the name mapping's form
// where kernel32 would write U+FFFD.
int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideLength, LPSTR multiByte,
                        int multiByteLength, LPCSTR, LPBOOL usedDefaultChar) {
  if (!wide || wideLength == 0 || multiByteLength < 0 ||
      (codePage != CP_ACP && codePage != CP_UTF8 && codePage != GetACP()))
    return static_cast<int>(FailWith(ERROR_INVALID_PARAMETER));
  // -1: the terminator is part of the text and of the result.
  const std::size_t length =
      wideLength < 0 ? WideLength(wide) + 1 : static_cast<std::size_t>(wideLength);
  const std::string bytes = Utf8FromUtf16(wide, length);
  if (usedDefaultChar) *usedDefaultChar = FALSE; // the mapping is lossless
  if (bytes.size() > static_cast<std::size_t>(INT_MAX))
    return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
  if (multiByteLength == 0) return static_cast<int>(bytes.size());
  if (bytes.size() > static_cast<std::size_t>(multiByteLength))
    return static_cast<int>(FailWith(ERROR_INSUFFICIENT_BUFFER));
  std::memcpy(multiByte, bytes.data(), bytes.size());
  return static_cast<int>(bytes.size());
}
