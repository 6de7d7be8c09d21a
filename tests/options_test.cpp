// Parsing the command line: options, the two paths, and what a wrong command line says.
#include "options.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vorlith {
namespace {

using Args = std::vector<std::string_view>;

std::string failureOf(const Args& args) {
  try {
    (void)parseCommandLine(args);
  } catch (const std::runtime_error& failure) {
    return failure.what();
  }
  return "(no failure)";
}

TEST(ParseCommandLine, TakesOptionsAnywhereBeforeTheEndOfOptions) {
  struct Case {
    Args args;
    bool modern;
    std::string input, output;
  };
  const Case cases[] = {
      {{"vorlith", "a.map", "b.json"}, false, "a.map", "b.json"},
      {{"vorlith", "--modern", "a.map", "b.json"}, true, "a.map", "b.json"},
      {{"vorlith", "a.map", "--modern", "b.json"}, true, "a.map", "b.json"},
      {{"vorlith", "a.map", "b.json", "--modern"}, true, "a.map", "b.json"},
      // After "--" every argument is a path, however it looks.
      {{"vorlith", "--", "--modern", "b.json"}, false, "--modern", "b.json"},
      {{"vorlith", "--modern", "--", "--", "-"}, true, "--", "-"},
      // One dash is not an option: "-" is standard output, "-x" a file name.
      {{"vorlith", "-x", "-"}, false, "-x", "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    CommandLine line = parseCommandLine(c.args);
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_EQ(line.settings.modern, c.modern);
    EXPECT_EQ(line.input, c.input);
    EXPECT_EQ(line.output, c.output);
  }
}

TEST(ParseCommandLine, HelpAndVersionNeedNoPaths) {
  EXPECT_EQ(parseCommandLine({"vorlith", "--help"}).action, CommandLine::Action::Help);
  EXPECT_EQ(parseCommandLine({"vorlith", "--version"}).action, CommandLine::Action::Version);
  EXPECT_EQ(parseCommandLine({"vorlith", "--version", "--help"}).action, CommandLine::Action::Help);
  EXPECT_EQ(parseCommandLine({"vorlith", "a", "b", "c", "--help"}).action,
            CommandLine::Action::Help);
  // After "--" it is a file named "--help".
  EXPECT_EQ(failureOf({"vorlith", "--", "--help"}), "Usage: vorlith input.map output.json");
}

TEST(ParseCommandLine, ReportsWrongCommandLinesWithTheUsageLine) {
  const std::pair<Args, std::string> cases[] = {
      {{"./bin/vorlith"}, "Usage: ./bin/vorlith input.map output.json"},
      {{"vorlith", "a.map"}, "Usage: vorlith input.map output.json"},
      {{"vorlith", "a", "b", "c"}, "Usage: vorlith input.map output.json"},
      {{"vorlith", "--modern", "a.map"}, "Usage: vorlith input.map output.json"},
      {{}, "Usage:  input.map output.json"},
      {{"vorlith", "--moden", "a", "b"},
       "Unknown option: --moden\nUsage: vorlith input.map output.json"},
      {{"vorlith", "a", "b", "---"}, "Unknown option: ---\nUsage: vorlith input.map output.json"},
      {{"vorlith", "--modern=yes", "a", "b"},
       "--modern=yes: --modern takes no value\nUsage: vorlith input.map output.json"},
      {{"vorlith", "--summary=abc", "a", "b"},
       "--summary=abc: not a whole number\nUsage: vorlith input.map output.json"},
      {{"vorlith", "--max-growth=x%", "--base=o", "a", "b"},
       "--max-growth=x%: not a whole number: write a per cent like 2% or 0.5%\nUsage: vorlith "
       "input.map output.json"},
      // An unknown option is reported before anything else is looked at.
      {{"vorlith", "--help", "--bogus"},
       "Unknown option: --bogus\nUsage: vorlith input.map output.json"},
  };
  for (const auto& [args, message] : cases) {
    SCOPED_TRACE(testing::PrintToString(args));
    EXPECT_EQ(failureOf(args), message);
  }
}

TEST(ParseCommandLine, ReadsTheNumberOfThreads) {
  const std::pair<std::string_view, uint32_t> cases[] = {
      {"--jobs=1", 1},
      {"--jobs=2", 2},
      {"--jobs=08", 8},
      {"--jobs=64", 64},
      // Past the bound, more threads would only wait for the one that files.
      {"--jobs=65", kMaxJobs},
      {"--jobs=100000", kMaxJobs},
      {"--jobs=18446744073709551615", kMaxJobs},
  };
  for (const auto& [option, jobs] : cases) {
    SCOPED_TRACE(option);
    EXPECT_EQ(parseCommandLine({"vorlith", option, "a.map", "b.json"}).settings.jobs, jobs);
  }
  Settings defaults = parseCommandLine({"vorlith", "a.map", "b.json"}).settings;
  EXPECT_EQ(defaults.jobs, 0u);
  EXPECT_EQ(namingThreads(defaults), availableCores());
  EXPECT_GE(availableCores(), 1u);
  EXPECT_LE(availableCores(), kMaxJobs);
}

TEST(ParseCommandLine, RefusesThreadCountsThatAreNotWholePositiveNumbers) {
  const std::string usage = "\nUsage: vorlith input.map output.json";
  const std::string notANumber = ": not a whole number of threads (1 or more)" + usage;
  const std::pair<std::string_view, std::string> cases[] = {
      {"--jobs=0", "--jobs=0: must be 1 or more" + usage},
      {"--jobs=000", "--jobs=000: must be 1 or more" + usage},
      {"--jobs=-1", "--jobs=-1" + notANumber},
      {"--jobs=+2", "--jobs=+2" + notANumber},
      {"--jobs=x", "--jobs=x" + notANumber},
      {"--jobs=2x", "--jobs=2x" + notANumber},
      {"--jobs= 2", "--jobs= 2" + notANumber},
      {"--jobs=1.5", "--jobs=1.5" + notANumber},
      {"--jobs=18446744073709551616", "--jobs=18446744073709551616: too large a number" + usage},
      {"--jobs=", "--jobs=: needs a value: --jobs=N" + usage},
      {"--jobs", "--jobs: needs a value: --jobs=N" + usage},
  };
  for (const auto& [option, message] : cases) {
    SCOPED_TRACE(option);
    EXPECT_EQ(failureOf({"vorlith", option, "a.map", "b.json"}), message);
  }
}

TEST(ParseCommandLine, HelpListsEveryOptionOnItsOwnLine) {
  std::string help = helpText("vorlith");
  EXPECT_EQ(help.rfind("Usage: vorlith [options] input.map output.json\n", 0), 0u) << help;
  for (std::string_view option :
       {"\n  --modern ", "\n  --jobs=N ", "\n  --help ", "\n  --version ", "\n  -- "}) {
    EXPECT_NE(help.find(option), std::string::npos) << option;
  }
  for (size_t start = 0, end; (end = help.find('\n', start)) != std::string::npos;
       start = end + 1) {
    EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
  }
}

// "history DB" is the history command only where the classic run would overwrite a database, or
// where --group says so; otherwise it stays a map called "history", as it always was.
TEST(ParseCommandLine, StartsTheHistoryCommandOnlyWhereTheClassicRunWouldDestroyADatabase) {
  struct Case {
    Args args;
    CommandLine::Action action;
    std::string input, output, html, group;
  };
  const Case cases[] = {
      {{"vorlith", "history", "size.db"}, CommandLine::Action::History, "size.db", "", "", ""},
      {{"vorlith", "history", "--html=t.html", "size.db"}, CommandLine::Action::History, "size.db",
       "", "t.html", ""},
      {{"vorlith", "--group=std > format", "history", "new.db"}, CommandLine::Action::History,
       "new.db", "", "", "std > format"},
      {{"vorlith", "history", "out.json"}, CommandLine::Action::Run, "history", "out.json", "", ""},
      {{"vorlith", "--html=p.html", "history", "out.json"}, CommandLine::Action::Run, "history",
       "out.json", "p.html", ""},
      {{"vorlith", "size.db", "history"}, CommandLine::Action::Run, "size.db", "history", "", ""},
      {{"vorlith", "--", "history", "size.db"}, CommandLine::Action::History, "size.db", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.args[1]) + " " + std::string(c.args[2]));
    CommandLine line = parseCommandLine(c.args, +[](const std::string& name) {
      return name == "size.db";
    });
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.input, c.input);
    EXPECT_EQ(line.output, c.output);
    EXPECT_EQ(line.settings.html, c.html);
    EXPECT_EQ(line.settings.group, c.group);
  }
  // Without a check every second path is taken for a map's document, as before.
  EXPECT_EQ(parseCommandLine({"vorlith", "history", "size.db"}).action, CommandLine::Action::Run);
}

