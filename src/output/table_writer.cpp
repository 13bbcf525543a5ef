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
      out += fields[i].value;
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
    : sink_(sink), format_(format) {
  for (std::string_view c : columns) names_.emplace_back(c);
  if (format_ == TableFormat::Csv) {
    buffer_ = csvComments(record);
    for (std::size_t i = 0; i < names_.size(); ++i) {
      buffer_ += names_[i];
      buffer_ += i + 1 == names_.size() ? '\n' : ',';
    }
  } else {
    const std::size_t space = record.program.find(' ');
    buffer_ = "{\"program\":";
    appendJsonString(buffer_, record.program.substr(0, space));
    buffer_ += ",\"version\":";
    appendJsonString(buffer_, space == std::string::npos ? "" : record.program.substr(space + 1));
    buffer_ += ",\"command\":";
    appendJsonString(buffer_, record.command);
    buffer_ += ",\"inputs\":";
    appendJsonFields(buffer_, record.inputs);
    buffer_ += ",\"grid\":";
    appendJsonFields(buffer_, record.grid);
    columns_.assign(names_.size(), std::string());
  }
}

void TableWriter::cell(double value) {
  if (format_ == TableFormat::Csv) {
    const std::size_t used = buffer_.size();
    buffer_.resize(used + SHORTEST_MAX_BYTES);
    char* end = writeShortest(buffer_.data() + used, value);
    buffer_.resize(static_cast<std::size_t>(end - buffer_.data()));
  } else {
    std::string& col = columns_[column_];
    col += col.empty() ? '[' : ',';
    if (std::isnan(value)) {
      col += "null";  // JSON has no NaN: a result that does not exist
    } else {
      appendShortest(col, value);
    }
  }
  endCell();
}

void TableWriter::cellText(std::string_view text) {
  if (format_ == TableFormat::Csv) {
    buffer_.append(text);
  } else {
    std::string& col = columns_[column_];
    col += col.empty() ? '[' : ',';
    col.append(text);
  }
  endCell();
}

void TableWriter::endCell() {
  ++column_;
  if (column_ == names_.size()) {
    column_ = 0;
    if (format_ == TableFormat::Csv) {
      buffer_ += '\n';
      flushIfLarge();
    }
  } else if (format_ == TableFormat::Csv) {
    buffer_ += ',';
  }
}

void TableWriter::flushIfLarge() {
  if (buffer_.size() < FLUSH_BYTES) return;
  sink_.write(buffer_);
  buffer_.clear();
}

void TableWriter::finish() {
  if (format_ == TableFormat::Json) {
    buffer_ += ",\"columns\":{";
    for (std::size_t i = 0; i < names_.size(); ++i) {
      if (i != 0) buffer_ += ',';
      appendJsonString(buffer_, names_[i]);
      buffer_ += ':';
      buffer_ += columns_[i].empty() ? "[" : columns_[i];
      buffer_ += ']';
      std::string().swap(columns_[i]);
    }
    buffer_ += "}}\n";
  }
  sink_.write(buffer_);
  buffer_.clear();
}

}  // namespace diffusim
