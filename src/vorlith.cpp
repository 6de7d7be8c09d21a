#include "vorlith.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "demangle_current.h"
#include "dmodules.h"
#include "document.h"
#include "dsym.h"
#include "history.h"
#include "history_report.h"
#include "elf_file.h"
#include "file_io.h"
#include "layout.h"
#include "mapfile.h"
#include "naming.h"
#include "naming_budget.h"
#include "options.h"
#include "output_file.h"
#include "pages.h"
#include "reports.h"
#include "run_files.h"
#include "terminal_text.h"
#include "zel/utils/chunked_appender.h"
#include "zel/utils/text.h"

namespace vorlith {

using std::string_view;
using zel::utils::appender::ChunkedAppender;
using zel::utils::appender::FastAppender;
using zel::utils::text::forceValidUTF8;

namespace {

// The output path that means standard output.
constexpr string_view kStandardOutput = "-";

[[noreturn]] void failStandardOutput(int error) {
  if (error != 0) {
    failOnFile("standard output", error);
  }
  throw std::runtime_error("standard output: write failed");
}

// Writes to `out` (standard output), and fails as soon as any of it is lost.
void writeStandardOutput(std::ostream& out, string_view text) {
  errno = 0;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) {
    failStandardOutput(errno);
  }
}

// The text written at once: small beside the tree, which is whole in memory while the document
// is written, and large enough that writing costs few calls.
constexpr size_t kOutputChunk = size_t{128} << 10;

// Writes the text that `fill` puts into its sink (and flushes) to the output path, the file or
// standard output, a chunk at a time: the document is never whole in memory. Each chunk is
// also handed to `tee`. With `uncommitted`, a file is left there written but not yet in place.
template <typename Fill, typename Tee>
void writeOutput(const std::string& output, std::ostream& out, Fill fill, Tee tee,
                 std::optional<OutputFile>* uncommitted = nullptr) {
  if (output == kStandardOutput) {
    ChunkedAppender sink(
        [&out, &tee](string_view chunk) {
          writeStandardOutput(out, chunk);
          tee(chunk);
        },
        kOutputChunk);
    fill(sink);
    errno = 0;
    out.flush();
    if (!out) {
      failStandardOutput(errno);
    }
    return;
  }
  std::optional<OutputFile> here;
  OutputFile& file = (uncommitted != nullptr ? *uncommitted : here).emplace(output);
  ChunkedAppender sink(
      [&file, &tee](string_view chunk) {
        file.write(chunk);
        tee(chunk);
      },
      kOutputChunk);
  fill(sink);
  if (uncommitted == nullptr) {
    file.commit();
  }
}

// The page of --html while it is made: its document's JSON is the one the run writes, taken
// as the document is written rather than made a second time; the rest follows the reports.
struct PageBeingWritten {
  explicit PageBeingWritten(const std::string& path, string_view documentName)
      : file(path), sink([this](string_view chunk) { file.write(chunk); }) {
    report::beginSelfContainedPage(sink, documentName);
  }
  // A chunk of the document file: its JSON goes into the page, "var treeData = " does not.
  void take(string_view chunk) {
    size_t skip = std::min(prefixLeft, chunk.size());
    prefixLeft -= skip;
    report::putPageJson(sink, chunk.substr(skip));
  }
  // The base document's JSON, a piece at a time as it is read, after the document's.
  void beginBase(string_view baseName) {
    report::beginPageBase(sink, baseName);
    hasBase = true;
  }
  void takeBase(string_view json) { report::putPageJson(sink, json); }
  // The rest of the page, with `base` unless the base was written already.
  void finish(const report::PageSource* base) {
    if (hasBase) {
      report::endPageAfterBase(sink);
    } else {
      report::endSelfContainedPage(sink, base);
    }
    sink.flush();
    file.commit();
  }

