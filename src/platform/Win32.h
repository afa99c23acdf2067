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
#else
#include "posix/PosixWin32.h"
#endif
