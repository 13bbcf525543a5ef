// libFuzzer target: one whole console session per input. The input bytes are
// the session's standard input, the console is a string, and the result files
// go to a scratch directory of this process that is emptied after every run.
// Every report runs under a small work budget so that each input stays fast.
//
// What a session leaves is checked against a shadow of it: the prompts on the
// console, paired in order with the input's tokens, replay the parameter
// record through the model's own functions. That says which reports ran and
// on which grid, so each result file can be held to its report.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "console/input.hpp"
#include "console/menu.hpp"
#include "model/parameters.hpp"
#include "scratch_dir.hpp"

namespace {

namespace fs = std::filesystem;

// Per report: about a millisecond of stepping, and result files small enough
// to write and delete on every run.
constexpr diffusim::WorkBudget BUDGET{200'000, 256 * 1024};

// Every result file starts each session as this; only a completed report may change it.
constexpr std::string_view MARKER = "left by the fuzzer before the session\r\n";
constexpr const char* RESULT_FILES[] = {"Result_dx.txt", "Result_dt.txt", "Result.txt"};

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "session property broken: %s %.*s\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---------------------------------------------------------------------------
// The shadow session

constexpr std::string_view MENU_PROMPT = "Select (Press 0 to Exit Program) : ";
constexpr std::string_view STEPS_PROMPT = "Input Number of Data to output : ";
constexpr std::string_view DISTANCE_PROMPT = "Input specific distance(m) : ";
constexpr std::string_view TIME_PROMPT = "Input specific time(s) : ";
constexpr std::string_view SECTIONS_PROMPT = "Input Number of Section(Grid-1) : ";
constexpr std::string_view LAST_FIELD_PROMPT = "Input Injection Composition of B : ";
constexpr std::string_view SUCCESS =
    "\n\xEC\xA0\x95\xEC\x83\x81\xEC\xA0\x81\xEC\x9C\xBC\xEB\xA1\x9C ";
constexpr std::string_view CLOSING =
    "\n-------------------------------------------------------------------\n\n";

// The real-valued fields of parameter entry, by prompt.
struct Field {
  std::string_view prompt;
  double diffusim::SimulationInputs::*member;
};
constexpr Field FIELDS[] = {
    {"Input Temperature(K) : ", &diffusim::SimulationInputs::temperature},
    {"Input Specimen Length(m) : ", &diffusim::SimulationInputs::specimenLength},
    {"Input A : ", &diffusim::SimulationInputs::preFactorA},
    {"Input B : ", &diffusim::SimulationInputs::exponentB},
    {"Input Initial Composition of B : ", &diffusim::SimulationInputs::initialComposition},
    {LAST_FIELD_PROMPT, &diffusim::SimulationInputs::injectionComposition},
};

struct Prompt {
  std::string_view text;
  std::size_t begin = 0, end = 0;  // where it stands on the console
};

// Every prompt on the console, in order. Each one read one token (or met the
// end of input). Prompts end in " : ", which no other console text holds:
// echoed tokens never contain a space.
std::vector<Prompt> promptsOf(std::string_view console) {
  static constexpr std::string_view OTHERS[] = {MENU_PROMPT, STEPS_PROMPT, DISTANCE_PROMPT,
                                                TIME_PROMPT, SECTIONS_PROMPT};
  std::vector<Prompt> prompts;
  for (std::size_t at = console.find(" : "); at != std::string_view::npos;
       at = console.find(" : ", at + 3)) {
    const std::string_view before = console.substr(0, at + 3);
    std::string_view found;
    for (std::string_view p : OTHERS)
      if (before.ends_with(p)) found = p;
    for (const Field& f : FIELDS)
      if (before.ends_with(f.prompt)) found = f.prompt;
    if (found.empty())
      fail("text that is no prompt ends in \" : \":", before.substr(at > 60 ? at - 60 : 0));
    prompts.push_back({found, at + 3 - found.size(), at + 3});
  }
  return prompts;
}

// The input's tokens as the console reads them: runs of non-space bytes.
std::vector<std::string_view> tokensOf(std::string_view input) {
  std::vector<std::string_view> tokens;
  const auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  std::size_t i = 0;
  while (i < input.size()) {
    while (i < input.size() && space(input[i])) ++i;
    const std::size_t start = i;
    while (i < input.size() && !space(input[i])) ++i;
    if (i > start) tokens.push_back(input.substr(start, i - start));
  }
  return tokens;
}

// A token longer than the console keeps (1 MiB) is unreadable whatever it holds.
constexpr std::size_t KEPT_TOKEN = 1u << 20;

bool readInt(std::string_view token, std::int32_t& v) {
  return token.size() <= KEPT_TOKEN && diffusim::parseInt32(token, v);
}
bool readReal(std::string_view token, double& v) {
  return token.size() <= KEPT_TOKEN && diffusim::parseReal(token, v);
}

// A report the shadow saw start: its record, its step count and where its
// console text lies.
struct Report {
  int choice = 0;
  diffusim::DiffusionParameters p;
  std::int32_t steps = 0;
  std::size_t begin = 0, end = 0;
};

const char* fileOf(int choice) {
  return choice == 2 ? "Result_dx.txt" : choice == 3 ? "Result_dt.txt" : "Result.txt";
}

// A report completed when its text closes the report without a failure line
// (a report cut short by the end of input never closes); choice 4 must also
// have said so.
bool completed(const Report& r, std::string_view text) {
  for (std::string_view failure : {"Cannot create result file", "Error writing result file",
                                   "Report stopped at its work limit", "Report cancelled"})
    if (text.find(failure) != std::string_view::npos) return false;
  return text.find(CLOSING) != std::string_view::npos &&
         (r.choice != 4 || text.find(SUCCESS) != std::string_view::npos);
}

// The last completed report of each result file.
std::map<std::string, Report> replay(std::string_view input, std::string_view console) {
  const std::vector<Prompt> prompts = promptsOf(console);
  const std::vector<std::string_view> tokens = tokensOf(input);
  diffusim::DiffusionParameters p;
  diffusim::recomputeDerived(p);
  std::map<std::string, Report> done;
  std::optional<Report> open;  // the report whose text runs to the next menu prompt
  auto close = [&](std::size_t end) {
    if (!open) return;
    open->end = end;
    if (completed(*open, console.substr(open->begin, end - open->begin)))
      done[fileOf(open->choice)] = *open;
    open.reset();
  };
  // Checks that the shadow agrees with the session about a refusal.
  auto refusedHere = [&](std::size_t at, bool refused) {
    if (console.substr(at).starts_with("Refused: ") != refused)
      fail("the shadow and the session disagree about a refusal at", console.substr(at, 80));
  };
  auto start = [&](int choice, std::size_t at) { open = Report{choice, p, 0, at, 0}; };

  for (std::size_t k = 0; k < prompts.size(); ++k) {
    const Prompt& prompt = prompts[k];
    if (prompt.text == MENU_PROMPT) close(prompt.begin);
    if (k >= tokens.size()) break;  // the input ended at this prompt
    const std::string_view token = tokens[k];
    std::int32_t n = 0;
    double v = 0.0;
    if (prompt.text == MENU_PROMPT) {
      if (readInt(token, n) && n == 4) {
        const bool ok = diffusim::checkGrid(p).ok();
        refusedHere(prompt.end, !ok);
        if (ok) start(4, prompt.end);
      }
    } else if (prompt.text == STEPS_PROMPT) {
      if (open && readInt(token, n)) open->steps = n;
    } else if (prompt.text == DISTANCE_PROMPT || prompt.text == TIME_PROMPT) {
      if (!readReal(token, v)) continue;
      const bool distance = prompt.text == DISTANCE_PROMPT;
      const bool ok =
          (distance ? diffusim::checkDistanceRequest(p, v) : diffusim::checkTimeRequest(p, v)).ok();
      refusedHere(prompt.end, !ok);
      if (!ok) continue;
      if (distance) {
        diffusim::redefineForDistance(p, v);
      } else {
        diffusim::redefineForTime(p, v);
      }
      start(distance ? 2 : 3, prompt.end);
    } else if (prompt.text == SECTIONS_PROMPT) {
      if (readInt(token, n) && n >= 1 && n <= diffusim::MAX_GRID_POINTS - 1)
        p.grid.gridPoints = n + 1;
    } else {
      for (const Field& f : FIELDS)
        if (prompt.text == f.prompt && readReal(token, v) && v != 0.0) p.inputs.*f.member = v;
      if (prompt.text == LAST_FIELD_PROMPT && readReal(token, v)) diffusim::recomputeDerived(p);
    }
  }
  close(console.size());
  return done;
}

// ---------------------------------------------------------------------------
// Result files

// The lines of a result file, each of which must end in "\r\n". The text
// after the last line end, if any, is `rest`.
struct Lines {
  std::vector<std::string_view> lines;
  std::string_view rest;
  std::size_t next = 0;

  explicit Lines(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t nl = text.find('\n'); nl != std::string_view::npos;
         nl = text.find('\n', start)) {
      if (nl == start || text[nl - 1] != '\r') fail("a line end is not CR LF");
      lines.push_back(text.substr(start, nl - 1 - start));
      start = nl + 1;
    }
    rest = text.substr(start);
  }
  std::string_view take(const char* what) {
    if (next >= lines.size()) fail("the file ends before", what);
    return lines[next++];
  }
  void expect(std::string_view line) {
    if (take(line.data()) != line) fail("expected the line", line);
  }
  void expectPrefix(std::string_view prefix) {
    if (!take(prefix.data()).starts_with(prefix)) fail("expected a line starting", prefix);
  }
};

std::string printed(const char* format, double v) {
  char text[400];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// "%.6f" as the program's number conversions print it: exactly as printf,
// except that a value halfway between two six-decimal numbers goes away from
// zero, where glibc's printf rounds it to the even one. Such a tie is rare but
// exact: with v = m 2^e and m odd, v 10^6 = m 5^6 2^(e+6) has the fraction 1/2
// only when e = -7, that is when 128 v is an odd integer. Its "%.7f" is then
// exact and ends in the 5 that is dropped.
std::string fixed6(double v) {
  if (!(std::fabs(v) < 0x1p53) || std::fmod(std::fabs(v * 128.0), 2.0) != 1.0)
    return printed("%.6f", v);
  std::string text = printed("%.7f", v);
  if (!text.ends_with('5')) fail("a six-decimal tie whose seventh decimal is not 5:", text);
  text.pop_back();
  for (std::size_t i = text.size(); i-- > 0;) {
    if (text[i] == '.') continue;
    if (text[i] == '-') {
      text.insert(i + 1, 1, '1');
      return text;
    }
    if (text[i] != '9') {
      ++text[i];
      return text;
    }
    text[i] = '0';
  }
  text.insert(0, 1, '1');
  return text;
}

// "%.3d", the index column.
std::string indexText(std::int32_t i) {
  char text[16];
  std::snprintf(text, sizeof text, "%.3d", static_cast<int>(i));
  return text;
}

double widened(double v, double toward, int ulps) {
  for (int i = 0; i < ulps; ++i) v = std::nextafter(v, toward);
  return v;
}

// The compositions a report may print: within [min(C0, Cs), max(C0, Cs)]
// to a few ulps, compared as printed, since "%f" rounds monotonically (the
// bounds rounded the program's way, so a composition at a bound that is a tie
// prints as the bound does).
// Beyond a quarter of the largest double the step's own sums overflow, and
// nothing is promised.
struct CompositionRange {
  bool checked = false;
  double low = 0.0, high = 0.0;

  explicit CompositionRange(const diffusim::DiffusionParameters& p) {
    const double c0 = p.inputs.initialComposition, cs = p.inputs.injectionComposition;
    if (!(std::max(std::fabs(c0), std::fabs(cs)) <= std::numeric_limits<double>::max() / 4)) return;
    checked = true;
    constexpr double INF = std::numeric_limits<double>::infinity();
    low = std::strtod(fixed6(widened(std::min(c0, cs), -INF, 4)).c_str(), nullptr);
    high = std::strtod(fixed6(widened(std::max(c0, cs), INF, 4)).c_str(), nullptr);
  }

  void check(std::string_view field) const {
    if (!checked) return;
    const std::string text(field);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || text.size() < 8 || text[text.size() - 7] != '.')
      fail("a composition is not a six-decimal number:", field);
    if (!(v >= low && v <= high)) fail("a composition outside [min(C0, Cs), max(C0, Cs)]:", field);
  }
};

// "<index><gap><distance or time><gap><composition><gap>" split at `gap`.
std::vector<std::string_view> fieldsOf(std::string_view line, std::string_view gap) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (std::size_t at = line.find(gap); at != std::string_view::npos; at = line.find(gap, start)) {
    fields.push_back(line.substr(start, at - start));
    start = at + gap.size();
  }
  if (start != line.size()) fail("a row does not end with its separator:", line);
  return fields;
}

