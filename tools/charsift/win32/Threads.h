// The pool's threads on Windows. The runtime's win32 thread model has no
// std::thread, std::mutex or std::condition_variable, and Windows XP has no
// condition variable: these are the few parts the pool uses, on a critical
// section, a semaphore and the runtime's thread start.
#pragma once

#include <process.h>
#include <windows.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <utility>

namespace charsift::cli {

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

} // namespace charsift::cli
