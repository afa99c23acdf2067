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

// A list's entry that names no path: told under the list's name, never a row.
Item Refused(const PathList& list, std::string&& problem) {
  Item item;
  item.path = list.Name();
  item.problem = std::move(problem);
  item.unread = true;
  item.row = false;
  return item;
}

} // namespace

void Walker::Run(const std::vector<fs::path>& paths, PathLists& lists, const Push& push) {
  AllowOpenFolders();
  std::string problem;
  named_ = true;
  for (const fs::path& path : paths)
    if (!Visit(path, {}, LookAt(path), nullptr, push)) return;
  named_ = false;
  for (PathList& list : lists)
    for (fs::path path; list.Next(path, problem);) {
      if (problem.empty() ? !Visit(path, {}, LookAt(path), nullptr, push)
                          : !push(Refused(list, std::move(problem))))
        return;
      problem.clear();
    }
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
  bool descend = false;
  if (!look.exists || !look.why.empty()) {
    item.problem = WithEnding(path, look.why);
    item.unread = true;
  } else if (look.target == Kind::Folder) {
    descend = options_.recursive && (!look.link || options_.follow || (named_ && !parent));
    if (look.link) item.link = LinkTarget(path);
  } else if (look.target == Kind::File) {
    item.checkRead = true;
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

  OpenFolder folder;
  std::string identity, why;
  if (descend && !folder.Open(parent, path, name, why)) {
    item.problem = "cannot read folder: " + why;
    descend = false;
  }
  if (descend && options_.follow) {
    identity = folder.Identity();
    if (!identity.empty() &&
        std::find(ancestors_.begin(), ancestors_.end(), identity) != ancestors_.end()) {
      item.problem = "symbolic link loop, not followed";
      descend = false;
    }
  }
  std::vector<Entry> entries;
  if (descend) {
    if (!folder.List(entries, why)) item.problem = "cannot read folder: " + why;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
  }
  if (!push(std::move(item))) return false;
  if (entries.empty()) return true;

  ancestors_.push_back(identity);
  bool more = true;
  for (const Entry& entry : entries) {
    const fs::path child = Child(path, entry.name);
    Look childLook;
    if (entry.kind == Kind::Link || entry.kind == Kind::Unknown) {
      childLook = folder.LookAt(child, entry.name);
    } else {
      childLook.exists = true;
      childLook.target = entry.kind;
    }
    if (!(more = Visit(child, entry.name, childLook, &folder, push))) break;
  }
  ancestors_.pop_back();
  return more;
}

} // namespace charsift::cli