// The N rows of one profile: index, distance i dx (the product in double,
// as the report computes it), composition.
void checkProfileRows(Lines& file, const Report& r, std::string_view gap,
                      const CompositionRange& range) {
  for (std::int32_t i = 0; i < r.p.grid.gridPoints; ++i) {
    const std::string_view line = file.take("the grid's last row");
    const auto fields = fieldsOf(line, gap);
    if (fields.size() != 3) fail("a profile row without three columns:", line);
    if (fields[0] != indexText(i)) fail("a row out of order:", line);
    if (fields[1] != fixed6(static_cast<double>(i) * r.p.grid.dx))
      fail("a row at the wrong distance:", line);
    range.check(fields[2]);
  }
}

void checkResultFile(const std::string& name, const std::string& bytes, const Report& r) {
  Lines file(bytes);
  const CompositionRange range(r.p);
  const std::int32_t steps = std::max<std::int32_t>(r.steps, 1);
  if (r.choice == 3) {
    file.expectPrefix("T = ");
    file.expectPrefix("at t = ");
    file.expect("");
    file.expect("");
    file.expect("cnt \tdistance(m) \tC(B) \t");
    checkProfileRows(file, r, " \t", range);
  } else if (r.choice == 2) {
    file.expectPrefix("T = ");
    file.expectPrefix("at x = ");
    file.expect("");
    file.expect("");
    file.expect("cnt \ttime(s) \tC(B) \t");
    if (file.next == file.lines.size()) {
      // A distance beyond the last interior point: the counters alone, on one line.
      const auto counters = fieldsOf(file.rest, " \t");
      if (counters.size() != static_cast<std::size_t>(steps)) fail("wrong number of counters");
      for (std::int32_t k = 1; k <= steps; ++k)
        if (counters[static_cast<std::size_t>(k - 1)] != indexText(k))
          fail("a counter out of order");
      file.rest = {};
    } else {
      for (std::int32_t k = 1; k <= steps; ++k) {
        const std::string_view line = file.take("the last step's row");
        const auto fields = fieldsOf(line, " \t");
        if (fields.size() != 3 || fields[0] != indexText(k)) fail("a step row out of order:", line);
        range.check(fields[2]);
      }
    }
  } else {
    file.expectPrefix("T = ");
    file.expect("");
    for (std::int32_t k = 1; k <= steps; ++k) {
      file.expect("");
      file.expectPrefix("-----------------------------time = ");
      file.expect("");
      file.expect("cnt\tdistance(m)\tC(B)\t");
      checkProfileRows(file, r, "\t", range);
    }
  }
  if (file.next != file.lines.size() || !file.rest.empty())
    fail("more in the file than its report wrote:", name);
}

