// The paths to look at: the command line's and a list's, and with -r each
// folder's entries, sorted by name and depth first, with the symlink rules.
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Platform.h"

namespace host {

// One path on its way from the walk through a worker to the output.
struct Item {
  fs::path path;
  std::string problem;            // why it cannot be read, told on stderr; "" when it can
  bool checkRead = false;         // a regular file: a worker asks whether it opens
  std::vector<std::string> cells; // the answers, in the order of the queried fields
};

// Paths one a line (or NUL-separated) from a stream, read as they are needed.
class PathList {
public:
  PathList(std::FILE* in, char separator) : in_(in), separator_(separator) {}
  // The next non-empty path; false at the end of the stream or on an error.
  bool Next(fs::path& path);
  // Whether a read failed. Safe from any thread: the stream itself is never
  // asked, since the reader may hold its lock, blocked in a read, for ever.
  bool Failed() const { return failed_.load(); }

private:
  std::FILE* in_;
  char separator_;
  std::atomic<bool> failed_{false};
};

struct WalkOptions {
  bool recursive = false; // every entry of a folder, the whole tree
  bool follow = false;    // into links to folders (loops told, never followed)
};

class Walker {
public:
  // Takes each item in turn; false stops the walk.
  using Push = std::function<bool(Item&&)>;

  explicit Walker(WalkOptions options) : options_(options) {}

  // Each path of paths, then of list (may be null), each followed under -r by
  // its entries. A path that is a link is treated as a link in a folder is.
  void Run(const std::vector<fs::path>& paths, PathList* list, const Push& push);

private:
  bool Visit(const fs::path& path, const Look& look, const Push& push);

  WalkOptions options_;
  std::vector<std::string> ancestors_; // identities of the folders being walked (-L)
};

} // namespace host
