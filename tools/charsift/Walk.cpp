// The walk: which path comes next, and what the host can tell of it before
// the module is asked.
#include "Walk.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace charsift::cli {

bool PathList::Next(fs::path& path, std::string& problem) {
  std::string bytes;
  for (;;) {
    errno = 0;
    const int c = std::getc(in_);
    // Asked here, on the reader's own thread, which holds the stream.
    if (c == EOF && std::ferror(in_)) {
      error_ = errno;
      failed_ = true;
    }
    if (c == EOF || c == static_cast<unsigned char>(separator_)) {
      ++entry_;
      const bool skipped = std::exchange(skipping_, false);
      if (!kNamesMayEndWithCarriageReturn && separator_ == '\n' && !bytes.empty() &&
          bytes.back() == '\r')
        bytes.pop_back();
      if (!skipped && !bytes.empty()) {
        path = FromListBytes(bytes);
        return true;
      }
      if (c == EOF) return false;
      continue;
    }
    if (skipping_) continue;
    // Told as soon as it is seen: the rest of such an entry may never end.
    if (c == '\0' || bytes.size() == kLongestPath) {
      problem = (separator_ == '\n' ? "line " : "entry ") + std::to_string(entry_ + 1) +
                (c == '\0' ? " holds a NUL, which no name does (a list that find -print0 "
                             "writes takes -0): skipped"
                           : " is longer than any path (" + std::to_string(kLongestPath) +
                                 " bytes): skipped");
      skipping_ = true;
      return true;
    }
    bytes.push_back(static_cast<char>(c));
  }
}

namespace {

// Folders the walk holds open at once, however deep the tree: one above them
// is taken again, by the ".." of the one below, when the walk comes back up.
constexpr std::size_t kHeldFolders = 16;

// A list's entry, or a folder, that no row stands for: told under its name.
Item Told(fs::path path, std::string&& problem) {
  Item item;
  item.path = std::move(path);
  item.problem = std::move(problem);
  item.unread = true;
  item.row = false;
  return item;
}

} // namespace

void Walker::Run(const std::vector<fs::path>& paths, PathLists& lists, const Push& push) {
  std::string problem;
  named_ = true;
  for (const fs::path& path : paths)
    if (!Walk(path, push)) return;
  named_ = false;
  for (PathList& list : lists)
    for (fs::path path; list.Next(path, problem);) {
      if (problem.empty() ? !Walk(path, push) : !push(Told(list.Name(), std::move(problem))))
        return;
      problem.clear();
    }
}

bool Walker::Walk(const fs::path& path, const Push& push) {
  bool more = Visit(path, {}, LookAt(path), nullptr, push);
  while (more && !frames_.empty()) {
    Frame& deepest = frames_.back();
    if (deepest.next == deepest.entries.size()) {
      more = Leave(push);
      continue;
    }
    const Entry& entry = deepest.entries[deepest.next++];
    path_.resize(deepest.pathLength);
    const fs::path child = Child(fs::path(path_), entry.name);
    Look look;
    if (entry.kind == Kind::Link || entry.kind == Kind::Unknown) {
      look = deepest.folder.LookAt(child, entry.name);
    } else {
      look.exists = true;
      look.target = entry.kind;
    }
    more = Visit(child, entry.name, look, &deepest.folder, push);
  }
  frames_.clear();
  firstHeld_ = 0;
  return more;
}

void Walker::KeepBudget() {
  while (frames_.size() - firstHeld_ > kHeldFolders)
    frames_[firstHeld_++].folder.Release();
}

