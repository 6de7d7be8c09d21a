#include "options.h"

#include <stdexcept>

namespace vorlith {

using std::string;
using std::string_view;

namespace {

// Whether an option takes "=VALUE" after its name.
enum class Value { None, Optional, Required };

struct Option {
  string_view name;  // with its leading "--"
  Value value;
  string_view valueName;  // shown in --help after "="
  string_view help;
  // Applies the option; `value` is empty when none was given. Throws std::invalid_argument with
  // what is wrong with the value.
  void (*apply)(CommandLine&, string_view value);
};

// One row per option, in the order --help lists them.
constexpr Option kOptions[] = {
    {"--modern", Value::None, "", "read maps and names as today's toolchains write them",
     [](CommandLine& line, string_view) { line.settings.modern = true; }},
    {"--help", Value::None, "", "print this help and exit",
     [](CommandLine& line, string_view) { line.action = CommandLine::Action::Help; }},
    {"--version", Value::None, "", "print the version and exit",
     [](CommandLine& line, string_view) {
       if (line.action != CommandLine::Action::Help) {
         line.action = CommandLine::Action::Version;
       }
     }},
};

const Option* findOption(string_view name) {
  for (const Option& option : kOptions) {
    if (option.name == name) {
      return &option;
    }
  }
  return nullptr;
}

[[noreturn]] void failOption(string_view argument, string_view why, string_view program) {
  string message = "Unknown option: ";
  message += argument;
  if (!why.empty()) {
    message += " (";
    message += why;
    message += ')';
  }
  message += '\n';
  message += usageLine(program);
  throw std::runtime_error(message);
}

}  // namespace

string usageLine(string_view program) {
  return "Usage: " + string(program) + " input.map output.json";
}

string helpText(string_view program) {
  string text = "Usage: " + string(program) + " [options] input.map output.json\n";
  text +=
      "Reads a linker map file and writes the size treemap document of the program:\n"
      "\"var treeData = \" and the JSON tree of its symbols, which the treemap page\n"
      "(viewer/index.html) draws; an output path of \"-\" is standard output. Without\n"
      "options, maps and names are read by the classic rules.\n\nOptions:\n";
  auto addRow = [&text](string_view left, string_view help) {
    string row = "  " + string(left);
    row.resize(row.size() < 22 ? 22 : row.size() + 2, ' ');
    text += row;
    text += help;
    text += '\n';
  };
  for (const Option& option : kOptions) {
    string left(option.name);
    if (option.value == Value::Required) {
      left += "=" + string(option.valueName);
    } else if (option.value == Value::Optional) {
      left += "[=" + string(option.valueName) + "]";
    }
    addRow(left, option.help);
  }
  addRow("--", "end the options; every later argument is a path");
  return text;
}

string_view version() {
#ifdef VORLITH_VERSION
  return VORLITH_VERSION;
#else
  return "unknown";
#endif
}

CommandLine parseCommandLine(const std::vector<string_view>& args) {
  string_view program = args.empty() ? string_view() : args[0];
  CommandLine line;
  std::vector<string_view> paths;
  bool optionsEnded = false;
  for (size_t k = 1; k < args.size(); ++k) {
    string_view argument = args[k];
    if (optionsEnded || argument.substr(0, 2) != "--") {
      paths.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    size_t equals = argument.find('=');
    string_view name = argument.substr(0, equals);
    const Option* option = findOption(name);
    if (option == nullptr) {
      failOption(argument, "", program);
    }
    bool hasValue = equals != string_view::npos;
    string_view value = hasValue ? argument.substr(equals + 1) : string_view();
    if (hasValue && option->value == Value::None) {
      failOption(argument, "it takes no value", program);
    }
    if (option->value == Value::Required && (!hasValue || value.empty())) {
      failOption(argument, "it needs =" + string(option->valueName), program);
    }
    try {
      option->apply(line, value);
    } catch (const std::invalid_argument& wrong) {
      failOption(argument, wrong.what(), program);
    }
  }
  if (line.action != CommandLine::Action::Run) {
    return line;
  }
  if (paths.size() != 2) {
    throw std::runtime_error(usageLine(program));
  }
  line.input = paths[0];
  line.output = paths[1];
  return line;
}

}  // namespace vorlith
