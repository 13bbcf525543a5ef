#include "output/csv_table.hpp"

#include "format/number_format.hpp"

namespace diffusim {

namespace {

constexpr std::size_t FLUSH_BYTES = 1u << 20;

}  // namespace

std::string csvComments(const RunRecord& record) {
  std::string out = "# " + record.program + "\n# command = " + record.command + "\n";
  for (const std::vector<Field>* fields : {&record.inputs, &record.grid}) {
    for (const Field& f : *fields) out += "# " + f.key + " = " + f.value + "\n";
  }
  return out;
}

CsvTable::CsvTable(ByteSink& sink, const RunRecord* record,
                   const std::vector<std::string_view>& columns)
    : sink_(sink), deferred_(record == nullptr) {
  for (std::string_view c : columns) names_.emplace_back(c);
  if (record != nullptr) head(*record);
}

void CsvTable::head(const RunRecord& record) {
  std::string text = csvComments(record);
  for (std::size_t i = 0; i < names_.size(); ++i) {
    text += names_[i];
    text += i + 1 == names_.size() ? '\n' : ',';
  }
  buffer_.insert(0, text);
}

void CsvTable::cell(double value) {
  appendShortest(rowText(), value);
  endCell();
}

void CsvTable::cellText(std::string_view text) {
  rowText().append(text);
  endCell();
}

void CsvTable::endCell() {
  std::string& out = rowText();
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

bool CsvTable::finish(const RunRecord& record) {
  head(record);
  deferred_ = false;
  return finish();
}

bool CsvTable::finish() {
  sink_.write(buffer_);
  buffer_.clear();
  return rows_.copyTo(sink_);
}

}  // namespace diffusim
