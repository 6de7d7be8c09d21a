// End-to-end runs of the reports: what each option prints or writes, exit statuses, the size
// budget's boundary, and the document left exactly as a run without them writes it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "document.h"
#include "report_text.h"
#include "support/run_exe.h"
#include "support/test_dir.h"

namespace fs = std::filesystem;

namespace {

const fs::path kBuilds = fs::path(VORLITH_TEST_DATA) / ".." / ".." / "viewer" / "test" / "builds";

using Result = RunResult;

class ReportRun : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = freshTestDirectory("report");
    fs::copy_file(kBuilds / "before.map", dir_ / "before.map");
    fs::copy_file(kBuilds / "after.map", dir_ / "after.map");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs vorlith with `args` (argument 0 not included) in the test's directory.
  Result run(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"vorlith"};
    argv.insert(argv.end(), args.begin(), args.end());
    return runVorlith(dir_, argv);
  }

  uint64_t totalOf(const std::string& document) {
    std::string text = slurp(dir_ / document);
    return vorlith::readDocument(vorlith::documentJson(text)).root().total;
  }

  fs::path dir_;
};

TEST_F(ReportRun, LeavesTheDocumentByteForByteAsWithoutReports) {
  for (std::string modern : {"", "--modern"}) {
    SCOPED_TRACE(modern);
    auto with = [&modern](std::vector<std::string> args) {
      if (!modern.empty()) {
        args.insert(args.begin(), modern);
      }
      return args;
    };
    ASSERT_EQ(run(with({"before.map", "old.json"})).status, 0);
    ASSERT_EQ(run(with({"after.map", "plain.json"})).status, 0);
    std::string plain = slurp(dir_ / "plain.json");
    const std::vector<std::vector<std::string>> reports = {
        {"--summary"},
        {"--summary=3", "--csv=a.csv", "--html=a.html"},
        {"--base=old.json"},
        {"--base=before.map", "--max-growth=1", "--html=b.html"},
    };
    for (const auto& options : reports) {
      SCOPED_TRACE(testing::PrintToString(options));
      std::vector<std::string> args = with(options);
      args.insert(args.end(), {"after.map", "new.json"});
      Result r = run(args);
      EXPECT_TRUE(r.status == 0 || r.status == 3) << r.err;
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(slurp(dir_ / "new.json"), plain);
    }
  }
}

