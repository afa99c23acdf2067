// What the module makes of its settings file: where it looks for it, whether
// the built-in defaults are in force, and each value it ignores and why.
#pragma once

#include <cstdio>

#include "FsPath.h"

// Writes, for the module at modulePath, each value of its settings file that
// the module ignores (key, text, the rule it breaks), each hexadecimal one
// it reads wrapped round to a negative number, and whether the example
// could not be put in place. With full, also where the settings were looked
// for and a closing count. Returns how many things it told.
int CheckSettings(const charsift::cli::fs::path& modulePath, std::FILE* out, bool full);
