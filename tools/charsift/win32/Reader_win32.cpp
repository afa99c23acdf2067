// The read stage on Windows: a pool of reading threads, each opening by path
// as the single open does (one CreateFileW, one ReadFile).
#include "Reader.h"

namespace charsift::cli {

Reader MakeReader(std::size_t size, unsigned depth) {
  return PooledReader(depth, [size](Item& item) { ReadByPath(item, size); });
}

} // namespace charsift::cli
