// The posix half of --to-utf8 (ConvertPlatform.h): glibc's iconv both ways,
// and a file replaced by a temporary one renamed over it.
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "ConvertFaults.h"
#include "ConvertPlatform.h"

namespace charsift::cli {

namespace {

std::string IconvName(const CodePage& page) {
  if (!page.name.empty()) return page.name;
  if (page.number == 1200) return "UTF-16LE";
  if (page.number == 1201) return "UTF-16BE";
  return "CP" + std::to_string(page.number);
}

// An iconv descriptor closed with its scope; bad() when the pair is unknown.
class Iconv {
public:
  Iconv(const std::string& to, const std::string& from)
      : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Iconv() {
    if (!bad()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;
  bool bad() const { return cd_ == reinterpret_cast<iconv_t>(-1); }
  // Converts all of in to out; false with errno (EILSEQ, EINVAL) and the
  // bytes of in taken before the failure in consumed.
  bool Run(std::string_view in, std::string& out, std::size_t& consumed) {
    // Through a small buffer: a result made to its largest size first would
    // be filled with zeros, and faulted in, before iconv wrote a byte of it.
    out.clear();
    out.reserve(in.size() * 2);
    char buffer[1 << 16];
    char* from = const_cast<char*>(in.data());
    std::size_t left = in.size();
    for (bool ending = false;;) {
      char* to = buffer;
      std::size_t room = sizeof buffer;
      // Once all of in is taken, the calls without input end a shift state.
      const std::size_t r =
          ending ? iconv(cd_, nullptr, nullptr, &to, &room) : iconv(cd_, &from, &left, &to, &room);
      const int error = errno;
      out.append(buffer, static_cast<std::size_t>(to - buffer));
      if (r == static_cast<std::size_t>(-1) && error == E2BIG) continue;
      if (r == static_cast<std::size_t>(-1)) {
        consumed = in.size() - left;
        errno = error;
        return false;
      }
      if (ending) break;
      ending = true;
    }
    consumed = in.size();
    return true;
  }

private:
  iconv_t cd_;
};

std::string Hex(unsigned char byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

std::string Reason(int error) { return ErrnoReason(error); }

std::string StateIdentity(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

FileState StateOf(const struct stat& st) {
  FileState s;
  s.identity = StateIdentity(st);
  s.size = static_cast<std::uint64_t>(st.st_size);
  s.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.links = st.st_nlink;
  return s;
}

// The temporary file being written, for the signal handler: a folder's
// descriptor and a name in it, set only while armed.
volatile std::sig_atomic_t tempArmed = 0;
int tempFolder = -1;
char tempName[NAME_MAX + 1];

void RemoveTempAndEnd(int signal) {
  if (tempArmed) unlinkat(tempFolder, tempName, 0);
  // SA_RESETHAND put the default action back: the raise ends the process as
  // the signal would have, once the handler returns.
  raise(signal);
}

// Signals that would end the process wait while a step that must not be cut
// (the backup, the check and the rename) runs.
class SignalsHeld {
public:
  SignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

private:
  sigset_t old_;
};

// A temporary file beside the target, written in full and flushed; its
// descriptor is left open for the caller to set the metadata on. The name
// says what it is, should a kill -9 leave it behind.
class TempFile {
public:
  TempFile(int folder, const std::string& base) : folder_(folder) {
    static std::mt19937 random{std::random_device{}()};
    // Appended, not joined with +: GCC 12 at -O3 warns of an overlap there.
    std::string start(1, '.');
    start.append(base, 0, NAME_MAX - 40).append(".charsift-tmp-");
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      name_ = start + std::to_string(random() % 1000000);
      if (ShouldFailStep("open")) {
        errno = EIO;
        break;
      }
      // Armed before the file exists, so that no moment leaves it unknown.
      std::snprintf(tempName, sizeof tempName, "%s", name_.c_str());
      tempFolder = folder;
      tempArmed = 1;
      fd_ = openat(folder, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ < 0) tempArmed = 0;
      if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) why_ = "cannot create a temporary file beside it: " + Reason(errno);
  }
  ~TempFile() { Discard(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  bool Open(std::string& why) const {
    why = why_;
    return fd_ >= 0;
  }
  int Fd() const { return fd_; }
  const std::string& Name() const { return name_; }

  bool Write(std::string_view content, std::string& why) {
    for (std::size_t done = 0; done < content.size();) {
      const ssize_t n = ShouldFailStep("write")
                            ? (errno = ENOSPC, -1)
                            : write(fd_, content.data() + done,
                                    std::min<std::size_t>(content.size() - done, 1 << 20));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        why = "cannot write the converted file: " + Reason(n < 0 ? errno : EIO);
        return false;
      }
      done += static_cast<std::size_t>(n);
    }
    if (ShouldFailStep("flush") ? (errno = EIO, true) : fsync(fd_) != 0) {
      why = "cannot flush the converted file to the disk: " + Reason(errno);
      return false;
    }
    return true;
  }

  // The temporary file is now the target's: it is no longer removed.
  void Kept() {
    tempArmed = 0;
    name_.clear();
  }
  void Discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!name_.empty()) unlinkat(folder_, name_.c_str(), 0);
    name_.clear();
    tempArmed = 0;
  }

private:
  int folder_;
  int fd_ = -1;
  std::string name_, why_;
};

// A folder's descriptor, closed with its scope.
struct Folder {
  int fd = -1;
  explicit Folder(const fs::path& path)
      : fd(open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~Folder() {
    if (fd >= 0) close(fd);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
};

// The original's extended attributes onto to; true when the system has none.
bool CopyAttributes(int from, int to, std::string& why) {
  const ssize_t size = flistxattr(from, nullptr, 0);
  if (size < 0) return errno == ENOTSUP;
  std::vector<char> names(static_cast<std::size_t>(size) + 1);
  const ssize_t got = flistxattr(from, names.data(), names.size());
  if (got < 0) return errno == ENOTSUP;
  for (const char* name = names.data(); name < names.data() + got; name += std::strlen(name) + 1) {
    const ssize_t length = fgetxattr(from, name, nullptr, 0);
    std::vector<char> value(length > 0 ? static_cast<std::size_t>(length) : 1);
    const ssize_t read = length < 0 ? -1 : fgetxattr(from, name, value.data(), value.size());
    if (read < 0 || fsetxattr(to, name, value.data(), static_cast<std::size_t>(read), 0) != 0) {
      why = std::string("cannot keep the attribute ") + name + ": " + Reason(errno);
      return false;
    }
  }
  return true;
}

// Owner, group, mode and attributes of the original (open as from) onto to.
bool CopyMetadata(int from, const struct stat& st, int to, std::string& why) {
  struct stat now {};
  // A user who may not give the file away keeps it only where it is already theirs.
  if (fchown(to, st.st_uid, st.st_gid) != 0 &&
      (errno != EPERM || fstat(to, &now) != 0 || now.st_uid != st.st_uid ||
       now.st_gid != st.st_gid)) {
    why = "cannot keep the owner and group: " + Reason(errno == 0 ? EPERM : errno);
    return false;
  }
  // After the owner: a change of owner drops the set-user and set-group bits.
  if (fchmod(to, st.st_mode & 07777) != 0) {
    why = "cannot keep the mode: " + Reason(errno);
    return false;
  }
  return CopyAttributes(from, to, why);
}

} // namespace

std::string NameOf(const CodePage& page) { return IconvName(page); }

bool Knows(const CodePage& page) {
  return !Iconv("UTF-8", IconvName(page)).bad() && !Iconv(IconvName(page), "UTF-8").bad();
}

unsigned DefaultAnsiCodePage() { return 1252; }

Decoded ToUtf8(const CodePage& page, std::string_view bytes, std::string& utf8) {
  Decoded d;
  const bool utf16 = page.number == 1200 || page.number == 1201;
  std::size_t mark = 0;
  if (utf16 && bytes.size() >= 2 &&
      bytes.substr(0, 2) == (page.number == 1200 ? "\xFF\xFE" : "\xFE\xFF"))
    mark = 2;
  const std::string_view text = bytes.substr(mark);
  const std::string name = IconvName(page);
  Iconv in("UTF-8", name), out(name, "UTF-8");
  if (in.bad() || out.bad()) {
    d.why = "the system cannot convert from " + name;
    return d;
  }
  std::size_t consumed = 0;
  if (!in.Run(text, utf8, consumed)) {
    const bool cut = errno == EINVAL;
    d.offset = mark + consumed;
    d.why = utf16 ? (cut ? "the file ends inside a character at offset "
                         : "an unpaired surrogate at offset ") +
                        std::to_string(d.offset)
            : cut ? "the file ends inside a character at offset " + std::to_string(d.offset)
                  : "byte " + Hex(static_cast<unsigned char>(bytes[d.offset])) + " at offset " +
                        std::to_string(d.offset) + " is no character of " + name;
    return d;
  }
  std::string back;
  out.Run(utf8, back, consumed);
  if (back != text) {
    const auto at = std::mismatch(back.begin(), back.end(), text.begin(), text.end());
    d.offset = mark + static_cast<std::size_t>(at.second - text.begin());
    d.why = "the character at offset " + std::to_string(d.offset) + " does not convert back to " +
            name + " as it was";
    return d;
  }
  d.ok = true;
  return d;
}

bool ReadWhole(const fs::path& path, std::string& bytes, FileState& state, std::string& why) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat st {};
  if (fd < 0 || fstat(fd, &st) != 0) {
    why = Reason(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  bool ok = S_ISREG(st.st_mode);
  if (!ok) why = "not a regular file";
  bytes.assign(ok ? static_cast<std::size_t>(st.st_size) : 0, '\0');
  std::size_t done = 0;
  for (char extra; ok;) {
    // One byte past the size tells a file that grew while read.
    char* to = done < bytes.size() ? bytes.data() + done : &extra;
    const ssize_t n = read(fd, to, done < bytes.size() ? bytes.size() - done : 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      why = Reason(errno);
      ok = false;
    } else if (n == 0 || done >= bytes.size()) {
      ok = n == 0 && done == bytes.size();
      if (!ok) why = "changed while it was read";
      break;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  state = StateOf(st);
  close(fd);
  return ok;
}

bool Replace(const fs::path& path, const FileState& was, std::string_view content,
             const NativeString* backupSuffix, std::string& why) {
  // A link stays a link: the file it leads to is the one replaced.
  char real[PATH_MAX];
  if (realpath(path.c_str(), real) == nullptr) {
    why = Reason(errno);
    return false;
  }
  const fs::path target(real);
  const std::string name = target.filename().native();
  Folder folder(target.parent_path());
  const int original = open(real, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY);
  struct stat st {};
  if (folder.fd < 0 || original < 0 || fstat(original, &st) != 0) {
    why = Reason(errno);
    if (original >= 0) close(original);
    return false;
  }
  TempFile temp(folder.fd, name);
  bool ok =
      temp.Open(why) && temp.Write(content, why) && CopyMetadata(original, st, temp.Fd(), why);
  close(original);
  if (!ok) return false;

  const SignalsHeld held;
  if (ShouldFailStep("changed")) {
    const int fd = openat(folder.fd, name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0 && write(fd, "x", 1) == 1) close(fd);
  }
  struct stat now {};
  if (fstatat(folder.fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !(StateOf(now) == was)) {
    why = "changed since it was read: left as it is";
    return false;
  }
  std::string backup;
  if (backupSuffix) {
    backup = name + *backupSuffix;
    if (ShouldFailStep("link")
            ? (errno = EIO, true)
            : linkat(folder.fd, name.c_str(), folder.fd, backup.c_str(), 0) != 0) {
      why = errno == EEXIST ? "the backup " + backup + " exists: never overwritten"
                            : "cannot make the backup " + backup + ": " + Reason(errno);
      return false;
    }
  }
  if (ShouldFailStep("rename")
          ? (errno = EIO, true)
          : renameat(folder.fd, temp.Name().c_str(), folder.fd, name.c_str()) != 0) {
    why = "cannot rename the converted file over it: " + Reason(errno);
    if (!backup.empty()) unlinkat(folder.fd, backup.c_str(), 0); // a link to the same, untouched
    return false;
  }
  temp.Kept();
  // The rename itself on the disk; the file is converted whether or not this holds.
  fsync(folder.fd);
  return true;
}

bool WriteNew(const fs::path& path, std::string_view content, std::string& why) {
  std::error_code ec;
  const fs::path parent = path.parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  Folder folder(parent);
  if (ec || folder.fd < 0) {
    why = "cannot make the folder " + Shown(parent) + ": " + Reason(ec ? ec.value() : errno);
    return false;
  }
  const std::string name = path.filename().native();
  TempFile temp(folder.fd, name);
  if (!temp.Open(why) || !temp.Write(content, why)) return false;
  const SignalsHeld held;
  // A second name that must be new: never over an existing file.
  if (ShouldFailStep("rename")
          ? (errno = EIO, true)
          : linkat(folder.fd, temp.Name().c_str(), folder.fd, name.c_str(), 0) != 0) {
    why = errno == EEXIST ? "exists in the output folder: never overwritten"
                          : "cannot name the converted file: " + Reason(errno);
    return false;
  }
  fsync(folder.fd);
  return true; // the temporary name goes with temp
}

void CleanUpOnSignals() {
  // Past a file-size limit a write then fails with EFBIG instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = RemoveTempAndEnd;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

} // namespace charsift::cli
