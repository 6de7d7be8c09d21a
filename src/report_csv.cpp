// --csv=FILE: one row per symbol, for spreadsheets and scripts (RFC 4180: CRLF, quotes doubled;
// a text cell that a spreadsheet would take for a formula begins with an apostrophe).
//   size,address,path,key,mangled name,shown name
//   48,0x401000,app,main,_Dmain,D main
// A program laid out by its sections adds each symbol's output section, its kind and object:
//   size,address,path,key,mangled name,shown name,section,kind,object
//   48,0x401000,D main,D main,_Dmain,D main,.text,code,app.o
#include <charconv>

#include "reports.h"
#include "zel/utils/chunked_appender.h"
#include "zel/utils/text.h"

namespace vorlith::report {

using std::string;
using std::string_view;
using zel::utils::appender::ChunkedAppender;

namespace {

// The first byte of `text` that makes a field quoted (a comma, a quote, CR, LF), or its size.
size_t firstQuoted(string_view text) {
  return zel::utils::text::findAnyOfFour(text, 0, ',', '"', '\r', '\n');
}

// Whether a spreadsheet reads a cell that begins so as a formula (or, for tab and CR, trims
// them and then does): such a cell gets a leading apostrophe, which keeps it the text it is.
bool readAsFormula(string_view text) {
  return !text.empty() && string_view("=+-@\t\r").find(text.front()) != string_view::npos;
}

// Appends `text` as one field (after `prefix`, which holds no byte that needs quoting):
// unchanged where it needs no quotes, else quoted with its quotes doubled, runs of other bytes
// copied at once.
template <typename Out>
void putField(Out& out, string_view prefix, string_view text) {
  size_t at = firstQuoted(text);
  if (at == text.size()) {
    out.put(prefix, text);
    return;
  }
  out.put('"', prefix);
  for (;;) {
    out.put(text.substr(0, at));
    if (at == text.size()) {
      break;
    }
    if (text[at] == '"') {
      out.put('"');
    }
    out.put(text[at]);
    text.remove_prefix(at + 1);
    at = firstQuoted(text);
  }
  out.put('"');
}

template <typename Out>
void putTextField(Out& out, string_view text) {
  putField(out, readAsFormula(text) ? "'" : "", text);
}

// Appends into a string, as ChunkedAppender::put does into its chunks.
struct StringOut {
  string& text;
  template <typename... Items>
  void put(const Items&... items) {
    (append(items), ...);
  }
  void append(char c) { text += c; }
  void append(string_view s) { text.append(s); }
};

}  // namespace

string csvField(string_view text) {
  string out;
  StringOut sink{out};
  putField(sink, "", text);
  return out;
}

string csvTextField(string_view text) {
  string out;
  StringOut sink{out};
  putTextField(sink, text);
  return out;
}

void writeCsv(ChunkedAppender& out, const Document& doc) {
  const bool sections = doc.hasKindTotals;
  out.put(sections ? "size,address,path,key,mangled name,shown name,section,kind,object\r\n"
                   : "size,address,path,key,mangled name,shown name\r\n");
  // Leaves come group by group, so each group's path is joined and made a field once.
  uint32_t pathOf = kNoGroup;
  string path;
  string pathField;
  StringOut pathSink{pathField};
  char number[32];
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
      pathField.clear();
      putTextField(pathSink, path);
    }
    auto [end, error] = std::to_chars(number, number + sizeof number, leaf.size);
    (void)error;  // 32 bytes hold any 64-bit number
    out.put(string_view(number, static_cast<size_t>(end - number)), ',', "0x");
    end = std::to_chars(number, number + sizeof number, leaf.address, 16).ptr;
    out.put(string_view(number, static_cast<size_t>(end - number)), ',', string_view(pathField),
            ',');
    putTextField(out, leaf.key);
    out.put(',');
    putTextField(out, leaf.mangledName);
    out.put(',');
    putTextField(out, leaf.shownName());
    if (sections) {
      for (string_view field : {leaf.section(), leaf.kind(), leaf.object()}) {
        out.put(',');
        putTextField(out, field);
      }
    }
    out.put("\r\n");
  }
}

string csv(const Document& doc) {
  string out;
  ChunkedAppender sink([&out](string_view chunk) { out.append(chunk); });
  writeCsv(sink, doc);
  sink.flush();
  return out;
}

}  // namespace vorlith::report
