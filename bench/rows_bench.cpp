// The all-profiles rows, the fast writer against snprintf, in memory and
// through a file; the command line's CSV writer against snprintf("%.17g").
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.hpp"
#include "format/number_format.hpp"
#include "model/grid.hpp"
#include "output/profile_rows.hpp"
#include "output/result_file.hpp"
#include "output/sink.hpp"
#include "output/table_writer.hpp"

namespace diffusim::bench {
namespace {

constexpr std::int32_t kRowSizes[] = {101, 10000};

// A file benchmark starts its file afresh (outside the timing) once it has
// grown this large, so a long run does not fill the disk.
constexpr std::uint64_t kFileRestartBytes = std::uint64_t{64} << 20;
constexpr std::size_t kStdioBufferBytes = std::size_t{1} << 20;  // as ResultFile

// The default grid after 400 steps, values between C0 = 0.01 and Cs = 0.05;
// other sizes take the same curve sampled at their own points.
std::vector<double> sampleProfile(std::int32_t n) {
  const DiffusionParameters p = defaultParameters();
  const std::int32_t m = p.grid.gridPoints;
  auto grid = std::make_unique<ConcentrationGrid>(m);
  grid->resetGrid(p.inputs.initialComposition, p.inputs.injectionComposition);
  for (int step = 0; step < 400; ++step) {
    grid->advance(p.grid.meshRatio);
    grid->commit();
  }
  const double* level = grid->prev();
  std::vector<double> profile(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    const double x = n == 1 ? 0.0 : static_cast<double>(i) * (m - 1) / (n - 1);
    const std::int32_t j = std::min(static_cast<std::int32_t>(x), m - 2);
    const double f = x - j;
    profile[static_cast<std::size_t>(i)] = level[j] + (level[j + 1] - level[j]) * f;
  }
  return profile;
}

double spacingFor(std::int32_t n) {
  return defaultParameters().inputs.specimenLength / (n - 1);
}

// The same rows through the C library.
void appendRowsPrintf(std::string& out, std::int32_t n, double dx, const double* level) {
  char row[128];
  for (std::int32_t i = 0; i < n; ++i) {
    const int length = std::snprintf(row, sizeof row, "%.3d\t%f\t%f\t\r\n", i,
                                     static_cast<double>(i) * dx, level[i]);
    out.append(row, static_cast<std::size_t>(length));
  }
}

void setRowCounters(benchmark::State& state, std::int32_t n, std::size_t bytesPerIteration) {
  state.SetItemsProcessed(state.iterations() * n);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytesPerIteration));
}

void rowsMemoryFast(benchmark::State& state, std::int32_t n) {
  const std::vector<double> level = sampleProfile(n);
  const ProfileRowWriter writer(n, spacingFor(n));
  std::string rows;
  writer.appendRows(rows, level.data());
  rows.reserve(rows.size() * 2);
  for (auto _ : state) {
    rows.clear();
    writer.appendRows(rows, level.data());
    benchmark::DoNotOptimize(rows.data());
    benchmark::ClobberMemory();
  }
  setRowCounters(state, n, rows.size());
}

void rowsMemoryPrintf(benchmark::State& state, std::int32_t n) {
  const std::vector<double> level = sampleProfile(n);
  const double dx = spacingFor(n);
  std::string rows;
  appendRowsPrintf(rows, n, dx, level.data());
  rows.reserve(rows.size() * 2);
  for (auto _ : state) {
    rows.clear();
    appendRowsPrintf(rows, n, dx, level.data());
    benchmark::DoNotOptimize(rows.data());
    benchmark::ClobberMemory();
  }
  setRowCounters(state, n, rows.size());
}

// As the all-profiles report does it: one block of rows formatted into a
// string, then handed to the result file with its 1 MiB buffer.
void rowsFileFast(benchmark::State& state, std::int32_t n, fs::path dir) {
  const std::vector<double> level = sampleProfile(n);
  const ProfileRowWriter writer(n, spacingFor(n));
  const fs::path target = dir / ("rows_fast_" + std::to_string(n) + ".txt");
  std::string rows;
  writer.appendRows(rows, level.data());
  const std::size_t blockBytes = rows.size();
  ResultFile file;
  if (!file.open(target)) {
    state.SkipWithError(("cannot create a file in " + dir.string() + ": " + file.error()).c_str());
    return;
  }
  for (auto _ : state) {
    rows.clear();
    writer.appendRows(rows, level.data());
    file.write(rows);
    if (file.bytesWritten() >= kFileRestartBytes) {
      state.PauseTiming();
      file.discard();
      file.open(target);
      state.ResumeTiming();
    }
  }
  const bool failed = file.failed();
  const std::string error = file.error();
  file.discard();
  if (failed) {
    state.SkipWithError(("writing " + target.string() + " failed: " + error).c_str());
    return;
  }
  setRowCounters(state, n, blockBytes);
}

