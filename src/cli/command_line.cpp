#include "cli/command_line.hpp"

#include <CLI/CLI.hpp>
#include <exception>
#include <string>
#include <vector>

#include "cli/arguments.hpp"
#include "cli/help_text.hpp"
#include "cli/request.hpp"
#include "study/input_file.hpp"
#include "study/parameter_file.hpp"
#include "study/run_request.hpp"
#include "study/schedule_file.hpp"

namespace diffusim {

// Reads the arguments, builds the one request they make and runs it on the
// path it names; every refusal and failure becomes one line and an exit status.
int runCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const RunOptions& options) {
  // The version alone is answered before the parser of every command is
  // built: scripts ask for it often, and it should cost no more than a start.
  if (args.size() == 1 && args.front() == "--version") {
    out << "diffusim " << options.version << "\n";
    return out.flush() ? EXIT_DONE : EXIT_FAILED;
  }
  Arguments a;
  const bool& help = a.help;
  const bool& version = a.version;
  std::string prefix = "diffusim";
  const std::vector<CLI::App*>& commands = a.commands();
  for (CLI::App* sub : commands)
    if (!args.empty() && args.front() == sub->get_name()) prefix += " " + args.front();
  try {
    a.parse(args);
    CLI::App* chosen = a.chosen();
    if (help || (chosen == nullptr && !version)) {
      if (chosen == nullptr && !help) throw UsageError("no command given");
      out << PROGRAM_HELP;
      return EXIT_DONE;
    }
    if (version) {
      out << "diffusim " << options.version << "\n";
      return EXIT_DONE;
    }
    // A value written as two words ("--length 0.5 mm") leaves its second
    // word behind: name the flag it belongs to.
    const std::vector<std::string> extras = chosen->remaining();
    if (!extras.empty()) {
      for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == extras.front() && extras.front()[0] != '-' &&
            args[i - 2].rfind("--", 0) == 0 && chosen->get_option_no_throw(args[i - 2]) != nullptr)
          throw UsageError(args[i - 2] + ": '" + args[i - 1] + " " + args[i] +
                           "' is two words; write the unit without a space, as in 0.5mm");
      }
      if (extras.front() == "--stage-duration" && (a.command() == "design" || a.command() == "fit"))
        throw UsageError("--stage-duration: " + a.command() +
                         (a.command() == "design"
                              ? " chooses the durations of the stages it varies"
                              : " runs the schedule as written (fit a duration with --fit "
                                "stageN.duration)") +
                         "; edit the schedule instead");
      throw UsageError("unknown argument '" + extras.front() + "'");
    }
    if (a.printsSchedule() && a.texts.example != "cycle" && a.texts.example != "shaft" &&
        a.texts.example != "low-pressure" && a.texts.example != "carbonitriding")
      throw UsageError("--example: '" + a.texts.example +
                       "' is not cycle, shaft, low-pressure or carbonitriding");
    if (a.printsParameters() || a.printsSchedule()) {
      out << (a.printsParameters()                  ? defaultParameterFile()
              : a.texts.example == "shaft"          ? exampleShaftFile()
              : a.texts.example == "low-pressure"   ? exampleLowPressureFile()
              : a.texts.example == "carbonitriding" ? exampleCarbonitridingFile()
                                                    : exampleScheduleFile());
      out.flush();
      return out.fail() ? EXIT_FAILED : EXIT_DONE;
    }
    try {
      Request request = buildRequest(a);
      // A result written over a file the request reads would lose that file.
      const FlagTexts& t = a.texts;
      if (const std::string clash =
              outputClash({{"--output", t.output}, {"--write-schedule", t.writeSchedule}},
                          {{"--schedule", t.schedule}, {"--params", t.params}, {"--data", t.data}});
          !clash.empty())
        throw UsageError(clash);
      return runRequest(std::move(request), options, out, err);
    } catch (const UsageError&) {
      throw;
    } catch (const RunFailure& e) {
      err << prefix << ": " << e.what() << "\n";
      return EXIT_FAILED;
    } catch (const std::exception& e) {
      err << "diffusim: " << e.what() << "\n";
      return EXIT_FAILED;
    }
  } catch (const CLI::CallForHelp&) {
    const CLI::App* asked = nullptr;
    for (CLI::App* sub : commands)
      if (sub->parsed()) asked = sub;
    if (asked != nullptr) {
      std::string text = asked->help();
      const std::string usage = "Usage: " + asked->get_name();
      if (text.rfind(usage, 0) == 0 || text.find("\n" + usage) != std::string::npos) {
        const std::size_t at = text.find(usage);
        text.replace(at, usage.size(), "Usage: diffusim " + asked->get_name());
      }
      out << text;
    } else {
      out << PROGRAM_HELP;
    }
    return EXIT_DONE;
  } catch (const CLI::Success&) {
    return EXIT_DONE;
  } catch (const CLI::RequiredError& e) {
    std::string what = e.what();
    err << prefix << ": " << what << "\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const CLI::ExtrasError&) {
    // Only the top level refuses extras: name the first word it cannot take.
    std::string unknown = args.empty() ? std::string() : args.front();
    for (const std::string& a : args) {
      if (a != "-h" && a != "--help" && a != "--version") {
        unknown = a;
        break;
      }
    }
    err << "diffusim: unknown argument '" << unknown << "'\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const CLI::ArgumentMismatch& e) {
    // "--time: 1 required TEXT missing": name the flag and what it lacks.
    const std::string what = e.what();
    err << prefix << ": " << what.substr(0, what.find(':')) << " needs a value\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const CLI::ParseError& e) {
    err << prefix << ": " << e.what() << "\n" << TRY_HELP;
    return EXIT_USAGE;
  } catch (const UsageError& e) {
    err << prefix << ": " << e.what() << "\n" << TRY_HELP;
    return EXIT_USAGE;
  }
}

}  // namespace diffusim
