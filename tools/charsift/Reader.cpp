// The read stage's shared half: a pool of reading threads, the read by path,
// and its place among the pool's hooks.
#include "Reader.h"

#include <utility>

#include "Charsift.h"
#include "SingleOpen.h"

namespace charsift::cli {

namespace {
// Items a reading thread takes at once: a few, so that a warm run does not
// pay a lock per file, and a cold one spreads its requests over the threads.
constexpr std::size_t kPooledBatch = 4;
} // namespace

Reader PooledReader(unsigned depth, std::function<void(Item&)> readOne) {
  Reader reader;
  reader.threads = depth;
  reader.batch = kPooledBatch;
  reader.read = [readOne = std::move(readOne)](Item* const* items, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k)
      if (items[k]->checkRead) readOne(*items[k]);
  };
  return reader;
}

void ReadByPath(Item& item, std::size_t size) {
  DWORD got = 0;
  bool empty = false;
  if (!ReadSample(ToHost(item.path), size, item.sample, got, empty)) {
    std::vector<unsigned char>().swap(item.sample);
    return;
  }
  item.sample.resize(std::size_t{got} + 1);
  item.empty = empty;
  item.sampled = true;
}

void ReadAhead(PoolHooks& hooks, std::size_t size, unsigned depth) {
  Reader reader = MakeReader(size, depth);
  hooks.read = std::move(reader.read);
  hooks.readers = reader.threads;
  hooks.readBatch = reader.batch;
  // Twice the depth: the requests in flight, and as many read, waiting for a worker.
  hooks.readAhead = std::size_t{2} * depth;
}

} // namespace charsift::cli
