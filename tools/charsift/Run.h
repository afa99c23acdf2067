// One run of charsift, from the process's arguments to its exit status, and
// the steps that the listing and --explain share.
#pragma once

#include <vector>

#include "Engine.h"
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
// The cells of the queried fields for item: from engine for a regular file
// it opens (engine null: always the module's exports), else from module,
// with the reason a regular file cannot be read.
void AnswerItem(const Engine* engine, const Module& module, const std::vector<int>& queried,
                Item& item);
// Why an item cannot be read, on standard error.
void Tell(const Item& item);

// --explain: the paths the listing would give rows, walked the same way; a
// path the listing tells a reason for gets the same reason and status here.
// Each explanation is checked against the module's own answer.
int RunExplain(const Options& o, const fs::path& moduleFile, const Module& module);

// --to-utf8: each path the listing would give a row converted, skipped or
// refused, a row each; 1 when any is refused.
int RunConvert(const Options& o, const fs::path& moduleFile, const Module& module);

} // namespace charsift::cli
