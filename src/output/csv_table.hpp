// CSV: comment lines recording the run ("# key = value"), one header row,
// comma-separated rows, LF line ends. Rows stream to the sink in large
// pieces; before a record left for the end they wait in a spool.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "output/sink.hpp"
#include "output/spool.hpp"
#include "output/table.hpp"

namespace diffusim {

class CsvTable final : public Table {
 public:
  // `record` null: given at finish(record).
  CsvTable(ByteSink& sink, const RunRecord* record, const std::vector<std::string_view>& columns);
  void cell(double value) override;
  void cellText(std::string_view text) override;
  void cellWord(std::string_view text) override { cellText(text); }
  void section(Section) override {}
  bool finish() override;
  bool finish(const RunRecord& record) override;

 private:
  std::string& rowText() { return deferred_ ? rows_.pending() : buffer_; }
  void endCell();
  void head(const RunRecord& record);

  ByteSink& sink_;
  bool deferred_ = false;  // the record comes at finish
  std::vector<std::string> names_;
  std::size_t column_ = 0;
  std::string buffer_;  // rows not yet written (and the head, once known)
  Spool rows_;          // rows before a deferred record
};

// The record's fields as CSV comment lines, as the table's head writes them.
std::string csvComments(const RunRecord& record);

}  // namespace diffusim