  OutputFile file;
  ChunkedAppender sink;
  size_t prefixLeft = kDocumentPrefix.size();
  bool hasBase = false;  // its JSON is in the page
};

// What a run keeps until the process ends: tearing down millions of small allocations only to
// exit costs a tenth of the run on large maps. They stay reachable from a static, so leak
// checkers count them as in use.
struct Kept {
  std::unique_ptr<MapFile> map;
  std::shared_ptr<const void> binary;  // the names of the binary read
  std::unique_ptr<SizeTree> tree;
  std::unique_ptr<MapFile> baseMap;
  std::shared_ptr<const void> baseBinary;
  std::unique_ptr<SizeTree> baseTree;
};

Kept& kept() {
  static Kept* kept = new Kept;  // never destroyed
  return *kept;
}

// Gives the memory of whole pages of `list`'s unused room back to the system, without moving
// the list (a copy of exactly its size would take that much more memory first). The room stays
// reserved: a later append would find zeroed pages there, as the kernel hands out any page.
template <typename T>
void releaseRoomPastSize(std::vector<T>& list) {
  if (!releasePages(list.data() + list.size(), list.data() + list.capacity())) {
    list.shrink_to_fit();
  }
}

// Writes the map line that failed to standard output, where it is specified to go: as it is
// when that is a file or a pipe, escaped when it is a terminal, which the line must not steer.
void writeEcho(std::ostream& out, const std::string& echoed) {
  out << (isTerminal(out) ? printableLines(echoed) : echoed) << std::flush;
}

SizeTree buildFrom(const PlacementSource& source, const Settings& settings,
                   const ChunkLimits& chunks, const DModules& modules);

// Reads a map as `settings` say into `map`. `text` is the map's text when it was read already (a
// pipe can be read only once), else the file is read here. A line that cannot be read is echoed,
// and the failure names the file and the line.
void readMap(const std::string& fileName, const Settings& settings, std::unique_ptr<MapFile>& map,
             std::ostream& out, std::optional<std::string> text) {
  std::ostringstream echoed;
  size_t failedLine = 0;
  try {
    map = text ? std::make_unique<MapFile>(MapFile::FromText{}, std::move(*text), echoed,
                                           settings, &failedLine)
               : std::make_unique<MapFile>(fileName, echoed, settings, &failedLine);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& failure) {
    if (failedLine == 0) {
      throw;
    }
    writeEcho(out, echoed.str());
    throw std::runtime_error(fileName + ":" + std::to_string(failedLine) + ": " + failure.what());
  }
}

// Whether the file is a regular file that begins as an ELF file does. Anything else (a pipe,
// say) is read as a map without a look ahead, which would take its first bytes.
bool isBinary(const std::string& fileName) {
  struct stat info;
  if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  return elf::looksLikeElf(readFile(fileName, 4));
}

// The tree of a binary alone; `binary` keeps the names the tree refers to.
std::unique_ptr<SizeTree> treeOfBinary(const std::string& fileName, const Settings& settings,
                                       std::shared_ptr<const void>& binary) {
  elf::Image image = elf::readElf(fileName);
  binary = image.storage;
  return std::make_unique<SizeTree>(buildTreeOfBinary(image, fileName, settings));
}

// The tree of a map that lists its sections, laid out by them; with `--elf`, of the map and its
// binary.
std::unique_ptr<SizeTree> treeOfSections(MapFile& map, const Settings& settings,
                                         std::shared_ptr<const void>& binary) {
  std::optional<elf::Image> image;
  if (!settings.elf.empty()) {
    image = elf::readElf(settings.elf);
    binary = image->storage;
  }
  auto tree = std::make_unique<SizeTree>(
      buildTreeBySections(map, settings, image ? &*image : nullptr, settings.elf));
  std::vector<Symbol>().swap(map.symbols);  // room for the document
  return tree;
}

// The settings that made the document of `input` read with `settings`: a binary is read by the
// modern rules with its own symbol table's sizes, as --elf gives them.
Settings settingsOfInput(const std::string& input, Settings settings) {
  if (isBinary(input)) {
    settings.modern = true;
    settings.elf = input;
  }
  return settings;
}

// The tree of a map or a binary (told apart by its first bytes), read as `settings` say; `map`
// and `binary` keep the names the tree refers to. `text` is the map's text when it was read
// already (a pipe, which is never taken for a binary).
std::unique_ptr<SizeTree> treeOfInput(const std::string& fileName, Settings settings,
                                      std::unique_ptr<MapFile>& map,
                                      std::shared_ptr<const void>& binary, std::ostream& out,
                                      std::optional<std::string> text = std::nullopt) {
  if (!text && isBinary(fileName)) {
    if (!settings.elf.empty()) {
      throw std::runtime_error(fileName + ": --elf goes with a map; a binary is read alone");
    }
    settings.modern = true;  // a binary is read by the modern rules only
    return treeOfBinary(fileName, settings, binary);
  }
  readMap(fileName, settings, map, out, std::move(text));
  if (map->symbols.size() < 2 && !map->empty()) {
    // A file that holds something, but in no form read here: say which forms are read.
    throw std::runtime_error("No symbols\n" + std::string(kMapFormsRead));
  }
  if (settings.modern && hasSectionLayout(*map)) {
    return treeOfSections(*map, settings, binary);
  }
  if (!settings.elf.empty()) {
    throw std::runtime_error(fileName +
                             ": --elf needs an ELF map that lists its sections (GNU ld, gold, "
                             "ld.lld, mold)");
  }
  // More room for the tree: the symbols that file nothing go, with the memory of the room their
  // list was reserved with, and then the names the reader made for them.
  // D main's module is told by the contributions, most of which are about to go.
  DModules modules;
  if (settings.modern) {
    modules = dModulesOf(map->symbols);
  }
  dropSymbolsOfNoSize(map->symbols);
  releaseRoomPastSize(map->symbols);
  map->keepOnlyNames();
  if (map->symbols.size() < 2) {
    throw std::runtime_error("No symbols");
  }
  // The list is used up as it is filed.
  auto tree = std::make_unique<SizeTree>(
      buildFrom(SortedSymbols(map->symbols, true), settings, ChunkLimits{}, modules));
  std::vector<Symbol>().swap(map->symbols);  // room for the document
  return tree;
}

// Large blocks (the symbol list, big groups' entries, the document) come straight from the
// system and go back to it when freed, at a fixed threshold. glibc otherwise raises the
// threshold to the size of each large block freed, so the next ones come from the heap and
// leave holes there that stay resident: a sixth more peak memory on a 76 MB map.
void keepLargeBlocksApart() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

std::vector<RunInput> runInputs(const CommandLine& line) {
  std::vector<RunInput> inputs{{line.input, "the map", false}};
  if (!line.settings.elf.empty()) {
    inputs.push_back({line.settings.elf, "the binary", false});
  }
  if (!line.settings.base.empty()) {
    // Read before the document is in place: the document may replace it.
    inputs.push_back({line.settings.base, "the base", true});
  }
  return inputs;
}

std::vector<RunOutput> runOutputs(const CommandLine& line) {
  std::vector<RunOutput> outputs{{line.output, "the output ", true}};
  if (!line.settings.csv.empty()) {
    outputs.push_back({line.settings.csv, "--csv=", false});
  }
  if (!line.settings.html.empty()) {
    outputs.push_back({line.settings.html, "--html=", false});
  }
  if (!line.settings.diff.empty()) {
    outputs.push_back({line.settings.diff, "--diff=", false});
  }
  // The history is written in place by SQLite, never replaced: it may be the base that this run
  // compares with, but no other file of the run.
  if (!line.settings.record.empty() && line.settings.record != line.settings.base) {
    outputs.push_back({line.settings.record, "--record=", false});
  }
  return outputs;
}

// Refuses a --record that cannot work, before anything is read: a build without SQLite. (That
// the history is no other file of the run, checkRunFiles sees to.)
void checkRecord(const CommandLine& line) {
  if (!line.settings.record.empty() && !history::available()) {
    throw std::runtime_error("--record: " + history::unavailableMessage());
  }
}

// The options that changed the document, as the history records them beside it.
std::string joinedDocumentOptions(const Settings& settings) {
  std::string joined;
  for (const std::string& option : documentOptions(settings)) {
    joined += joined.empty() ? option : " " + option;
  }
  return joined;
}

// Adds this run to the history that --record names, after its document is written.
void recordRun(const CommandLine& line, const Document& doc) {
  history::RunInfo info;
  info.time = history::utcNow();
  info.label = line.settings.label.empty() ? info.time : line.settings.label;
  info.mapFile = line.input;
  info.options = joinedDocumentOptions(line.settings);
  history::record(line.settings.record, info, doc);
}

// vorlith history DB: the table on standard output and, with --html, the trend page.
int runHistory(const CommandLine& line, std::ostream& out) {
  const Settings& settings = line.settings;
  if (!history::available()) {
    throw std::runtime_error(history::unavailableMessage());
  }
  std::vector<std::string> group;
  if (!settings.group.empty()) {
    try {
      group = history::splitGroupPath(settings.group);
    } catch (const std::invalid_argument& wrong) {
      throw std::runtime_error("--group=" + settings.group + ": " + wrong.what());
    }
  }
  if (!settings.html.empty()) {
    checkRunFiles({{line.input, "the history", false}}, {{settings.html, "--html=", false}});
  }
  history::History h = history::read(line.input, group, !settings.html.empty());
  out << report::historyTable(h, line.input) << std::flush;
  if (!settings.html.empty()) {
    writeWholeFile(settings.html, report::historyPage(h, line.input));
  }
  return 0;
}

bool wantsReports(const Settings& settings) {
  return settings.summary || !settings.base.empty() || !settings.csv.empty() ||
         !settings.html.empty();
}

// The tree of the last run that a history holds with the same document options: its symbols
// filed again under their groups (addresses are not recorded: they read 0).
std::unique_ptr<SizeTree> treeOfLastRun(const std::string& fileName, const Settings& settings) {
  if (!history::available()) {
    throw std::runtime_error(fileName + ": " + history::unavailableMessage());
  }
  history::RecordedRun run = history::readLastRun(fileName, joinedDocumentOptions(settings));
  auto tree = std::make_unique<SizeTree>();
  for (const history::RecordedSymbol& symbol : run.symbols) {
    // The names live in the tree's arena, as those of a document file do.
    string_view mangled = tree->text.copy(symbol.mangled);
    string_view shown = symbol.shown == symbol.mangled ? mangled : tree->text.copy(symbol.shown);
    fileSymbol(*tree, symbol.path, symbol.size, 0, mangled, shown, nullptr);
  }
  return tree;
}

// The older build of --base: a document that vorlith wrote, the last run of a history, or a map
// read like the new one.
struct Base {
  Document doc;
  std::string fileText;  // a document's file, when it was read before the page was begun
  // A map's or a history's tree (in kept()), written again only into the page, with the
  // options it was made with.
  const SizeTree* tree = nullptr;
  std::vector<std::string> options;
};

// Whether `path` names a regular file, which can be read twice; true when it cannot be
// looked at, so that reading it reports why.
bool isRegularOrUnknown(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}

Base readBase(const CommandLine& line, std::ostream& out) {
  const std::string& fileName = line.settings.base;
  Base base;
  // A regular file is told apart by its first bytes; a pipe or a device can be read only once,
  // so it is read whole first.
  bool regular = isRegularOrUnknown(fileName);
  std::string text = readFile(fileName, regular ? 4096 : SIZE_MAX);
  if (looksLikeDocument(text) && regular && line.settings.html.empty()) {
    // Read a piece at a time: only the document's names stay.
    base.doc = readDocumentFile(fileName);
    return base;
  }
  if (looksLikeDocument(text)) {
    base.fileText = regular ? readFile(fileName) : std::move(text);
    try {
      string_view json = documentJson(base.fileText);
      // The page needs the text again: then the document's names are views into it. Else
      // the document holds copies of its names, and the text goes.
      bool page = !line.settings.html.empty();
      base.doc = readDocument(json, static_cast<size_t>(json.data() - base.fileText.data()), page);
      if (!page) {
        std::string().swap(base.fileText);
      }
    } catch (const std::runtime_error& wrong) {
      throw std::runtime_error(fileName + ": " + wrong.what());
    }
    return base;
  }
  Kept& k = kept();
  Settings baseSettings = line.settings;  // the history's run was recorded with these
  if (regular && history::looksLikeDatabase(fileName)) {
    k.baseTree = treeOfLastRun(fileName, line.settings);
  } else {
    Settings settings = line.settings;
    settings.elf.clear();  // the binary is the new build's
    k.baseTree = treeOfInput(fileName, settings, k.baseMap, k.baseBinary, out,
                             regular ? std::nullopt : std::optional<std::string>(std::move(text)));
    baseSettings = regular ? settingsOfInput(fileName, settings) : settings;
  }
  base.options = documentOptions(baseSettings);
  base.doc = documentFromTree(*k.baseTree, base.options);
  base.tree = k.baseTree.get();
  return base;
}

// Whether the base is a document file to read after the document is written to its temporary
// file: the tree is gone by then, which leaves room for it, and the document replaces its file
// only once the base is read ("--base=size.json app.map size.json"). Not when the document
// goes to standard output or into a device, which would have it before the base was read.
bool readsBaseLater(const CommandLine& line) {
  const std::string& fileName = line.settings.base;
  if (fileName.empty() || line.output == kStandardOutput || !replacedOnCommit(line.output)) {
    return false;
  }
  struct stat info;
  if (::stat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  try {
    return looksLikeDocument(readFile(fileName, 4096));
  } catch (const std::runtime_error&) {
    return false;  // read first, it fails as it always did
  }
}

// The base document of readsBaseLater, read a piece at a time: names that this run's document
// has too are shared with it, and the page, if any, takes its JSON as it is read.
Base readBaseLater(const CommandLine& line, const Document& doc, PageBeingWritten* page) {
  Base base;
  DocumentFileReading how;
  how.sharesNamesWith = &doc;
  if (page != nullptr) {
    page->beginBase(line.settings.base);
    how.takeJson = [page](string_view json) { page->takeBase(json); };
  }
  base.doc = readDocumentFile(line.settings.base, how);
  return base;
}

// As the page does: a base whose totals disagree is compared as written, and said so.
void warnOfTotals(const CommandLine& line, const Base& base, std::ostream& err) {
  if (std::string wrong = totalsDisagreement(base.doc); !wrong.empty()) {
    err << printable(line.settings.base) << ": the totals disagree with what the groups hold ("
        << printable(wrong) << "); the comparison takes them as written\n";
  }
}

// Gives the pages of freed memory back to the system: the tree, once freed, leaves holes in the
// heap that would stay resident.
void giveBackFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

// What writes a tree's JSON, with the record of `options`, into the page as it is made.
std::function<void(ChunkedAppender&)> treeJsonWriter(const SizeTree& tree,
                                                     const std::vector<std::string>& options) {
  return [&tree, &options](ChunkedAppender& sink) {
    zel::utils::json::CustomJsonWriter<ChunkedAppender&> writer{sink};
    writeTreeJson(writer, tree.root, tree.hasSections ? &tree : nullptr, options);
  };
}

// Runs the reports the options ask for, after the document is written. Returns the exit status.
// `page` is the page of --html, its document written already.
int runReports(const CommandLine& line, const Document& doc, PageBeingWritten* page,
               const Base* base, std::ostream& out) {
  const Settings& settings = line.settings;
  int status = 0;
  std::string text;
  {
    // The summary and the comparison both rank this run's templates: they are ranked once.
    std::vector<report::TemplateTotal> templates;
    if (settings.summary && settings.listLength != 0) {
      templates = report::templatesByTotal(doc);
    }
    const std::vector<report::TemplateTotal>* ranked =
        settings.summary && settings.listLength != 0 ? &templates : nullptr;
    if (settings.summary) {
      text += report::summary(doc, settings.listLength, ranked);
    }
    if (base != nullptr) {
      const GrowthLimit* limit = settings.maxGrowth ? &*settings.maxGrowth : nullptr;
      report::ComparisonText comparison = report::comparison(
          base->doc, settings.base, doc, line.output, settings.listLength, limit, ranked);
      text += text.empty() ? "" : "\n";
      text += comparison.text;
      status = comparison.grewTooMuch ? kGrewTooMuch : 0;
    }
  }
  out << text << std::flush;
  if (base != nullptr && !settings.diff.empty()) {
    writeWholeFile(settings.diff, report::comparisonJson(base->doc, settings.base, doc, line.output));
  }
  if (!settings.csv.empty()) {
    writeFileAsMade(settings.csv, [&doc](ChunkedAppender& sink) { report::writeCsv(sink, doc); });
  }
  if (page != nullptr) {
    report::PageSource basePage;
    if (base != nullptr) {
      basePage.name = settings.base;
      if (base->tree != nullptr) {
        basePage.writeJson = treeJsonWriter(*base->tree, base->options);
      } else {
        string_view json = documentJson(base->fileText);
        basePage.writeJson = [json](ChunkedAppender& sink) { sink.put(json); };
      }
    }
    page->finish(base != nullptr ? &basePage : nullptr);
  }
  return status;
}

// Files every entry of `source` in order, with the segments and shown name that
// `nameOf(index, place)` gives (a NameResult). Each entry is granted its name's bytes before it is
// filed.
// D main goes under its module when the map tells it, and D variables that ld.lld wrote
// demangled ("app.calls") under their qualified names rather than "Other symbols".
template <typename NameOf>
SizeTree fileSymbols(const PlacementSource& source, NameOf nameOf, const DModules& modules) {
  const std::optional<std::vector<std::string>>& dMainModule = modules.mainModule;
  SizeTree tree;
  TreeAllowance allowance;
  std::vector<NameSegment> refiled;
  std::vector<std::string> variable;  // the text of refiled segments of a D variable
  // The shown names of the last leaves, by their names' bytes: an end marker's name is the
  // tail of its entry's (MapFile::keepOnlyNames), filed a few places later, and its padding
  // shows the same name, which the tree then holds once.
  struct Shown {
    const char* name = nullptr;
    size_t size = 0;
    std::string_view shown;
  };
  std::array<Shown, 16> recent;
  size_t nextRecent = 0;
  constexpr size_t kReleaseStep = 4096;  // entries filed between two releases of their memory
  for (size_t i = 0; i < source.size(); ++i) {
    if (i % kReleaseStep == 0) {
      source.releaseBefore(i);  // placing entry i reads entries i and after
    }
    Placement place = source.place(i);
    if (!place.counted) {
      continue;
    }
    allowance.grant(place.grant);
    if (!place.filed) {
      continue;
    }
    NameResult named = nameOf(i, place);
    std::span<const NameSegment> segments = named.segments;
    // Its symbol, or its section of its own ("app.o (.text._Dmain)", leaf "D main (.text)").
    bool dMain = isDMainName(place.name) || place.name.ends_with("._Dmain)");
    const size_t groups = place.endMarker ? 1 : 0;  // "Afterpadding" before the rest
    if (dMainModule && dMain && segments.back().text.starts_with(kDMain) &&
        segments.size() == groups + 2) {
      refiled.assign(segments.begin(), segments.begin() + static_cast<std::ptrdiff_t>(groups));
      for (const std::string& part : *dMainModule) {
        refiled.push_back({part, SegmentOrigin::Made});
      }
      refiled.push_back(segments.back());
      segments = refiled;
    } else if (!modules.packages.empty() && segments.size() == groups + 2 &&
               segments[groups].text == "Other symbols") {
      if (auto parts = demangledDVariable(place.name, modules.packages)) {
        variable = std::move(*parts);
        refiled.assign(segments.begin(), segments.begin() + static_cast<std::ptrdiff_t>(groups));
        for (const std::string& part : variable) {
          refiled.push_back({part, SegmentOrigin::Made});
        }
        segments = refiled;
      }
    }
    string_view keptShown;
    if (place.role == PieceRole::Padding) {
      for (const Shown& earlier : recent) {
        if (earlier.name == place.name.data() && earlier.size == place.name.size()) {
          keptShown = earlier.shown;
        }
      }
    }
    TreeLeaf& leaf = fileSymbol(tree, segments, place.size, place.address, place.name,
                                named.shown, &allowance, keptShown);
    if (place.role == PieceRole::Entry && !leaf.demangledName.empty()) {
      recent[nextRecent] = {place.name.data(), place.name.size(), leaf.demangledName};
      nextRecent = (nextRecent + 1) % recent.size();
    }
    leaf.section = place.section;
    leaf.object = place.object;
  }
  return tree;
}

// Names and files every entry of `source`, on the threads `settings` allow.
SizeTree buildFrom(const PlacementSource& source, const Settings& settings,
                   const ChunkLimits& chunks, const DModules& modules) {
  uint32_t threads = usefulThreads(namingThreads(settings), source.size(), chunks);
  if (threads <= 1) {
    // Named inline, one symbol at a time: no chunk buffers to go through. Naming's allowance
    // is counted in the windows that a pool's chunks would be, so the tree is the same.
    Classifier classifier(settings);
    auto classify = [&classifier](string_view name, NameBuilder& out) {
      classifier.classify(name, out);
    };
    NameBuilder builder;
    std::optional<NamingWindow> window;
    size_t windowEnd = 0;
    return fileSymbols(
        source,
        [&](size_t index, const Placement& place) {
          while (index >= windowEnd) {
            ChunkExtent extent = chunkFrom(source, windowEnd, source.size(), chunks);
            windowEnd = extent.end;
            window.reset();
            window.emplace(extent.nameBytes);
          }
          namePlacement(place, classify, builder);
          return builder.result();
        },
        modules);
  }
  NamingPool pool(source, threads, chunks, [&settings] {
    auto classifier = std::make_shared<Classifier>(settings);
    return NameFunction(
        [classifier](string_view name, NameBuilder& out) { classifier->classify(name, out); });
  });
  return fileSymbols(
      source, [&pool](size_t index, const Placement& place) { return pool.next(index, place); },
      modules);
}

}  // namespace

void dropSymbolsOfNoSize(std::vector<Symbol>& symbols) {
  auto takesSpace = [&symbols](size_t i) {
    return symbols[i].address != 0 &&
           (i + 1 == symbols.size() || symbols[i + 1].address != symbols[i].address);
  };
  size_t kept = 0;
  for (size_t i = 0; i < symbols.size(); ++i) {
    kept += takesSpace(i) ? 1 : 0;
  }
  if (kept < 2 || kept == symbols.size()) {
    return;
  }
  // In place: symbol i is written at most at i, after its successor's address was read.
  size_t to = 0;
  for (size_t i = 0; i < symbols.size(); ++i) {
    if (takesSpace(i)) {
      symbols[to++] = symbols[i];
    }
  }
  symbols.resize(to);
}

SizeTree buildTree(const std::vector<Symbol>& symbols, const Settings& settings) {
  return buildTree(symbols, settings, ChunkLimits{});
}

SizeTree buildTree(const std::vector<Symbol>& symbols, const Settings& settings,
                   const ChunkLimits& chunks) {
  DModules modules;
  if (settings.modern) {
    modules = dModulesOf(symbols);
  }
  return buildTree(symbols, settings, chunks, modules);
}

SizeTree buildTree(const std::vector<Symbol>& symbols, const Settings& settings,
                   const ChunkLimits& chunks, const DModules& modules) {
  if (symbols.size() < 2) {
    throw std::runtime_error("No symbols");
  }
  return buildFrom(SortedSymbols(symbols), settings, chunks, modules);
}

SizeTree buildTreeBySections(MapFile& map, const Settings& settings, const elf::Image* binary,
                             string_view binaryPath) {
  const MapSections& sections = map.sections();
  // D main's module is told by the contributions, most of which are about to go.
  DModules modules = dModulesOf(map.symbols);
  addSectionStarts(map.symbols, sections);
  MapLayout layout = layoutMap(map.symbols, sections, settings.measure);
  dropUnsized(map.symbols, layout.sizes);
  releaseRoomPastSize(map.symbols);
  releaseRoomPastSize(layout.sizes);  // made whole for the list before, so all of it was touched
  map.keepOnlyNames();
  if (binary == nullptr) {
    // Each entry's object is found now, and the input sections, a list as long as the map has
    // lines, go before the tree grows; the list of objects goes as the entries are filed.
    std::vector<uint32_t> objects = objectsOfMapSymbols(map.symbols, sections);
    map.releaseInputSections();
    return buildTree(MapPlacements(map.symbols, layout, sections, true, &objects), layout.sections,
                     sections.objects(), layout.totals, settings, ChunkLimits{}, &modules);
  }
  PieceLayout pieces = layoutBinaryWithMap(*binary, binaryPath, map.symbols, layout.sizes, sections,
                                           settings.measure);
  return buildTree(PiecePlacements(pieces), pieces.sections, pieces.objects, pieces.totals,
                   settings, ChunkLimits{}, &modules);
}

SizeTree buildTreeOfBinary(const elf::Image& binary, string_view path, const Settings& settings) {
  PieceLayout layout = layoutBinary(binary, path, settings.measure);
  return buildTree(PiecePlacements(layout), layout.sections, layout.objects, layout.totals,
                   settings, ChunkLimits{});
}

SizeTree buildTree(const PlacementSource& source, const std::vector<LayoutSection>& sections,
                   const std::vector<string_view>& objects, const KindTotals& totals,
                   const Settings& settings, const ChunkLimits& chunks, const DModules* modules) {
  SizeTree tree = buildFrom(source, settings, chunks, modules != nullptr ? *modules : DModules{});
  tree.hasSections = true;
  tree.totals = totals;
  tree.sections.reserve(sections.size());
  std::string repaired;
  for (const LayoutSection& section : sections) {
    tree.sections.push_back(
        {tree.text.copy(forceValidUTF8(section.name, repaired)), section.traits.kind});
  }
  tree.objects.reserve(objects.size());
  for (string_view object : objects) {
    tree.objects.push_back(tree.text.copy(forceValidUTF8(object, repaired)));
  }
  return tree;
}

int run(const std::vector<string_view>& args, std::ostream& out, std::ostream& err) {
  std::string input;
  try {
    CommandLine line = parseCommandLine(args, history::looksLikeDatabase);
    if (line.action == CommandLine::Action::Help) {
      out << helpText(args[0]);
      return 0;
    }
    if (line.action == CommandLine::Action::Version) {
      out << "vorlith " << version() << '\n';
      return 0;
    }
    if (line.action == CommandLine::Action::History) {
      return runHistory(line, out);
    }
    checkRecord(line);
    input = line.input;
    checkRunFiles(runInputs(line), runOutputs(line));
    protectOutputFiles();
    keepLargeBlocksApart();
    Kept& k = kept();
    k.tree = treeOfInput(line.input, line.settings, k.map, k.binary, out);
    line.settings = settingsOfInput(line.input, line.settings);  // as its document records
    // The older build is read before the document is in place: it may be the very file that
    // the document replaces ("--base=size.json app.map size.json"), and a base that cannot be
    // read fails the run with nothing written. A document file is read once the document is
    // written to its temporary file (readsBaseLater); anything else before it is written.
    const bool baseLater = readsBaseLater(line);
    std::optional<Base> base;
    if (!line.settings.base.empty() && !baseLater) {
      base = readBase(line, out);
      warnOfTotals(line, *base, err);
    }
    // The document is written as it is made; the page writes it again the same way.
    std::vector<std::string> options = documentOptions(line.settings);
    std::optional<PageBeingWritten> page;
    if (!line.settings.html.empty()) {
      page.emplace(line.settings.html, line.output);
    }
    std::optional<OutputFile> written;  // the document, not yet in place while the base is read
    writeOutput(
        line.output, out,
        [&k, &options](ChunkedAppender& sink) { writeDocument(sink, *k.tree, options); },
        [&page](string_view chunk) {
          if (page) {
            page->take(chunk);
          }
        },
        baseLater ? &written : nullptr);
    bool reports = wantsReports(line.settings);
    if (!reports && line.settings.record.empty()) {
      return 0;
    }
    Document doc = documentFromTree(*k.tree, options);
    {
      // The document is all the reports read of the tree, its names in the tree's text and the
      // map's: the groups and leaves go, and their room with them.
      TreeNode gone = std::move(k.tree->root);
    }
    giveBackFreedMemory();
    if (baseLater) {
      base = readBaseLater(line, doc, page ? &*page : nullptr);
      giveBackFreedMemory();  // the reading's window and tables
      warnOfTotals(line, *base, err);
      written->commit();
    }
    if (!line.settings.record.empty()) {
      recordRun(line, doc);
    }
    if (!reports) {
      return 0;
    }
    return runReports(line, doc, page ? &*page : nullptr, base ? &*base : nullptr, out);
  } catch (const std::bad_alloc&) {
    // Nothing here allocates: the failure may come back.
    if (!input.empty()) {
      err << printable(input) << ": ";
    }
    err << "out of memory\n";
    return 1;
  } catch (const std::exception& failure) {
    // File names and names from the map are quoted in messages: none may steer the terminal.
    err << printableLines(failure.what()) << '\n';
    return 1;
  }
}

}  // namespace vorlith
