// The read stage through io_uring, where the system offers it.
#pragma once

#include "ReadAt.h"

namespace charsift::cli {

// Rings read at once, each a batch of depth files: while one waits for its
// last file, the other has a batch in flight.
constexpr unsigned kRingThreads = 2;

// Sets reader to batches through io_uring; false, reader untouched, where
// io_uring is missing or refused, or CHARSIFT_NO_IO_URING is set (not 0).
bool UringReader(std::size_t size, unsigned depth, Reader& reader);

} // namespace charsift::cli
