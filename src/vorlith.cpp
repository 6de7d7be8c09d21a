#include "vorlith.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <optional>
#include <stdexcept>

#include "document.h"
#include "dsym.h"
#include "mapfile.h"
#include "naming.h"
#include "options.h"
#include "reports.h"
#include "zel/utils/text.h"

namespace vorlith {

using std::string_view;
using zel::utils::text::forceValidUTF8;

namespace {

constexpr string_view kDocumentPrefix = "var treeData = ";

// Stores a new leaf under the first key of base, base#1, base#2 ... that `node` does not hold
// yet. `kept` says that the bytes of `base` outlive the tree.
TreeLeaf& insertLeaf(TreeNode& node, string_view base, bool kept) {
  if (auto [leaf, inserted] = node.leaves.tryEmplace(base, kept); inserted) {
    return *leaf;
  }
  if (!node.lastLeafNumber) {
    node.lastLeafNumber = std::make_unique<OrderedMap<uint64_t>>();
  }
  uint64_t& n = node.lastLeafNumber->at(base);
  std::string candidate;
  for (;;) {
    ++n;
    candidate.assign(base);
    candidate += '#';
    candidate += std::to_string(n);
    if (auto [leaf, inserted] = node.leaves.tryEmplace(candidate); inserted) {
      return *leaf;
    }
  }
}

// `text` itself when it is valid UTF-8 (the caller keeps it), else a repaired copy.
string_view keptValidUTF8(string_view text) {
  if (zel::utils::text::isValidUTF8(text)) {
    return text;
  }
  return treeArena().copy(zel::utils::text::rawToUTF8(text));
}

void writeAll(int fd, string_view text, const std::string& fileName) {
  while (!text.empty()) {
    ssize_t wrote = ::write(fd, text.data(), text.size());
    if (wrote < 0) {
      if (errno == EINTR) {
        continue;
      }
      int error = errno;
      ::close(fd);
      throw std::runtime_error(fileName + ": " + std::strerror(error));
    }
    text.remove_prefix(static_cast<size_t>(wrote));
  }
}

// The output path that means standard output.
constexpr string_view kStandardOutput = "-";

// Writes the document to `out` (standard output) in one piece, and fails if any of it was lost.
void writeDocument(std::ostream& out, string_view json) {
  errno = 0;
  out.write(kDocumentPrefix.data(), static_cast<std::streamsize>(kDocumentPrefix.size()));
  out.write(json.data(), static_cast<std::streamsize>(json.size()));
  out.flush();
  if (!out) {
    int error = errno;
    throw std::runtime_error(std::string("standard output: ") +
                             (error != 0 ? std::strerror(error) : "write failed"));
  }
}

void writeDocument(const std::string& fileName, string_view json) {
  int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw std::runtime_error(fileName + ": " + std::strerror(errno));
  }
  writeAll(fd, kDocumentPrefix, fileName);
  writeAll(fd, json, fileName);
  if (::close(fd) != 0) {
    throw std::runtime_error(fileName + ": " + std::strerror(errno));
  }
}

// The file's first `limit` bytes, or all of it.
std::string readFile(const std::string& fileName, size_t limit = SIZE_MAX) {
  int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw std::runtime_error(fileName + ": " + std::strerror(errno));
  }
  std::string text;
  char buffer[1 << 16];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      int error = errno;
      ::close(fd);
      throw std::runtime_error(fileName + ": " + std::strerror(error));
    }
    if (got == 0 || text.size() >= limit) {
      break;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

void writeFile(const std::string& fileName, string_view text) {
  int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw std::runtime_error(fileName + ": " + std::strerror(errno));
  }
  writeAll(fd, text, fileName);
  if (::close(fd) != 0) {
    throw std::runtime_error(fileName + ": " + std::strerror(errno));
  }
}

// What a run keeps until the process ends: tearing down millions of small allocations only to
// exit costs a tenth of the run on large maps. They stay reachable from a static, so leak
// checkers count them as in use.
struct Kept {
  std::unique_ptr<MapFile> map;
  std::unique_ptr<TreeNode> tree;
  std::unique_ptr<MapFile> baseMap;
  std::unique_ptr<TreeNode> baseTree;
};

Kept& kept() {
  static Kept* kept = new Kept;  // never destroyed
  return *kept;
}

