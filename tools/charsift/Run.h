// One run of charsift, from the process's arguments to its exit status, and
// the steps that the listing and --explain share.
#pragma once

#include <vector>

#include "Module.h"
#include "Options.h"
#include "Walk.h"

namespace charsift::cli {

// The arguments after the program's name; each system's entry hands them over.
int Main(const std::vector<fs::path>& args);

// Every list is opened before anything is printed: false, told, when one
// cannot be, which ends the run at once.
bool OpenLists(const Options& o, PathLists& lists);
// Tells a list that failed part way; true when one did.
bool ListsFailed(const PathLists& lists);
std::vector<fs::path> PathsOf(const Options& o);
// Whether a regular file opens: the reason of its row when it does not.
void CheckRead(Item& item);
// Why an item cannot be read, on standard error.
void Tell(const Item& item);

// --explain: the paths the listing would give rows, walked the same way; a
// path the listing tells a reason for gets the same reason and status here.
// Each explanation is checked against the module's own answer.
int RunExplain(const Options& o, const fs::path& moduleFile, const Module& module);

} // namespace charsift::cli
