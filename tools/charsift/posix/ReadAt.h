// The plain read off Windows, which the io_uring reader falls back on.
#pragma once

#include "Reader.h"

namespace charsift::cli {

// An entry of a walked folder opened relative to its folder's descriptor and
// read once; by path where the walk gave no descriptor.
void ReadAt(Item& item, std::size_t size);

// Descriptors each of the read stage's holders may take at once (the
// folders shared with reads, the pool's reading threads): a quarter of the
// process's limit, at most 256, so that the walk and the workers keep theirs.
unsigned DescriptorShare();

} // namespace charsift::cli
