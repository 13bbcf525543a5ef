#include "output/json_table.hpp"

#include <cmath>

#include "format/number_format.hpp"

namespace diffusim {

namespace {

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

void appendJsonNumber(std::string& out, double value) {
  if (std::isfinite(value)) {
    appendShortest(out, value);
  } else {
    out += "null";  // JSON has no NaN or infinity
  }
}

// "name":{fields..., arrays...}
void appendJsonSection(std::string& out, const Section& section) {
  appendJsonString(out, section.name);
  out += ':';
  appendJsonFields(out, section.fields);
  out.pop_back();  // the fields' closing brace: the arrays follow
  bool first = section.fields.empty();
  for (const SectionArray& a : section.arrays) {
    if (!first) out += ',';
    first = false;
    appendJsonString(out, a.name);
    out += ":[";
    const std::size_t n = a.words ? a.texts.size() : a.numbers.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (i != 0) out += ',';
      if (a.words) {
        appendJsonString(out, a.texts[i]);
      } else {
        appendJsonNumber(out, a.numbers[i]);
      }
    }
    out += ']';
  }
  out += '}';
}

}  // namespace

JsonTable::JsonTable(ByteSink& sink, const RunRecord* record,
                     const std::vector<std::string_view>& columns)
    : sink_(sink) {
  for (std::string_view c : columns) names_.emplace_back(c);
  columns_.resize(names_.size());
  started_.assign(names_.size(), false);
  if (record != nullptr) head(*record);
}

void JsonTable::head(const RunRecord& record) {
  const std::size_t space = record.program.find(' ');
  std::string text = "{\"program\":";
  appendJsonString(text, record.program.substr(0, space));
  text += ",\"version\":";
  appendJsonString(text, space == std::string::npos ? "" : record.program.substr(space + 1));
  text += ",\"command\":";
  appendJsonString(text, record.command);
  text += ",\"inputs\":";
  appendJsonFields(text, record.inputs);
  text += ",\"grid\":";
  appendJsonFields(text, record.grid);
  buffer_.insert(0, text);
}

std::string& JsonTable::rowText() {
  Spool& col = columns_[column_];
  col.pending() += started_[column_] ? ',' : '[';
  started_[column_] = true;
  return col.pending();
}

void JsonTable::cell(double value) {
  appendJsonNumber(rowText(), value);
  endCell();
}

void JsonTable::cellText(std::string_view text) {
  rowText().append(text);
  endCell();
}

void JsonTable::cellWord(std::string_view text) {
  appendJsonString(rowText(), text);
  endCell();
}

void JsonTable::endCell() {
  columns_[column_].settle();
  column_ = column_ + 1 == names_.size() ? 0 : column_ + 1;
}

bool JsonTable::finish(const RunRecord& record) {
  head(record);
  return finish();
}

bool JsonTable::finish() {
  bool kept = true;
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
  buffer_ += '}';
  for (const Section& section : sections_) {
    buffer_ += ',';
    appendJsonSection(buffer_, section);
  }
  buffer_ += "}\n";
  sink_.write(buffer_);
  buffer_.clear();
  return kept;
}

}  // namespace diffusim
