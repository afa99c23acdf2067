// Both fields of a regular file from one open, one size query and one read,
// by the probes' own rules on slices of that read. charsift answers so; the
// module keeps its probe-by-probe opens, which the host's contract describes.
#pragma once

#include "Charsift.h"

struct SingleOpenAnswer {
  const char* type = nullptr;     // set when asked for
  const char* encoding = nullptr; // set when asked for
};

// The answers the module's exports give for path under the settings in
// force, or false when the path is no regular file that opens (a folder, a
// drive root, a pattern, a device, a failure): the exports answer those.
bool AnswerBySingleOpen(const WideString& path, bool wantType, bool wantEncoding,
                        SingleOpenAnswer& answer);
