// Results of the command line as tables: CSV (comment lines recording the
// run, one header row, comma-separated rows, LF line ends) or one JSON
// object (the run's record and each column as an array). Every number is the
// shortest decimal that reads back as the same double; a result that does not
// exist (NaN) is "nan" in CSV and an unbounded one "inf", both null in JSON.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "output/sink.hpp"
#include "output/spool.hpp"

namespace diffusim {

// One recorded value: a number (in shortest form, and the double itself),
// or a word.
struct Field {
  std::string key;
  std::string value;
  bool isNumber = true;
  double number = 0.0;  // a number's value
};

// What a result says about the run that made it.
struct RunRecord {
  std::string program;  // "diffusim 1.0.0"
  std::string command;  // "profile", "history", "profiles"
  std::vector<Field> inputs;
  std::vector<Field> grid;
};

enum class TableFormat { Csv, Json };

// Rows are written as they come: CSV streams to the sink, JSON keeps each
// column in a spool (memory up to a bound, then a temporary file) until
// finish() writes them one after another. A table whose record is known
// only after its rows (an implicit run's step count) spools its rows too.
class TableWriter {
 public:
  // The record first, then the rows.
  TableWriter(ByteSink& sink, TableFormat format, const RunRecord& record,
              const std::vector<std::string_view>& columns);
  // The record at finish(record).
  TableWriter(ByteSink& sink, TableFormat format, const std::vector<std::string_view>& columns);
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  // The next cell of the current row, in column order; a row ends after
  // its last column. `text` is a number already in shortest form.
  void cell(double value);
  void cellText(std::string_view text);
  // A word (a name, not a number): a string in JSON, as it is in CSV.
  void cellWord(std::string_view text);

  // Writes what is held and, for JSON, closes the object. False when rows
  // held in a temporary file were lost (the file could not be written or
  // read back); the sink then holds an incomplete table.
  bool finish();
  bool finish(const RunRecord& record);

 private:
  std::string& rowText();
  void endCell();
  void head(const RunRecord& record);

  ByteSink& sink_;
  TableFormat format_;
  bool deferred_ = false;  // the record comes at finish
  std::vector<std::string> names_;
  std::size_t column_ = 0;
  std::string buffer_;          // CSV: rows not yet written; JSON: the object's head
  Spool rows_;                  // CSV rows before a deferred record
  std::vector<Spool> columns_;  // JSON: each column's array so far
  std::vector<bool> started_;   // JSON: the column has a cell
};

// The record's fields as CSV comment lines ("# key = value"), as the CSV
// table's head writes them.
std::string csvComments(const RunRecord& record);

}  // namespace diffusim
