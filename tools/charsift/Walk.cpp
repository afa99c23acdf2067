// The walk: which path comes next, and what the host can tell of it before
// the module is asked.
#include "Walk.h"

#include <algorithm>

namespace host {

bool PathList::Next(fs::path& path) {
  std::string bytes;
  for (;;) {
    const int c = std::getc(in_);
    // Asked here, on the reader's own thread, which holds the stream.
    if (c == EOF && std::ferror(in_)) failed_ = true;
    if (c == EOF || c == static_cast<unsigned char>(separator_)) {
#ifdef _WIN32
      // No Windows name ends with a carriage return: the list's line end does.
      if (separator_ == '\n' && !bytes.empty() && bytes.back() == '\r') bytes.pop_back();
#endif
      if (!bytes.empty()) {
        path = FromListBytes(bytes);
        return true;
      }
      if (c == EOF) return false;
      continue;
    }
    bytes.push_back(static_cast<char>(c));
  }
}

void Walker::Run(const std::vector<fs::path>& paths, PathList* list, const Push& push) {
  for (const fs::path& path : paths)
    if (!Visit(path, LookAt(path), push)) return;
  for (fs::path path; list && list->Next(path);)
    if (!Visit(path, LookAt(path), push)) return;
}

bool Walker::Visit(const fs::path& path, const Look& look, const Push& push) {
  Item item{path, {}, false, {}};
  bool descend = false;
  if (!look.exists || !look.why.empty()) {
    item.problem = look.why;
  } else if (look.target == Kind::Folder) {
    descend = options_.recursive && (!look.link || options_.follow);
  } else if (look.target == Kind::File) {
    item.checkRead = true;
  } else {
    item.problem = "not a regular file";
  }

  std::string identity;
  if (descend && options_.follow) {
    identity = FolderIdentity(path);
    if (!identity.empty() &&
        std::find(ancestors_.begin(), ancestors_.end(), identity) != ancestors_.end()) {
      item.problem = "symbolic link loop, not followed";
      descend = false;
    }
  }
  std::vector<Entry> entries;
  if (descend) {
    std::string why;
    if (!ListFolder(path, entries, why)) item.problem = "cannot read folder: " + why;
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
      childLook = LookAt(child);
    } else {
      childLook.exists = true;
      childLook.target = entry.kind;
    }
    if (!(more = Visit(child, childLook, push))) break;
  }
  ancestors_.pop_back();
  return more;
}

} // namespace host
