#include "vorlith.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>

#include "dsym.h"
#include "mapfile.h"
#include "options.h"
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

TreeNode buildTree(const std::vector<Symbol>& symbols) {
  if (symbols.size() < 2) {
    throw std::runtime_error("No symbols");
  }
  TreeNode root;
  TreeAllowance allowance;
  std::string dem;
  for (size_t i = 0; i + 1 < symbols.size(); ++i) {
    uint64_t address = symbols[i].address;
    uint64_t size = symbols[i + 1].address - address;
    if (address == 0 || size == 0) {
      continue;
    }
    string_view name = symbols[i].name;
    allowance.grant(name.size());
    bool endMarker = name.substr(0, kEndMarker.size()) == kEndMarker;
    if (endMarker) {
      name.remove_prefix(kEndMarker.size());
      constexpr string_view kCrtEnd = "crtend.o (.eh_frame)";
      if (name.size() >= kCrtEnd.size() && name.substr(name.size() - kCrtEnd.size()) == kCrtEnd) {
        continue;
      }
    }
    std::vector<std::string> segments = parseDSymbol(name, dem);
    if (endMarker) {
      segments.insert(segments.begin(), "Afterpadding");
    }
    fileSymbol(root, segments, size, address, name, dem, &allowance);
  }
  return root;
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
    const std::string& output = line.output;
    // The map and the tree live until the process ends: tearing down millions of small
    // allocations only to exit costs a tenth of the run on large maps. They stay reachable
    // from these statics, so leak checkers count them as in use.
    struct Kept {
      std::unique_ptr<MapFile> map;
      std::unique_ptr<TreeNode> tree;
    };
    static Kept* kept = new Kept;  // never destroyed
    kept->map = std::make_unique<MapFile>(input, out);
    kept->tree = std::make_unique<TreeNode>(buildTree(kept->map->symbols));
    std::vector<Symbol>().swap(kept->map->symbols);  // room for the document
    zel::utils::appender::FastAppender json = zel::utils::json::toJson(*kept->tree);
    writeDocument(output, json.get());
    return 0;
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
