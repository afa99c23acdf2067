// GoogleTest builds its Notification on std::mutex, which the Windows
// runtime's win32 thread model (the one the module is built with) lacks.
// Only GoogleTest's own thread helper waits on one, and the suite does not
// use that helper; this stand-in spins.
#pragma once

#include <atomic>

namespace testing::internal {

class Notification {
public:
  void Notify() { notified_ = true; }
  void WaitForNotification() {
    while (!notified_) {
    }
  }

private:
  std::atomic<bool> notified_{false};
};

} // namespace testing::internal
