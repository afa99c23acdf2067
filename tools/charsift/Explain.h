// --explain: the steps of the Encoding chain for each path, with the numbers
// behind each answer, computed by the detection code linked into charsift.
#pragma once

#include <cstdio>
#include <filesystem>
#include <vector>

// Explains every path under the settings file beside modulePath (the one the
// module reads) and writes the steps to out. Returns the exit status.
int Explain(const std::filesystem::path& modulePath,
            const std::vector<std::filesystem::path>& paths, std::FILE* out);
