// --explain: the steps of the Encoding chain for each path, with the numbers
// behind each answer, as the chain's own trace records them.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "Charsift.h"
#include "FsPath.h"

// Writes the steps of one trace and the label it ends in to out.
void WriteTrace(const ChainTrace& trace, std::FILE* out);

// The module's Encoding for a path as its exports give it: "" for field
// empty, "?" for any other failure.
using ModuleAnswer = std::function<std::string(const charsift::cli::fs::path&)>;

// Explains every path under the settings file beside modulePath (the one the
// module reads), runs the chain linked into charsift with a trace, writes the
// trace to out and checks its label against moduleAnswer. Returns the exit
// status: kExitExplainDiffers when an answer differs, else kExitTrouble when
// a path is missing or the output fails, else kExitOk.
int Explain(const charsift::cli::fs::path& modulePath,
            const std::vector<charsift::cli::fs::path>& paths, std::FILE* out,
            const ModuleAnswer& moduleAnswer);
