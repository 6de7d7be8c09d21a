// The command line: options and the two paths, parsed once into a plain value that the run hands
// to the modules that need it.
//   vorlith input.map output.json                 the classic document
//   vorlith --modern -- input.map output.json     options first or anywhere before "--"
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorlith {

// What the options ask of the reader, the classifier and the reports. The default value is a run
// without options, which must stay exactly the classic behaviour.
struct Settings {
  bool modern = false;  // read maps and names as today's toolchains write them
};

struct CommandLine {
  enum class Action { Run, Help, Version };
  Action action = Action::Run;
  Settings settings;
  std::string input;   // the map to read
  std::string output;  // the document to write
};

// Parses `args` as main gets them (argument 0 included). Arguments that begin with "--" before a
// lone "--" are options; exactly two others must remain unless --help or --version is given.
// Throws std::runtime_error with the usage line, or with "Unknown option: " and the option (or
// what is wrong with its value) on a line before the usage line.
[[nodiscard]] CommandLine parseCommandLine(const std::vector<std::string_view>& args);

// "Usage: " + program + " input.map output.json", as a wrong command line reports it.
[[nodiscard]] std::string usageLine(std::string_view program);

// The text of --help: the usage, what the tool does and one line per option.
[[nodiscard]] std::string helpText(std::string_view program);

// The version of this build, as the build system states it ("1.0.0").
[[nodiscard]] std::string_view version();

}  // namespace vorlith
