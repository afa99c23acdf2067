// The read stage built without liburing: always the pool of threads.
#include "Uring.h"

namespace charsift::cli {

bool UringReader(std::size_t, unsigned, Reader&) { return false; }

} // namespace charsift::cli
