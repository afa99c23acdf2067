// The ordered worker pool: the walk on one thread, readers taking files'
// first bytes ahead of N workers that ask the module or the linked-in code,
// and the items handed back in the walk's order, a bounded number in flight
// so that memory stays flat.
#pragma once

#include <cstddef>
#include <functional>

#include "Walk.h"

namespace charsift::cli {

struct PoolHooks {
  // Runs on a thread of its own and hands over the items in order.
  std::function<void(const Walker::Push&)> produce;
  // Runs on a worker, on up to jobs items at once.
  std::function<void(Item&)> work;
  // Runs on the calling thread, once per item in the produced order; false stops.
  std::function<bool(Item&)> done;
  // Runs on the calling thread before it waits for the next item, and every
  // tick while it waits; false stops, as done's false does.
  std::function<bool()> idle;
  // Runs on readers threads of their own ahead of work, in the produced
  // order, on up to readBatch items at once, and at most readAhead items
  // ahead of the workers. Null: items go straight to the workers.
  std::function<void(Item* const* items, std::size_t count)> read;
  unsigned readers = 0;
  std::size_t readBatch = 1;
  std::size_t readAhead = 1;
};

// False when done or idle stopped the run (the producer may then still be blocked
// in a read: the caller should end the process).
bool RunOrdered(unsigned jobs, std::size_t window, const PoolHooks& hooks);

} // namespace charsift::cli
