// The pool's slots, its four kinds of thread and how they wait for each other.
#include "Pool.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "Threads.h"

namespace charsift::cli {

namespace {

constexpr auto kTick = std::chrono::milliseconds(200); // the progress line's pace
constexpr auto kGlance = std::chrono::milliseconds(1); // the longest a decided row waits
constexpr std::size_t kBatch = 64;
// A small file is answered in less time than a wake-up takes: a worker takes
// up to this many items at a time, its share of those waiting.
constexpr std::size_t kClaim = 16;

struct Slot {
  Item item;
  bool read = false; // the readers are done with it, or there are none
  bool ready = false;
};

struct Shared {
  Mutex mutex;
  Condition space, reading, work, ready;
  std::deque<Slot> slots;      // in produced order; front is the next to hand back
  std::size_t readClaimed = 0; // slots (counted from the front) a reader has taken
  std::size_t claimed = 0;     // slots (counted from the front) a worker has taken
  bool produced = false;       // the producer has ended
  bool stopped = false;
  bool sleeping = false; // the output waits to be woken
};

} // namespace

bool RunOrdered(unsigned jobs, std::size_t window, const PoolHooks& hooks) {
  // Left behind with a producer that is still blocked when the run stops.
  Shared& s = *new Shared;
  const bool reads = hooks.read != nullptr && hooks.readers > 0;
  Thread producer([&s, &hooks, window, reads] {
    const Walker::Push push = [&](Item&& item) {
      std::unique_lock<Mutex> lock(s.mutex);
      // A full window waits until half of it is out: one wake-up per half window.
      if (s.slots.size() >= window)
        s.space.wait(lock, [&] { return s.stopped || s.slots.size() <= window / 2; });
      if (s.stopped) return false;
      s.slots.push_back({std::move(item), !reads, false});
      // Readers are woken for a batch's worth (the output nudges them for less).
      if (!reads)
        s.work.notify_one();
      else if (s.slots.size() - s.readClaimed == hooks.readBatch)
        s.reading.notify_one();
      return true;
    };
    hooks.produce(push);
    std::lock_guard<Mutex> lock(s.mutex);
    s.produced = true;
    s.reading.notify_all();
    s.work.notify_all();
    s.ready.notify_all();
  });

  // Readers take the slots in order, as far ahead of the workers as allowed;
  // each that leaves a batch behind wakes the next, so one notify reaches as
  // many as there is work for.
  const std::size_t ahead = std::max<std::size_t>(hooks.readAhead, 1);
  const auto readRoom = [&] {
    return std::min(s.slots.size() - s.readClaimed, ahead - (s.readClaimed - s.claimed));
  };
  std::vector<Thread> readers;
  for (unsigned r = 0; reads && r < hooks.readers; ++r)
    readers.emplace_back([&] {
      std::vector<Slot*> taken;
      std::vector<Item*> items;
      std::unique_lock<Mutex> lock(s.mutex);
      for (;;) {
        s.reading.wait(lock, [&] {
          return s.stopped || readRoom() > 0 || (s.produced && s.readClaimed == s.slots.size());
        });
        if (s.stopped || readRoom() == 0) return; // stopped, or all produced and taken
        const std::size_t share = std::min(readRoom(), hooks.readBatch);
        taken.clear();
        items.clear();
        for (std::size_t k = 0; k < share; ++k) {
          taken.push_back(&s.slots[s.readClaimed++]);
          items.push_back(&taken.back()->item);
        }
        if (readRoom() >= hooks.readBatch) s.reading.notify_one();
        lock.unlock();
        hooks.read(items.data(), items.size());
        lock.lock();
        for (Slot* slot : taken)
          slot->read = true;
        if (s.claimed < s.slots.size() && s.slots[s.claimed].read) s.work.notify_one();
      }
    });

  std::vector<Thread> workers;
  for (unsigned w = 0; w < jobs; ++w)
    workers.emplace_back([&] {
      std::vector<Slot*> taken;
      std::unique_lock<Mutex> lock(s.mutex);
      for (;;) {
        // The slots from claimed on that the readers are done with, up to all
        // the workers' claims.
        const auto open = [&] {
          std::size_t n = 0;
          while (s.claimed + n < s.slots.size() && s.slots[s.claimed + n].read && n < kClaim * jobs)
            ++n;
          return n;
        };
        s.work.wait(lock, [&] {
          return s.stopped || open() > 0 || (s.produced && s.claimed == s.slots.size());
        });
        if (s.stopped || s.claimed == s.slots.size()) return; // stopped, or all produced and taken
        // A deque keeps references to its elements while others come and go at its ends.
        const std::size_t share = std::clamp<std::size_t>(open() / jobs, 1, kClaim);
        taken.clear();
        for (std::size_t k = 0; k < share; ++k)
          taken.push_back(&s.slots[s.claimed++]);
        if (reads && readRoom() >= hooks.readBatch) s.reading.notify_one();
        if (open() > 0) s.work.notify_one();
        lock.unlock();
        for (Slot* slot : taken)
          hooks.work(slot->item);
        lock.lock();
        for (Slot* slot : taken)
          slot->ready = true;
        if (s.sleeping && taken.front() == &s.slots.front()) s.ready.notify_one();
      }
    });

  // The output takes what is ready in batches: after a glance of a
  // millisecond it flushes and sleeps until a worker wakes it, so neither a
  // fast run pays a wake-up and a write per row, nor a slow one holds a row back.
  bool completed = true;
  std::vector<Item> batch;
  const auto frontReady = [&] {
    return (!s.slots.empty() && s.slots.front().ready) || (s.produced && s.slots.empty());
  };
  std::unique_lock<Mutex> lock(s.mutex);
  while (completed) {
    while (!s.slots.empty() && s.slots.front().ready && batch.size() < kBatch) {
      batch.push_back(std::move(s.slots.front().item));
      s.slots.pop_front();
      --s.claimed;
      if (reads) --s.readClaimed;
    }
    if (!batch.empty()) {
      if (s.slots.size() <= window / 2) s.space.notify_one();
      lock.unlock();
      for (Item& item : batch)
        if (!(completed = hooks.done(item))) break;
      batch.clear();
      lock.lock();
      continue;
    }
    if (s.produced && s.slots.empty()) break;
    // Fewer than a batch waiting to be read: a reader takes them now.
    if (reads && readRoom() > 0) s.reading.notify_one();
    if (s.ready.wait_for(lock, kGlance, frontReady)) continue;
    lock.unlock();
    completed = hooks.idle();
    lock.lock();
    if (!completed) break;
    s.sleeping = true;
    s.ready.wait_for(lock, kTick, frontReady);
    s.sleeping = false;
  }
  s.stopped = true;
  s.space.notify_all();
  s.reading.notify_all();
  s.work.notify_all();
  lock.unlock();
  for (Thread& worker : workers)
    worker.join();
  for (Thread& reader : readers)
    reader.join();
  if (completed) {
    producer.join();
    delete &s;
  } else {
    producer.detach();
  }
  return completed;
}

} // namespace charsift::cli
