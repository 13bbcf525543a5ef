#include "console/menu.hpp"

#include <cctype>
#include <string>

#include "console/parameter_entry.hpp"
#include "format/number_format.hpp"
#include "report/reports.hpp"
#include "words/fault_words.hpp"

namespace diffusim {

namespace {

constexpr std::string_view BANNER =
    "######################################################################################\n"
    "############################Diffusion Lab 00000000 Model##############################\n"
    "############### Steady-state Diffusion Simulation for Injection of an ################\n"
    "#################### Alloying Element B in a Metallic Matrix A #######################\n"
    "######################################################################################\n";

constexpr std::string_view MENU =
    "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
    "1. Input parameter for the materials and environment (otherwise, default)\n"
    "2. Find Composition of A and B at specific distance \n"
    "3. Find Composition of A and B at specific time \n"
    "4. Print Composition of A and B at all distance and time \n"
    "@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@\n"
    "Select (Press 0 to Exit Program) : ";

constexpr std::string_view STEP_COUNT_PROMPT = "Input Number of Data to output : ";

void printDistanceChoice(Console& console, const DiffusionParameters& p) {
  console.print("\ncurrent dx = " + fixed(p.grid.dx) + "(m)\n");
}

void printTimeChoice(Console& console, const DiffusionParameters& p) {
  console.print("\ncurrent dt = " + fixed(p.grid.dt) + "(s)\n");
  console.print("If time is too small, it'll take long time to calculate result. \n");
  console.print("If Specific time is greater than current dt, new dt is redefined by the rule \n");
  console.print("[dt = new dt % current dt] (rest of division). So.. \n");
}

}  // namespace

std::string refusalMessage(const Fault& check, std::string_view what) {
  return "Refused: " + gridFaultReason(check, what) + "; nothing was changed.\n";
}

void printBanner(Console& console) {
  console.print(BANNER);
}

void printSummary(Console& console, const DiffusionParameters& p) {
  console.print("Temperature = " + fixed(p.inputs.temperature, 0) + "(K) \tSpecimen Length = " +
                fixed(p.inputs.specimenLength) + "(m) \tD = " + general(p.inputs.preFactorA) +
                "*exp(" + general(p.inputs.exponentB) + "/RT) \t\n");
  console.print("No. of Section(Grid-1) = " + integer(p.grid.gridPoints - 1) +
                " \tdx = " + fixed(p.grid.dx) + "(m) \tdt = " + fixed(p.grid.dt) + "(s) \t\n");
  console.print("Initial Composition of B = " + fixed(p.inputs.initialComposition) +
                " \tInjection Composition of B = " + fixed(p.inputs.injectionComposition) +
                " \t\n");
  console.print("Safety Factor is fixed by 0.25\n\n");
}

int runMenu(std::istream& in, std::ostream& out, const SessionOptions& options) {
  Console console(in, out, options.lineFlush);
  DiffusionParameters params;
  recomputeDerived(params);

  printBanner(console);
  console.print("Initial value of parameter!!! \n");
  printSummary(console, params);

  const ReportContext ctx{console,          options.outputDir,       options.encoding,
                          options.budget,   options.catchInterrupts, options.progressOutput,
                          options.threading};
  bool running = true;
  while (running) {
    std::int32_t choice = 0;
    if (!console.promptInt(MENU, choice, "a menu choice, 0 to 4")) break;
    switch (choice) {
      case 0:
        running = false;
        break;
      case 1:
        if (!enterParameters(console, params)) {
          running = false;
          break;
        }
        recomputeDerived(params);
        printSummary(console, params);
        break;
      case 2: {
        printDistanceChoice(console, params);
        double x = 0.0;
        if (!console.promptReal("Input specific distance(m) : ", x)) {
          running = false;
          break;
        }
        // Checked first, so a refused request leaves the record as it was.
        if (const Fault check = checkDistanceRequest(params, x); !check.ok()) {
          console.print(refusalMessage(check, "distance"));
          break;
        }
        redefineForDistance(params, x);
        ResultFile file;
        std::int32_t steps = 0;
        if (!openResultFile(ctx, file, HISTORY_FILE)) break;
        if (!console.promptInt(STEP_COUNT_PROMPT, steps)) {
          running = false;  // the file is discarded unwritten
          break;
        }
        reportHistoryAtDistance(ctx, params, x, steps, file);
        break;
      }
      case 3: {
        printTimeChoice(console, params);
        double t = 0.0;
        if (!console.promptReal("Input specific time(s) : ", t)) {
          running = false;
          break;
        }
        if (const Fault check = checkTimeRequest(params, t); !check.ok()) {
          console.print(refusalMessage(check, "time"));
          break;
        }
        redefineForTime(params, t);
        reportProfileAtTime(ctx, params, t);
        break;
      }
      case 4: {
        if (const Fault check = checkGrid(params); !check.ok()) {
          console.print(refusalMessage(check, "grid"));
          break;
        }
        ResultFile file;
        std::int32_t steps = 0;
        if (!openResultFile(ctx, file, ALL_PROFILES_FILE)) break;
        if (!console.promptInt(STEP_COUNT_PROMPT, steps)) {
          running = false;
          break;
        }
        reportAllProfiles(ctx, params, steps, file);
        break;
      }
      default:
        break;  // not a choice: the menu is shown again
    }
  }
  console.flush();
  return console.failed() ? 1 : 0;
}

KoreanEncoding koreanEncodingFor(const char* lcAll, const char* lcCtype, const char* lang) {
  const char* locale = nullptr;
  for (const char* candidate : {lcAll, lcCtype, lang}) {
    if (candidate != nullptr && *candidate != '\0') {
      locale = candidate;
      break;
    }
  }
  if (locale == nullptr) return KoreanEncoding::Utf8;
  // "ko_KR.EUC-KR", "ko_KR.euckr", "ko_KR.CP949", ...
  std::string folded;
  for (const char* c = locale; *c != '\0'; ++c) {
    const auto u = static_cast<unsigned char>(*c);
    if (std::isalnum(u) != 0) folded += static_cast<char>(std::tolower(u));
  }
  const bool eucKr =
      folded.find("euckr") != std::string::npos || folded.find("cp949") != std::string::npos;
  return eucKr ? KoreanEncoding::EucKr : KoreanEncoding::Utf8;
}

}  // namespace diffusim