TEST(ParseCommandLine, RefusesHistoryOptionsOutOfPlace) {
  auto failure = [](const Args& args) {
    try {
      (void)parseCommandLine(args, +[](const std::string& name) { return name == "size.db"; });
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("(no failure)");
  };
  const std::pair<Args, std::string> cases[] = {
      {{"vorlith", "--modern", "history", "size.db"},
       "--modern: vorlith history takes only --group and --html\n"
       "Usage: vorlith input.map output.json"},
      {{"vorlith", "--record=size.db", "history", "size.db"},
       "--record=size.db: vorlith history takes only --group and --html\n"
       "Usage: vorlith input.map output.json"},
      {{"vorlith", "--group=std", "app.map", "app.json"},
       "--group=std: belongs to vorlith history DB\n"
       "Usage: vorlith input.map output.json"},
      {{"vorlith", "--label=v1", "app.map", "app.json"},
       "--label=v1: needs --record=DB\nUsage: vorlith input.map output.json"},
      {{"vorlith", "--record", "app.map", "app.json"},
       "--record: needs a value: --record=DB\nUsage: vorlith input.map output.json"},
      {{"vorlith", "history", "size.db", "extra"}, "Usage: vorlith input.map output.json"},
  };
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(failure(args), message);
  }
}

}  // namespace
}  // namespace vorlith
