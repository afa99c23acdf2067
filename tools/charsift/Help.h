// What charsift says of itself: the usage, --help and --version.
#pragma once

#include <string>

namespace charsift::cli {

// The message and the usage on standard error; returns kExitUsage.
int Usage(const std::string& message);
void PrintHelp();
void PrintVersion();

} // namespace charsift::cli
