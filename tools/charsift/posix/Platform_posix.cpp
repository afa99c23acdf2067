// The host's Linux half: names as bytes, listings through descriptors,
// reasons from errno, the terminal and the processors.
#include "Platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>

#include "Charsift.h"
#include "ModuleNames.h"
#include "ReadAt.h"
#include "platform/FileNames.h"

namespace charsift::cli {

namespace {

std::string Reason(int error) { return error == ELOOP ? "symbolic link loop" : ErrnoReason(error); }

Kind KindOf(mode_t mode) {
  return S_ISREG(mode) ? Kind::File : S_ISDIR(mode) ? Kind::Folder : Kind::Other;
}

Kind KindOfEntry(unsigned char type) {
  switch (type) {
  case DT_REG:
    return Kind::File;
  case DT_DIR:
    return Kind::Folder;
  case DT_LNK:
    return Kind::Link;
  case DT_UNKNOWN:
    return Kind::Unknown;
  default:
    return Kind::Other;
  }
}

// The entries of dir, which this closes.
bool ReadEntries(DIR* dir, std::vector<Entry>& entries, std::string& why) {
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    const char* name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    entries.push_back({name, KindOfEntry(entry->d_type)});
  }
  const int error = errno;
  closedir(dir);
  if (error != 0) {
    why = Reason(error);
    return false;
  }
  return true;
}

// The kind of what st describes, and for a link of what it points to.
Look LookFrom(const struct stat& st, const std::function<int(struct stat&)>& follow) {
  Look look;
  look.exists = true;
  look.target = KindOf(st.st_mode);
  if (!S_ISLNK(st.st_mode)) return look;
  look.link = true;
  struct stat target;
  if (follow(target) != 0) {
    look.target = Kind::Unknown;
    look.why = errno == ENOENT ? "broken symbolic link" : Reason(errno);
    return look;
  }
  look.target = KindOf(target.st_mode);
  return look;
}

std::string IdentityOf(const struct stat& st) {
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

} // namespace

HostString ToHost(const fs::path& path) { return charsift::names::Utf16FromBytes(path.native()); }
std::u16string Utf16Of(const fs::path& path) { return ToHost(path); }
std::string Shown(const fs::path& path) { return path.native(); }
fs::path FromListBytes(const std::string& bytes) { return fs::path(bytes); }

const char kSeparators[] = "/";
const bool kNamesMayEndWithCarriageReturn = true;
const std::size_t kLongestPath = PATH_MAX - 1; // its terminator is counted in PATH_MAX

std::vector<fs::path> Expanded(const fs::path& path) { return {path}; }

IniFileName SettingsName(const fs::path& path) { return IniFileName(path.native()); }

fs::path BesideModule(const fs::path& modulePath, const char* extension) {
  return ReplaceExtension(modulePath.native(), extension);
}

void LoadModuleSettings(const fs::path& modulePath) {
  if (!modulePath.empty()) LoadSettingsForModule(modulePath.native());
}

std::string LinkTarget(const fs::path& link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? "?" : Shown(target);
}

fs::path Child(const fs::path& folder, const NativeString& name) {
  const NativeString& base = folder.native();
  return fs::path(base + (!base.empty() && base.back() == '/' ? "" : "/") + name);
}

bool ListFolder(const fs::path& folder, std::vector<Entry>& entries, std::string& why) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    why = Reason(errno);
    return false;
  }
  return ReadEntries(dir, entries, why);
}

Look LookAt(const fs::path& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    Look look;
    look.why = Reason(errno);
    return look;
  }
  return LookFrom(st, [&](struct stat& target) { return stat(path.c_str(), &target); });
}

OpenFolder::~OpenFolder() {
  if (fd_ >= 0) close(fd_);
}

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// The entry name of the folder open as parentFd, or path when there is none (-1).
int OpenFolderAt(int parentFd, const fs::path& path, const NativeString& name) {
  return parentFd >= 0 ? openat(parentFd, name.c_str(), kFolderFlags)
                       : open(path.c_str(), kFolderFlags);
}

} // namespace

bool OpenFolder::Open(const OpenFolder* parent, const fs::path& path, const NativeString& name,
                      std::string& why) {
  fd_ = OpenFolderAt(parent ? parent->fd_ : -1, path, name);
  if (fd_ < 0) why = Reason(errno);
  return fd_ >= 0;
}

void OpenFolder::Release() {
  share_.reset(); // the reads of its entries in flight keep their own
  kept_ = Identity();
  close(fd_);
  fd_ = -1;
  released_ = true;
}

bool OpenFolder::Retake(const OpenFolder* child, const OpenFolder* parent, const fs::path& path,
                        const NativeString& name) {
  const int fd = child ? openat(child->fd_, "..", kFolderFlags)
                       : OpenFolderAt(parent ? parent->fd_ : -1, path, name);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && !kept_.empty() && IdentityOf(st) == kept_) {
    fd_ = fd;
    released_ = false;
    return true;
  }
  if (fd >= 0) close(fd);
  return false;
}

