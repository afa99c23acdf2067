// Every call along one query made to fail in turn: the export answers as
// the rules do with the probe that made the call answering false, closes
// every handle it opened and frees every buffer (the ASan build checks
// the leaks).
#include <new>
#include <set>
#include <string>

#include "ContPlug.h"
#include "OpenHandles.h"
#include "TestSupport.h"
#include "platform/FaultInjection.h"
#include "reference/ApplySettings.h"
#include "reference/ReferenceClassifier.h"

using namespace testing_support;
namespace fault = charsift::fault;

namespace {

struct Answer {
  int result;
  std::string value;
};

Answer Query(const fs::path& path, int field) {
  char value[32] = {};
  const WideString wide = Wide(path);
  const int result = ContentGetValueW(wide.c_str(), field, 0, value, sizeof value, 0);
  return {result, value};
}

// A query's value as the reference states it: "" for field empty.
std::string Text(const Answer& answer) {
  if (answer.result == FT_FIELD_EMPTY) return answer.value.empty() ? "" : "(stray value)";
  return answer.result == FT_MULTIPLE_CHOICE ? answer.value
                                             : "(code " + std::to_string(answer.result) + ")";
}

// What a query may answer when one call along it fails: each probe that
// call can reach answers false, as one does that cannot open or read its
// file, and the chain goes on. One open serves the RTF and the UTF-8 mark
// tests, so both fail with it. `anyProbe` false: no call fails.
std::set<std::string> Expected(const fs::path& path, int field, bool anyProbe) {
  const reference::Settings s = reference::FromModule();
  if (fs::is_directory(path)) {
    // A folder whose lookup fails does not open either.
    if (!anyProbe) return {field == 0 ? "Folder" : ""};
    return {field == 0 ? "Folder" : "", "Binary"};
  }
  namespace probe = reference::probe;
  const reference::Bytes content = reference::Contents(path);
  std::set<std::string> answers;
  for (unsigned failing :
       {0u, probe::Utf16Bom, probe::Rtf, probe::Utf8Bom, probe::Rtf | probe::Utf8Bom, probe::Utf8,
        probe::Text, probe::Oem, probe::Cyrillic}) {
    answers.insert(field == 0 ? reference::TypeOf(content, s, failing)
                              : reference::ClassifyBytes(content, s, failing));
    if (!anyProbe) break;
  }
  return answers;
}

std::string Join(const std::set<std::string>& answers) {
  std::string joined;
  for (const std::string& a : answers)
    joined += (joined.empty() ? "" : ", ") + a;
  return joined;
}

class FaultInjection : public ::testing::Test {
protected:
  void SetUp() override {
    const Bytes russian1251 = Repeat(0xE0, 40);
    files_ = {
        dir_.Write("utf16.txt", B({0xFF, 0xFE, 'a', 0})),
        dir_.WriteText("doc.rtf", "{\\rtf1 x}"),
        dir_.Write("bom.txt", B({0xEF, 0xBB, 0xBF, 'a'})),
        dir_.Write("utf8.txt", B({'c', 'a', 'f', 0xC3, 0xA9})),
        dir_.Write("binary.bin", B({'M', 'Z', 0, 1, 2})),
        dir_.Write("dos.txt", Concat({Repeat(0xCD, 30), B({'\n'}), Repeat(0xE0, 10)})),
        dir_.Write("ru.txt", Concat({russian1251, B({' '}), russian1251})),
        dir_.WriteText("ascii.txt", "plain text\n"),
        dir_.WriteText("empty.txt", ""),
        dir_.Path(),
    };
  }
  void TearDown() override { fault::Reset(); }

