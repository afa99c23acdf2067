// What goes out: the rows in the four formats (table, tsv, json, jsonl), the
// summary of values, and the progress line on standard error.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Walk.h"

namespace charsift::cli {

enum class Format { Table, Tsv, Json, Jsonl };

struct Column {
  std::string name;
  std::vector<std::string> choices; // for the table's width and the summary's order
  std::size_t cell;                 // index into Item::cells
  bool counted = true;              // false: the summary leaves it out (a free text)
};

// Text for scripts: tab, newline, carriage return and backslash as \t \n \r \\.
std::string TsvEscaped(const std::string& text);
// Text for a terminal (the table, the progress line, messages): tab, newline,
// carriage return and backslash as tsv writes them, and every other control
// code (C0, DEL, C1) and every byte that is no part of valid UTF-8 as \xNN,
// so that a name can neither forge a row, nor drive the terminal, nor vanish.
// On Windows, where no name holds a backslash, the separator stays single.
std::string TableEscaped(const std::string& text);
// A JSON string of UTF-16: a lone surrogate (off Windows, a byte of a name that
// is no UTF-8, as U+DC80 plus the byte) as \uXXXX, so that it decodes back.
std::string JsonString(std::u16string_view units);

class Output {
public:
  // rows: print each row; summary: then the counts of each column's values.
  Output(Format format, std::vector<Column> columns, bool rows, bool summary, std::FILE* out);
  void Begin(); // the table's header or JSON's opening, before any query
  void Row(const Item& item);
  void End(); // JSON's closing and the summary

private:
  struct Count {
    std::string value;
    std::size_t files;
  };
  void PrintSummary();

  Format format_;
  std::vector<Column> columns_;
  std::vector<std::size_t> widths_;
  bool rows_, summary_;
  std::FILE* out_;
  std::size_t printed_ = 0;
  std::size_t unread_ = 0; // rows of paths missing or unreadable, counted apart from the values
  std::vector<std::vector<Count>> counts_; // per column: its choices first, then any other value
  std::string line_;
};

// Files done, files per second and the current folder, on one line of
// standard error, redrawn a few times a second and cleared at the end.
class Progress {
public:
  Progress(bool on, bool stdoutIsTerminal);
  bool On() const { return on_; }
  void Done(const Item& item); // one more row out
  void Tick();                 // redraws when due
  void Hide();                 // before anything else goes to standard error
  void BeforeRow() {           // before a row goes to standard output
    if (hideForRows_) Hide();
  }
  void Finish();

private:
  using Clock = std::chrono::steady_clock;
  void Draw();

  bool on_, hideForRows_;
  Clock::time_point start_, last_;
  std::size_t files_ = 0;
  std::string folder_;
  std::size_t drawn_ = 0; // characters on the line now
};

} // namespace charsift::cli
