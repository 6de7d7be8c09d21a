// The command line: options and the two paths, parsed once into a plain value that the run hands
// to the modules that need it.
//   vorlith input.map output.json                 the classic document
//   vorlith --modern -- input.map output.json     options first or anywhere before "--"
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlith {

// How much a build may grow against its base before the run fails: bytes, or a share of the old
// total given as a decimal per cent ("2.5%" is 25 / 10^1).
struct GrowthLimit {
  bool percent = false;
  uint64_t bytes = 0;            // when not a per cent
  uint64_t percentDigits = 0;    // the per cent's digits without the point: "2.5" is 25
  uint32_t percentDecimals = 0;  // digits after the point
  std::string text;              // as given, for messages
};

// How a program's bytes are counted under the modern rules: as loaded in memory (sections
// that are loaded, zero-initialised ones in full) or as stored in the file (sections with file
// bytes, loaded or not; with a binary also its headers and the gaps between sections).
enum class Measure { Memory, File };

// What the options ask of the reader, the classifier and the reports. The default value is a run
// without options, which must stay exactly the classic behaviour.
struct Settings {
  bool modern = false;                   // read maps and names as today's toolchains write them
  bool summary = false;                  // print the largest groups and symbols
  uint64_t listLength = 20;              // how many symbols and changes the printed reports list
  std::string base;                      // compare with this map or document when not empty
  std::optional<GrowthLimit> maxGrowth;  // fail with status 3 past this growth
  std::string csv;                       // write one row per symbol here when not empty
  std::string html;                      // write the self-contained page here when not empty
  std::string diff;                      // with --base: write the comparison as JSON here
  std::string record;                    // add the run to this history database when not empty
  std::string label;                     // the run's label in the history; empty: the time
  std::string group;                     // the history command: only this group (" › " path)
  // Threads that name symbols; 0 is every core this process may run on. The document is the same
  // for any number.
  uint32_t jobs = 0;
  Measure measure = Measure::Memory;  // --size; counted by the modern rules only
  std::string elf;                    // the binary of the map's link (--elf), when not empty
};

// The most threads --jobs starts; larger values are taken as this. Naming stops gaining long
// before: filing, which stays on one thread, is over half of a run.
constexpr uint32_t kMaxJobs = 64;

// The cores this process may run on (its affinity mask, else the hardware's count), at least 1
// and at most kMaxJobs.
[[nodiscard]] uint32_t availableCores();

// The threads a run with `settings` names symbols on: --jobs, or every available core.
[[nodiscard]] uint32_t namingThreads(const Settings& settings);

// Reads --jobs's N: a decimal number of at least 1, taken as kMaxJobs when larger. Throws
// std::invalid_argument saying what is wrong.
[[nodiscard]] uint32_t parseJobs(std::string_view text);

// The exit status of a run whose build grew past its --max-growth limit.
constexpr int kGrewTooMuch = 3;

// Reads "4096", "64KiB", "1MiB", "1GiB", "100B" or a per cent ("2%", "0.5%"). Throws
// std::invalid_argument saying what is wrong.
[[nodiscard]] GrowthLimit parseGrowthLimit(std::string_view text);

// The options that change the document, as they are written in its record (`"options"` at the
// top of the document), in a fixed order: empty for a run that writes the classic document. Reports
// and threads change nothing in the document, so they are not listed. A new option that changes
// the document adds its line here.
[[nodiscard]] std::vector<std::string> documentOptions(const Settings& settings);

// The settings of a run with only --modern, or with no option at all.
[[nodiscard]] inline Settings readingSettings(bool modern) {
  Settings settings;
  settings.modern = modern;
  return settings;
}

struct CommandLine {
  // Run: the classic run, a map into a document. History: `vorlith history DB`, the table and
  // page of a recorded history.
  enum class Action { Run, Help, Version, History };
  Action action = Action::Run;
  Settings settings;
  std::string input;   // the map (or binary) to read; the history database for History
  std::string output;  // the document to write
};

// The word that starts the history command in the place of the map.
constexpr std::string_view kHistoryCommand = "history";

// Whether a file is a history database, as parseCommandLine asks it of the second path.
using DatabaseCheck = bool (*)(const std::string& fileName);

// Parses `args` as main gets them (argument 0 included). Arguments that begin with "--" before a
// lone "--" are options; exactly two others must remain unless --help or --version is given.
// Throws std::runtime_error with the usage line, or with "Unknown option: " and the option (or
// what is wrong with its value) on a line before the usage line.
//
// The two paths "history DB" start the history command when DB is a database (`isDatabase`; the
// classic run would overwrite it with a document) or when --group is given; otherwise they are
// a map called "history" and a document, as always. The history command takes only --group and
// --html, and refuses the others as unknown.
[[nodiscard]] CommandLine parseCommandLine(const std::vector<std::string_view>& args,
                                           DatabaseCheck isDatabase = nullptr);

// "Usage: " + program + " input.map output.json", as a wrong command line reports it.
[[nodiscard]] std::string usageLine(std::string_view program);

// The text of --help: the usage, what the tool does and one line per option.
[[nodiscard]] std::string helpText(std::string_view program);

// The version of this build, as the build system states it ("1.0.0").
[[nodiscard]] std::string_view version();

}  // namespace vorlith
