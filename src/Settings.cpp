// The settings' variables and table, the code sets built from the lists,
// and the sample sizes read under them.
#include "Settings.h"

#include <atomic>

#include "AsciiText.h"
#include "ByteClasses.h"

namespace {

// One pass over the list: every "blank, two upper-case hex digits, blank"
// in the list padded with a blank on each side is a needle IsCodeListed
// would find.
constexpr CodeSet ListedCodesOf(std::string_view list) {
  CodeSet set{};
  const auto at = [&](std::size_t i) { // in the padded list
    return i == 0 || i == list.size() + 1 ? ' ' : list[i - 1];
  };
  for (std::size_t i = 0; i + 3 < list.size() + 2; ++i) {
    if (at(i) != ' ' || at(i + 3) != ' ') continue;
    // Code lists are written with upper-case digits only.
    const int high = HexDigit(at(i + 1), HexCase::UpperOnly);
    const int low = HexDigit(at(i + 2), HexCase::UpperOnly);
    if (high >= 0 && low >= 0) set.has[high * 16 + low] = true;
  }
  return set;
}

// The binary codes under one binary_ignore list, as IsBinaryCode gives them.
constexpr CodeSet BinaryCodesOf(std::string_view ignore) {
  const CodeSet listed = ListedCodesOf(ignore);
  CodeSet binary{};
  for (int code = 0; code < 32; ++code)
    binary.has[code] = IsControlCode(code) && !listed.has[code];
  return binary;
}

} // namespace

// The integers are constant-initialised: they hold their defaults before
// any code of the module runs. The lists are constructed ahead of every
// ordinary initialiser (the module entry's among them), whatever the order
// of the sources in the link.
#define CHARSIFT_DEFINE_INTEGER(key, value) constinit int key = value;
#define CHARSIFT_DEFINE_LIST(key, value) CHARSIFT_EARLY_INIT std::string key = value;
CHARSIFT_SETTINGS(CHARSIFT_DEFINE_INTEGER, CHARSIFT_DEFINE_LIST)
#undef CHARSIFT_DEFINE_INTEGER
#undef CHARSIFT_DEFINE_LIST

#define CHARSIFT_INTEGER_ROW(key, value) {#key, &key, nullptr, value, nullptr},
#define CHARSIFT_LIST_ROW(key, value) {#key, nullptr, &key, 0, value},
constexpr SettingRow SettingsTable[kSettingCount] = {
    CHARSIFT_SETTINGS(CHARSIFT_INTEGER_ROW, CHARSIFT_LIST_ROW)};
#undef CHARSIFT_INTEGER_ROW
#undef CHARSIFT_LIST_ROW

// The sets hold the defaults' before any code of the module runs, too.
#define CHARSIFT_LIST_DEFAULT(key, value) constexpr std::string_view key##_default = value;
#define CHARSIFT_SKIP_INTEGER(key, value)
CHARSIFT_SETTINGS(CHARSIFT_SKIP_INTEGER, CHARSIFT_LIST_DEFAULT)
#undef CHARSIFT_LIST_DEFAULT
#undef CHARSIFT_SKIP_INTEGER
constinit CodeSet BinaryCodeSet = BinaryCodesOf(binary_ignore_default);
constinit CodeSet OemIgnoredSet = ListedCodesOf(oem_ignore_default);

void ApplyListSettings() {
  BinaryCodeSet = BinaryCodesOf(binary_ignore);
  OemIgnoredSet = ListedCodesOf(oem_ignore);
}

void ResetSettings() {
  for (const SettingRow& row : SettingsTable) {
    if (row.integer) *row.integer = row.integerDefault;
    if (row.list) *row.list = row.listDefault;
  }
  ApplyListSettings();
}

void ReleaseListSettings() {
  for (const SettingRow& row : SettingsTable)
    if (row.list) std::string().swap(*row.list);
}

CodeSet ListedCodes(std::string_view list) { return ListedCodesOf(list); }

// ---- Sample sizes ---------------------------------------------------------------
std::size_t Utf8BufferSize() {
  // Concurrent clamps store the same value; the atomic access keeps them
  // from being a data race.
  std::atomic_ref<int> setting(utf8_buffer_size_kb);
  const int kb = setting.load(std::memory_order_relaxed);
  const int clamped = ClampSetting(kb, 1, kMaxSampleKb);
  if (clamped != kb) setting.store(clamped, std::memory_order_relaxed);
  return static_cast<std::size_t>(clamped) * kBytesPerKb;
}

std::size_t TextSampleSize(int sizeKb) {
  // A negative size is no sample at all, like 0; a huge one is capped.
  if (sizeKb <= 0) return 0;
  return static_cast<std::size_t>(ClampSetting(sizeKb, 1, kMaxSampleKb)) * kBytesPerKb;
}

std::size_t CyrillicBufferSize(int sizeKb) {
  return static_cast<std::size_t>(ClampSetting(sizeKb, 1, kMaxCyrillicSampleKb)) * kBytesPerKb;
}

bool ReachesCyrillicMinimum(std::uint32_t bytesRead) {
  return static_cast<std::int64_t>(bytesRead) >= static_cast<std::int64_t>(rus_min_size);
}

// ---- The sharper rules ------------------------------------------------------------
int DrawRun() { return ClampSetting(oem_draw, 0, kMaxDrawRun); }

int VowelPercent() { return ClampSetting(rus_vowels, 0, 100); }

bool MixedWordsOnly() { return rus_word_mixed > 0; }
