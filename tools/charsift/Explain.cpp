#include "Explain.h"

int Explain(const std::filesystem::path&, const std::vector<std::filesystem::path>&, std::FILE*) {
  std::fputs("charsift: --explain is not built yet\n", stderr);
  return 2;
}
