// The read stage's shared half: a pool of reading threads, the read by path,
// and its place among the pool's hooks.
#include "Reader.h"

#include <algorithm>
#include <utility>

#include "Charsift.h"
#include "SingleOpen.h"

namespace charsift::cli {

namespace {
// Items a reading thread takes at once: two, so that a warm run pays half a
// wake-up a file, and a cold one still has every thread waiting on the disk.
constexpr std::size_t kPooledBatch = 2;
// The most sample bytes a read stage holds for the files in flight: 128 of
// the default 64 KB.
constexpr std::size_t kBytesInFlight = std::size_t{8} << 20;
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
  thread_local std::vector<unsigned char> buffer;
  const bool read = ReadSample(ToHost(item.path), size, buffer, got, empty);
  TakeSample(item, read ? buffer.data() : nullptr, static_cast<long>(got), empty);
}

void TakeSample(Item& item, const unsigned char* bytes, long got, bool empty) {
  if (bytes == nullptr) return;
  item.sample.assign(bytes, bytes + got + 1);
  item.empty = empty;
  item.sampled = true;
}

void ReadAhead(PoolHooks& hooks, std::size_t size, unsigned depth) {
  // Samples as large as the settings allow (10 MB) read fewer files at once:
  // the bytes in flight and waiting stay within a bound whatever the depth.
  depth = static_cast<unsigned>(std::clamp<std::size_t>(kBytesInFlight / size, 1, depth));
  Reader reader = MakeReader(size, depth);
  hooks.read = std::move(reader.read);
  hooks.readers = reader.threads;
  hooks.readBatch = reader.batch;
  // Twice the depth: the requests in flight, and as many read, waiting for a worker.
  hooks.readAhead = std::size_t{2} * depth;
}

} // namespace charsift::cli
