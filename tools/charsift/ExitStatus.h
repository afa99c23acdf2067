// charsift's exit statuses, as --help and the manual page tell them.
#pragma once

namespace charsift::cli {

enum ExitStatus : int {
  kExitOk = 0, // every path read; --check-settings: no value ignored
  // A path or a list missing or unreadable, or the output not written;
  // --check-settings: a value ignored or wrapped round.
  kExitTrouble = 1,
  kExitUsage = 2,
  kExitNoModule = 3,       // the module not loaded
  kExitExplainDiffers = 4, // --explain's chain differs from the module's answer
};

} // namespace charsift::cli
