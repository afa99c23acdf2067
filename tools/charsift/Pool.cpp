// The pool's slots, its three kinds of thread and how they wait for each other.
#include "Pool.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>
#else
#include <condition_variable>
#include <thread>
#endif

namespace charsift::cli {

namespace {

#ifdef _WIN32
// The runtime's win32 thread model has no std::thread, std::mutex or
// std::condition_variable, and Windows XP has no condition variable: these
// are the few parts the pool uses, on a critical section, a semaphore and
// the runtime's thread start.
class Mutex {
public:
  Mutex() { InitializeCriticalSection(&section_); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  ~Mutex() { DeleteCriticalSection(&section_); }
  void lock() { EnterCriticalSection(&section_); }
  void unlock() { LeaveCriticalSection(&section_); }

private:
  CRITICAL_SECTION section_;
};

// Notified only with the mutex held. A waiter that times out just as it is
// notified leaves its wake-up in the semaphore for the next waiter: a
// spurious wake-up, which every wait here checks for.
class Condition {
public:
  Condition() : semaphore_(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)) {}
  Condition(const Condition&) = delete;
  Condition& operator=(const Condition&) = delete;
  ~Condition() { CloseHandle(semaphore_); }
  template <typename Predicate> void wait(std::unique_lock<Mutex>& lock, Predicate done) {
    while (!done())
      WaitOnce(lock, INFINITE);
  }
  template <typename Duration, typename Predicate>
  bool wait_for(std::unique_lock<Mutex>& lock, Duration timeout, Predicate done) {
    const DWORD ms =
        static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count());
    const DWORD start = GetTickCount();
    while (!done()) {
      const DWORD spent = GetTickCount() - start;
      if (spent >= ms) return false;
      WaitOnce(lock, ms - spent);
    }
    return true;
  }
  void notify_one() {
    if (wakes_ < waiters_) Release(1);
  }
  void notify_all() {
    if (wakes_ < waiters_) Release(waiters_ - wakes_);
  }

private:
  void WaitOnce(std::unique_lock<Mutex>& lock, DWORD ms) {
    ++waiters_;
    lock.unlock();
    const DWORD result = WaitForSingleObject(semaphore_, ms);
    lock.lock();
    --waiters_;
    if (result == WAIT_OBJECT_0) --wakes_;
  }
  void Release(long count) {
    wakes_ += count;
    ReleaseSemaphore(semaphore_, count, nullptr);
  }
  HANDLE semaphore_;
  long waiters_ = 0; // threads in WaitOnce
  long wakes_ = 0;   // released and not yet taken
};

class Thread {
public:
  explicit Thread(std::function<void()> body)
      : body_(std::make_unique<std::function<void()>>(std::move(body))) {
    handle_ = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Start, body_.get(), 0, nullptr));
    // As std::thread does when it cannot start one.
    if (handle_ == nullptr) throw std::system_error(errno, std::generic_category());
  }
  Thread(Thread&& other) noexcept
      : body_(std::move(other.body_)), handle_(std::exchange(other.handle_, nullptr)) {}
  ~Thread() {
    if (handle_) CloseHandle(handle_);
  }
  void join() {
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
  }
  // The body then outlives this object: it stays allocated.
  void detach() {
    CloseHandle(handle_);
    handle_ = nullptr;
    body_.release();
  }

private:
  static unsigned __stdcall Start(void* body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
  }
  std::unique_ptr<std::function<void()>> body_;
  HANDLE handle_ = nullptr;
};
#else
using Mutex = std::mutex;
using Condition = std::condition_variable;
using Thread = std::thread;
#endif

constexpr auto kTick = std::chrono::milliseconds(200); // the progress line's pace
constexpr auto kGlance = std::chrono::milliseconds(1); // the longest a decided row waits
constexpr std::size_t kBatch = 64;
// A small file is answered in less time than a wake-up takes: a worker takes
// up to this many items at a time, its share of those waiting.
constexpr std::size_t kClaim = 16;

struct Slot {
  Item item;
  bool ready = false;
};

struct Shared {
  Mutex mutex;
  Condition space, work, ready;
  std::deque<Slot> slots;  // in produced order; front is the next to hand back
  std::size_t claimed = 0; // slots (counted from the front) a worker has taken
  bool produced = false;   // the producer has ended
  bool stopped = false;
  bool sleeping = false; // the output waits to be woken
};

} // namespace

bool RunOrdered(unsigned jobs, std::size_t window, const PoolHooks& hooks) {
  // Left behind with a producer that is still blocked when the run stops.
  Shared& s = *new Shared;
  Thread producer([&s, &hooks, window] {
    const Walker::Push push = [&](Item&& item) {
      std::unique_lock<Mutex> lock(s.mutex);
      // A full window waits until half of it is out: one wake-up per half window.
      if (s.slots.size() >= window)
        s.space.wait(lock, [&] { return s.stopped || s.slots.size() <= window / 2; });
      if (s.stopped) return false;
      s.slots.push_back({std::move(item), false});
      s.work.notify_one();
      return true;
    };
    hooks.produce(push);
    std::lock_guard<Mutex> lock(s.mutex);
    s.produced = true;
    s.work.notify_all();
    s.ready.notify_all();
  });

  std::vector<Thread> workers;
  for (unsigned w = 0; w < jobs; ++w)
    workers.emplace_back([&] {
      std::vector<Slot*> taken;
      std::unique_lock<Mutex> lock(s.mutex);
      for (;;) {
        s.work.wait(lock, [&] { return s.stopped || s.claimed < s.slots.size() || s.produced; });
        if (s.stopped || s.claimed == s.slots.size()) return; // stopped, or all produced and taken
        // A deque keeps references to its elements while others come and go at its ends.
        const std::size_t share = (s.slots.size() - s.claimed) / jobs;
        taken.clear();
        for (std::size_t k = 0; k < std::clamp<std::size_t>(share, 1, kClaim); ++k)
          taken.push_back(&s.slots[s.claimed++]);
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
  s.work.notify_all();
  lock.unlock();
  for (Thread& worker : workers)
    worker.join();
  if (completed) {
    producer.join();
    delete &s;
  } else {
    producer.detach();
  }
  return completed;
}

} // namespace charsift::cli
