// --to-utf8's decisions on a file: its label's code page and the checks on
// its whole content (binary codes past the sample, Cyrillic that is none).
#include "Convert.h"

#include <algorithm>

#include "ByteClasses.h"
#include "Charsift.h"
#include "CyrillicTally.h"
#include "Settings.h"

namespace charsift::cli {

namespace {

constexpr unsigned kWindows1251 = 1251, kCp866 = 866, kUtf16Le = 1200, kUtf16Be = 1201;

// Russian, Ukrainian, Bulgarian and Serbian text has about a third of its
// letters among а, е, и, о (Russian prose: 35%); KOI8-R read as
// Windows-1251 has 17% (its е and н fall there), Greek 9%. Below the mark
// the text is taken for another code page. Too few letters say nothing.
constexpr double kLeastVowelShare = 0.22;
constexpr std::int64_t kFewestLetters = 16;
// KOI8-R puts its small letters where Windows-1251 has capitals: its text
// comes out 99% capitals, Russian prose 1%.
constexpr double kMostCapitalShare = 0.5;

std::string Hex(unsigned code) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", code);
  return text;
}

} // namespace

LabelPlan PlanFor(const std::string& label, unsigned ansiCodePage, unsigned dosCodePage,
                  const std::optional<CodePage>& from) {
  LabelPlan p;
  const auto is = [&](Label l) { return label == LabelText(l); };
  p.plan = Plan::Convert;
  if (is(Label::AnsiRu)) {
    p.page.number = kWindows1251;
  } else if (is(Label::DosRu)) {
    p.page.number = kCp866;
  } else if (is(Label::Dos)) {
    p.page.number = dosCodePage;
  } else if (is(Label::Ansi)) {
    p.page.number = ansiCodePage;
    p.ansi = true;
  } else if (is(Label::Utf16Le)) {
    p.page.number = kUtf16Le;
  } else if (is(Label::Utf16Be)) {
    p.page.number = kUtf16Be;
  } else if (is(Label::Utf8Bom) || is(Label::Utf8NoBom)) {
    p.plan = Plan::AlreadyUtf8;
    return p;
  } else {
    p.plan = Plan::Skip;
    p.reason = is(Label::Binary) ? "binary"
               : is(Label::Rtf)  ? "RTF, a format of its own"
               : label.empty()   ? "a folder"
                                 : "no label";
    return p;
  }
  if (from) {
    p.page = *from;
    p.ansi = false;
  }
  return p;
}

std::string BinaryCodeIn(const CodePage& page, std::string_view bytes) {
  const auto told = [](unsigned code, std::size_t at) {
    return "control code " + Hex(code) + " at offset " + std::to_string(at) + ": binary";
  };
  if (page.number == kUtf16Le || page.number == kUtf16Be) {
    const std::size_t high = page.number == kUtf16Be ? 0 : 1;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      const auto unit = static_cast<unsigned>(static_cast<unsigned char>(bytes[i + high]) << 8 |
                                              static_cast<unsigned char>(bytes[i + 1 - high]));
      if (unit < 256 && BinaryCodeSet.has[unit]) return told(unit, i);
    }
    return "";
  }
  // In pieces the sample's counter takes (its sizes are 32 bits).
  constexpr std::size_t kPiece = std::size_t{1} << 30;
  for (std::size_t from = 0; from < bytes.size(); from += kPiece) {
    const auto count = static_cast<DWORD>(std::min(kPiece, bytes.size() - from));
    const TextSampleFacts facts =
        InspectTextBytes(reinterpret_cast<const BYTE*>(bytes.data() + from), count, false);
    if (facts.binaryAt >= 0)
      return told(facts.binaryCode, from + static_cast<std::size_t>(facts.binaryAt));
  }
  return "";
}

std::string ImplausibleCyrillic(const CodePage& page, std::string_view bytes) {
  if (page.number != kWindows1251 && page.number != kCp866) return "";
  const bool oem = page.number == kCp866;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const CyrillicTally tally = TallyCyrillic(data, bytes.size(), {0, true, false});
  const std::int64_t letters = tally.letters[oem];
  if (letters < kFewestLetters ||
      static_cast<double>(tally.vowels[oem]) >= kLeastVowelShare * static_cast<double>(letters))
    return "";
  if (!oem) {
    // The case bit of a 1251 letter: clear for a capital.
    const auto capitals = std::count_if(data, data + bytes.size(), [](std::uint8_t b) {
      return IsCyrillicLetter(b, false) && (b & kVowelCase) == 0;
    });
    if (static_cast<double>(capitals) > kMostCapitalShare * static_cast<double>(letters))
      return "reads as Windows-1251 mostly in capitals and with few vowels: KOI8-R? "
             "try --from koi8-r";
  }
  return "reads as " + NameOf(page) +
         " with few of Cyrillic's commonest vowels: another code page? name it with --from "
         "(e.g. --from koi8-r, --from iso-8859-7)";
}

} // namespace charsift::cli
