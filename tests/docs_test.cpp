// The user's documents against the code: README.md and docs/readme.txt list
// the Encoding steps in the chain's order with its labels and the defaults'
// numbers, and give every setting its built-in default; the example settings
// file sets every key. Wording may change freely; names and numbers may not.
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Charsift.h"
#include "TestSupport.h"

using namespace testing_support;

namespace {

std::string Read(const std::string& relative) {
  std::ifstream in(HostPath(CHARSIFT_SOURCE_DIR "/" + relative), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(0, line.find_last_not_of("\r") + 1));
  return lines;
}

const SettingRow* Setting(const std::string& key) {
  for (const SettingRow& row : SettingsTable)
    if (key == row.key) return &row;
  return nullptr;
}

std::string DefaultText(const SettingRow& row) {
  return row.integer ? std::to_string(row.integerDefault) : row.listDefault;
}

// ---- The chain as the code runs it ---------------------------------------------------
// A source whose every probe says no but the one of step `yes`; `second`
// takes a step's other answer (big-endian, the UTF-8 mark, code page 866).
struct OneYes {
  ChainStep yes;
  bool second;
  bool IsFolder() { return yes == ChainStep::Folder; }
  bool Utf16Bom(bool& bigEndian, ProbeFacts*) {
    bigEndian = second;
    return yes == ChainStep::Utf16Mark;
  }
  void RtfOrUtf8Bom(bool& isRtf, bool& hasUtf8Bom, ProbeFacts*) {
    isRtf = yes == ChainStep::RtfOrUtf8Mark && !second;
    hasUtf8Bom = yes == ChainStep::RtfOrUtf8Mark && second;
  }
  bool Utf8NoBom(ProbeFacts*) { return yes == ChainStep::Utf8; }
  bool IsText(ProbeFacts*) { return yes != ChainStep::BinaryCode; }
  bool IsOem(ProbeFacts*) { return yes == ChainStep::Dos; }
  bool HasCyrillic(bool& isOem, ProbeFacts*) {
    isOem = second;
    return yes == ChainStep::Russian;
  }
};

// Each step in the chain's order, with the Encoding labels it can decide.
struct Step {
  ChainStep step;
  std::set<std::string> labels;
};
std::vector<Step> ChainSteps() {
  SettingsGuard defaults; // both switchable steps on
  OneYes none{ChainStep::Otherwise, false};
  ChainTrace trace;
  RunChain(none, &trace);
  std::vector<Step> steps;
  for (const ChainTrace::Step& taken : trace.steps) {
    Step step{taken.step, {}};
    for (bool second : {false, true}) {
      OneYes source{taken.step, second};
      const char* text = LabelText(RunChain(source, nullptr));
      if (*text) step.labels.insert(text);
    }
    steps.push_back(step);
  }
  return steps;
}

// The settings each step reads, whose defaults a step's numbers are.
const std::map<ChainStep, std::set<std::string>> kStepSettings = {
    {ChainStep::Utf8, {"utf8_buffer_size_kb"}},
    {ChainStep::BinaryCode, {"text_buffer_size_kb"}},
    {ChainStep::Dos, {"oem_buffer_size_kb", "oem_percent"}},
    {ChainStep::Russian, {"rus_buffer_size_kb", "rus_min_size", "rus_percent", "rus_word_len"}},
};

// ---- The steps as a document lists them ------------------------------------------------
// The numbered list after the heading: each item's text, its lines joined.
std::vector<std::string> NumberedSteps(const std::string& text, const std::string& heading) {
  std::vector<std::string> items;
  bool after = false;
  for (const std::string& line : Lines(text)) {
    if (!after) {
      after = line.find(heading) != std::string::npos;
      continue;
    }
    const std::size_t lead = line.find_first_not_of(' ');
    if (lead == std::string::npos) {
      if (!items.empty()) break; // the blank line after the list
      continue;
    }
    std::size_t digits = lead;
    while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits])))
      ++digits;
    if (digits > lead && line.compare(digits, 2, ". ") == 0)
      items.push_back(line.substr(digits + 2));
    else if (!items.empty())
      items.back().append(" ").append(line, lead);
  }
  return items;
}

bool WordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }

// The Encoding labels an item names, each as a whole word: "DOS Ru" is not
// also "DOS".
std::set<std::string> LabelsIn(const std::string& item) {
  std::set<std::string> found;
  for (std::size_t at = 0; at < item.size(); ++at) {
    if (at > 0 && WordChar(item[at - 1])) continue;
    std::string longest;
    for (const LabelRow& row : LabelTable) {
      const std::string label = row.text;
      if (row.field != kEncodingField || label.size() <= longest.size()) continue;
      const std::size_t end = at + label.size();
      if (item.compare(at, label.size(), label) == 0 &&
          (end == item.size() || !WordChar(item[end])))
        longest = label;
    }
    if (!longest.empty()) found.insert(longest);
  }
  return found;
}

