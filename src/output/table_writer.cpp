#include "output/table_writer.hpp"

#include <cmath>

#include "format/number_format.hpp"

namespace diffusim {

namespace {

constexpr std::size_t FLUSH_BYTES = 1u << 20;

// Keys and words are the program's own: letters, digits, '_' and '.'; a
// quote or a backslash is escaped all the same.
void appendJsonString(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

void appendJsonFields(std::string& out, const std::vector<Field>& fields) {
  out += '{';
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) out += ',';
    appendJsonString(out, fields[i].key);
    out += ':';
    if (fields[i].isNumber) {
      const std::string_view v = fields[i].value;
      const bool finite = v != "inf" && v != "-inf" && v != "nan" && v != "-nan";
      out += finite ? v : std::string_view("null");  // JSON has no infinity or NaN
    } else {
      appendJsonString(out, fields[i].value);
    }
  }
  out += '}';
}

}  // namespace

std::string csvComments(const RunRecord& record) {
  std::string out = "# " + record.program + "\n# command = " + record.command + "\n";
  for (const std::vector<Field>* fields : {&record.inputs, &record.grid}) {
    for (const Field& f : *fields) out += "# " + f.key + " = " + f.value + "\n";
  }
  return out;
}

TableWriter::TableWriter(ByteSink& sink, TableFormat format, const RunRecord& record,
                         const std::vector<std::string_view>& columns)
    : TableWriter(sink, format, columns) {
  deferred_ = false;
  head(record);
}

TableWriter::TableWriter(ByteSink& sink, TableFormat format,
                         const std::vector<std::string_view>& columns)
    : sink_(sink), format_(format), deferred_(true) {
  for (std::string_view c : columns) names_.emplace_back(c);
  if (format_ == TableFormat::Json) {
    columns_.resize(names_.size());
    started_.assign(names_.size(), false);
  }
}

void TableWriter::head(const RunRecord& record) {
  std::string text;
  if (format_ == TableFormat::Csv) {
    text = csvComments(record);
    for (std::size_t i = 0; i < names_.size(); ++i) {
      text += names_[i];
      text += i + 1 == names_.size() ? '\n' : ',';
    }
  } else {
    const std::size_t space = record.program.find(' ');
    text = "{\"program\":";
    appendJsonString(text, record.program.substr(0, space));
    text += ",\"version\":";
    appendJsonString(text, space == std::string::npos ? "" : record.program.substr(space + 1));
    text += ",\"command\":";
    appendJsonString(text, record.command);
    text += ",\"inputs\":";
    appendJsonFields(text, record.inputs);
    text += ",\"grid\":";
    appendJsonFields(text, record.grid);
  }
  buffer_.insert(0, text);
}

std::string& TableWriter::rowText() {
  if (format_ == TableFormat::Json) {
    Spool& col = columns_[column_];
    col.pending() += started_[column_] ? ',' : '[';
    started_[column_] = true;
    return col.pending();
  }
  return deferred_ ? rows_.pending() : buffer_;
}

void TableWriter::cell(double value) {
  std::string& out = rowText();
  if (format_ == TableFormat::Json && !std::isfinite(value)) {
    out += "null";  // JSON has no NaN or infinity
  } else {
    const std::size_t used = out.size();
    out.resize(used + SHORTEST_MAX_BYTES);
    char* end = writeShortest(out.data() + used, value);
    out.resize(static_cast<std::size_t>(end - out.data()));
  }
  endCell();
}

void TableWriter::cellText(std::string_view text) {
  rowText().append(text);
  endCell();
}

void TableWriter::cellWord(std::string_view text) {
  if (format_ == TableFormat::Json) {
    appendJsonString(rowText(), text);
  } else {
    rowText().append(text);
  }
  endCell();
}

void TableWriter::endCell() {
  if (format_ == TableFormat::Json) {
    columns_[column_].settle();
    column_ = column_ + 1 == names_.size() ? 0 : column_ + 1;
    return;
  }
  std::string& out = deferred_ ? rows_.pending() : buffer_;
  ++column_;
  if (column_ < names_.size()) {
    out += ',';
    return;
  }
  column_ = 0;
  out += '\n';
  if (deferred_) {
    rows_.settle();
  } else if (buffer_.size() >= FLUSH_BYTES) {
    sink_.write(buffer_);
    buffer_.clear();
  }
}

bool TableWriter::finish(const RunRecord& record) {
  head(record);
  deferred_ = false;
  return finish();
}

bool TableWriter::finish() {
  bool kept = true;
  if (format_ == TableFormat::Csv) {
    sink_.write(buffer_);
    buffer_.clear();
    kept = rows_.copyTo(sink_);
    return kept;
  }
  buffer_ += ",\"columns\":{";
  for (std::size_t i = 0; i < names_.size(); ++i) {
    if (i != 0) buffer_ += ',';
    appendJsonString(buffer_, names_[i]);
    buffer_ += ':';
    if (!started_[i]) buffer_ += '[';
    sink_.write(buffer_);
    buffer_.clear();
    kept = columns_[i].copyTo(sink_) && kept;
    started_[i] = false;
    buffer_ += ']';
  }
  buffer_ += "}}\n";
  sink_.write(buffer_);
  buffer_.clear();
  return kept;
}

}  // namespace diffusim
