#include "output/legacy_text.hpp"

#include "format/number_format.hpp"

namespace diffusim {

void writeLegacyProfile(ByteSink& sink, double temperature, double time, const double* values,
                        std::int32_t points, double dx) {
  sink.write("T = " + fixed(temperature) + "(K) \r\n");
  sink.write("at t = " + fixed(time) + "(s)\r\n\r\n");
  sink.write("\r\ncnt \tdistance(m) \tC(B) \t\r\n");
  std::string line;
  for (std::int32_t i = 0; i < points; ++i) {
    line.clear();
    appendInt(line, i, 3);
    line += " \t";
    appendFixed(line, static_cast<double>(i) * dx, 6);
    line += " \t";
    appendFixed(line, values[i], 6);
    line += " \t\r\n";
    sink.write(line);
  }
}

LegacyHistoryText::LegacyHistoryText(ByteSink& sink, double temperature, double depth,
                                     std::int32_t point)
    : sink_(sink), point_(point) {
  sink_.write("T = " + fixed(temperature) + "(K) \r\n");
  sink_.write("at x = " + fixed(depth) + "(m)\r\n\r\n");
  sink_.write("\r\ncnt \ttime(s) \tC(B) \t\r\n");
}

void LegacyHistoryText::row(std::int64_t step, double time, const double* values) {
  line_.clear();
  appendInt(line_, step, 3);
  line_ += " \t";
  if (point_ != 0) {
    appendFixed(line_, time, 6);
    line_ += " \t";
    appendFixed(line_, values[point_], 6);
    line_ += " \t\r\n";
  }
  sink_.write(line_);
}

LegacyAllProfilesText::LegacyAllProfilesText(ByteSink& sink, double temperature,
                                             std::int32_t points, double dx)
    : sink_(sink), rowWriter_(points, dx) {
  sink_.write("T = " + fixed(temperature) + "(K)\r\n\r\n");
}

void LegacyAllProfilesText::block(double time, const double* values, bool repeated) {
  banner_.assign("\r\n-----------------------------time = ");
  appendFixed(banner_, time, 6);
  banner_ += "(s)-----------------------------\r\n\r\ncnt\tdistance(m)\tC(B)\t\r\n";
  if (!repeated || rows_.empty()) {
    rows_.clear();
    rowWriter_.appendRows(rows_, values);
  }
  sink_.write(banner_);
  sink_.write(rows_);
}

}  // namespace diffusim
