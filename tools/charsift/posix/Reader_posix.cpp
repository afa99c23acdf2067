// The read stage off Windows: io_uring where it works, else a pool of
// reading threads, each opening an entry relative to its folder's
// descriptor and reading it once.
#include "ReadAt.h"
#include "Uring.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace charsift::cli {

namespace {

// What a read of up to size bytes from the start delivers, or -1. Where a
// short read may come before the end (FUSE, network file systems, procfs),
// fstat tells the size, and a size of 0 is left to the module's layer, which
// measures such a file by reading it through: there no sample is empty.
long ReadStart(int fd, bool readsWhole, unsigned char* bytes, std::size_t size) {
  std::size_t need = size;
  if (!readsWhole) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return -1;
    if (static_cast<std::uint64_t>(st.st_size) < need) need = static_cast<std::size_t>(st.st_size);
  }
  std::size_t total = 0;
  while (total < need) {
    const ssize_t n = pread(fd, bytes + total, need - total, static_cast<off_t>(total));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    total += static_cast<std::size_t>(n);
    // On a local file system a read short of the count is the file's end.
    if (readsWhole) break;
  }
  return static_cast<long>(total);
}

} // namespace

void ReadAt(Item& item, std::size_t size) {
  if (!item.folder) {
    ReadByPath(item, size);
    return;
  }
  // O_NOFOLLOW: an entry the listing called a file that has become a link
  // since is the layer's to follow; O_NONBLOCK: a FIFO swapped in does not
  // stall the open, and its read fails (ESPIPE), as a folder's does (EISDIR).
  const int fd = openat(item.folder->fd, item.path.c_str() + item.nameAt,
                        O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return; // the worker opens it by path, and tells why it cannot
  // Left unfilled: only the pages a read writes become the process's.
  thread_local std::unique_ptr<unsigned char[]> scratch(new unsigned char[size + 1]);
  const long got = ReadStart(fd, item.folder->readsWhole, scratch.get(), size);
  close(fd);
  TakeSample(item, got < 0 ? nullptr : scratch.get(), got, got == 0 && item.folder->readsWhole);
}

Reader MakeReader(std::size_t size, unsigned depth) {
  Reader reader;
  if (UringReader(size, depth, reader)) return reader;
  return PooledReader(std::min(depth, DescriptorShare()),
                      [size](Item& item) { ReadAt(item, size); });
}

} // namespace charsift::cli
