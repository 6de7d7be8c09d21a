// The CSV report: whatever the names, every row reads back, by an RFC 4180 reader, as the fields
// of its symbol, and no text cell begins as a formula would.
//
// Input: the names of up to 64 symbols, separated by NUL bytes, taken in turn as a group's name,
// a key, a mangled and a shown name; sizes and addresses from the bytes' lengths.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "document.h"
#include "fuzz_check.h"
#include "reports.h"

namespace {

using fuzzcheck::check;

// The rows of an RFC 4180 text: fields quoted or not, quotes doubled, CRLF between rows.
std::vector<std::vector<std::string>> readCsv(std::string_view text) {
  std::vector<std::vector<std::string>> rows(1);
  std::string field;
  bool quoted = false, wasQuoted = false;
  for (size_t at = 0; at < text.size(); ++at) {
    char c = text[at];
    if (quoted) {
      if (c == '"' && at + 1 < text.size() && text[at + 1] == '"') {
        field += '"';
        ++at;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
    } else if (c == '"') {
      check(field.empty() && !wasQuoted, "a quote inside an unquoted field", text.substr(at));
      quoted = wasQuoted = true;
    } else if (c == ',') {
      rows.back().push_back(std::move(field));
      field.clear();
      wasQuoted = false;
    } else if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
      rows.back().push_back(std::move(field));
      field.clear();
      wasQuoted = false;
      rows.emplace_back();
      ++at;
    } else {
      check(c != '\r' && c != '\n', "a line end outside quotes", text.substr(at));
      field += c;
    }
  }
  check(!quoted && field.empty() && rows.back().empty(), "the text ends inside a row");
  rows.pop_back();
  return rows;
}

std::string asText(std::string_view cell) {
  bool risky = !cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string::npos;
  return risky ? "'" + std::string(cell) : std::string(cell);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> pieces;
  for (size_t at = 0; pieces.size() < 256;) {
    size_t end = input.find('\0', at);
    pieces.push_back(input.substr(at, end == std::string_view::npos ? end : end - at));
    if (end == std::string_view::npos) {
      break;
    }
    at = end + 1;
  }
  vorlith::Document doc;
  doc.groups.emplace_back();
  vorlith::DocGroup group;
  group.name = pieces[0];
  group.parent = 0;
  doc.groups[0].firstChild = doc.groups[0].lastChild = 1;
  doc.groups.push_back(group);
  for (size_t k = 1; k + 2 < pieces.size(); k += 3) {
    vorlith::DocLeaf leaf;
    leaf.key = pieces[k];
    leaf.mangledName = pieces[k + 1];
    leaf.demangledName = pieces[k + 2];
    leaf.size = pieces[k].size();
    leaf.address = 0x1000 + k;
    leaf.group = 1;
    doc.leaves.push_back(leaf);
  }
  doc.groups[1].leafCount = static_cast<uint32_t>(doc.leaves.size());
  std::string table = vorlith::report::csv(doc);
  std::vector<std::vector<std::string>> rows = readCsv(table);
  check(rows.size() == doc.leaves.size() + 1, "one row per symbol and a header");
  for (size_t r = 1; r < rows.size(); ++r) {
    const vorlith::DocLeaf& leaf = doc.leaves[r - 1];
    std::vector<std::string> want{std::to_string(leaf.size), "", asText(pieces[0]),
                                  asText(leaf.key), asText(leaf.mangledName),
                                  asText(leaf.shownName())};
    check(rows[r].size() == 6, "six fields", table);
    want[1] = rows[r][1];
    check(rows[r] == want, "the fields read back as the symbol's", table);
    check(rows[r][1].rfind("0x", 0) == 0, "the address in hexadecimal", rows[r][1]);
    for (size_t f = 2; f < 6; ++f) {
      check(rows[r][f].empty() || std::string_view("=+-@\t\r").find(rows[r][f][0]) ==
                                      std::string_view::npos,
            "a text cell that begins as a formula", rows[r][f]);
    }
  }
  return 0;
}
