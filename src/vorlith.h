// The run: map file in, treemap document out, and the filing of a whole map into a size tree.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "layout.h"
#include "options.h"
#include "size_tree.h"
#include "zel/utils/appender.h"
#include "zel/utils/json.h"

namespace vorlith {

// Builds the tree of a whole map: sizes from the next address, end markers as "Afterpadding".
// Throws std::runtime_error("No symbols") for a map with fewer than two symbols. The tree
// refers to the symbols' names: keep their MapFile as long as the tree. Each symbol is filed
// within one TreeAllowance for the whole map, granted its name's length first. `settings`
// choose the classifier's rules; names are made on namingThreads(settings) threads, and the
// tree is the same for any number.
struct Symbol;
[[nodiscard]] SizeTree buildTree(const std::vector<Symbol>& symbols,
                                 const Settings& settings = Settings{});
// The same, handing out naming work in chunks of `chunks` (naming.h) rather than the default.
struct ChunkLimits;
[[nodiscard]] SizeTree buildTree(const std::vector<Symbol>& symbols, const Settings& settings,
                                 const ChunkLimits& chunks);
// The same, with what the map's whole list tells about its D modules (dmodules.h) found
// beforehand: under the modern rules D main is filed under its module (else under
// "Other symbols"), and D variables that ld.lld wrote demangled under their qualified names.
// The overloads above find it in `symbols` themselves.
struct DModules;
[[nodiscard]] SizeTree buildTree(const std::vector<Symbol>& symbols, const Settings& settings,
                                 const ChunkLimits& chunks, const DModules& modules);

// The tree of entries already placed (a layout by sections): every entry is filed, each leaf
// carrying its section and object. `sections` and `objects` are what the placements' indexes
// name; `totals` goes to the tree for the reports.
class PlacementSource;
// `modules`, when given, is what the map tells of its D modules, as for the overload above.
[[nodiscard]] SizeTree buildTree(const PlacementSource& source,
                                 const std::vector<LayoutSection>& sections,
                                 const std::vector<std::string_view>& objects,
                                 const KindTotals& totals, const Settings& settings,
                                 const ChunkLimits& chunks, const DModules* modules = nullptr);

// The tree of a map that lists its sections (hasSectionLayout), laid out by them as
// `settings.measure` counts; with `binary`, the map and that binary of the same link, whose
// symbols take exactly their bytes (`binaryPath` names it in messages). Uses up the map's symbol
// list and keeps its names (MapFile::keepOnlyNames): keep `map`, and the binary's storage, as
// long as the tree. Throws what layoutBinaryWithMap throws.
class MapFile;
namespace elf {
struct Image;
}
[[nodiscard]] SizeTree buildTreeBySections(MapFile& map, const Settings& settings,
                                           const elf::Image* binary = nullptr,
                                           std::string_view binaryPath = {});
// The tree of a binary alone. Throws what layoutBinary throws.
[[nodiscard]] SizeTree buildTreeOfBinary(const elf::Image& binary, std::string_view path,
                                         const Settings& settings);


// Drops the symbols that file nothing: those at address 0, and all but the last of those that
// share an address (each of those is 0 bytes long). The others keep their sizes and order, so
// buildTree makes the same tree of what is left, and on real maps more than half go. The list
// stays as it is when fewer than two would remain: buildTree tells an empty tree from none.
void dropSymbolsOfNoSize(std::vector<Symbol>& symbols);

// The whole program: `args` as main gets them. Returns the exit status; the echoed map line,
// and the document when the output path is "-", go to `out`; failures to `err`.
int run(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err);

}  // namespace vorlith
