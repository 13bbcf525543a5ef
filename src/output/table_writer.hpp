// Results of the command line as tables: CSV (comment lines recording the
// run, one header row, comma-separated rows, LF line ends) or one JSON
// object (the run's record and each column as an array). Every number is the
// shortest decimal that reads back as the same double; a result that does not
// exist (NaN) is "nan" in CSV and null in JSON.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "output/sink.hpp"

namespace diffusim {

// One recorded value: a number already in shortest form, or a word.
struct Field {
  std::string key;
  std::string value;
  bool isNumber = true;
};

// What a result says about the run that made it.
struct RunRecord {
  std::string program;  // "diffusim 1.0.0"
  std::string command;  // "profile", "history", "profiles"
  std::vector<Field> inputs;
  std::vector<Field> grid;
};

enum class TableFormat { Csv, Json };

class TableWriter {
 public:
  TableWriter(ByteSink& sink, TableFormat format, const RunRecord& record,
              const std::vector<std::string_view>& columns);
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  // The next cell of the current row, in column order; a row ends after
  // its last column. `text` is a number already in shortest form.
  void cell(double value);
  void cellText(std::string_view text);

  // Writes what is buffered and, for JSON, closes the object.
  void finish();

 private:
  void endCell();
  void flushIfLarge();

  ByteSink& sink_;
  TableFormat format_;
  std::string version_;
  std::vector<std::string> names_;
  std::size_t column_ = 0;
  std::string buffer_;                // CSV: rows not yet written; JSON: the object's head
  std::vector<std::string> columns_;  // JSON: each column's array so far
};

// The record's fields as CSV comment lines ("# key = value") or as the
// members of a JSON object ("key": value), for tests and the writer alike.
std::string csvComments(const RunRecord& record);

}  // namespace diffusim
