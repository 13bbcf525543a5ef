// JSON: one object, the run's record (program, version, command, inputs,
// grid) and each column as an array. Each column waits in a spool (memory
// up to a bound, then a temporary file) until finish() writes them one
// after another, then the sections, an object each. A number that does not
// exist or is unbounded is null.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "output/sink.hpp"
#include "output/spool.hpp"
#include "output/table.hpp"

namespace diffusim {

class JsonTable final : public Table {
 public:
  // `record` null: given at finish(record).
  JsonTable(ByteSink& sink, const RunRecord* record, const std::vector<std::string_view>& columns);
  void cell(double value) override;
  void cellText(std::string_view text) override;
  void cellWord(std::string_view text) override;
  void section(Section section) override { sections_.push_back(std::move(section)); }
  bool finish() override;
  bool finish(const RunRecord& record) override;

 private:
  std::string& rowText();
  void endCell();
  void head(const RunRecord& record);

  ByteSink& sink_;
  std::vector<std::string> names_;
  std::size_t column_ = 0;
  std::string buffer_;          // the object's head
  std::vector<Spool> columns_;  // each column's array so far
  std::vector<bool> started_;   // the column has a cell
  std::vector<Section> sections_;
};

}  // namespace diffusim
