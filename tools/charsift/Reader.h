// Reading regular files' first bytes ahead of the workers, many requests in
// flight, so that a cold disk is kept busy while the processors do the work
// on the bytes. Each system's half (posix/, win32/) picks how.
#pragma once

#include <cstddef>
#include <functional>

#include "Pool.h"

namespace charsift::cli {

// Requests in flight by default: over 100,000 small files on a cold disk,
// 128 took 2.6 to 3.3 s where 32 took 4.3 to 4.5 s and 8 took 6.6 s.
constexpr unsigned kDefaultDepth = 128;

// How the pool's read stage runs: its threads, and the items each takes at once.
struct Reader {
  unsigned threads = 1;
  std::size_t batch = 1;
  std::function<void(Item* const* items, std::size_t count)> read;
};

// The system's reader of size bytes from the start of each regular file,
// depth requests at once.
Reader MakeReader(std::size_t size, unsigned depth);

// depth threads, each reading its items one after the other with readOne.
Reader PooledReader(unsigned depth, std::function<void(Item&)> readOne);

// The sample of a regular file by its path, through the module's file layer
// as the single open reads it; the item stays unsampled where that fails.
void ReadByPath(Item& item, std::size_t size);

// The item's sample: got bytes at bytes, and the one after them; bytes
// null: none, the worker opens the file itself.
void TakeSample(Item& item, const unsigned char* bytes, long got, bool empty);

// Puts a read stage of size bytes a file, depth deep, into hooks.
void ReadAhead(PoolHooks& hooks, std::size_t size, unsigned depth);

} // namespace charsift::cli
