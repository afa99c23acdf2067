// The pool's threads off Windows: the standard library's.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace charsift::cli {

using Mutex = std::mutex;
using Condition = std::condition_variable;
using Thread = std::thread;

} // namespace charsift::cli