// The tree of a map, read as `settings` say; `map` keeps the names the tree refers to.
std::unique_ptr<TreeNode> treeOfMap(const std::string& fileName, const Settings& settings,
                                    std::unique_ptr<MapFile>& map, std::ostream& out) {
  map = std::make_unique<MapFile>(fileName, out, settings);
  if (map->symbols.size() < 2 && !map->empty()) {
    // A file that holds something, but in no form read here: say which forms are read.
    throw std::runtime_error("No symbols\n" + std::string(kMapFormsRead));
  }
  auto tree = std::make_unique<TreeNode>(buildTree(map->symbols, settings));
  std::vector<Symbol>().swap(map->symbols);  // room for the document
  return tree;
}

bool wantsReports(const Settings& settings) {
  return settings.summary || !settings.base.empty() || !settings.csv.empty() ||
         !settings.html.empty();
}

// The older build of --base: a document that vorlith wrote, or a map read like the new one.
struct Base {
  Document doc;
  std::string fileText;  // a document's file
  std::string mapJson;   // a map's document, made only for the page
};

Base readBase(const CommandLine& line, std::ostream& out) {
  const std::string& fileName = line.settings.base;
  Base base;
  if (looksLikeDocument(readFile(fileName, 4096))) {
    base.fileText = readFile(fileName);
    try {
      string_view json = documentJson(base.fileText);
      base.doc = readDocument(json, static_cast<size_t>(json.data() - base.fileText.data()));
    } catch (const std::runtime_error& wrong) {
      throw std::runtime_error(fileName + ": " + wrong.what());
    }
    return base;
  }
  Kept& k = kept();
  k.baseTree = treeOfMap(fileName, line.settings, k.baseMap, out);
  base.doc = documentFromTree(*k.baseTree);
  if (!line.settings.html.empty()) {
    base.mapJson = std::string(zel::utils::json::toJson(*k.baseTree).get());
  }
  return base;
}

// Runs the reports the options ask for, after the document is written. Returns the exit status.
int runReports(const CommandLine& line, const TreeNode& tree, string_view json, const Base* base,
               std::ostream& out) {
  const Settings& settings = line.settings;
  Document doc = documentFromTree(tree);
  std::string text;
  if (settings.summary) {
    text += report::summary(doc, settings.listLength);
  }
  int status = 0;
  if (base != nullptr) {
    const GrowthLimit* limit = settings.maxGrowth ? &*settings.maxGrowth : nullptr;
    report::ComparisonText comparison =
        report::comparison(base->doc, settings.base, doc, line.output, settings.listLength, limit);
    text += text.empty() ? "" : "\n";
    text += comparison.text;
    status = comparison.grewTooMuch ? kGrewTooMuch : 0;
  }
  out << text << std::flush;
  if (!settings.csv.empty()) {
    writeFile(settings.csv, report::csv(doc));
  }
  if (!settings.html.empty()) {
    report::PageDocument page{json, line.output};
    report::PageDocument basePage;
    if (base != nullptr) {
      basePage = {
          base->fileText.empty() ? string_view(base->mapJson) : documentJson(base->fileText),
          settings.base};
    }
    writeFile(settings.html,
              report::selfContainedPage(page, base != nullptr ? &basePage : nullptr));
  }
  return status;
}

// Files every symbol in map order, with the segments and shown name that `nameOf(index, place)`
// gives (a NameResult, or a Naming of views). Each symbol is granted its name's bytes before
// it is filed.
template <typename NameOf>
TreeNode fileSymbols(const std::vector<Symbol>& symbols, NameOf nameOf) {
  TreeNode root;
  TreeAllowance allowance;
  for (size_t i = 0; i + 1 < symbols.size(); ++i) {
    Placement place = placeSymbol(symbols, i);
    if (!place.counted) {
      continue;
    }
    allowance.grant(symbols[i].name.size());
    if (!place.filed) {
      continue;
    }
    auto named = nameOf(i, place);
    fileSymbol(root, named.segments, place.size, symbols[i].address, place.name, named.shown,
               &allowance);
  }
  return root;
}

}  // namespace

TreeNode::~TreeNode() {
  // Children are moved out into a list before they go, so no destructor runs another.
  std::vector<TreeNode> pending;
  auto adopt = [&pending](TreeNode& node) {
    for (auto& entry : node.children) {
      pending.push_back(std::move(entry.second));
    }
  };
  adopt(*this);
  while (!pending.empty()) {
    TreeNode node = std::move(pending.back());
    pending.pop_back();
    adopt(node);
  }
}

TextArena& treeArena() {
  static TextArena* arena = new TextArena;  // never destroyed: the tree outlives main's locals
  return *arena;
}

