// The read stage through io_uring: a batch of files goes to the kernel in one
// submission, each an openat into a direct descriptor, a read and a close
// linked after it, so that a cold disk has the whole batch to work on.
#include "Uring.h"

#include <fcntl.h>
#include <liburing.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <vector>

namespace charsift::cli {

namespace {

// One thread's ring, with depth direct-descriptor slots and a buffer each.
class Ring {
public:
  Ring(unsigned depth, std::size_t size) : depth_(depth), size_(size) {
    if (io_uring_queue_init(3 * depth, &ring_, 0) < 0) return;
    if (io_uring_register_files_sparse(&ring_, depth) < 0) {
      io_uring_queue_exit(&ring_);
      return;
    }
    ok_ = true;
    // Left unfilled: only the pages a read writes become the process's.
    buffers_.reset(new unsigned char[depth * (size + 1)]);
  }
  ~Ring() {
    if (ok_) io_uring_queue_exit(&ring_);
  }
  Ring(const Ring&) = delete;
  Ring& operator=(const Ring&) = delete;
  bool Ok() const { return ok_; }

  // At most depth items; those it cannot take are read as the pool reads them.
  void Read(Item* const* items, std::size_t count) {
    taken_.clear();
    for (std::size_t k = 0; k < count; ++k) {
      Item& item = *items[k];
      if (!item.checkRead) continue;
      // Elsewhere a short read may come before the end: the pool's way asks fstat.
      if (!item.folder || !item.folder->readsWhole || taken_.size() == depth_) {
        ReadAt(item, size_);
        continue;
      }
      Queue(item, static_cast<unsigned>(taken_.size()));
      taken_.push_back(&item);
    }
    if (taken_.empty()) return;
    const unsigned total = 3 * static_cast<unsigned>(taken_.size());
    int submitted;
    do
      submitted = io_uring_submit_and_wait(&ring_, total);
    while (submitted == -EINTR);
    results_.assign(total, -ECANCELED);
    for (unsigned seen = 0; submitted >= 0 && seen < total; ++seen) {
      io_uring_cqe* cqe = nullptr;
      int waited;
      do
        waited = io_uring_wait_cqe(&ring_, &cqe);
      while (waited == -EINTR);
      if (waited < 0) break;
      results_[cqe->user_data] = cqe->res;
      io_uring_cqe_seen(&ring_, cqe);
    }
    for (std::size_t i = 0; i < taken_.size(); ++i) {
      const int opened = results_[3 * i], got = results_[3 * i + 1];
      // A failed open or read: the worker opens the file by path, and tells why.
      TakeSample(*taken_[i], opened < 0 || got < 0 ? nullptr : Buffer(i), got, got == 0);
    }
  }

private:
  unsigned char* Buffer(std::size_t i) { return buffers_.get() + i * (size_ + 1); }

  void Queue(const Item& item, unsigned slot) {
    // The pool's openat flags, for the same reasons, but O_CLOEXEC: a direct
    // descriptor is no process's, and the kernel refuses the flag for one.
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    io_uring_prep_openat_direct(sqe, item.folder->fd, item.path.c_str() + item.nameAt,
                                O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW, 0, slot);
    sqe->flags |= IOSQE_IO_LINK;
    sqe->user_data = 3 * slot;
    sqe = io_uring_get_sqe(&ring_);
    io_uring_prep_read(sqe, static_cast<int>(slot), Buffer(slot), static_cast<unsigned>(size_), 0);
    // Hard: the close runs even when the read fails.
    sqe->flags |= IOSQE_FIXED_FILE | IOSQE_IO_HARDLINK;
    sqe->user_data = 3 * slot + 1;
    sqe = io_uring_get_sqe(&ring_);
    io_uring_prep_close_direct(sqe, slot);
    sqe->user_data = 3 * slot + 2;
  }

  io_uring ring_{};
  bool ok_ = false;
  unsigned depth_;
  std::size_t size_;
  std::unique_ptr<unsigned char[]> buffers_;
  std::vector<Item*> taken_;
  std::vector<int> results_;
};

} // namespace

bool UringReader(std::size_t size, unsigned depth, Reader& reader) {
  const char* off = std::getenv("CHARSIFT_NO_IO_URING");
  if (off != nullptr && *off != '\0' && *off != '0') return false;
  // Refused by an old kernel, a seccomp filter or a container's policy.
  if (!Ring(depth, size).Ok()) return false;
  reader.threads = kRingThreads;
  reader.batch = depth;
  reader.read = [size, depth](Item* const* items, std::size_t count) {
    thread_local std::unique_ptr<Ring> ring;
    if (!ring) ring = std::make_unique<Ring>(depth, size);
    if (ring->Ok()) return ring->Read(items, count);
    for (std::size_t k = 0; k < count; ++k)
      if (items[k]->checkRead) ReadAt(*items[k], size);
  };
  return true;
}

} // namespace charsift::cli