// Every number an item gives in KB or percent.
std::vector<std::string> NumbersIn(const std::string& item) {
  std::vector<std::string> numbers;
  for (std::size_t at = 0; at < item.size(); ++at) {
    if (!std::isdigit(static_cast<unsigned char>(item[at])) || (at > 0 && WordChar(item[at - 1])))
      continue;
    std::size_t end = at;
    while (end < item.size() && std::isdigit(static_cast<unsigned char>(item[end])))
      ++end;
    const std::size_t unit = item.find_first_not_of(' ', end);
    if (unit != std::string::npos && (item.compare(unit, 2, "KB") == 0 || item[unit] == '%'))
      numbers.push_back(item.substr(at, end - at));
    at = end;
  }
  return numbers;
}

struct StepsDoc {
  const char* file;
  const char* heading;
};

TEST(Docs, EncodingStepsFollowTheChain) {
  const std::vector<Step> chain = ChainSteps();
  for (const StepsDoc& doc : {StepsDoc{"README.md", "## How it decides"},
                              StepsDoc{"docs/readme.txt", "How it decides"}}) {
    const std::vector<std::string> items = NumberedSteps(Read(doc.file), doc.heading);
    ASSERT_EQ(items.size(), chain.size()) << doc.file << ": one item per step of the chain";
    for (std::size_t k = 0; k < items.size(); ++k) {
      EXPECT_EQ(LabelsIn(items[k]), chain[k].labels)
          << doc.file << " step " << k + 1 << ": " << items[k];
      std::set<std::string> defaults;
      const auto read = kStepSettings.find(chain[k].step);
      if (read != kStepSettings.end())
        for (const std::string& key : read->second)
          defaults.insert(DefaultText(*Setting(key)));
      for (const std::string& number : NumbersIn(items[k]))
        EXPECT_TRUE(defaults.count(number))
            << doc.file << " step " << k + 1 << " gives " << number
            << ", the default of none of the settings it reads: " << items[k];
    }
  }
}

// ---- The settings' defaults --------------------------------------------------------------
// README.md's table: "| `key` | default | ...", "(empty)" for an empty list.
TEST(Docs, ReadmeGivesEverySettingsBuiltInDefault) {
  std::map<std::string, std::string> listed;
  for (const std::string& line : Lines(Read("README.md"))) {
    if (line.rfind("| `", 0) != 0) continue;
    std::vector<std::string> cells;
    std::istringstream row(line.substr(1));
    for (std::string cell; std::getline(row, cell, '|');) {
      std::string plain;
      for (char c : cell)
        if (c != '`') plain += c;
      const std::size_t first = plain.find_first_not_of(' ');
      cells.push_back(first == std::string::npos
                          ? ""
                          : plain.substr(first, plain.find_last_not_of(' ') - first + 1));
    }
    if (cells.size() >= 2 && Setting(cells[0]))
      listed[cells[0]] = cells[1] == "(empty)" ? "" : cells[1];
  }
  for (const SettingRow& row : SettingsTable) {
    ASSERT_TRUE(listed.count(row.key)) << row.key << " is missing from README.md's settings";
    EXPECT_EQ(listed[row.key], DefaultText(row)) << row.key;
  }
}

// docs/readme.txt's list: "  key   default   what it tunes", "empty" for an
// empty list.
TEST(Docs, ReadmeTxtGivesEverySettingsBuiltInDefault) {
  std::map<std::string, int> seen;
  for (const std::string& line : Lines(Read("docs/readme.txt"))) {
    if (line.rfind("  ", 0) != 0 || line.size() < 3 || line[2] == ' ') continue;
    const std::string key = line.substr(2, line.find(' ', 2) - 2);
    const SettingRow* row = Setting(key);
    if (!row) continue;
    ++seen[key];
    const std::size_t value = line.find_first_not_of(' ', 2 + key.size());
    const std::string expected = DefaultText(*row).empty() ? "empty" : DefaultText(*row);
    ASSERT_NE(value, std::string::npos) << line;
    EXPECT_EQ(line.compare(value, expected.size(), expected), 0) << key << ": " << line;
    const std::size_t end = value + expected.size();
    EXPECT_TRUE(end == line.size() || line[end] == ' ') << key << ": " << line;
  }
  for (const SettingRow& row : SettingsTable)
    EXPECT_EQ(seen[row.key], 1) << row.key << " in docs/readme.txt's settings";
}

TEST(Docs, ExampleSettingsSetEveryKeyOnce) {
  std::map<std::string, int> set;
  for (const std::string& line : Lines(Read("src/Charsift.example.ini")))
    if (line.find('=') != std::string::npos && line[0] != ';')
      ++set[line.substr(0, line.find('='))];
  for (const SettingRow& row : SettingsTable)
    EXPECT_EQ(set[row.key], 1) << row.key;
  EXPECT_EQ(set.size(), std::size(SettingsTable)) << "a key the module does not read";
}

} // namespace