TEST_F(ReportRun, PrintsOnlyWhatIsAskedOnStandardOutputTheSameEveryTime) {
  Result quiet = run({"--csv=a.csv", "--html=a.html", "after.map", "new.json"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  EXPECT_TRUE(fs::file_size(dir_ / "a.csv") > 0 && fs::file_size(dir_ / "a.html") > 0);

  Result summary = run({"--summary=5", "after.map", "new.json"});
  EXPECT_EQ(summary.status, 0);
  EXPECT_EQ(summary.err, "");
  EXPECT_EQ(summary.out.rfind("Total: " + std::to_string(totalOf("new.json")) + " bytes", 0), 0u)
      << summary.out;
  EXPECT_NE(summary.out.find("Largest 5 symbols"), std::string::npos) << summary.out;
  EXPECT_EQ(summary.out.find("Comparison"), std::string::npos);
  Result both = run({"--summary", "--base=before.map", "after.map", "new.json"});
  EXPECT_EQ(both.status, 0);
  EXPECT_NE(both.out.find("Largest 20 symbols"), std::string::npos) << both.out;
  EXPECT_NE(both.out.find("\n\nComparison of new.json with before.map\n"), std::string::npos)
      << both.out;
  EXPECT_EQ(run({"--summary", "--base=before.map", "after.map", "new.json"}).out, both.out);
  size_t start = 0;
  for (size_t end; (end = both.out.find('\n', start)) != std::string::npos; start = end + 1) {
    std::string_view line = std::string_view(both.out).substr(start, end - start);
    EXPECT_LE(vorlith::report::columns(line), vorlith::report::kLineWidth) << line;
  }
}

TEST_F(ReportRun, ComparesWithADocumentOrAMapAlike) {
  ASSERT_EQ(run({"before.map", "old.json"}).status, 0);
  Result fromDocument = run({"--base=old.json", "after.map", "new.json"});
  Result fromMap = run({"--base=before.map", "after.map", "new.json"});
  ASSERT_EQ(fromDocument.status, 0) << fromDocument.err;
  ASSERT_EQ(fromMap.status, 0) << fromMap.err;
  // Only the old build's name differs.
  std::string expected = fromMap.out;
  expected.replace(expected.find("before.map"), 10, "old.json");
  EXPECT_EQ(fromDocument.out, expected);
  uint64_t oldTotal = totalOf("old.json");
  uint64_t newTotal = totalOf("new.json");
  EXPECT_NE(fromMap.out.find("Change        +" + std::to_string(newTotal - oldTotal)),
            std::string::npos)
      << fromMap.out;
}

TEST_F(ReportRun, ComparesWithTheDocumentItReplaces) {
  ASSERT_EQ(run({"before.map", "size.json"}).status, 0);
  Result r = run({"--base=size.json", "after.map", "size.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Old total     16376"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Change        +7680"), std::string::npos) << r.out;
  EXPECT_EQ(totalOf("size.json"), 24056u);
}

TEST_F(ReportRun, FailsTheBudgetExactlyPastTheLimit) {
  ASSERT_EQ(run({"before.map", "old.json"}).status, 0);
  ASSERT_EQ(run({"after.map", "new.json"}).status, 0);
  uint64_t oldTotal = totalOf("old.json");
  uint64_t growth = totalOf("new.json") - oldTotal;
  ASSERT_GT(growth, 1u);
  // The smallest per cent with six decimals that allows the growth, and the one below it.
  __extension__ unsigned __int128 scaled =
      (static_cast<unsigned __int128>(growth) * 100000000 + oldTotal - 1) / oldTotal;
  auto percent = [](uint64_t millionths) {
    std::string fraction = std::to_string(millionths % 1000000);
    return std::to_string(millionths / 1000000) + "." + std::string(6 - fraction.size(), '0') +
           fraction + "%";
  };
  struct Case {
    std::string limit;
    int status;
  } cases[] = {
      {std::to_string(growth), 0},
      {std::to_string(growth - 1), 3},
      {std::to_string(growth + 1), 0},
      {percent(static_cast<uint64_t>(scaled)), 0},
      {percent(static_cast<uint64_t>(scaled) - 1), 3},
      {"1MiB", 0},
      {"1KiB", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.limit);
    Result r = run({"--base=old.json", "--max-growth=" + c.limit, "after.map", "new.json"});
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    bool exceeded = r.out.find("SIZE BUDGET EXCEEDED") != std::string::npos;
    EXPECT_EQ(exceeded, c.status == 3) << r.out;
    EXPECT_EQ(r.out.find("Groups that grew most:\n") != std::string::npos, c.status == 3);
    EXPECT_EQ(r.out.find("Within the size budget") != std::string::npos, c.status == 0);
  }
  // Shrinking is always within budget.
  EXPECT_EQ(run({"--base=new.json", "--max-growth=0", "before.map", "x.json"}).status, 0);
}

TEST_F(ReportRun, ReportsWrongOptionsAndUnreadableBasesAsFailures) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
    bool writesDocument;
  } cases[] = {
      {{"--max-growth=1", "after.map", "new.json"},
       "--max-growth=1: needs --base=OLD\nUsage: vorlith input.map output.json\n",
       false},
      {{"--base=old.json", "--max-growth=5KB", "after.map", "new.json"},
       "--max-growth=5KB: not a whole number of bytes, KiB, MiB or GiB, nor a per cent (4096, "
       "64KiB, 2%)\nUsage: vorlith input.map output.json\n",
       false},
      {{"--summary=many", "after.map", "new.json"},
       "--summary=many: not a whole number\nUsage: vorlith input.map output.json\n",
       false},
      {{"--csv", "after.map", "new.json"},
       "--csv: needs a value: --csv=FILE\nUsage: vorlith input.map output.json\n",
       false},
      {{"--base=missing.json", "after.map", "new.json"},
       "missing.json: No such file or directory\n",
       false},
      {{"--base=broken.json", "after.map", "new.json"},
       "broken.json: it is not valid JSON (at byte 27: ",
       false},
      {{"--base=notree.json", "after.map", "new.json"},
       "notree.json: the root lacks \"total\", \"children\" or \"leaves\"\n",
       false},
      {{"--csv=no/dir/a.csv", "after.map", "new.json"},
       "no/dir/a.csv: No such file or directory\n",
       true},
  };
  std::ofstream(dir_ / "broken.json") << "var treeData = {\"total\":1,";
  std::ofstream(dir_ / "notree.json") << "var treeData = {\"total\":1};";
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    fs::remove(dir_ / "new.json");
    Result r = run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    EXPECT_EQ(fs::exists(dir_ / "new.json"), c.writesDocument);
  }
}

TEST_F(ReportRun, ABaseThatCannotBeReadFailsTheRunWithNothingWrittenWhenEverItIsRead) {
  // A document file as base is read once the document is written to its temporary file, and
  // before that replaces anything; to standard output, the base is read first.
  ASSERT_EQ(run({"before.map", "size.json"}).status, 0);
  const std::string written = slurp(dir_ / "size.json");
  std::ofstream(dir_ / "broken.json") << "var treeData = {\"total\":1,";
  std::ofstream(dir_ / "same.json") << "var treeData = {\"total\":1,";
  const std::string broken = "it is not valid JSON (at byte 27: unexpected end of input)\n";
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--base=broken.json", "--summary", "--csv=a.csv", "--html=a.html", "after.map",
        "size.json"},
       "broken.json: " + broken},
      {{"--base=same.json", "--html=a.html", "after.map", "same.json"}, "same.json: " + broken},
      {{"--base=broken.json", "--summary", "after.map", "-"}, "broken.json: " + broken},
      // Both wrong: the document's file is made first, and says so.
      {{"--base=broken.json", "after.map", "no/dir/new.json"},
       "no/dir/new.json: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = run(c.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(slurp(dir_ / "size.json"), written);
    EXPECT_EQ(slurp(dir_ / "same.json"), "var treeData = {\"total\":1,");
    for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
      std::string name = entry.path().filename().string();
      EXPECT_TRUE(name != "a.csv" && name != "a.html" && name.front() != '.') << name;
    }
  }
}

