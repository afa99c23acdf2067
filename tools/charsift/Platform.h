// What differs between Linux and Windows for the host: names as the module
// takes them and as they print, folder listings, why a path cannot be read,
// the terminal and the processors.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ContPlug.h"

namespace host {

namespace fs = std::filesystem;
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

// Why a regular file cannot be opened for reading, or "" when it can.
std::string ReadProblem(const fs::path& path);

// The identity of a folder (following links), for telling a loop; empty when unknown.
std::string FolderIdentity(const fs::path& folder);

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

#ifdef _WIN32
std::string Utf8(const std::wstring& wide);
#endif

} // namespace host
