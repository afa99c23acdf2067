// The paths to look at: the command line's and a list's, and with -r each
// folder's entries, sorted by name and depth first, with the symlink rules.
#pragma once

#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "Platform.h"

namespace charsift::cli {

// One path on its way from the walk through a worker to the output.
struct Item {
  fs::path path;
  std::string problem;            // why it cannot be read, told on stderr; "" when it can
  bool checkRead = false;         // a regular file: a worker asks whether it opens
  bool unread = false;            // missing or unreadable: the summary counts it apart
  Kind kind = Kind::Unknown;      // what it is, or what a link to it points to
  std::string link;               // a link to a folder: its target, which the table shows
  std::vector<std::string> cells; // the answers, in the order of the queried fields
  bool row = true; // false: a list's entry that names no path, only told (path: the list)
};

// Paths one a line (or NUL-separated) from a stream, read as they are needed.
class PathList {
public:
  PathList(std::FILE* in, char separator, fs::path name)
      : in_(in), separator_(separator), name_(std::move(name)) {}
  // The next non-empty path, or why the next entry names none (problem:
  // a NUL in a line, or more bytes than any path holds; the rest of that
  // entry is skipped, never held); false at the end of the stream or on an error.
  bool Next(fs::path& path, std::string& problem);
  // Whether a read failed, and its errno. Safe from any thread: the stream
  // itself is never asked, since the reader may hold its lock, blocked in a
  // read, for ever.
  bool Failed() const { return failed_.load(); }
  int Error() const { return error_.load(); }
  const fs::path& Name() const { return name_; }

private:
  std::FILE* in_;
  char separator_;
  fs::path name_;
  std::size_t entry_ = 0; // separators read: the entry under way is entry_ + 1
  bool skipping_ = false; // the rest of a refused entry is still to be read
  std::atomic<int> error_{0};
  std::atomic<bool> failed_{false}; // set after error_, so a reader that sees it sees both
};

// The lists of a run, in order. A deque: a list never moves once made.
using PathLists = std::deque<PathList>;

struct WalkOptions {
  bool recursive = false; // every entry of a folder, the whole tree
  bool follow = false;    // into links to folders (loops told, never followed)
};

class Walker {
public:
  // Takes each item in turn; false stops the walk.
  using Push = std::function<bool(Item&&)>;

  explicit Walker(WalkOptions options) : options_(options) {}

  // Each path of paths, then of each list in turn, each followed under -r by
  // its entries. A link to a folder among paths is gone into, as grep -r and
  // find -H do; one in a list or in the walk only with -L.
  void Run(const std::vector<fs::path>& paths, PathLists& lists, const Push& push);

private:
  // parent: the open folder path is an entry of, null for a path named as such.
  bool Visit(const fs::path& path, const NativeString& name, const Look& look,
             const OpenFolder* parent, const Push& push);

  WalkOptions options_;
  std::vector<std::string> ancestors_; // identities of the folders being walked (-L)
  bool named_ = false;                 // walking the paths of the command line
};

} // namespace charsift::cli
