#include "options.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <thread>

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

// A whole decimal number with no sign and no spaces; throws std::invalid_argument "not a whole
// number" and `what` after it.
uint64_t parseCount(string_view text, string_view what) {
  uint64_t n = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument("not a whole number" + string(what));
  }
  return n;
}

// One row per option, in the order --help lists them.
constexpr Option kOptions[] = {
    {"--modern", Value::None, "", "read maps and names as today's toolchains write them",
     [](CommandLine& line, string_view) { line.settings.modern = true; }},
    {"--elf", Value::Required, "BINARY", "exact sizes from the binary the map's link wrote",
     [](CommandLine& line, string_view value) {
       line.settings.elf = value;
       line.settings.modern = true;
     }},
    {"--size", Value::Required, "MEASURE", "count the loaded image (memory) or the file (file)",
     [](CommandLine& line, string_view value) {
       if (value == "memory") {
         line.settings.measure = Measure::Memory;
       } else if (value == "file") {
         line.settings.measure = Measure::File;
       } else {
         throw std::invalid_argument("not memory or file");
       }
       line.settings.modern = true;
     }},
    {"--summary", Value::Optional, "N", "print the largest groups, N symbols and N templates (20)",
     [](CommandLine& line, string_view value) {
       line.settings.summary = true;
       if (!value.empty()) {
         line.settings.listLength = parseCount(value, "");
       }
     }},
    {"--base", Value::Required, "OLD", "compare with an older build (map, document, or history)",
     [](CommandLine& line, string_view value) { line.settings.base = value; }},
    {"--max-growth", Value::Required, "LIMIT",
     "with --base: exit 3 if it grew more (4096, 64KiB, 2%)",
     [](CommandLine& line, string_view value) {
       line.settings.maxGrowth = parseGrowthLimit(value);
     }},
    {"--csv", Value::Required, "FILE", "write one row per symbol to FILE (CSV, formulas kept text)",
     [](CommandLine& line, string_view value) { line.settings.csv = value; }},
    {"--html", Value::Required, "FILE", "write one self-contained treemap page to FILE",
     [](CommandLine& line, string_view value) { line.settings.html = value; }},
    {"--diff", Value::Required, "FILE", "with --base: write the comparison to FILE (JSON)",
     [](CommandLine& line, string_view value) { line.settings.diff = value; }},
    {"--record", Value::Required, "DB", "add this run to the size history in DB (SQLite)",
     [](CommandLine& line, string_view value) { line.settings.record = value; }},
    {"--label", Value::Required, "TEXT", "with --record: the run's label (default: the time)",
     [](CommandLine& line, string_view value) { line.settings.label = value; }},
    {"--group", Value::Required, "PATH", "with history: only this group (names joined by ' > ')",
     [](CommandLine& line, string_view value) { line.settings.group = value; }},
    {"--jobs", Value::Required, "N", "name symbols on N threads (default: every core)",
     [](CommandLine& line, string_view value) { line.settings.jobs = parseJobs(value); }},
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

[[noreturn]] void failOption(string_view argument, string_view program) {
  throw std::runtime_error("Unknown option: " + string(argument) + "\n" + usageLine(program));
}

// A known option with a value it cannot take: the option as given and what is wrong, so that
// the user sees what to change ("--summary=abc: not a whole number").
[[noreturn]] void failValue(string_view argument, string_view why, string_view program) {
  throw std::runtime_error(string(argument) + ": " + string(why) + "\n" + usageLine(program));
}

}  // namespace

GrowthLimit parseGrowthLimit(string_view text) {
  GrowthLimit limit;
  limit.text = text;
  if (!text.empty() && text.back() == '%') {
    string_view number = text.substr(0, text.size() - 1);
    size_t point = number.find('.');
    string_view whole = number.substr(0, point);
    string_view fraction = point == string_view::npos ? string_view() : number.substr(point + 1);
    if (whole.empty() || (point != string_view::npos && fraction.empty()) || fraction.size() > 6 ||
        whole.size() > 12) {
      throw std::invalid_argument("not a per cent: write it like 2% or 0.5%");
    }
    limit.percent = true;
    limit.percentDigits = parseCount(string(whole) + string(fraction), ": write a per cent like 2% or 0.5%");
    limit.percentDecimals = static_cast<uint32_t>(fraction.size());
    return limit;
  }
  struct Unit {
    string_view suffix;
    uint64_t factor;
  };
  constexpr Unit kUnits[] = {
      {"GiB", 1ull << 30}, {"MiB", 1ull << 20}, {"KiB", 1ull << 10}, {"B", 1}};
  uint64_t factor = 1;
  for (const Unit& unit : kUnits) {
    if (text.size() > unit.suffix.size() && text.ends_with(unit.suffix)) {
      factor = unit.factor;
      text.remove_suffix(unit.suffix.size());
      break;
    }
  }
  uint64_t count = parseCount(text, " of bytes, KiB, MiB or GiB, nor a per cent (4096, 64KiB, 2%)");
  if (count > UINT64_MAX / factor) {
    throw std::invalid_argument("too large a limit");
  }
  limit.bytes = count * factor;
  return limit;
}

