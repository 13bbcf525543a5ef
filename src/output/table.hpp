// A table being written: cells in column order, a row ending after its last
// column, the run's record before the rows or at the end, and JSON's
// sections after them. One writer per format stands behind it (csv_table,
// json_table).
#pragma once

#include <string_view>

#include "output/run_record.hpp"
#include "output/section.hpp"

namespace diffusim {

class Table {
 public:
  virtual ~Table() = default;
  // The next cell; `text` is a number already in shortest form.
  virtual void cell(double value) = 0;
  virtual void cellText(std::string_view text) = 0;
  // A word (a name, not a number): a string where the format has strings.
  virtual void cellWord(std::string_view text) = 0;
  // A section to follow the columns, where the format has a place for it.
  virtual void section(Section section) = 0;
  // Writes what is held and ends the table. False when rows held in a
  // temporary file were lost; the sink then holds an incomplete table.
  virtual bool finish() = 0;
  // The same with the record that was left for the end.
  virtual bool finish(const RunRecord& record) = 0;
};

}  // namespace diffusim