// A directory of this process, on a RAM disk when there is one: completed
// reports sync their files, which should not cost a disk flush per input.
class Scratch {
 public:
  Scratch() : path_(diffusim::fuzzing::freshScratchDir("diffusim-fuzz")) {}
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;

  const fs::path& path() const { return path_; }

  // Each result file starts out as the marker.
  void seed() const {
    for (const char* name : RESULT_FILES) {
      std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
      out << MARKER;
    }
  }

  // Checks what a session left behind, then removes it all.
  void checkAndEmpty(const std::map<std::string, Report>& completedReports) const {
    for (const fs::directory_entry& entry : fs::directory_iterator(path_)) {
      const std::string name = entry.path().filename().string();
      // Stopped and failed reports discard their temporary files.
      if (name.starts_with(".")) fail("temporary file left behind:", name);
      // The step loops of choices 2 and 4 stop before a file outgrows its budget.
      if ((name == "Result.txt" || name == "Result_dx.txt") && entry.file_size() > BUDGET.fileBytes)
        fail("result file over its budget:", name);
    }
    for (const char* name : RESULT_FILES) {
      const std::string bytes = readAll(path_ / name);
      const auto report = completedReports.find(name);
      if (report == completedReports.end()) {
        if (bytes != MARKER) fail("changed by no completed report:", name);
      } else {
        checkResultFile(name, bytes, report->second);
      }
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(path_)) fs::remove(entry.path());
  }

 private:
  fs::path path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Scratch scratch;

  const std::string input(reinterpret_cast<const char*>(data), size);
  scratch.seed();
  std::istringstream in(input);
  std::ostringstream out;
  diffusim::SessionOptions options;
  options.outputDir = scratch.path();
  options.budget = BUDGET;
  diffusim::runMenu(in, out, options);

  const std::string console = out.str();
  // A session only ends waiting at a prompt: the end of input or the answer 0.
  if (!console.ends_with(" : ")) fail("the session ended away from a prompt");
  scratch.checkAndEmpty(replay(input, console));
  return 0;
}
