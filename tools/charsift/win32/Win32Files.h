// What the Windows file calls tell, as both the walk and --to-utf8 tell it:
// a failure in the tool's words, and a file's identity.
#pragma once

#include <windows.h>

#include <string>

namespace charsift::cli {

// A system error (GetLastError) in the tool's words where it has some.
std::string Reason(DWORD error);
// The volume and file index: the same file, whatever its path.
std::string IdentityOf(const BY_HANDLE_FILE_INFORMATION& info);

} // namespace charsift::cli
