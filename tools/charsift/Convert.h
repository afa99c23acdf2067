// What --to-utf8 makes of a file: the code page its Encoding label stands
// for, and the checks on the whole file that the label's sample could not make.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ConvertPlatform.h"

namespace charsift::cli {

// What is done with a file whose label is known.
enum class Plan {
  Convert,     // from the page
  AlreadyUtf8, // UTF-8 with or without a mark: nothing to write
  Skip,        // not text (Binary, RTF, a folder): the reason says which
};

struct LabelPlan {
  Plan plan = Plan::Skip;
  CodePage page;      // when Convert
  std::string reason; // when Skip
  bool ansi = false;  // "ANSI": a file of ASCII only is UTF-8 as it is
};

// The plan for an Encoding label ("ANSI Ru", "DOS", "UTF-16 LE", "" for a
// folder...); from, when set, replaces the page of every text label.
LabelPlan PlanFor(const std::string& label, unsigned ansiCodePage, unsigned dosCodePage,
                  const std::optional<CodePage>& from);

// The first control code that marks a binary file (the detection's own
// set, under the settings in force), as "control code 00 at offset N", or
// "" when there is none: a file can be text in its sample and binary after.
std::string BinaryCodeIn(const CodePage& page, std::string_view bytes);

// Windows-1251 and code page 866 text that reads as no Cyrillic language
// does: why, with the --from that may fit, or "".
std::string ImplausibleCyrillic(const CodePage& page, std::string_view bytes);

} // namespace charsift::cli
