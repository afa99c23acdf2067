// What differs between Linux and Windows for the host: names as the module
// takes them and as they print, folder listings, why a path cannot be read,
// loading the module, the terminal and the processors. CMake picks the
// system's half: posix/ or win32/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CIniFile.h"
#include "ContPlug.h"
#include "FsPath.h"

namespace charsift::cli {

using HostString = std::basic_string<ContPlugChar>;
using NativeString = fs::path::string_type;

// The name as the module takes it: UTF-16. Off Windows a name's bytes that
// are no valid UTF-8 travel as U+DC80 plus the byte, the way the module's
// own layer maps them back.
HostString ToHost(const fs::path& path);
// The same UTF-16 as char16_t, for JSON's escapes.
std::u16string Utf16Of(const fs::path& path);
// The name as table and tsv print it: off Windows its own bytes, on Windows
// its UTF-8 (a lone surrogate in its generalized form).
std::string Shown(const fs::path& path);
// A path read from a list: off Windows the bytes themselves, on Windows the
// inverse of Shown.
fs::path FromListBytes(const std::string& bytes);
// A settings file's name as the module's reader takes it: on Windows its
// UTF-16, which any folder has; elsewhere its bytes.
IniFileName SettingsName(const fs::path& path);
// The file beside the module that differs from it in the extension alone
// (".ini", ".example.ini"), as the module names it.
fs::path BesideModule(const fs::path& modulePath, const char* extension);
// Loads the settings the module at modulePath reads, as it reads them: on
// Windows through its UTF-16 path, which any folder has.
void LoadModuleSettings(const fs::path& modulePath);

// The characters that separate the folders of a path as Shown gives it. A
// backslash among them (Windows) is never part of a name.
extern const char kSeparators[];
// The most bytes a path of a list may have: a longer entry names nothing.
extern const std::size_t kLongestPath;
// Whether a name may end with a carriage return. Where none may (Windows),
// one that ends a list's line is the list's DOS line end.
extern const bool kNamesMayEndWithCarriageReturn;

// The paths a path given on the command line stands for. Windows programs
// expand a * or ? in its last part themselves (sorted, the path itself when
// a file of that very name exists or nothing matches); elsewhere the shell
// has done so, and it is the path alone.
std::vector<fs::path> Expanded(const fs::path& path);

// The separator the host puts between a folder and an entry of it.
fs::path Child(const fs::path& folder, const NativeString& name);

// What a folder listing tells of an entry without asking further.
enum class Kind { Unknown, File, Folder, Link, Other };

struct Entry {
  NativeString name;
  Kind kind;
};

// The entries of a folder, unsorted; false with the reason when it cannot be read.
bool ListFolder(const fs::path& folder, std::vector<Entry>& entries, std::string& why);

// What a path is, following a link only to tell what it points to.
struct Look {
  bool exists = false;
  bool link = false;
  Kind target = Kind::Unknown; // File, Folder or Other; Unknown when it cannot be told
  std::string why;             // why the path or a link's target cannot be told
};
Look LookAt(const fs::path& path);

// A C library error (errno) in the tool's own words where the system's
// ("Is a directory", "Illegal seek") would puzzle; else the system's.
std::string ErrnoReason(int error);
// Why a regular file cannot be opened or read, or "" when it can.
std::string ReadProblem(const fs::path& path);
// Whether a file the probes' open gave (its HANDLE) is one on a disk: on
// Windows that open also takes devices and pipes.
bool IsDiskFile(void* handle);

// Where a symbolic link points, as the table shows it; "?" when it cannot be read.
std::string LinkTarget(const fs::path& link);

// A list of paths opened to read as bytes ("-": standard input); null with
// the system's reason, also for a folder.
std::FILE* OpenList(const fs::path& path, std::string& why);

// The identity of a folder (following links), for telling a loop; empty when unknown.
std::string FolderIdentity(const fs::path& folder);

// A folder's descriptor that the reads of its entries share, so that they
// may outlive the walk's hold on the folder. Windows reads by path: none.
struct SharedFolder {
  int fd = -1;
  bool readsWhole = false; // its file system cuts a read short only at a file's end
  SharedFolder() = default;
  SharedFolder(const SharedFolder&) = delete;
  SharedFolder& operator=(const SharedFolder&) = delete;
  ~SharedFolder();
};
using FolderShare = std::shared_ptr<const SharedFolder>;

// A folder being walked. Off Windows it is held open and its entries are
// reached through its descriptor, so a tree's depth is no limit.
class OpenFolder {
public:
  OpenFolder() = default;
  ~OpenFolder();
  OpenFolder(const OpenFolder&) = delete;
  OpenFolder& operator=(const OpenFolder&) = delete;
  // The folder at path: the entry name of parent, or path itself when parent is null.
  bool Open(const OpenFolder* parent, const fs::path& path, const NativeString& name,
            std::string& why);
  bool List(std::vector<Entry>& entries, std::string& why) const;    // unsorted
  Look LookAt(const fs::path& path, const NativeString& name) const; // of an entry
  std::string Identity() const;                                      // as FolderIdentity
  // The descriptor for the reads of its entries; null on Windows, and where
  // so many folders are shared already that more could run out of descriptors.
  FolderShare Share() const;
  // Lets go of the descriptor while the walk is deeper, keeping the folder's
  // identity (Windows holds none); Retake takes it again: as the ".." of
  // child, else as the entry name of parent, else by path. False unless it
  // is the same folder.
  void Release();
  bool Released() const { return released_; }
  bool Retake(const OpenFolder* child, const OpenFolder* parent, const fs::path& path,
              const NativeString& name);

private:
  fs::path path_;         // Windows lists a folder by its path
  int fd_ = -1;           // elsewhere it is held open
  bool released_ = false; // and may be let go of for a while
  std::string kept_;      // the identity it must have when taken again
  mutable FolderShare share_;
};

// A path longer than the module can take: it is told, and the walk goes on.
bool TooLongForModule(const fs::path& path);

// A module loaded by the system's loader; it stays loaded until the process ends.
class Library {
public:
  std::string Open(const fs::path& path); // "" or the loader's reason
  void* Find(const char* name) const;

private:
  void* handle_ = nullptr;
};
// Where charsift looks for the module besides its own folder, given that
// folder: a package puts it under lib.
std::vector<fs::path> ModulePlacesElsewhere(const fs::path& selfDir);
// The end of --help's --module entry: the module charsift looks for beside itself.
extern const char kModuleBesideSelfHelp[];

bool IsTerminal(std::FILE* stream);
int TerminalColumns(); // of standard error, 80 when unknown
unsigned UsableProcessors();
fs::path SelfDir();
// Standard input as bytes, not text.
void BinaryStdin();
// On Windows, standard output and error that are a console get their UTF-8
// written as UTF-16 from here on, leaving the console's code page alone;
// the End writes out what is left (call it before the process ends).
void BeginConsoleOutput();
void EndConsoleOutput();

// On SIGINT or SIGTERM, clears the last width characters drawn on standard
// error's line, then ends by the signal as it would have without charsift's help.
void ClearLineOnSignals();
void NoteLineWidth(std::size_t width);

} // namespace charsift::cli
