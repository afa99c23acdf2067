// The process's entry on Windows: the arguments as UTF-16, whatever the
// ANSI code page (the tool links with -municode).
#include "Run.h"

int wmain(int argc, wchar_t** argv) {
  std::vector<charsift::cli::fs::path> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  return charsift::cli::Main(args);
}
