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
  bool row = true;    // false: only told (a list's entry that names no path, a folder lost)
  bool named = false; // a path as given (command line or list), not one met in a folder
  // A regular file's first bytes, read ahead of the worker, and a zero after
  // them; sampled false: the worker opens the file itself.
  std::vector<unsigned char> sample;
  bool sampled = false;
  bool empty = false; // the file's size is 0
  // A file entry of a walked folder: the folder's descriptor and where the
  // entry's name starts in path, for an open relative to it.
  FolderShare folder;
  std::size_t nameAt = 0;
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
  // A folder whose entries are being walked. Its path is the walk's path_
  // cut to pathLength, so that a deep tree costs memory in step with its depth.
  struct Frame {
    OpenFolder folder;
    NativeString name;          // its entry name in the frame above
    std::size_t pathLength = 0; // of its path in path_
    std::string identity;       // with -L, to tell a loop
    std::vector<Entry> entries; // sorted
    std::size_t next = 0;       // the entry to walk next
  };

  // path and, under -r, everything below it, without recursion.
  bool Walk(const fs::path& path, const Push& push);
  // path's row; a folder to walk becomes the deepest frame. parent: the
  // folder path is an entry of, null for a path named as such.
  bool Visit(const fs::path& path, const NativeString& name, const Look& look,
             const OpenFolder* parent, const Push& push);
  // The deepest frame is done: it goes, and the one above holds its folder
  // again if the descriptor budget had let go of it; false, told, when that
  // folder can no longer be reached.
  bool Leave(const Push& push);
  // Frames above the deepest ones let go of their folders beyond the budget.
  void KeepBudget();
  // Takes frame last's folder again, from the top frame down by names.
  bool RetakeFromTop(std::size_t last);

  WalkOptions options_;
  std::deque<Frame> frames_;  // a deque: a frame never moves while its folder is open
  NativeString path_;         // the path of the deepest frame's folder, or deeper
  std::size_t firstHeld_ = 0; // frames_ from here down hold their folders open
  bool named_ = false;        // walking the paths of the command line
};

} // namespace charsift::cli
