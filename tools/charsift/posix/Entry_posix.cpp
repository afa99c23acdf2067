// The process's entry off Windows: the arguments as the bytes they are.
#include "Run.h"

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  return charsift::cli::Main(args);
}
