// The formats' rules, the summary's counting and the progress line's drawing.
#include "Output.h"

#include <algorithm>
#include <cstring>

#include "platform/FileNames.h"

namespace charsift::cli {

namespace {

using charsift::names::AppendUtf8;

// The module's values are bytes too; they take the same escapes as names.
std::string JsonBytes(const std::string& bytes) {
  return JsonString(charsift::names::Utf16FromBytes(bytes));
}

// A name in a table row: " -> " in it is written " -\x3e ", so that the
// arrow a link's row puts before its target is the only one of the row.
std::string TableName(const std::string& name) {
  std::string out = TableEscaped(name);
  for (std::size_t at = 0; (at = out.find(" -> ", at)) != std::string::npos; at += 4)
    out.replace(at + 2, 1, "\\x3e");
  return out;
}

std::string Padded(const std::string& text, std::size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

} // namespace

std::string TsvEscaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
    case '\t':
      out += "\\t";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\\':
      out += "\\\\";
      break;
    default:
      out += c;
    }
  }
  return out;
}

std::string TableEscaped(const std::string& text) {
  using namespace charsift::names;
  const std::u16string units = Utf16FromBytes(text);
  std::string out;
  out.reserve(text.size());
  const auto hex = [&out](unsigned byte) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\x%02x", byte);
    out += escape;
  };
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (const int byte = EscapedByte(units[i]); byte >= 0) { // no part of valid UTF-8
      hex(static_cast<unsigned>(byte));
      continue;
    }
    std::uint32_t cp = units[i];
    if (IsSurrogatePair(units, i)) cp = PairCodePoint(units, i++);
    if (cp == '\t') {
      out += "\\t";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\\') { // single where it separates folders: no name holds one
      out += std::strchr(kSeparators, '\\') ? "\\" : "\\\\";
    } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      std::string bytes;
      AppendUtf8(bytes, cp);
      for (const char c : bytes)
        hex(static_cast<unsigned char>(c));
    } else {
      AppendUtf8(out, cp);
    }
  }
  return out;
}

std::string JsonString(std::u16string_view units) {
  std::string out = "\"";
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t u = units[i];
    if (u == '"' || u == '\\') {
      out += '\\';
      out += static_cast<char>(u);
    } else if (charsift::names::IsSurrogatePair(units, i)) {
      AppendUtf8(out, charsift::names::PairCodePoint(units, i));
      ++i;
    } else if (u < 0x20 || (u >= 0xD800 && u <= 0xDFFF)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(u));
      out += escape;
    } else {
      AppendUtf8(out, u);
    }
  }
  return out + "\"";
}

// ---- Output -------------------------------------------------------------------------
Output::Output(Format format, std::vector<Column> columns, bool rows, bool summary, std::FILE* out)
    : format_(format), columns_(std::move(columns)), rows_(rows), summary_(summary), out_(out) {
  for (const Column& column : columns_) {
    // The widths come from the choices, known before any query, so the table streams.
    std::size_t width = std::max<std::size_t>(TableEscaped(column.name).size(), 1);
    for (const std::string& choice : column.choices)
      width = std::max(width, TableEscaped(choice).size());
    widths_.push_back(width);
    std::vector<Count> counts;
    for (const std::string& choice : column.choices)
      counts.push_back({choice, 0});
    counts_.push_back(std::move(counts));
  }
}

void Output::Begin() {
  if (!rows_) return;
  if (format_ == Format::Table) {
    line_.clear();
    for (std::size_t i = 0; i < columns_.size(); ++i)
      line_ += Padded(TableEscaped(columns_[i].name), widths_[i]) + "  ";
    line_ += "Path\n";
    std::fputs(line_.c_str(), out_);
  } else if (format_ == Format::Json) {
    std::fputs(summary_ ? "{\"files\": [" : "[", out_);
  }
}

void Output::Row(const Item& item) {
  // A path not read has no value of its own: the module's answer for it would
  // pass for a file's.
  if (summary_ && item.unread) ++unread_;
  for (std::size_t i = 0; summary_ && !item.unread && i < columns_.size(); ++i) {
    if (!columns_[i].counted) continue;
    const std::string& value = item.cells[columns_[i].cell];
    std::vector<Count>& counts = counts_[i];
    auto it = std::find_if(counts.begin(), counts.end(),
                           [&](const Count& c) { return c.value == value; });
    if (it == counts.end()) it = counts.insert(counts.end(), {value, 0});
    ++it->files;
  }
  if (!rows_) return;
  line_.clear();
  switch (format_) {
  case Format::Table:
    for (std::size_t i = 0; i < columns_.size(); ++i)
      line_ += Padded(TableEscaped(item.cells[columns_[i].cell]), widths_[i]) + "  ";
    line_ += TableName(Shown(item.path));
    if (!item.link.empty()) line_ += " -> " + TableName(item.link);
    line_ += "\n";
    break;
  case Format::Tsv:
    for (const Column& column : columns_)
      line_ += TsvEscaped(item.cells[column.cell]) + "\t";
    line_ += TsvEscaped(Shown(item.path)) + "\n";
    break;
  case Format::Json:
  case Format::Jsonl:
    if (format_ == Format::Json) line_ += printed_ ? ",\n  " : "\n  ";
    line_ += "{\"path\": " + JsonString(Utf16Of(item.path));
    for (const Column& column : columns_)
      line_ += ", " + JsonBytes(column.name) + ": " + JsonBytes(item.cells[column.cell]);
    line_ += format_ == Format::Json ? "}" : "}\n";
    break;
  }
  ++printed_;
  std::fwrite(line_.data(), 1, line_.size(), out_);
}

