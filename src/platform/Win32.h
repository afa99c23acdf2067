// The one header through which the detection code reaches the operating
// system. On Windows it is the real kernel32; elsewhere it is our own
// implementation of exactly the subset the module calls.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// kernel32's path rules hold: "\" separates folders, "X:" is a drive and
// the lookup matches "*" and "?" as wildcards.
constexpr bool kWindowsPathRules = true;
#else
#include "posix/PosixWin32.h"
#endif