void fileSymbol(TreeNode& root, const std::vector<std::string>& segments, uint64_t size,
                uint64_t address, string_view name, string_view demangledName,
                TreeAllowance* allowance) {
  auto affordable = [allowance](uint64_t bytes) {
    return allowance == nullptr || allowance->spend(bytes);
  };
  TreeNode* node = &root;
  std::string repaired;
  const size_t groups = std::min(segments.size() - 1, kMaxGroupsPerSymbol);
  size_t k = 0;
  // Totals wrap like every sum of sizes.
  for (; k < groups; ++k) {
    string_view key = forceValidUTF8(segments[k], repaired);
    TreeNode* child = node->children.find(key);
    if (child == nullptr) {
      if (!affordable(kGroupCost + key.size())) {
        break;
      }
      child = node->children.tryEmplace(key).first;
    }
    node->total += size;
    node = child;
  }
  node->total += size;
  string_view mangledName = keptValidUTF8(name);  // lives as long as the tree
  string_view base;
  std::string joined;
  if (k + 1 == segments.size()) {
    base = forceValidUTF8(segments.back(), repaired);
  } else {
    // Past a bound: what is left of the path stays visible in the leaf's name.
    for (size_t j = k; j < segments.size(); ++j) {
      if (j != k) {
        joined += '/';
      }
      joined.append(forceValidUTF8(segments[j], repaired));
    }
    base = joined;
  }
  // A name filed whole (a C++ name as GNU ld writes it) is its own key: no second copy.
  bool whole = base == mangledName || !affordable(base.size());
  TreeLeaf& leaf = insertLeaf(*node, whole ? mangledName : base, whole);
  leaf.size = size;
  leaf.address = address;
  leaf.mangledName = mangledName;
  if (demangledName != name && affordable(demangledName.size())) {
    leaf.demangledName = treeArena().copy(forceValidUTF8(demangledName, repaired));
  }
}

TreeNode buildTree(const std::vector<Symbol>& symbols, const Settings& settings) {
  return buildTree(symbols, settings, ChunkLimits{});
}

TreeNode buildTree(const std::vector<Symbol>& symbols, const Settings& settings,
                   const ChunkLimits& chunks) {
  if (symbols.size() < 2) {
    throw std::runtime_error("No symbols");
  }
  uint32_t threads = usefulThreads(namingThreads(settings), symbols.size(), chunks);
  if (threads <= 1) {
    // Named inline, one symbol at a time: no chunk buffers to go through.
    Classifier classifier(settings);
    return fileSymbols(symbols, [&classifier](size_t, const Placement& place) {
      NameResult named = classifier.classify(place.name);
      if (place.endMarker) {
        named.segments.insert(named.segments.begin(), "Afterpadding");
      }
      return named;
    });
  }
  NamingPool pool(symbols, threads, chunks, [&settings] {
    auto classifier = std::make_shared<Classifier>(settings);
    return NameFunction([classifier](string_view name) { return classifier->classify(name); });
  });
  return fileSymbols(
      symbols, [&pool](size_t index, const Placement& place) { return pool.next(index, place); });
}

int run(const std::vector<string_view>& args, std::ostream& out, std::ostream& err) {
  std::string input;
  try {
    CommandLine line = parseCommandLine(args);
    if (line.action == CommandLine::Action::Help) {
      out << helpText(args[0]);
      return 0;
    }
    if (line.action == CommandLine::Action::Version) {
      out << "vorlith " << version() << '\n';
      return 0;
    }
    input = line.input;
    Kept& k = kept();
    k.tree = treeOfMap(line.input, line.settings, k.map, out);
    // The older build is read before the document is written: it may be the very file that
    // the document replaces ("--base=size.json app.map size.json"), and a base that cannot be
    // read fails the run with nothing written.
    std::optional<Base> base;
    if (!line.settings.base.empty()) {
      base = readBase(line, out);
    }
    zel::utils::appender::FastAppender json = zel::utils::json::toJson(*k.tree);
    if (line.output == kStandardOutput) {
      writeDocument(out, json.get());
    } else {
      writeDocument(line.output, json.get());
    }
    if (!wantsReports(line.settings)) {
      return 0;
    }
    return runReports(line, *k.tree, json.get(), base ? &*base : nullptr, out);
  } catch (const std::bad_alloc&) {
    // Nothing here allocates: the failure may come back.
    if (!input.empty()) {
      err << input << ": ";
    }
    err << "out of memory\n";
    return 1;
  } catch (const std::exception& failure) {
    err << failure.what() << '\n';
    return 1;
  }
}

}  // namespace vorlith