TEST_F(ReportRun, WritesOneSelfContainedPageWithTheDocuments) {
  ASSERT_EQ(run({"before.map", "old.json"}).status, 0);
  Result r = run({"--base=old.json", "--html=page.html", "after.map", "new.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string page = slurp(dir_ / "page.html");
  EXPECT_EQ(page.find("<script src="), std::string::npos);
  EXPECT_EQ(page.find("<link rel=\"stylesheet\""), std::string::npos);
  EXPECT_NE(page.find("script-src 'sha256-"), std::string::npos);
  size_t document = page.find(
      "<script type=\"application/json\" id=\"vorlith-document\" "
      "data-name=\"new.json\">");
  size_t base = page.find(
      "<script type=\"application/json\" id=\"vorlith-base-document\" "
      "data-name=\"old.json\">");
  ASSERT_NE(document, std::string::npos);
  ASSERT_NE(base, std::string::npos);
  // Before every script of the page, so that they find them when they run.
  EXPECT_LT(base, page.find("<script>"));
  EXPECT_LT(document, base);
  std::string json = slurp(dir_ / "new.json").substr(std::string_view("var treeData = ").size());
  EXPECT_NE(page.find(json), std::string::npos);
}

TEST_F(ReportRun, PutsABaseMapsDocumentInThePageAsItsOwnRunWritesIt) {
  ASSERT_EQ(run({"before.map", "old.json"}).status, 0);
  Result r = run({"--base=before.map", "--html=page.html", "after.map", "new.json"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string page = slurp(dir_ / "page.html");
  for (auto [name, file] : {std::pair{"before.map", "old.json"}, {"new.json", "new.json"}}) {
    SCOPED_TRACE(file);
    std::string json = slurp(dir_ / file).substr(std::string_view("var treeData = ").size());
    EXPECT_NE(page.find(std::string("data-name=\"") + name + "\">" + json + "</script>"),
              std::string::npos);
  }
}

}  // namespace