// A writer built on the C library: snprintf per row, fwrite into a FILE*
// with a 1 MiB buffer.
void rowsFilePrintf(benchmark::State& state, std::int32_t n, fs::path dir) {
  const std::vector<double> level = sampleProfile(n);
  const double dx = spacingFor(n);
  const fs::path target = dir / ("rows_printf_" + std::to_string(n) + ".txt");
  std::string block;
  appendRowsPrintf(block, n, dx, level.data());
  auto buffer = std::make_unique<char[]>(kStdioBufferBytes);
  const auto openTarget = [&]() {
    std::FILE* f = std::fopen(target.c_str(), "wb");
    if (f != nullptr) std::setvbuf(f, buffer.get(), _IOFBF, kStdioBufferBytes);
    return f;
  };
  std::FILE* file = openTarget();
  if (file == nullptr) {
    state.SkipWithError(("cannot create " + target.string()).c_str());
    return;
  }
  std::uint64_t written = 0;
  bool failed = false;
  char row[128];
  for (auto _ : state) {
    for (std::int32_t i = 0; i < n; ++i) {
      const int length = std::snprintf(row, sizeof row, "%.3d\t%f\t%f\t\r\n", i,
                                       static_cast<double>(i) * dx, level[i]);
      const auto size = static_cast<std::size_t>(length);
      failed |= std::fwrite(row, 1, size, file) != size;
      written += size;
    }
    if (written >= kFileRestartBytes) {
      state.PauseTiming();
      std::fclose(file);
      std::remove(target.c_str());
      file = openTarget();
      written = 0;
      state.ResumeTiming();
      if (file == nullptr) {
        state.SkipWithError(("cannot create " + target.string()).c_str());
        return;
      }
    }
  }
  failed |= std::fclose(file) != 0;
  std::remove(target.c_str());
  if (failed) {
    state.SkipWithError(("writing " + target.string() + " failed").c_str());
    return;
  }
  setRowCounters(state, n, block.size());
}

// ---------------------------------------------------------------------------
// The command line's CSV writer against one built on snprintf("%.17g").

constexpr std::int32_t kCsvPoints = 1001;
constexpr int kCsvLevels = 20;

void csvRowsFast(benchmark::State& state) {
  const std::vector<double> level = sampleProfile(kCsvPoints);
  const double dx = 0.0005 / (kCsvPoints - 1);
  RunRecord record{"diffusim bench", "profiles", {}, {}};
  std::size_t bytes = 0;
  for (auto _ : state) {
    StringSink sink;
    TableWriter table(sink, TableFormat::Csv, record, {"t_s", "x_m", "c"});
    std::vector<std::string> xText;
    for (std::int32_t i = 0; i < kCsvPoints; ++i) xText.push_back(shortest(i * dx));
    for (int j = 1; j <= kCsvLevels; ++j) {
      const std::string t = shortest(j * 52.17391304347826);
      for (std::int32_t i = 0; i < kCsvPoints; ++i) {
        table.cellText(t);
        table.cellText(xText[static_cast<std::size_t>(i)]);
        table.cell(level[static_cast<std::size_t>(i)] * (1.0 + j * 1e-9));
      }
    }
    table.finish();
    bytes = sink.text.size();
    benchmark::DoNotOptimize(sink.text.data());
  }
  setRowCounters(state, kCsvPoints * kCsvLevels, bytes);
}

void csvRowsPrintf(benchmark::State& state) {
  const std::vector<double> level = sampleProfile(kCsvPoints);
  const double dx = 0.0005 / (kCsvPoints - 1);
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text;
    char row[128];
    for (int j = 1; j <= kCsvLevels; ++j) {
      for (std::int32_t i = 0; i < kCsvPoints; ++i) {
        const int length =
            std::snprintf(row, sizeof row, "%.17g,%.17g,%.17g\n", j * 52.17391304347826, i * dx,
                          level[static_cast<std::size_t>(i)] * (1.0 + j * 1e-9));
        text.append(row, static_cast<std::size_t>(length));
      }
    }
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  setRowCounters(state, kCsvPoints * kCsvLevels, bytes);
}

}  // namespace

void registerRowBenchmarks(const fs::path& scratch, std::vector<Comparison>& comparisons) {
  for (const std::int32_t n : kRowSizes) {
    const std::string memoryFast = nameWithSize("BM_rows_memory_fast", n);
    const std::string memoryPrintf = nameWithSize("BM_rows_memory_snprintf", n);
    const std::string fileFast = nameWithSize("BM_rows_file_fast", n);
    const std::string filePrintf = nameWithSize("BM_rows_file_snprintf", n);
    benchmark::RegisterBenchmark(memoryFast.c_str(), rowsMemoryFast, n);
    benchmark::RegisterBenchmark(memoryPrintf.c_str(), rowsMemoryPrintf, n);
    benchmark::RegisterBenchmark(fileFast.c_str(), rowsFileFast, n, scratch)->UseRealTime();
    benchmark::RegisterBenchmark(filePrintf.c_str(), rowsFilePrintf, n, scratch)->UseRealTime();
    comparisons.push_back({memoryFast, memoryPrintf, 20.0});
    comparisons.push_back({fileFast, filePrintf, 8.0});
  }
}

void registerCsvBenchmarks(std::vector<Comparison>& comparisons) {
  benchmark::RegisterBenchmark("BM_csv_rows_fast", csvRowsFast);
  benchmark::RegisterBenchmark("BM_csv_rows_snprintf17g", csvRowsPrintf);
  comparisons.push_back({"BM_csv_rows_fast", "BM_csv_rows_snprintf17g", 5.0});
}

std::string rowWriterCheck() {
  std::string note;
  for (const std::int32_t n : kRowSizes) {
    const std::vector<double> level = sampleProfile(n);
    std::string fast;
    std::string plain;
    ProfileRowWriter(n, spacingFor(n)).appendRows(fast, level.data());
    appendRowsPrintf(plain, n, spacingFor(n), level.data());
    note += note.empty() ? "" : ", ";
    note += "N=" + std::to_string(n) + (fast == plain ? " identical" : " DIFFERENT") + " (" +
            std::to_string(fast.size()) + " bytes)";
  }
  return note;
}

}  // namespace diffusim::bench