bool Walker::Leave(const Push& push) {
  const std::size_t up = frames_.size() - 2; // the frame above the deepest, when there is one
  bool more = true;
  if (frames_.size() >= 2 && frames_[up].folder.Released()) {
    Frame& above = frames_[up];
    const bool left = above.next < above.entries.size();
    // Its "..", when that is the same folder (past a link under -L it is
    // not); else, when it still has entries to walk, from the top down.
    bool held = !frames_.back().folder.Released() &&
                above.folder.Retake(&frames_.back().folder, nullptr, {}, {});
    if (!held && left) held = RetakeFromTop(up);
    if (held) {
      firstHeld_ = up;
    } else if (left) {
      above.next = above.entries.size();
      path_.resize(above.pathLength);
      more = push(Told(fs::path(path_), "cannot read folder: it moved while it was walked"));
    }
  }
  frames_.pop_back();
  firstHeld_ = std::min(firstHeld_, frames_.size());
  return more;
}

bool Walker::RetakeFromTop(std::size_t last) {
  // Each frame on the way is taken again only to reach the next one.
  for (std::size_t j = 0; j <= last; ++j) {
    Frame& frame = frames_[j];
    if (!frame.folder.Released()) continue;
    const bool held = frame.folder.Retake(
        nullptr, j ? &frames_[j - 1].folder : nullptr,
        j ? fs::path() : fs::path(path_.substr(0, frame.pathLength)), frame.name);
    if (j > 0 && j - 1 < firstHeld_ && !frames_[j - 1].folder.Released())
      frames_[j - 1].folder.Release();
    if (!held) return false;
  }
  return true;
}

namespace {
// A carriage return at the end of a name is unseen on a terminal; it is most
// often a list's DOS line end.
std::string WithEnding(const fs::path& path, const std::string& why) {
  const NativeString& name = path.native();
  if (name.empty() || name.back() != '\r') return why;
  return why + " (the name ends with a carriage return)";
}

} // namespace

bool Walker::Visit(const fs::path& path, const NativeString& name, const Look& look,
                   const OpenFolder* parent, const Push& push) {
  Item item;
  item.path = path;
  item.kind = look.target;
  item.named = parent == nullptr;
  bool descend = false;
  if (!look.exists || !look.why.empty()) {
    item.problem = WithEnding(path, look.why);
    item.unread = true;
  } else if (look.target == Kind::Folder) {
    descend = options_.recursive && (!look.link || options_.follow || (named_ && !parent));
    if (look.link) item.link = LinkTarget(path);
  } else if (look.target == Kind::File) {
    item.checkRead = true;
    // A link is followed by the open by path.
    if (parent && !look.link) {
      item.folder = parent->Share();
      item.nameAt = path.native().size() - name.size();
    }
  } else {
    item.problem = "not a regular file";
    item.unread = true;
  }
  if (item.problem.empty() && TooLongForModule(path)) {
    // The walk reaches it by descriptor; the module takes only a path.
    item.problem = "path too long to hand to the module";
    item.unread = true;
    item.checkRead = false;
  }

  // A folder to walk becomes the deepest frame; one with nothing in it goes at once.
  Frame* frame = descend ? &frames_.emplace_back() : nullptr;
  std::string why;
  if (frame && !frame->folder.Open(parent, path, name, why)) {
    item.problem = "cannot read folder: " + why;
    descend = false;
  }
  if (descend && options_.follow) {
    frame->identity = frame->folder.Identity();
    if (!frame->identity.empty() &&
        std::any_of(frames_.begin(), frames_.end() - 1,
                    [&](const Frame& f) { return f.identity == frame->identity; })) {
      item.problem = "symbolic link loop, not followed";
      descend = false;
    }
  }
  if (descend) {
    if (!frame->folder.List(frame->entries, why)) item.problem = "cannot read folder: " + why;
    std::sort(frame->entries.begin(), frame->entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
  }
  if (frame && frame->entries.empty()) {
    frames_.pop_back();
    frame = nullptr;
  }
  if (!push(std::move(item))) return false;
  if (frame) {
    frame->name = name;
    path_ = path.native();
    frame->pathLength = path_.size();
    KeepBudget();
  }
  return true;
}

} // namespace charsift::cli