void Output::End() {
  if (rows_ && format_ == Format::Json) {
    std::fputs(printed_ ? "\n]" : "]", out_);
    if (!summary_) std::fputs("\n", out_);
  }
  if (summary_) PrintSummary();
}

void Output::PrintSummary() {
  if (format_ == Format::Json || format_ == Format::Jsonl) {
    std::string text = rows_ && format_ == Format::Json ? ", " : "{";
    text += "\"summary\": {";
    for (std::size_t i = 0, told = 0; i < columns_.size(); ++i) {
      if (!columns_[i].counted) continue;
      text += (told++ ? ", " : "") + JsonBytes(columns_[i].name) + ": {";
      bool first = true;
      for (const Count& count : counts_[i]) {
        if (count.files == 0) continue;
        text += (first ? "" : ", ") + JsonBytes(count.value) + ": " + std::to_string(count.files);
        first = false;
      }
      text += "}";
    }
    text += ", \"not read\": " + std::to_string(unread_); // every key, always
    text += "}}\n";
    std::fputs(text.c_str(), out_);
    return;
  }
  // table: a blank line after the rows, then a line per value that some file
  // got; tsv: the same lines, each marked with # so no script takes it for a row.
  if (rows_ && format_ == Format::Table) std::fputs("\n", out_);
  std::size_t fieldWidth = 5, valueWidth = 5; // "Field", "Value"
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    fieldWidth = std::max(fieldWidth, TableEscaped(columns_[i].name).size());
    for (const Count& count : counts_[i])
      if (count.files) valueWidth = std::max(valueWidth, TableEscaped(count.value).size());
  }
  if (unread_) valueWidth = std::max<std::size_t>(valueWidth, 8); // "not read"
  if (format_ == Format::Table)
    std::fprintf(out_, "%s  %s  Files\n", Padded("Field", fieldWidth).c_str(),
                 Padded("Value", valueWidth).c_str());
  const auto line = [&](const std::string& field, const std::string& value, std::size_t files) {
    if (format_ == Format::Table)
      std::fprintf(out_, "%s  %s  %zu\n", Padded(TableEscaped(field), fieldWidth).c_str(),
                   Padded(value.empty() ? "(none)" : TableEscaped(value), valueWidth).c_str(),
                   files);
    else
      std::fprintf(out_, "#%s\t%s\t%zu\n", TsvEscaped(field).c_str(), TsvEscaped(value).c_str(),
                   files);
  };
  for (std::size_t i = 0; i < columns_.size(); ++i)
    for (const Count& count : counts_[i]) {
      if (count.files == 0) continue;
      line(columns_[i].name, count.value, count.files);
    }
  if (unread_) line("Paths", "not read", unread_);
}

// ---- Progress -----------------------------------------------------------------------
Progress::Progress(bool on, bool stdoutIsTerminal)
    : on_(on), hideForRows_(stdoutIsTerminal), start_(Clock::now()),
      last_(start_ - std::chrono::seconds(1)) {} // the first row draws the line

void Progress::Done(const Item& item) {
  if (!on_) return;
  ++files_;
  const Clock::time_point now = Clock::now();
  if (now - last_ < std::chrono::milliseconds(200)) return;
  // The folder the last row is in.
  folder_ = Shown(item.path);
  const std::size_t cut = folder_.find_last_of(kSeparators);
  folder_ = TableEscaped(cut == std::string::npos ? "." : folder_.substr(0, cut == 0 ? 1 : cut));
  Draw();
}

void Progress::Tick() {
  if (on_ && Clock::now() - last_ >= std::chrono::milliseconds(200)) Draw();
}

void Progress::Draw() {
  last_ = Clock::now();
  const double seconds = std::chrono::duration<double>(last_ - start_).count();
  char counts[96];
  std::snprintf(counts, sizeof counts, "%zu %s, %.0f files/s", files_,
                files_ == 1 ? "file" : "files",
                seconds > 0 ? static_cast<double>(files_) / seconds : 0.0);
  std::string text = counts;
  // One line, never wrapped: a long folder keeps its end.
  const std::size_t room = static_cast<std::size_t>(TerminalColumns() - 1);
  if (!folder_.empty() && text.size() + 2 + folder_.size() <= room)
    text += ", " + folder_;
  else if (!folder_.empty() && text.size() + 6 < room)
    text += ", ..." + folder_.substr(folder_.size() - (room - text.size() - 5));
  if (text.size() > room) text.resize(room);
  std::string line = "\r" + text;
  if (text.size() < drawn_) line += std::string(drawn_ - text.size(), ' ') + "\r" + text;
  drawn_ = text.size();
  NoteLineWidth(drawn_);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

void Progress::Hide() {
  if (!on_ || drawn_ == 0) return;
  std::fprintf(stderr, "\r%s\r", std::string(drawn_, ' ').c_str());
  std::fflush(stderr);
  drawn_ = 0;
  NoteLineWidth(0);
  last_ = Clock::now() - std::chrono::milliseconds(150); // redraw soon after
}

void Progress::Finish() { Hide(); }

} // namespace charsift::cli