bool OpenFolder::List(std::vector<Entry>& entries, std::string& why) const {
  // The listing gets a descriptor of its own: closedir closes it, the folder stays open.
  const int fd = dup(fd_);
  DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
  if (dir == nullptr) {
    why = Reason(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  rewinddir(dir);
  return ReadEntries(dir, entries, why);
}

Look OpenFolder::LookAt(const fs::path&, const NativeString& name) const {
  struct stat st;
  if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    Look look;
    look.why = Reason(errno);
    return look;
  }
  return LookFrom(st, [&](struct stat& target) { return fstatat(fd_, name.c_str(), &target, 0); });
}

std::string OpenFolder::Identity() const {
  struct stat st;
  return fstat(fd_, &st) == 0 ? IdentityOf(st) : "";
}

namespace {

std::atomic<int> sharedFolders{0};

// File systems whose regular files deliver every byte asked for up to their
// end; elsewhere (network, FUSE, procfs, sysfs) the size is asked too.
bool ReadsWhole(decltype(statfs::f_type) type) {
  switch (static_cast<unsigned long>(type)) {
  case 0xEF53:     // ext2, ext3, ext4
  case 0x58465342: // XFS
  case 0x9123683E: // Btrfs
  case 0x01021994: // tmpfs
  case 0xF2F52010: // F2FS
  case 0x794C7630: // overlayfs
  case 0x2FC12FC1: // ZFS
  case 0x73717368: // SquashFS
  case 0xE0F5E1E2: // EROFS
  case 0x4D44:     // FAT
  case 0x2011BAB0: // exFAT
  case 0x7366746E: // NTFS
  case 0x9660:     // ISO 9660
    return true;
  default:
    return false;
  }
}

} // namespace

SharedFolder::~SharedFolder() {
  if (fd < 0) return;
  close(fd);
  --sharedFolders;
}

unsigned DescriptorShare() {
  static const unsigned share = [] {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 256u;
    return static_cast<unsigned>(std::clamp<rlim_t>(limit.rlim_cur / 4, 1, 256));
  }();
  return share;
}

FolderShare OpenFolder::Share() const {
  // Folders shared with reads at once: each holds a descriptor.
  if (share_ || fd_ < 0 || sharedFolders.load() >= static_cast<int>(DescriptorShare()))
    return share_;
  auto shared = std::make_shared<SharedFolder>();
  shared->fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (shared->fd < 0) return nullptr;
  ++sharedFolders;
  struct statfs fsInfo;
  shared->readsWhole = fstatfs(shared->fd, &fsInfo) == 0 && ReadsWhole(fsInfo.f_type);
  share_ = std::move(shared);
  return share_;
}

bool TooLongForModule(const fs::path& path) { return path.native().size() >= PATH_MAX; }

std::string ReadProblem(const fs::path& path) {
  // A real open and a one-byte read: access() grants root everything, and
  // only a read shows a file whose content cannot be had (EIO).
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Reason(errno);
  char byte;
  ssize_t n;
  do
    n = pread(fd, &byte, 1, 0);
  while (n < 0 && errno == EINTR);
  const int error = errno;
  close(fd);
  return n < 0 ? Reason(error) : "";
}

// The layer's open takes regular files alone.
bool IsDiskFile(void*) { return true; }

std::string FolderIdentity(const fs::path& folder) {
  struct stat st;
  return stat(folder.c_str(), &st) == 0 ? IdentityOf(st) : "";
}

std::string Library::Open(const fs::path& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* error = handle_ ? nullptr : dlerror();
  return handle_ ? "" : error ? error : "unknown error";
}

void* Library::Find(const char* name) const { return dlsym(handle_, name); }

std::vector<fs::path> ModulePlacesElsewhere(const fs::path& selfDir) {
  return {(selfDir / ".." / "lib" / "charsift" / CHARSIFT_MODULE_WDX).lexically_normal()};
}

const char kModuleBesideSelfHelp[] =
    "" CHARSIFT_MODULE_WDX ", else\n"
    "                          " CHARSIFT_MODULE_SO ", beside charsift, else\n"
    "                          ../lib/charsift/" CHARSIFT_MODULE_WDX " from there)\n";

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalColumns() {
  winsize size{};
  if (ioctl(2, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return std::max(20, static_cast<int>(size.ws_col));
}

unsigned UsableProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

fs::path SelfDir() {
  std::error_code ec;
  return fs::read_symlink("/proc/self/exe", ec).parent_path();
}

void BinaryStdin() {}
void BeginConsoleOutput() {}
void EndConsoleOutput() {}

std::FILE* OpenList(const fs::path& path, std::string& why) {
  if (path == "-") return stdin;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  struct stat st;
  if (file != nullptr && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file);
    file = nullptr;
    errno = EISDIR;
  }
  if (file == nullptr) why = errno == EISDIR ? "is a folder" : Reason(errno);
  return file;
}

namespace {

std::atomic<std::size_t> lineWidth{0};

void ClearAndEnd(int signal) {
  static const char spaces[] = "                                                                ";
  std::size_t left = lineWidth.load();
  ssize_t ignored = write(2, "\r", 1);
  while (left > 0) {
    const std::size_t n = std::min(left, sizeof spaces - 1);
    ignored = write(2, spaces, n);
    left -= n;
  }
  ignored = write(2, "\r", 1);
  (void)ignored;
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

} // namespace

void ClearLineOnSignals() {
  struct sigaction action {};
  action.sa_handler = ClearAndEnd;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM})
    sigaction(signal, &action, nullptr);
}

void NoteLineWidth(std::size_t width) { lineWidth.store(width); }

} // namespace charsift::cli
