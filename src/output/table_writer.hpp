// Results of the command line as tables, CSV or JSON, each written by its
// own writer (csv_table, json_table) behind one handle. Every number is the
// shortest decimal that reads back as the same double; a result that does
// not exist (NaN) is "nan" in CSV and an unbounded one "inf", both null in
// JSON. A table whose record is known only after its rows (an implicit
// run's step count) holds its rows until finish(record).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "output/run_record.hpp"
#include "output/sink.hpp"
#include "output/table.hpp"

namespace diffusim {

enum class TableFormat { Csv, Json };

// Names made at run time as the views the writers take (copied when a
// table starts).
std::vector<std::string_view> columnViews(const std::vector<std::string>& names);

class TableWriter {
 public:
  // The record first, then the rows.
  TableWriter(ByteSink& sink, TableFormat format, const RunRecord& record,
              const std::vector<std::string_view>& columns);
  // The record at finish(record).
  TableWriter(ByteSink& sink, TableFormat format, const std::vector<std::string_view>& columns);

  void cell(double value) { table_->cell(value); }
  void cellText(std::string_view text) { table_->cellText(text); }
  void cellWord(std::string_view text) { table_->cellWord(text); }
  // Written after the columns in JSON, left out of CSV.
  void section(Section section) { table_->section(std::move(section)); }
  bool finish() { return table_->finish(); }
  bool finish(const RunRecord& record) { return table_->finish(record); }

 private:
  std::unique_ptr<Table> table_;
};

}  // namespace diffusim
