// --html=FILE: one page that shows the document offline, from anywhere (mail, CI artifacts).
// The documents travel as data, never as code:
//   <script type="application/json" id="vorlith-document" data-name="new.json">{"total":...
#include <array>
#include <functional>

#include "report_html_page.h"
#include "reports.h"
#include "zel/utils/text.h"

namespace vorlith::report {

using std::string;
using std::string_view;
using zel::utils::appender::ChunkedAppender;

namespace {

// What a byte becomes in the page, where it is not itself: an attribute's special characters
// as entities; in a document's element, "<" and "&" as JSON escapes.
using EscapeTable = std::array<string_view, 256>;

constexpr EscapeTable kAttributeEscapes = [] {
  EscapeTable table{};
  table['&'] = "&amp;";
  table['<'] = "&lt;";
  table['>'] = "&gt;";
  table['"'] = "&quot;";
  table['\''] = "&#39;";
  return table;
}();

// "<" occurs in JSON only inside strings, where \u003c reads back as the same character; with
// no "<" left, neither "</script" nor "<!--" can change how the element parses. "&" likewise,
// so the text reads the same if anyone ever parses it as HTML.
constexpr EscapeTable kScriptEscapes = [] {
  EscapeTable table{};
  table['<'] = "\\u003c";
  table['&'] = "\\u0026";
  return table;
}();

// Appends `text` with the bytes that `table` marks replaced, runs of the others copied at once.
void putEscaped(ChunkedAppender& out, string_view text, const EscapeTable& table) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  size_t run = 0;
  for (size_t k = 0; k < text.size(); ++k) {
    string_view replacement = table[bytes[k]];
    if (!replacement.empty()) {
      out.put(text.substr(run, k - run), replacement);
      run = k + 1;
    }
  }
  out.put(text.substr(run));
}

// putEscaped with kScriptEscapes.
void putScriptEscaped(ChunkedAppender& out, string_view text) {
  size_t run = 0;
  using zel::utils::text::findEitherByte;
  for (size_t k = findEitherByte(text, 0, '<', '&'); k < text.size();
       k = findEitherByte(text, run, '<', '&')) {
    out.put(text.substr(run, k - run), kScriptEscapes[static_cast<unsigned char>(text[k])]);
    run = k + 1;
  }
  out.put(text.substr(run));
}

// Collects what a ChunkedAppender hands on into a string.
struct Collect {
  string text;
  ChunkedAppender sink{[this](string_view chunk) { text.append(chunk); }};
  string take() {
    sink.flush();
    return std::move(text);
  }
};

}  // namespace

namespace {

// The element that carries a document, up to its JSON, and after it.
void openDocumentElement(ChunkedAppender& out, string_view id, string_view name) {
  out.put("<script type=\"application/json\" id=\"", id, "\" data-name=\"");
  putEscaped(out, name, kAttributeEscapes);
  out.put("\">");
}
void closeDocumentElement(ChunkedAppender& out) {
  out.put("</script>\n");
}

}  // namespace

void writeDocumentElement(ChunkedAppender& out, string_view id, string_view name,
                          const std::function<void(ChunkedAppender&)>& writeJson) {
  openDocumentElement(out, id, name);
  {
    // The JSON passes through its own buffer and is escaped a chunk at a time on its way out.
    ChunkedAppender json([&out](string_view chunk) { putScriptEscaped(out, chunk); });
    writeJson(json);
    json.flush();
  }
  closeDocumentElement(out);
}

void beginSelfContainedPage(ChunkedAppender& out, string_view documentName) {
  out.put(kPageHead);
  openDocumentElement(out, "vorlith-document", documentName);
}

void putPageJson(ChunkedAppender& out, string_view json) {
  putScriptEscaped(out, json);
}

void endSelfContainedPage(ChunkedAppender& out, const PageSource* base) {
  closeDocumentElement(out);
  if (base != nullptr) {
    writeDocumentElement(out, "vorlith-base-document", base->name, base->writeJson);
  }
  out.put(kPageTail);
}

void beginPageBase(ChunkedAppender& out, string_view baseName) {
  closeDocumentElement(out);
  openDocumentElement(out, "vorlith-base-document", baseName);
}

void endPageAfterBase(ChunkedAppender& out) {
  closeDocumentElement(out);
  out.put(kPageTail);
}

void writeSelfContainedPage(ChunkedAppender& out, const PageSource& document,
                            const PageSource* base) {
  beginSelfContainedPage(out, document.name);
  {
    ChunkedAppender json([&out](string_view chunk) { putPageJson(out, chunk); });
    document.writeJson(json);
    json.flush();
  }
  endSelfContainedPage(out, base);
}

// The text of a document, for the functions below.
PageSource pageSource(const PageDocument& document) {
  string_view json = document.json;
  return {document.name, [json](ChunkedAppender& out) { out.put(json); }};
}

string documentElement(string_view id, const PageDocument& document) {
  Collect page;
  writeDocumentElement(page.sink, id, document.name, pageSource(document).writeJson);
  return page.take();
}

string selfContainedPage(const PageDocument& document, const PageDocument* base) {
  Collect page;
  PageSource baseSource;
  if (base != nullptr) {
    baseSource = pageSource(*base);
  }
  writeSelfContainedPage(page.sink, pageSource(document), base != nullptr ? &baseSource : nullptr);
  return page.take();
}

}  // namespace vorlith::report
