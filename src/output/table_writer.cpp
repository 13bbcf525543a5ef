#include "output/table_writer.hpp"

#include "output/csv_table.hpp"
#include "output/json_table.hpp"

namespace diffusim {

namespace {

std::unique_ptr<Table> tableOf(ByteSink& sink, TableFormat format, const RunRecord* record,
                               const std::vector<std::string_view>& columns) {
  if (format == TableFormat::Json) return std::make_unique<JsonTable>(sink, record, columns);
  return std::make_unique<CsvTable>(sink, record, columns);
}

}  // namespace

TableWriter::TableWriter(ByteSink& sink, TableFormat format, const RunRecord& record,
                         const std::vector<std::string_view>& columns)
    : table_(tableOf(sink, format, &record, columns)) {}

TableWriter::TableWriter(ByteSink& sink, TableFormat format,
                         const std::vector<std::string_view>& columns)
    : table_(tableOf(sink, format, nullptr, columns)) {}

std::vector<std::string_view> columnViews(const std::vector<std::string>& names) {
  return {names.begin(), names.end()};
}

}  // namespace diffusim