uint32_t parseJobs(string_view text) {
  bool digits = !text.empty() && text.find_first_not_of("0123456789") == string_view::npos;
  if (!digits) {
    throw std::invalid_argument("not a whole number of threads (1 or more)");
  }
  uint64_t n = 0;
  if (std::from_chars(text.data(), text.data() + text.size(), n).ec != std::errc()) {
    throw std::invalid_argument("too large a number");
  }
  if (n == 0) {
    throw std::invalid_argument("must be 1 or more");
  }
  return n > kMaxJobs ? kMaxJobs : static_cast<uint32_t>(n);
}

uint32_t availableCores() {
  uint64_t cores = 0;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    cores = static_cast<uint64_t>(CPU_COUNT(&set));
  }
  if (cores == 0) {
    cores = std::thread::hardware_concurrency();  // 0 when unknown
  }
  return static_cast<uint32_t>(std::clamp<uint64_t>(cores, 1, kMaxJobs));
}

uint32_t namingThreads(const Settings& settings) {
  return settings.jobs != 0 ? std::min(settings.jobs, kMaxJobs) : availableCores();
}

string usageLine(string_view program) {
  return "Usage: " + string(program) + " input.map output.json";
}

std::vector<string> documentOptions(const Settings& settings) {
  std::vector<string> options;
  if (settings.modern) {
    options.emplace_back("--modern");
  }
  if (!settings.elf.empty()) {
    options.emplace_back("--elf");  // sizes from a binary's symbol table, whatever its path
  }
  if (settings.measure == Measure::File) {
    options.emplace_back("--size=file");  // memory is the measure of --modern without it
  }
  return options;
}

string helpText(string_view program) {
  string text = "Usage: " + string(program) + " [options] input.map output.json\n";
  text += "       " + string(program) + " history [--group=PATH] [--html=FILE] DB\n";
  text +=
      "Reads a linker map file and writes the size treemap document of the program:\n"
      "\"var treeData = \" and the JSON tree of its symbols, which the treemap page\n"
      "(viewer/index.html) draws; an output path of \"-\" is standard output. Without\n"
      "options, maps and names are read by the classic rules. An ELF program given\n"
      "instead of the map is read alone (its symbol table and sections) by the modern\n"
      "rules; --size and --elf imply --modern. Every file is written beside its\n"
      "target and renamed over it when complete; an output that names an input (other\n"
      "than the document replacing --base) is refused.\n"
      "\"history DB\" prints the size history that --record=DB kept (DB must be one)\n"
      "and, with --html, writes its trend page.\n\nOptions:\n";
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

CommandLine parseCommandLine(const std::vector<string_view>& args, DatabaseCheck isDatabase) {
  string_view program = args.empty() ? string_view() : args[0];
  CommandLine line;
  std::vector<string_view> paths;
  std::vector<string_view> given;  // the options, as written
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
      failOption(argument, program);
    }
    bool hasValue = equals != string_view::npos;
    string_view value = hasValue ? argument.substr(equals + 1) : string_view();
    if (hasValue && option->value == Value::None) {
      failValue(argument, string(name) + " takes no value", program);
    }
    if (option->value == Value::Required && (!hasValue || value.empty())) {
      failValue(argument, "needs a value: " + string(name) + "=" + string(option->valueName),
                program);
    }
    given.push_back(argument);
    try {
      option->apply(line, value);
    } catch (const std::invalid_argument& wrong) {
      failValue(argument, wrong.what(), program);
    }
  }
  if (line.action != CommandLine::Action::Run) {
    return line;
  }
  bool historyWord = paths.size() == 2 && paths[0] == kHistoryCommand;
  if (historyWord && (!line.settings.group.empty() ||
                      (isDatabase != nullptr && isDatabase(string(paths[1]))))) {
    for (string_view argument : given) {
      string_view name = argument.substr(0, argument.find('='));
      if (name != "--group" && name != "--html") {
        failValue(argument, "vorlith history takes only --group and --html", program);
      }
    }
    line.action = CommandLine::Action::History;
    line.input = paths[1];
    return line;
  }
  if (!line.settings.group.empty()) {
    failValue("--group=" + line.settings.group, "belongs to vorlith history DB", program);
  }
  if (line.settings.maxGrowth && line.settings.base.empty()) {
    failValue("--max-growth=" + line.settings.maxGrowth->text, "needs --base=OLD", program);
  }
  if (!line.settings.diff.empty() && line.settings.base.empty()) {
    failValue("--diff=" + line.settings.diff, "needs --base=OLD", program);
  }
  if (!line.settings.label.empty() && line.settings.record.empty()) {
    failValue("--label=" + line.settings.label, "needs --record=DB", program);
  }
  if (paths.size() != 2) {
    throw std::runtime_error(usageLine(program));
  }
  line.input = paths[0];
  line.output = paths[1];
  return line;
}

}  // namespace vorlith
