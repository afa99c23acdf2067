// The plain read off Windows, which the io_uring reader falls back on.
#pragma once

#include "Reader.h"

namespace charsift::cli {

// An entry of a walked folder opened relative to its folder's descriptor and
// read once; by path where the walk gave no descriptor.
void ReadAt(Item& item, std::size_t size);

} // namespace charsift::cli
