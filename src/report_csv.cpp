// --csv=FILE: one row per symbol, for spreadsheets and scripts (RFC 4180: CRLF, quotes doubled;
// a text cell that a spreadsheet would take for a formula begins with an apostrophe).
//   size,address,path,key,mangled name,shown name
//   48,0x401000,app,main,_Dmain,D main
// A program laid out by its sections adds each symbol's output section, its kind and object:
//   size,address,path,key,mangled name,shown name,section,kind,object
//   48,0x401000,D main,D main,_Dmain,D main,.text,code,app.o
#include "reports.h"

namespace vorlith::report {

using std::string;
using std::string_view;

namespace {

void appendHex(string& out, uint64_t n) {
  char digits[16];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[n & 0xF];
    n >>= 4;
  } while (n != 0);
  out += "0x";
  while (count > 0) {
    out += digits[--count];
  }
}

}  // namespace

string csvField(string_view text) {
  if (text.find_first_of(",\"\r\n") == string_view::npos) {
    return string(text);
  }
  string out = "\"";
  for (char c : text) {
    out += c;
    if (c == '"') {
      out += '"';
    }
  }
  out += '"';
  return out;
}

string csvTextField(string_view text) {
  // A spreadsheet reads a cell that begins with one of these as a formula (or, for tab and CR,
  // trims them and then does): a leading apostrophe keeps it the text it is.
  if (!text.empty() && string_view("=+-@\t\r").find(text.front()) != string_view::npos) {
    return csvField("'" + string(text));
  }
  return csvField(text);
}

string csv(const Document& doc) {
  const bool sections = doc.hasKindTotals;
  string out = sections ? "size,address,path,key,mangled name,shown name,section,kind,object\r\n"
                        : "size,address,path,key,mangled name,shown name\r\n";
  // Leaves come group by group, so each group's path is joined once.
  uint32_t pathOf = kNoGroup;
  string path;
  for (const DocLeaf& leaf : doc.leaves) {
    if (leaf.group != pathOf) {
      pathOf = leaf.group;
      path.clear();
      bool first = true;
      for (string_view name : doc.pathOf(leaf.group)) {
        path += first ? "" : kPathSeparator;
        path += name;
        first = false;
      }
      path = csvTextField(path);
    }
    out += std::to_string(leaf.size);
    out += ',';
    appendHex(out, leaf.address);
    out += ',';
    out += path;
    out += ',';
    out += csvTextField(leaf.key);
    out += ',';
    out += csvTextField(leaf.mangledName);
    out += ',';
    out += csvTextField(leaf.shownName());
    if (sections) {
      for (string_view field : {leaf.section, leaf.kind, leaf.object}) {
        out += ',';
        out += csvTextField(field);
      }
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace vorlith::report