  TempDir dir_;
  SettingsGuard settings_;
  std::vector<fs::path> files_;
};

TEST_F(FaultInjection, EveryFailingCallOnlyTurnsAProbeFalse) {
  const fault::Call calls[] = {
#ifndef _WIN32
      fault::Call::CreateFileW, fault::Call::ReadFile, fault::Call::SetFilePointer,
      fault::Call::FindFirstFileW,
#endif
      fault::Call::Allocation};
  // The Windows runtime keeps a handle from its first exception on: that
  // exception is thrown here, before any count.
  try {
    throw std::bad_alloc();
  } catch (const std::bad_alloc&) {
  }
  int injected = 0;
  for (const fs::path& file : files_) {
    for (int field = 0; field < 2; ++field) {
      for (fault::Call call : calls) {
        fault::Reset();
        Query(file, field);
        const int calls_seen = fault::Seen(call);
        for (int k = 1; k <= calls_seen; ++k) {
          fault::Reset();
          fault::FailNth(call, k);
          const long before = OpenHandles();
          const Answer answer = Query(file, field);
          ++injected;
          EXPECT_EQ(OpenHandles(), before) << file << " field " << field << " call " << k;
          if (call == fault::Call::Allocation) {
            EXPECT_EQ(answer.result, FT_FIELD_EMPTY) << "a failed allocation answers field empty";
            EXPECT_EQ(answer.value, "");
          } else {
            const std::set<std::string> expected = Expected(file, field, true);
            EXPECT_TRUE(expected.count(Text(answer)))
                << file << " field " << field << " call " << k << ": " << Text(answer)
                << ", not one of " << Join(expected);
          }
        }
      }
    }
  }
#ifdef _WIN32
  EXPECT_GT(injected, 20); // only allocations can be made to fail on Windows
#else
  EXPECT_GT(injected, 50);
#endif
}

#ifndef _WIN32
// What the chain makes of one failing call, where the answer is fixed.
struct FaultRow {
  const char* file;
  int field;
  fault::Call call;
  int k;
  const char* expected;
  const char* why;
};

TEST_F(FaultInjection, AFailingCallIsAFalseAnswer) {
  const FaultRow rows[] = {
      {"utf16.txt", 1, fault::Call::CreateFileW, 1, "Binary",
       "no mark seen, then the text test sees the zero byte"},
      {"utf16.txt", 1, fault::Call::ReadFile, 1, "Binary", "a failed read shows no mark"},
      {"doc.rtf", 1, fault::Call::ReadFile, 2, "ANSI", "RTF signature read failed: plain ASCII"},
      {"ascii.txt", 0, fault::Call::CreateFileW, 1, "Binary", "cannot open: not text"},
      {"ascii.txt", 0, fault::Call::ReadFile, 1, "Binary", "failed text read: not text"},
      {"empty.txt", 0, fault::Call::ReadFile, 1, "Text", "empty files are text unread"},
      {"", 0, fault::Call::FindFirstFileW, 1, "Binary", "folder lookup failed, folder won't open"},
  };
  for (const FaultRow& row : rows) {
    fault::Reset();
    fault::FailNth(row.call, row.k);
    const fs::path path = *row.file ? dir_ / row.file : dir_.Path();
    EXPECT_EQ(Query(path, row.field).value, row.expected) << row.why;
  }
}

// read(2) may come back short (FUSE, network file systems, procfs) or be
// interrupted: every sample must still be the file's first bytes.
TEST_F(FaultInjection, ShortReadsGiveTheSameAnswers) {
  const fs::path big = dir_.Write("big.txt", Concat({Repeat('a', 5000), Repeat(0xE0, 3000)}));
  files_.push_back(big);
  for (const fs::path& file : files_) {
    for (int field = 0; field < 2; ++field) {
      fault::Reset();
      const Answer whole = Query(file, field);
      for (std::size_t limit : {std::size_t{1}, std::size_t{7}, std::size_t{1000}}) {
        fault::SetShortReads(limit);
        const Answer piecemeal = Query(file, field);
        EXPECT_EQ(piecemeal.value, whole.value) << file << " field " << field << " by " << limit;
      }
    }
  }
}

// The file changes between two probes of one query; each probe sees the
// file as it is when it opens it.
TEST_F(FaultInjection, FileChangesBetweenProbes) {
  struct Change {
    int atOpen;
    bool remove; // else truncate to nothing
    const char* expected;
    const char* why;
  } changes[] = {
      {3, true, "Binary", "gone before the UTF-8 test: nothing opens any more"},
      {5, false, "ANSI", "emptied before the DOS test: too short for the Russian test"},
      {6, true, "ANSI", "gone before the Russian test"},
  };
  for (const Change& change : changes) {
    const fs::path path = dir_.Write("moving.txt", Concat({Repeat(0xE0, 40), B({' '})}));
    struct Context {
      fs::path path;
      const Change* change;
    } context{path, &change};
    fault::Reset();
    fault::SetOpenHook(
        [](int n, void* raw) {
          auto* c = static_cast<Context*>(raw);
          if (n != c->change->atOpen) return;
          if (c->change->remove)
            fs::remove(c->path);
          else
            fs::resize_file(c->path, 0);
        },
        &context);
    EXPECT_EQ(Query(path, 1).value, change.expected) << change.why;
    fault::Reset();
  }
}
#endif

TEST_F(FaultInjection, HugeSampleSizesAreCapped) {
  text_buffer_size_kb = 2000000000;
  oem_buffer_size_kb = 0x7FFFFFFF;
  utf8_buffer_size_kb = 0x7FFFFFFF;
  rus_buffer_size_kb = 0x7FFFFFFF;
  fault::Reset();
  for (const fs::path& file : files_) {
    for (int field = 0; field < 2; ++field) {
      const std::string answer = Text(Query(file, field));
      EXPECT_EQ(std::set<std::string>{answer}, Expected(file, field, false))
          << file << " field " << field;
    }
  }
  EXPECT_LE(fault::LargestAllocation(), std::size_t{10240} * 1024)
      << "a 32-bit host must never be asked for more than 10 MB per sample";
}

} // namespace
