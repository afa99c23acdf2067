// The settings: every key and its built-in default written once, the
// process-wide variables made from that list, the code sets built from the
// two lists, and the sample sizes the probes read under them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A list setting's constructor runs before the ordinary initialisers of
// every source, so the module entry may read the settings from any of them.
#define CHARSIFT_EARLY_INIT __attribute__((init_priority(101)))

// Every setting, written once, in the order the settings file is read: its
// key (the variable's name) and its built-in default, an integer (INTEGER)
// or a code list (LIST). The declarations, the definitions and SettingsTable
// are all made from this list. The three keys after the first twelve sharpen
// the DOS and Cyrillic tests; at 0 they are off and every answer is what the
// twelve alone give.
#define CHARSIFT_SETTINGS(INTEGER, LIST)                                                           \
  INTEGER(text_buffer_size_kb, 1)                                                                  \
  INTEGER(utf8_buffer_size_kb, 64)                                                                 \
  LIST(binary_ignore, "")                                                                          \
  INTEGER(oem_enabled, 1)                                                                          \
  INTEGER(oem_buffer_size_kb, 1)                                                                   \
  INTEGER(oem_percent, 18)                                                                         \
  LIST(oem_ignore, "AB BB")                                                                        \
  INTEGER(rus_enabled, 1)                                                                          \
  INTEGER(rus_buffer_size_kb, 2)                                                                   \
  INTEGER(rus_min_size, 8)                                                                         \
  INTEGER(rus_percent, 30)                                                                         \
  INTEGER(rus_word_len, 0)                                                                         \
  INTEGER(oem_draw, 0)                                                                             \
  INTEGER(rus_vowels, 0)                                                                           \
  INTEGER(rus_word_mixed, 0)

#define CHARSIFT_DECLARE_INTEGER(key, value) extern int key;
#define CHARSIFT_DECLARE_LIST(key, value) extern std::string key;
CHARSIFT_SETTINGS(CHARSIFT_DECLARE_INTEGER, CHARSIFT_DECLARE_LIST)
#undef CHARSIFT_DECLARE_INTEGER
#undef CHARSIFT_DECLARE_LIST

// One row per setting, in the order of CHARSIFT_SETTINGS: its key, its
// variable and its built-in default.
struct SettingRow {
  const char* key;
  int* integer; // null for a list
  std::string* list;
  int integerDefault;
  const char* listDefault;
};
#define CHARSIFT_COUNT_SETTING(key, value) +1
constexpr int kSettingCount = 0 CHARSIFT_SETTINGS(CHARSIFT_COUNT_SETTING, CHARSIFT_COUNT_SETTING);
#undef CHARSIFT_COUNT_SETTING
extern const SettingRow SettingsTable[kSettingCount];

// Puts every setting back to its built-in default.
void ResetSettings();
// Builds the code sets the probes read from the two list settings. The
// settings load and ResetSettings call it; whatever else assigns a list
// calls it after.
void ApplyListSettings();
// Releases the two list settings (module unload).
void ReleaseListSettings();

// ---- Code lists ---------------------------------------------------------------
// Which of the 256 codes a code list names: every entry of two upper-case
// hex digits with a blank or an end of the list on each side.
struct CodeSet {
  bool has[256];
};
CodeSet ListedCodes(std::string_view list);
// binary_ignore and oem_ignore as sets, built once per settings load: the
// binary codes (control codes the list leaves in), and the codes the OEM
// test leaves out.
extern CodeSet BinaryCodeSet;
extern CodeSet OemIgnoredSet;

// ---- Sample sizes ---------------------------------------------------------------
// A sample size setting counts kilobytes of this many bytes.
constexpr std::size_t kBytesPerKb = 1024;
// The largest text, OEM and UTF-8 sample, and the largest Cyrillic one, in KB.
constexpr int kMaxSampleKb = 10240;
constexpr int kMaxCyrillicSampleKb = 2048;

// A setting's value held to [least, most].
constexpr int ClampSetting(int value, int least, int most) {
  return value < least ? least : value > most ? most : value;
}

// The UTF-8 sample's buffer size in bytes: utf8_buffer_size_kb clamped, the
// clamped value written back into the setting. The sample is one byte less.
std::size_t Utf8BufferSize();
// A text or OEM sample's size in bytes under a size setting; 0: none.
std::size_t TextSampleSize(int sizeKb);
// The Cyrillic sample's buffer size in bytes; the sample is one byte less.
std::size_t CyrillicBufferSize(int sizeKb);
// Whether bytesRead reaches rus_min_size, compared as signed 64-bit numbers.
bool ReachesCyrillicMinimum(std::uint32_t bytesRead);

// ---- The sharper rules, clamped --------------------------------------------------
// The least run of box codes on a line that draws (oem_draw, 0 to
// kMaxDrawRun); 0: every pseudo-graphics code counts, as without the rule.
constexpr int kMaxDrawRun = 80;
int DrawRun();
// The least share of vowels among a code page's letters, in percent
// (rus_vowels, 0 to 100); 0: no such rule.
int VowelPercent();
// Whether a letter written three times running ends a word (rus_word_mixed
// above 0).
bool MixedWordsOnly();
