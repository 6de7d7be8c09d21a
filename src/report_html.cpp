// --html=FILE: one page that shows the document offline, from anywhere (mail, CI artifacts).
// The documents travel as data, never as code:
//   <script type="application/json" id="vorlith-document" data-name="new.json">{"total":...
#include "report_html_page.h"
#include "reports.h"

namespace vorlith::report {

using std::string;
using std::string_view;

namespace {

string attributeText(string_view text) {
  string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

string documentElement(string_view id, const PageDocument& document) {
  string out = "<script type=\"application/json\" id=\"" + string(id) + "\" data-name=\"" +
               attributeText(document.name) + "\">";
  out.reserve(out.size() + document.json.size() + document.json.size() / 16 + 16);
  // "<" occurs in JSON only inside strings, where \u003c reads back as the same character; with
  // no "<" left, neither "</script" nor "<!--" can change how the element parses. "&" likewise,
  // so the text reads the same if anyone ever parses it as HTML.
  size_t start = 0;
  for (size_t k = document.json.find_first_of("<&"); k != string_view::npos;
       k = document.json.find_first_of("<&", k + 1)) {
    out.append(document.json, start, k - start);
    out += document.json[k] == '<' ? "\\u003c" : "\\u0026";
    start = k + 1;
  }
  out.append(document.json, start);
  out += "</script>\n";
  return out;
}

string selfContainedPage(const PageDocument& document, const PageDocument* base) {
  string page(kPageHead);
  page += documentElement("vorlith-document", document);
  if (base != nullptr) {
    page += documentElement("vorlith-base-document", *base);
  }
  page += kPageTail;
  return page;
}

}  // namespace vorlith::report
