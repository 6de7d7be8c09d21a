// The reports' parts: size budgets, reading documents, matching two builds as the page does,
// terminal text, CSV fields and the inline document of the self-contained page.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "mapfile.h"
#include "reports.h"
#include "support/expect.h"
#include "support/test_dir.h"
#include "vorlith.h"
#include "zel/utils/json.h"

namespace vorlith {
namespace {

using report::Delta;

// A document from compact JSON written with ' for ", to keep the tables readable.
Document doc(std::string json) {
  std::replace(json.begin(), json.end(), '\'', '"');
  return readDocument(json);
}

std::string leaf(std::string_view key, uint64_t size, std::string_view mangled = "") {
  return "'" + std::string(key) + "':{'size':" + std::to_string(size) +
         ",'address':4096,'mangledName':'" + std::string(mangled.empty() ? key : mangled) +
         "','demangledName':''}";
}

TEST(ParseGrowthLimit, ReadsBytesUnitsAndPerCents) {
  struct Case {
    std::string_view text;
    bool percent;
    uint64_t bytes, digits;
    uint32_t decimals;
  } cases[] = {
      {"4096", false, 4096, 0, 0},    {"0", false, 0, 0, 0},
      {"100B", false, 100, 0, 0},     {"64KiB", false, 65536, 0, 0},
      {"1MiB", false, 1048576, 0, 0}, {"2GiB", false, 2147483648, 0, 0},
      {"2%", true, 0, 2, 0},          {"0.5%", true, 0, 5, 1},
      {"12.25%", true, 0, 1225, 2},   {"0%", true, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    GrowthLimit limit = parseGrowthLimit(c.text);
    EXPECT_EQ(limit.percent, c.percent);
    EXPECT_EQ(limit.bytes, c.bytes);
    EXPECT_EQ(limit.percentDigits, c.digits);
    EXPECT_EQ(limit.percentDecimals, c.decimals);
  }
}

TEST(ParseGrowthLimit, RejectsWhatIsNotALimit) {
  for (std::string_view text :
       {"", "-1", "+5", "1.5", "1.5KiB", "64KB", "64kib", "64 KiB", "KiB", "%", "2.%", ".5%", "-2%",
        "1e3", "18446744073709551616", "17179869184GiB", "0x10", "5%%"}) {
    SCOPED_TRACE(text);
    EXPECT_THROW((void)parseGrowthLimit(text), std::invalid_argument);
  }
}

TEST(GrewPastLimit, FailsExactlyWhenTheGrowthPassesTheLimit) {
  struct Case {
    std::string_view limit;
    uint64_t oldTotal, newTotal;
    bool fails;
  } cases[] = {
      {"4096", 1000, 5096, false},
      {"4096", 1000, 5097, true},
      {"0", 500, 500, false},
      {"0", 500, 501, true},
      {"1KiB", 0, 1024, false},
      {"1KiB", 0, 1025, true},
      {"10", 1000, 10, false},  // shrinking never fails
      {"2%", 10000, 10200, false},
      {"2%", 10000, 10201, true},
      {"0.5%", 1000, 1005, false},
      {"0.5%", 1000, 1006, true},
      // 2.5% of 999 is 24.975 bytes: 24 is within, 25 is past.
      {"2.5%", 999, 1023, false},
      {"2.5%", 999, 1024, true},
      {"0%", 0, 0, false},
      {"0%", 0, 1, true},
      {"100%", UINT64_MAX / 2, UINT64_MAX - 1, false},
      {"100%", UINT64_MAX / 2, UINT64_MAX, true},
      {"16GiB", UINT64_MAX - 5, UINT64_MAX, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.limit) + " " + std::to_string(c.oldTotal) + " -> " +
                 std::to_string(c.newTotal));
    EXPECT_EQ(report::grewPastLimit(c.oldTotal, c.newTotal, parseGrowthLimit(c.limit)), c.fails);
  }
}

TEST(SplitKey, ReadsTheNumberAfterTheLastHashAsThePageDoes) {
  struct Case {
    std::string_view key, base;
    double order;
  } cases[] = {
      {"f", "f", 0},
      {"f#12", "f", 12},
      {"f#007", "f", 7},
      {"a#1#2", "a#1", 2},
      {"#3", "", 3},
      {"f#", "f#", 0},
      {"f#1x", "f#1x", 0},
      {"f#-1", "f#-1", 0},
      {"123", "123", 0},
      // The page's pattern ^(.*)#(\d+)$ has "." (no line terminators) and ASCII digits.
      {"a\n#1", "a\n#1", 0},
      {"a\xE2\x80\xA8#1", "a\xE2\x80\xA8#1", 0},
      {"a\r#1", "a\r#1", 0},
      {"f#\xD9\xA3", "f#\xD9\xA3", 0},
      {"\xE2\x80\xA7#4", "\xE2\x80\xA7", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.key));
    report::KeyParts parts = report::splitKey(c.key);
    EXPECT_EQ(parts.base, c.base);
    EXPECT_EQ(parts.order, c.order);
  }
}

TEST(AlignLeaves, PairsEqualSizesThenTheRestInOrder) {
  using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;
  struct Case {
    std::vector<uint64_t> olds, news;
    Pairs expected;  // old position, new position
  } cases[] = {
      // A duplicate added in the middle leaves the others paired.
      {{10, 20, 30}, {10, 25, 20, 30}, {{0, 0}, {1, 2}, {2, 3}}},
      // Between equal sizes, the rest pair in order.
      {{1, 2, 3}, {1, 9, 3}, {{0, 0}, {1, 1}, {2, 2}}},
      {{1, 2}, {3, 4}, {{0, 0}, {1, 1}}},
      {{5, 6, 7}, {8}, {{0, 0}}},
      // One on a side: its equal-sized twin, else the first.
      {{5}, {7, 5}, {{0, 1}}},
      {{5}, {7, 8}, {{0, 0}}},
      {{7, 5}, {5}, {{1, 0}}},
      // A common beginning pairs item by item; what follows aligns as it would alone.
      {{4, 4, 10, 20, 30}, {4, 4, 10, 25, 20, 30}, {{0, 0}, {1, 1}, {2, 2}, {3, 4}, {4, 5}}},
      {{1, 2, 3}, {1, 2, 3, 4}, {{0, 0}, {1, 1}, {2, 2}}},
      {{7, 1, 2}, {7, 2, 1}, {{0, 0}, {2, 1}}},
      {{3, 3, 3}, {3, 3, 3}, {{0, 0}, {1, 1}, {2, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.olds) + " " + testing::PrintToString(c.news));
    std::vector<report::AlignItem> olds, news;
    for (size_t k = 0; k < c.olds.size(); ++k) {
      olds.push_back({static_cast<uint32_t>(100 + k), c.olds[k]});
    }
    for (size_t k = 0; k < c.news.size(); ++k) {
      news.push_back({static_cast<uint32_t>(200 + k), c.news[k]});
    }
    Pairs pairs;
    report::alignLeaves(olds, news, pairs);
    for (auto& [o, n] : pairs) {
      o -= 100;
      n -= 200;
    }
    std::sort(pairs.begin(), pairs.end());
    EXPECT_EQ(pairs, c.expected);
  }
}

TEST(TemplateOf, TakesTheOutermostInstanceOfTheNamesOwnName) {
  struct Case {
    std::string shown, name, instance;
  } cases[] = {
      {"pure @safe void std.format.internal.write.formatValueImpl!(Appender!string, double, "
       "char)(ref Appender!string, double, scope ref const(FormatSpec!char))",
       "std.format.internal.write.formatValueImpl",
       "std.format.internal.write.formatValueImpl!(Appender!string, double, char)"},
      {"app.Foo!int.bar()", "app.Foo", "app.Foo!int"},
      {"std::vector<int, std::allocator<int> >::push_back(int const&)", "std::vector",
       "std::vector<int, std::allocator<int> >"},
      // Data: the last token; phrases, typeid and clone suffixes around the entity go.
      {"vtable for std::basic_ostream<char, std::char_traits<char> >", "std::basic_ostream",
       "std::basic_ostream<char, std::char_traits<char> >"},
      {"typeid(std::vector<int>)", "std::vector", "std::vector<int>"},
      {"void std::vector<int>::_M_realloc_insert<int>(int&&) [clone .isra.0]", "std::vector",
       "std::vector<int>"},
      // The return type's template is not the symbol's.
      {"std::pair<int, int> app::make(int)", "", ""},
      // Operators are no brackets; a template before them still is.
      {"operator<(Foo const&, Foo const&)", "", ""},
      {"std::unique_ptr<Foo>::operator->() const", "std::unique_ptr", "std::unique_ptr<Foo>"},
      {"bool app::operator<< <int>(S const&)", "", ""},
      // Arguments cut short run to the end.
      {"std::vector<int", "std::vector", "std::vector<int"},
      {"main", "", ""},
      {"D main", "", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    report::TemplateOf of = report::templateOf(c.shown);
    EXPECT_EQ(of.name, c.name);
    EXPECT_EQ(of.instance, c.instance);
  }
}

// The new build's leaves as "key<-oldkey" ("key<-" when new), in document order.
std::vector<std::string> matchesOf(const Document& oldDoc, const Document& newDoc) {
  report::Matching m = report::matchBuilds(oldDoc, newDoc);
  std::vector<std::string> out;
  for (uint32_t k = 0; k < newDoc.leaves.size(); ++k) {
    std::string row;
    for (std::string_view g : newDoc.pathOf(newDoc.leaves[k].group)) {
      row += std::string(g) + "/";
    }
    row += std::string(newDoc.leaves[k].key) + "<-";
    if (uint32_t o = m.oldLeafOf[k]; o != report::kUnmatched) {
      for (std::string_view g : oldDoc.pathOf(oldDoc.leaves[o].group)) {
        row += std::string(g) + "/";
      }
      row += oldDoc.leaves[o].key;
      EXPECT_EQ(m.newLeafOf[o], k);
    }
    out.push_back(row);
  }
  return out;
}

std::string group(std::string_view name, uint64_t total, std::string children, std::string leaves) {
  return "'" + std::string(name) + "':{'total':" + std::to_string(total) + ",'children':{" +
         children + "},'leaves':{" + leaves + "}}";
}

std::string root(uint64_t total, std::string children, std::string leaves) {
  return "{'total':" + std::to_string(total) + ",'children':{" + children + "},'leaves':{" +
         leaves + "}}";
}

TEST(MatchBuilds, MatchesGroupsByNameUnderMatchedParentsAndLeavesByKey) {
  Document oldDoc =
      doc(root(60, group("app", 30, group("util", 10, "", leaf("f", 10)), leaf("main", 20)),
               leaf("loose", 30)));
  // util moved under lib: by path its leaf is new there and the old one removed, but it is the
  // same symbol (the same mangled name), so it is matched where it went. g moved too, and a
  // symbol of another name took its place: that one stays new, the old g removed.
  Document newDoc = doc(root(80,
                             group("app", 40, "", leaf("main", 40)) + "," +
                                 group("lib", 10, group("util", 10, "", leaf("f", 10)), ""),
                             leaf("loose", 30)));
  EXPECT_EQ(matchesOf(oldDoc, newDoc), (std::vector<std::string>{
                                           "app/main<-app/main", "lib/util/f<-app/util/f",
                                           "loose<-loose"}));
  report::ChangeCounts counts =
      report::countChanges(oldDoc, newDoc, report::matchBuilds(oldDoc, newDoc));
  EXPECT_EQ(counts.count[report::kGrown], 1u);
  EXPECT_EQ(counts.count[report::kNew], 0u);
  EXPECT_EQ(counts.count[report::kSame], 2u);
  EXPECT_EQ(counts.removedCount, 0u);
  EXPECT_TRUE(counts.bytes[report::kGrown] == 20);

  Document renamed = doc(root(
      80, group("app", 40, "", leaf("main", 40)) + "," + group("lib", 10, "", leaf("h", 10, "H")),
      leaf("loose", 30)));
  EXPECT_EQ(matchesOf(oldDoc, renamed),
            (std::vector<std::string>{"app/main<-app/main", "lib/h<-", "loose<-loose"}));
  counts = report::countChanges(oldDoc, renamed, report::matchBuilds(oldDoc, renamed));
  EXPECT_TRUE(counts.count[report::kNew] == 1 && counts.removedCount == 1 &&
              counts.removedBytes == -10);
}

TEST(MatchBuilds, PairsNumberedKeysByMangledNameAndSizeBeforeOrder) {
  // Old: f is A (10 bytes), f#1 is B (20). New: f is B (20), f#1 is A (10), f#2 is A (30).
  // By key alone f would meet f; the page pairs the same mangled names along equal sizes.
  Document oldDoc =
      doc(root(30, group("g", 30, "", leaf("f", 10, "A") + "," + leaf("f#1", 20, "B")), ""));
  Document newDoc =
      doc(root(60,
               group("g", 60, "",
                     leaf("f", 20, "B") + "," + leaf("f#1", 10, "A") + "," + leaf("f#2", 30, "A")),
               ""));
  EXPECT_EQ(matchesOf(oldDoc, newDoc),
            (std::vector<std::string>{"g/f<-g/f#1", "g/f#1<-g/f", "g/f#2<-"}));
  // Left over after the mangled names, numbered leaves pair in order of their numbers.
  Document before =
      doc(root(6, "", leaf("h#2", 1, "X") + "," + leaf("h", 2, "Y") + "," + leaf("h#1", 3, "Z")));
  Document after = doc(root(6, "", leaf("h", 4, "P") + "," + leaf("h#1", 5, "Q")));
  EXPECT_EQ(matchesOf(before, after), (std::vector<std::string>{"h<-h", "h#1<-h#1"}));
  // The same keys and sizes in the same order are not enough to pair leaves by place: the
  // mangled names still decide (f is B in the new build), and so do the sizes.
  Document swapped =
      doc(root(30, group("g", 30, "", leaf("f", 10, "B") + "," + leaf("f#1", 20, "A")), ""));
  EXPECT_EQ(matchesOf(oldDoc, swapped), (std::vector<std::string>{"g/f<-g/f#1", "g/f#1<-g/f"}));
  Document resized =
      doc(root(30, group("g", 30, "", leaf("f", 20, "A") + "," + leaf("f#1", 10, "A")), ""));
  Document same =
      doc(root(30, group("g", 30, "", leaf("f", 10, "A") + "," + leaf("f#1", 20, "A")), ""));
  EXPECT_EQ(matchesOf(same, resized), (std::vector<std::string>{"g/f<-g/f#1", "g/f#1<-g/f"}));
  EXPECT_EQ(matchesOf(same, same), (std::vector<std::string>{"g/f<-g/f", "g/f#1<-g/f#1"}));
}

TEST(ReadDocument, ReadsWhatTheRunWritesExactly) {
  MapFile map(VORLITH_TEST_DATA "/gnu-ld-gdc.map", std::cerr);
  vorlith::SizeTree sizeTree = buildTree(map.symbols);
  const TreeNode& tree = sizeTree.root;
  Document fromTree = documentFromTree(tree);
  std::string json(zel::utils::json::toJson(tree).get());
  Document fromText = readDocument(documentJson("var treeData = " + json));
  ASSERT_EQ(fromText.groups.size(), fromTree.groups.size());
  ASSERT_EQ(fromText.leaves.size(), fromTree.leaves.size());
  ASSERT_GT(fromTree.leaves.size(), 100u);
  for (size_t k = 0; k < fromTree.groups.size(); ++k) {
    const DocGroup& a = fromTree.groups[k];
    const DocGroup& b = fromText.groups[k];
    EXPECT_TRUE(a.name == b.name && a.total == b.total && a.parent == b.parent &&
                a.firstChild == b.firstChild && a.nextSibling == b.nextSibling &&
                a.firstLeaf == b.firstLeaf && a.leafCount == b.leafCount)
        << k;
  }
  for (size_t k = 0; k < fromTree.leaves.size(); ++k) {
    const DocLeaf& a = fromTree.leaves[k];
    const DocLeaf& b = fromText.leaves[k];
    EXPECT_TRUE(a.key == b.key && a.size == b.size && a.address == b.address &&
                a.mangledName == b.mangledName && a.demangledName == b.demangledName &&
                a.group == b.group)
        << a.key;
  }
}

TEST(ReadDocument, SaysWhatIsWrong) {
  struct Case {
    std::string json, message;
  } cases[] = {
      {"[1]", "its top level is not an object"},
      {"1", "its top level is not an object"},
      {"'x'", "its top level is not an object"},
      {"null", "its top level is not an object"},
      {"{'total':1,'children':{}}", "the root lacks \"total\", \"children\" or \"leaves\""},
      {root(1, group("a", 1, "", "'x':{'size':1,'address':2}"), ""),
       "symbol \"x\" in group \"a\" lacks \"size\", \"address\" or \"mangledName\""},
      {root(1, "", "'x':{'size':-1,'address':2,'mangledName':'x'}"),
       "\"size\" of symbol \"x\" in the root is a negative number"},
      {root(1, "", "'x':{'size':1.5,'address':2,'mangledName':'x'}"),
       "\"size\" of symbol \"x\" in the root is a fraction"},
      {root(1, "'a':7", ""), "\"a\" in the root is a number, not an object"},
      {"{'total':1,", "it is not valid JSON (at byte 12: "},
      {root(2, "", leaf("f", 1) + "," + leaf("f", 1)), "symbol \"f\" is twice in the root"},
      // Of several names given twice, the least in byte order is named.
      {root(4, "", leaf("g", 1) + "," + leaf("fz", 1) + "," + leaf("g", 1) + "," + leaf("fz", 1)),
       "symbol \"fz\" is twice in the root"},
      {root(2, group("a", 2, group("b", 1, "", "") + "," + group("b", 1, "", ""), ""), ""),
       "group \"b\" is twice in group \"a\""},
      // A member twice in any object: JSON.parse would keep the last, so the page would differ.
      {"{'total':1,'total':2,'children':{},'leaves':{}}",
       "the member \"total\" is twice in the root"},
      {"{'total':1,'children':{},'children':{'a':{'total':1,'children':{},'leaves':{}}},"
       "'leaves':{}}",
       "the member \"children\" is twice in the root"},
      {root(1, group("a", 1, "", "'x':{'size':1,'size':2,'address':2,'mangledName':'x'}"), ""),
       "the member \"size\" is twice in symbol \"x\" in group \"a\""},
      {root(1, "", "'x':{'size':1,'address':2,'mangledName':'x','demangledName':'a',"
                   "'demangledName':'b'}"),
       "the member \"demangledName\" is twice in symbol \"x\" in the root"},
      {"{'total':0,'children':{},'leaves':{},'v':null,'v':[]}", "the member \"v\" is twice in the root"},
      {"{'total':0,'children':{},'leaves':{},'meta':[{'a':1,'b':{},'a':2}]}",
       "the member \"a\" is twice in one object"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.json);
    expectThrowsWithMessage<std::runtime_error>([&] { (void)doc(c.json); }, c.message,
                                                c.message.back() == ' ');
  }
  // Members the format does not have are skipped, whatever they hold: a string or a number too.
  Document d = doc("{'version':[1,{'a':[]}],'tool':'vorlith','built':20261208,'total':5,"
                   "'children':{},'leaves':{'x':{'size':5,'address':2,'mangledName':'x',"
                   "'note':'kept apart','line':12,'flag':true}},'extra':null}");
  ASSERT_EQ(d.leaves.size(), 1u);
  EXPECT_EQ(d.leaves[0].size, 5u);
  EXPECT_EQ(d.leaves[0].mangledName, "x");
}

TEST(ReadDocument, RefusesTextThatIsNotJsonAtTheByteWhereItGoesWrong) {
  // The byte counts from 1 at the JSON's first byte, plus the offset of the JSON in its file.
  const std::string leafOf = "'x':{'size':1,'address':2,'mangledName':";
  struct Case {
    std::string json;
    size_t byte;
    std::string why;
  } cases[] = {
      {"", 1, "unexpected end of input"},
      {"{'total':1,", 12, "unexpected end of input"},
      {"{'total' 1}", 10, "expected ':'"},
      {"{'total':1 'children'}", 12, "expected ',' or '}'"},
      {"{'v':[1 2]}", 9, "expected ',' or ']'"},
      {"{total:1}", 2, "expected a member name"},
      {"{'total':tru}", 10, "expected a value"},
      {"{'total':01}", 11, "expected ',' or '}'"},
      {"{'total':1.}", 12, "expected a digit after '.'"},
      {"{'total':1e+}", 13, "expected a digit in the exponent"},
      {"{'total':-}", 11, "expected a digit"},
      {"{'total':0,'children':{},'leaves':{}} {}", 39, "unexpected text after the document"},
      {"{'a\x01b':1}", 4, "a control character in a string must be escaped"},
      {"{'a\\qb':1}", 4, "an unknown escape in a string"},
      {"{'a\\u12G4':1}", 8, "a \\u escape needs four hexadecimal digits"},
      {"{'a\\uD800x':1}", 4, "a high surrogate escape without its low one"},
      {"{'a\\uDC00':1}", 4, "a low surrogate escape without its high one"},
      {"{'a\xC3(':1}", 3, "a string is not valid UTF-8"},
      {"{'abc", 6, "unexpected end of input in a string"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.json);
    std::string json = c.json;
    std::replace(json.begin(), json.end(), '\'', '"');
    expectThrowsWithMessage<std::runtime_error>(
        [&] { (void)readDocument(json, 100); },
        "it is not valid JSON (at byte " + std::to_string(100 + c.byte) + ": " + c.why + ")");
  }
}

TEST(ReadDocument, DecodesEveryStringEscape) {
  std::string json = "{\"total\":1,\"children\":{},\"leaves\":{\"k\\u00e9\\\"\":{\"size\":1,"
                     "\"address\":18446744073709551615,\"mangledName\":"
                     "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\\u0041\\u20ac\\ud83d\\ude00\xE2\x80\xBA\"}}}";
  Document d = readDocument(json);
  ASSERT_EQ(d.leaves.size(), 1u);
  EXPECT_EQ(d.leaves[0].key, "k\xC3\xA9\"");
  EXPECT_EQ(d.leaves[0].address, UINT64_MAX);
  EXPECT_EQ(d.leaves[0].mangledName,
            "\"\\/\b\f\n\r\tA\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x80\xBA");
  // One past the largest whole number is a fraction to JSON readers: refused as one.
  std::string past = json;
  past.replace(past.find("18446744073709551615"), 20, "18446744073709551616");
  expectThrowsWithMessage<std::runtime_error>(
      [&] { (void)readDocument(past); },
      "\"address\" of symbol \"k\xC3\xA9\"\" in the root is a fraction");
}

TEST(ReadDocument, NamesAreViewsIntoTheTextOnlyWhereAskedAndWrittenWithoutEscapes) {
  std::string json = "{\"total\":1,\"children\":{\"g\":{\"total\":1,\"children\":{},"
                     "\"leaves\":{\"a\\u0062\":{\"size\":1,\"address\":2,\"mangledName\":\"m\","
                     "\"demangledName\":\"d\\\"\"}}}},\"leaves\":{}}";
  auto inText = [&json](std::string_view name) {
    return name.data() >= json.data() && name.data() < json.data() + json.size();
  };
  for (bool views : {false, true}) {
    SCOPED_TRACE(views);
    Document d = readDocument(json, 0, views);
    ASSERT_EQ(d.leaves.size(), 1u);
    const DocLeaf& leaf = d.leaves[0];
    EXPECT_EQ(leaf.key, "ab");
    EXPECT_EQ(leaf.mangledName, "m");
    EXPECT_EQ(leaf.demangledName, "d\"");
    EXPECT_EQ(d.groups[1].name, "g");
    EXPECT_EQ(inText(leaf.mangledName), views);
    EXPECT_EQ(inText(d.groups[1].name), views);
    EXPECT_FALSE(inText(leaf.key));  // escaped: decoded into a copy
    EXPECT_FALSE(inText(leaf.demangledName));
  }
}

TEST(ReadDocument, RefusesAStringLongerThanANameMayBeBeforeParsingIt) {
  std::string name(kMaxDocumentString, 'n');
  std::string json = "{\"total\":1,\"children\":{},\"leaves\":{\"x\":{\"size\":1,"
                     "\"address\":2,\"mangledName\":\"" + name + "\"}}}";
  EXPECT_EQ(readDocument(json).leaves.at(0).mangledName.size(), kMaxDocumentString);
  size_t at = json.find(name) - 1;
  json.insert(at + 1, "\\\"");  // an escaped quote does not end it
  expectThrowsWithMessage<std::runtime_error>(
      [&] { (void)readDocument(json, 15); },
      "the string at byte " + std::to_string(at + 15) + " is " +
          std::to_string(kMaxDocumentString + 2) +
          " bytes long, more than the 16 MiB that a name may take");
}

TEST(LooksLikeDocument, TellsDocumentsFromMaps) {
  for (std::string_view text :
       {"var treeData = {", "\xEF\xBB\xBFvar treeData={", "  {\"total\"", "var\ttreeData\n=\n{"}) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(looksLikeDocument(text));
  }
  for (std::string_view text : {"", "Archive member included", " Start         Length",
                                "var treeDatum = {", "variable", "\nMemory Configuration"}) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(looksLikeDocument(text));
  }
  EXPECT_EQ(documentJson("var treeData = {}"), "{}");
  EXPECT_EQ(documentJson("\xEF\xBB\xBFvar treeData = {};\n"), "{}");
  EXPECT_EQ(documentJson("{\"a\":1}"), "{\"a\":1}");
}

// Everything a document holds, as text: two documents read alike describe alike.
std::string describe(const Document& d) {
  std::string out = d.recordsOptions ? "options:" : "no options record:";
  for (const std::string& option : d.options) {
    out += " " + option;
  }
  out += "\n";
  for (const DocGroup& g : d.groups) {
    out += "group '" + std::string(g.name) + "' " + std::to_string(g.total) + " " +
           std::to_string(g.parent) + " " + std::to_string(g.firstChild) + " " +
           std::to_string(g.lastChild) + " " + std::to_string(g.nextSibling) + " " +
           std::to_string(g.firstLeaf) + " " + std::to_string(g.leafCount) + "\n";
  }
  for (const DocLeaf& l : d.leaves) {
    out += "leaf '" + std::string(l.key.view()) + "' " + std::to_string(l.size) + " " +
           std::to_string(l.address) + " '" + std::string(l.mangledName.view()) + "' '" +
           std::string(l.demangledName.view()) + "' '" + std::string(l.section()) + "' '" +
           std::string(l.kind()) + "' '" + std::string(l.object()) + "' " +
           std::to_string(l.group) + "\n";
  }
  return out;
}

void writeFile(const std::filesystem::path& path, std::string_view text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

// A small document file with what a reader must get right at any piece boundary: a byte order
// mark and the page's prefix, escapes of every kind, characters of two to four bytes, numbers
// up to 64 bits, members the format does not have (skipped whole), places, numbered keys, the
// record of options, and spaces and a ";" after the JSON.
std::string smallDocumentFile() {
  std::string json =
      "{'options':['--modern'],'total':18446744073709551615,'note':['a\\u00e9b',{'x':[1.5e3,"
      "true,null]},-2],'children':{'app':{'total':30,'children':{'d\xC3\xA9j\xC3\xA0':{'total':"
      "10,'children':{},'leaves':{'f#2':{'size':10,'address':4096,'mangledName':'_D3app1fFZv',"
      "'demangledName':'void app.f()','section':'.text','kind':'code','object':'app.o'}}}},"
      "'leaves':{'k\\\"\\\\\\/\\b\\f\\n\\r\\t':{'size':20,'address':18446744073709551615,"
      "'mangledName':'\\ud83d\\ude00 \xF0\x9F\x98\x80 \xE2\x80\xBA','demangledName':'',"
      "'section':'.text','kind':'code','object':'app.o'}}}},'leaves':{'*fill*':{'size':"
      "18446744073709551585,'address':0,'mangledName':'*fill*','demangledName':'','extra':"
      "{'deep':[[[]]]}}}}";
  std::replace(json.begin(), json.end(), '\'', '"');
  return "\xEF\xBB\xBFvar treeData = \n" + json + " \n;\n\n";
}

// The message that reading `text` whole gives, or "" when it reads.
std::string wholeTextMessage(const std::string& text) {
  std::string_view json = documentJson(text);
  try {
    (void)readDocument(json, static_cast<size_t>(json.data() - text.data()));
  } catch (const std::runtime_error& wrong) {
    return wrong.what();
  }
  return "";
}

TEST(ReadDocumentFile, PiecesBreakingAtEveryByteGiveWhatTheWholeTextGives) {
  const std::filesystem::path dir = freshTestDirectory("read-document-file");
  const std::string path = dir / "base.json";
  const std::string text = smallDocumentFile();
  writeFile(path, text);
  const std::string_view json = documentJson(text);
  const std::string expected = describe(readDocument(json, json.data() - text.data()));
  ASSERT_NE(expected.find("'f#2' 10 4096 '_D3app1fFZv' 'void app.f()' '.text' 'code'"),
            std::string::npos);
  for (size_t piece = 1; piece <= text.size(); ++piece) {
    SCOPED_TRACE(piece);
    DocumentFileReading how;
    how.pieceSize = piece;
    std::string taken;
    how.takeJson = [&taken](std::string_view part) { taken += part; };
    EXPECT_EQ(describe(readDocumentFile(path, how)), expected);
    EXPECT_EQ(taken, json);  // what the page copies: the JSON alone
  }
  std::filesystem::remove_all(dir);
}

TEST(ReadDocumentFile, RefusesWhatTheWholeTextRefusesWithTheSameMessage) {
  const std::filesystem::path dir = freshTestDirectory("read-document-file");
  const std::string path = dir / "base.json";
  const std::string good = smallDocumentFile();
  const size_t start = good.find('{');
  std::vector<std::string> texts = {
      good.substr(0, good.size() / 2),                        // ends in the middle
      good.substr(0, good.find("\\u00e9") + 4),               // in an escape
      good.substr(0, good.find("\xF0\x9F\x98\x80") + 2),      // in a character
      good.substr(0, good.find("18446744073709551585") + 7),  // in a number
      good.substr(0, good.rfind('}')) + " x}",
      good + "x",
      good.substr(0, good.rfind(';')) + ";;",
      "var treeData = ;",
      "var treeData = \n\n",
      "  \n{}",
      "{\"total\":0,\"children\":{},\"leaves\":{}}[1]",
      good.substr(0, start) + "[1]",
      good.substr(0, start) + "{\"total\":1,\"total\":1}",
      good.substr(0, start) + "{\"a\x01\":1}",
      good.substr(0, start) + "{\"a\xC3(\":1}",
      good.substr(0, start) + "{\"a\\uD800x\":1}",
      // A \u escape whose digits hold the string's end: an error at the quote, whatever follows.
      good.substr(0, start) + "{\"a\\u\"b\":1}",
      good.substr(0, start) + "{\"a\\u12\"b\":1}",
      good.substr(0, start) + "{\"a\\uD800\\u\"bcdef\":1}",
      good.substr(0, start) + "{\"total\":tru",
      good.substr(0, start) + "{\"total\":1e+}",
  };
  // A key twice, once written with an escape: found once the group is read.
  std::string twice = good;
  twice.insert(twice.find("\"f#2\""),
               "\"\\u0066#2\":{\"size\":0,\"address\":0,\"mangledName\":\"\"},");
  texts.push_back(twice);
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    writeFile(path, text);
    const std::string message = wholeTextMessage(text);
    ASSERT_FALSE(message.empty());
    for (size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{64}, size_t{1} << 20}) {
      SCOPED_TRACE(piece);
      DocumentFileReading how;
      how.pieceSize = piece;
      expectThrowsWithMessage<std::runtime_error>([&] { (void)readDocumentFile(path, how); },
                                                  path + ": " + message);
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(ReadDocumentFile, RefusesAStringLongerThanANameMayBeWithItsWholeLength) {
  const std::filesystem::path dir = freshTestDirectory("read-document-file");
  const std::string path = dir / "base.json";
  std::string name(kMaxDocumentString + 1, 'n');
  name.replace(size_t{1} << 20, 2, "\\\"");  // an escape across the first piece's end
  for (const std::string& tail : {std::string("\"}}}"), std::string("\\"), std::string()}) {
    std::string text =
        "var treeData = {\"total\":1,\"children\":{},\"leaves\":{\"x\":{\"size\":1,"
        "\"address\":2,\"mangledName\":\"" +
        name + tail;
    SCOPED_TRACE(tail);
    writeFile(path, text);
    const std::string message = wholeTextMessage(text);
    ASSERT_NE(message.find("bytes long, more than the 16 MiB"), std::string::npos) << message;
    for (size_t piece : {size_t{4096}, size_t{1} << 20}) {
      DocumentFileReading how;
      how.pieceSize = piece;
      expectThrowsWithMessage<std::runtime_error>([&] { (void)readDocumentFile(path, how); },
                                                  path + ": " + message);
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(ReadDocumentFile, ReadsFilesWhoseEndsAreAllSpacesWhole) {
  // Where the JSON begins or ends cannot be told from a mebibyte of spaces: such a file is read
  // whole, and reads as the whole text does, or fails as it fails.
  const std::filesystem::path dir = freshTestDirectory("read-document-file");
  const std::string path = dir / "base.json";
  const std::string good = smallDocumentFile();
  const std::string spaces((size_t{1} << 20) + 10, ' ');
  const size_t start = good.find('{');
  for (const std::string& text :
       {spaces + good.substr(start), good.substr(0, start) + spaces + good.substr(start),
        "var" + spaces + "treeData = " + good.substr(start), good + spaces,
        good.substr(0, good.rfind(';')) + spaces + ";", spaces, spaces + "[1]"}) {
    SCOPED_TRACE(text.size());
    writeFile(path, text);
    std::string_view json = documentJson(text);
    std::string message = wholeTextMessage(text);
    DocumentFileReading how;
    how.pieceSize = 4096;
    std::string taken;
    how.takeJson = [&taken](std::string_view part) { taken += part; };
    if (!message.empty()) {
      expectThrowsWithMessage<std::runtime_error>([&] { (void)readDocumentFile(path, how); },
                                                  path + ": " + message);
      continue;
    }
    EXPECT_EQ(describe(readDocumentFile(path, how)),
              describe(readDocument(json, json.data() - text.data())));
    EXPECT_EQ(taken, json);
  }
  std::filesystem::remove_all(dir);
}

TEST(ReadDocumentFile, RefusesAFileThatGrowsOrShrinksWhileItIsRead) {
  const std::filesystem::path dir = freshTestDirectory("read-document-file");
  const std::string path = dir / "base.json";
  const std::string text = smallDocumentFile();
  struct Case {
    const char* what;
    std::function<void()> change;
  } cases[] = {
      {"grew", [&] { std::ofstream(path, std::ios::binary | std::ios::app) << "  "; }},
      {"shrank", [&] { std::filesystem::resize_file(path, text.size() - 1); }},
      {"shrank", [&] { std::filesystem::resize_file(path, text.size() / 2); }},
      {"changed",
       [&] {
         std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
         file.seekp(static_cast<std::streamoff>(text.size() - 2));
         file << "\t";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeFile(path, text);
    DocumentFileReading how;
    how.pieceSize = 16;
    bool changed = false;
    how.takeJson = [&](std::string_view) {
      if (!std::exchange(changed, true)) {
        c.change();
      }
    };
    expectThrowsWithMessage<std::runtime_error>([&] { (void)readDocumentFile(path, how); },
                                                path + ": it " + c.what + " while it was read");
  }
  std::filesystem::remove_all(dir);
}

TEST(ReadDocumentFile, SharesTheNamesThatTheOtherDocumentHasWhereverItHasThem) {
  const std::filesystem::path dir = freshTestDirectory("read-document-file");
  const std::string path = dir / "base.json";
  // Ten groups of ten leaves, with the shown names and places that leaves have.
  auto documentOf = [](const std::vector<int>& order, const std::string& extra) {
    std::string groups;
    for (int g : order) {
      std::string leaves;
      for (int k = 0; k < 10; ++k) {
        std::string name = "f" + std::to_string(g) + "_" + std::to_string(k);
        leaves += std::string(leaves.empty() ? "" : ",") + "\"" + name + "\":{\"size\":1," +
                  "\"address\":1,\"mangledName\":\"_D" + name + "\",\"demangledName\":\"" + name +
                  "()\",\"section\":\".text\",\"kind\":\"code\",\"object\":\"o" +
                  std::to_string(g) + ".o\"}";
      }
      groups += std::string(groups.empty() ? "" : ",") + "\"g" + std::to_string(g) +
                "\":{\"total\":10,\"children\":{},\"leaves\":{" + leaves + "}}";
    }
    return "{\"total\":" + std::to_string(10 * order.size() + (extra.empty() ? 0 : 1)) +
           ",\"children\":{" + groups + "},\"leaves\":{" + extra + "}}";
  };
  std::vector<int> same{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const std::string fresh =
      "\"new\":{\"size\":1,\"address\":1,\"mangledName\":\"_Dnew\",\"demangledName\":\"\"}";
  const std::string otherJson = documentOf(same, "");
  const Document other = readDocument(otherJson);
  std::set<const char*> othersNames;
  for (const DocLeaf& l : other.leaves) {
    for (std::string_view name : {l.key.view(), l.mangledName.view(), l.demangledName.view(),
                                  l.section(), l.kind(), l.object()}) {
      othersNames.insert(name.data());
    }
  }
  for (const DocGroup& g : other.groups) {
    othersNames.insert(g.name.data());
  }
  // The same order, another (groups and leaves inserted and removed), and a name the other
  // document lacks: every name it has is shared, the others are copies.
  std::vector<int> shuffled{9, 3, 4, 0, 11, 8, 7, 2, 12, 6};
  for (const std::string& json : {documentOf(same, ""), documentOf(shuffled, fresh)}) {
    writeFile(path, json);
    DocumentFileReading how;
    how.sharesNamesWith = &other;
    how.pieceSize = 100;
    Document read = readDocumentFile(path, how);
    EXPECT_EQ(describe(read), describe(readDocument(json)));
    std::string_view otherText = otherJson;
    for (const DocLeaf& l : read.leaves) {
      for (std::string_view name : {l.key.view(), l.mangledName.view(), l.demangledName.view(),
                                    l.section(), l.kind(), l.object()}) {
        if (name.empty()) {
          continue;
        }
        bool itsOwn = name.find("11") != std::string_view::npos ||
                      name.find("12") != std::string_view::npos ||
                      name.find("new") != std::string_view::npos;
        EXPECT_EQ(othersNames.count(name.data()) == 1, !itsOwn) << name;
        EXPECT_EQ(otherText.find(name) != std::string_view::npos, !itsOwn) << name;
      }
    }
  }
  std::filesystem::remove_all(dir);
}

TEST(ReportText, WritesSizesAndSharesRoundedHalfUp) {
  struct Case {
    uint64_t bytes;
    std::string_view text;
  } sizes[] = {{0, "0 B"},           {1023, "1023 B"},        {1024, "1.0 KiB"},
               {1535, "1.5 KiB"},    {1587, "1.5 KiB"},       {1588, "1.6 KiB"},
               {1048576, "1.0 MiB"}, {5368709120, "5.0 GiB"}, {UINT64_MAX, "17179869184.0 GiB"}};
  for (const Case& c : sizes) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(report::humanSize(c.bytes), c.text);
  }
  EXPECT_EQ(report::share(1, 3), "33.3%");
  EXPECT_EQ(report::share(2, 3), "66.7%");
  EXPECT_EQ(report::share(5, 5), "100.0%");
  EXPECT_EQ(report::share(0, 0), "-");
  EXPECT_EQ(report::signedBytes(Delta(-12)), "-12");
  EXPECT_EQ(report::signedBytes(Delta(0)), "0");
  EXPECT_EQ(report::signedBytes(Delta(UINT64_MAX)), "+18446744073709551615");
  EXPECT_EQ(report::signedHumanSize(Delta(-2048)), "-2.0 KiB");
  EXPECT_EQ(report::signedShare(Delta(1), 3), "+33.33%");
  EXPECT_EQ(report::signedShare(Delta(-1), 200), "-0.50%");
  EXPECT_EQ(report::signedShare(Delta(5), 0), "n/a");
  EXPECT_EQ(report::signedShare(Delta(0), 7), "0.00%");
}

TEST(ReportText, EscapesWhatCouldSteerATerminal) {
  struct Case {
    std::string_view name, shown;
  } cases[] = {
      {"plain", "plain"},
      {"a\x1B[31mred", "a\\x1B[31mred"},
      {"tab\there\r\n", "tab\\x09here\\x0D\\x0A"},
      {"del\x7F", "del\\x7F"},
      {"c1\xC2\x9B"
       "2J",
       "c1\\u{009B}2J"},
      {"ls\xE2\x80\xA8ps\xE2\x80\xA9", "ls\\u{2028}ps\\u{2029}"},
      // Text that shows as other text: a right-to-left override, isolates, invisible marks.
      {"evil\xE2\x80\xAEtxt.exe", "evil\\u{202E}txt.exe"},
      {"a\xE2\x81\xA6" "b\xE2\x81\xA9", "a\\u{2066}b\\u{2069}"},
      {"zero\xE2\x80\x8Bwidth\xEF\xBB\xBF\xD8\x9C", "zero\\u{200B}width\\u{FEFF}\\u{061C}"},
      {"\xE2\x80\x8E\xE2\x80\x8F\xE2\x81\xA0", "\\u{200E}\\u{200F}\\u{2060}"},
      {"bad\xFF\xC0\xAF", "bad\\xFF\\xC0\\xAF"},
      {"caf\xC3\xA9 \xE2\x80\xBA \xF0\x9F\x98\x80", "caf\xC3\xA9 \xE2\x80\xBA \xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.name));
    EXPECT_EQ(report::printable(c.name), c.shown);
  }
}

TEST(ReportText, ShortensInTheMiddleAtCharacters) {
  struct Case {
    std::string_view text;
    size_t width;
    std::string_view shown;
  } cases[] = {
      {"abcdefghij", 10, "abcdefghij"},
      {"abcdefghij", 9, "abcd\xE2\x80\xA6ghij"},
      {"abcdefghij", 5, "ab\xE2\x80\xA6ij"},
      {"abcdefghij", 1, "\xE2\x80\xA6"},
      {"\xCE\xB1\xCE\xB2\xCE\xB3\xCE\xB4\xCE\xB5\xCE\xB6", 4,
       "\xCE\xB1\xE2\x80\xA6\xCE\xB5\xCE\xB6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string shown = report::shortenMiddle(c.text, c.width);
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(report::columns(shown), std::min(c.width, report::columns(c.text)));
  }
}

// Paths lose whole components from the left, behind "…", from the earliest boundary after which
// the rest fits; the last component is never cut from the left.
TEST(ReportText, ShortensPathsFromTheLeftKeepingTheLastComponent) {
  struct Case {
    std::string_view text;
    size_t width;
    std::string_view shown;
  } cases[] = {
      {"std \xE2\x80\xBA format \xE2\x80\xBA write", 20,
       "std \xE2\x80\xBA format \xE2\x80\xBA write"},
      {"std \xE2\x80\xBA format \xE2\x80\xBA write", 16,
       "\xE2\x80\xA6" "format \xE2\x80\xBA write"},
      {"std \xE2\x80\xBA format \xE2\x80\xBA write", 15,
       "\xE2\x80\xA6" "format \xE2\x80\xBA write"},
      {"std \xE2\x80\xBA format \xE2\x80\xBA write", 14, "\xE2\x80\xA6" "write"},
      {"a \xE2\x80\xBA b \xE2\x80\xBA c \xE2\x80\xBA d", 8,
       "\xE2\x80\xA6" "c \xE2\x80\xBA d"},
      {"a \xE2\x80\xBA b \xE2\x80\xBA c \xE2\x80\xBA d", 9,
       "\xE2\x80\xA6" "c \xE2\x80\xBA d"},
      {"a \xE2\x80\xBA b \xE2\x80\xBA c \xE2\x80\xBA d", 12,
       "\xE2\x80\xA6" "b \xE2\x80\xBA c \xE2\x80\xBA d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " in " + std::to_string(c.width));
    std::string shown = report::shortenPath(c.text, c.width);
    EXPECT_EQ(shown, c.shown);
    EXPECT_LE(report::columns(shown), c.width);
  }
}

TEST(Csv, QuotesFieldsAsRfc4180Says) {
  struct Case {
    std::string_view field, written;
  } cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\r", "\"cr\r\""},
      {" spaced ", " spaced "},
      {"=1+2", "=1+2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(report::csvField(c.field), c.written);
  }
  // Text that a spreadsheet would evaluate stays text; anything else is left as it is.
  const Case textCells[] = {
      {"=HYPERLINK(\"http://x\"&A2,\"Open\")", "\"'=HYPERLINK(\"\"http://x\"\"&A2,\"\"Open\"\")\""},
      {"+1", "'+1"},
      {"-1+2", "'-1+2"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\t=1", "'\t=1"},
      {"\r=1", "\"'\r=1\""},
      {"a=1", "a=1"},
      {" =1", " =1"},
      {"", ""},
  };
  for (const Case& c : textCells) {
    SCOPED_TRACE(c.field);
    EXPECT_EQ(report::csvTextField(c.field), c.written);
  }
  Document d =
      doc(root(30, group("a,b", 30, group("c", 30, "", leaf("x\\u0022y", 30, "_Dx")), ""), ""));
  EXPECT_EQ(report::csv(d),
            "size,address,path,key,mangled name,shown name\r\n"
            "30,0x1000,\"a,b \xE2\x80\xBA c\",\"x\"\"y\",_Dx,_Dx\r\n");
}

TEST(DocumentElement, LeavesNoAngleBracketThatCouldEndIt) {
  std::string json = "{\"k\":\"</script><script>alert(1)</script><!-- ]]> & \xE2\x80\xA8\"}";
  std::string element = report::documentElement("vorlith-document", {json, "a\"<b>&.json"});
  std::string_view open =
      "<script type=\"application/json\" id=\"vorlith-document\" "
      "data-name=\"a&quot;&lt;b&gt;&amp;.json\">";
  ASSERT_EQ(element.substr(0, open.size()), open);
  std::string_view close = "</script>\n";
  ASSERT_EQ(element.substr(element.size() - close.size()), close);
  std::string body = element.substr(open.size(), element.size() - open.size() - close.size());
  EXPECT_EQ(body.find('<'), std::string::npos) << body;
  EXPECT_EQ(body.find('&'), std::string::npos) << body;
  // JSON reads \u003c and \u0026 back as the characters themselves.
  for (auto [escape, plain] : {std::pair{"\\u003c", "<"}, std::pair{"\\u0026", "&"}}) {
    for (size_t at; (at = body.find(escape)) != std::string::npos;) {
      body.replace(at, 6, plain);
    }
  }
  EXPECT_EQ(body, json);
}

TEST(Summary, FitsTheLineAndListsTheLargestSymbols) {
  std::string longName(300, 'n');
  Document d = doc(
      root(1000,
           group("std", 900,
                 group(longName, 900, "", leaf(longName + "_end", 600) + "," + leaf("b", 300)), ""),
           leaf("loose\\u001b", 100)));
  std::string text = report::summary(d, 2);
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_LE(report::columns(std::string_view(text).substr(start, end - start)), 100u)
        << text.substr(start, end - start);
  }
  EXPECT_NE(text.find("Total: 1000 bytes (1000 B) in 3 symbols\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  900       900 B   90.0%  std\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  100       100 B   10.0%  (1 symbol at the top level)\n"),
            std::string::npos)
      << text;
  // The two largest, the first shortened in the middle so that its end still shows.
  EXPECT_NE(text.find("nnn_end\n"), std::string::npos) << text;
  EXPECT_NE(text.find("n \xE2\x80\xBA b\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("loose"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

}  // namespace
}  // namespace vorlith

namespace vorlith {
namespace {

// A document of one chain of groups `depth` deep, a leaf at the bottom.
std::string deepDocument(size_t depth, uint64_t size) {
  std::string json;
  for (size_t k = 0; k < depth; ++k) {
    json += "{\"total\":" + std::to_string(size) + ",\"children\":{\"g\":";
  }
  json += "{\"total\":" + std::to_string(size) + ",\"children\":{},\"leaves\":{" +
          "\"f\":{\"size\":" + std::to_string(size) +
          ",\"address\":1,\"mangledName\":\"f\",\"demangledName\":\"\"}}}";
  for (size_t k = 0; k < depth; ++k) {
    json += "},\"leaves\":{}}";
  }
  return json;
}

TEST(HostileDocuments, NestingOfAHundredThousandGroupsIsReadAndCompared) {
  Document oldDoc = readDocument(deepDocument(100000, 5));
  Document newDoc = readDocument(deepDocument(100000, 7));
  ASSERT_EQ(newDoc.groups.size(), 100001u);
  report::ComparisonText text = report::comparison(oldDoc, "old", newDoc, "new", 20, nullptr);
  EXPECT_NE(text.text.find("Symbols: 0 new (0), 0 removed (0), 1 grown (+2), 0 shrunk (0)"),
            std::string::npos)
      << text.text.substr(0, 400);
  std::string summary = report::summary(newDoc, 5);
  EXPECT_NE(summary.find("\xE2\x80\xA6"), std::string::npos);  // the path is shortened
}

TEST(HostileDocuments, AThousandsOfOneNameAreMatchedWithoutATableTooLarge) {
  // 3000 of one name and mangled name on each side: 9 million cells are past the limit, so
  // they pair in order; 1000 each (a million cells) are aligned on their sizes.
  for (size_t count : {3000u, 1000u}) {
    SCOPED_TRACE(count);
    std::string oldLeaves, newLeaves;
    for (size_t k = 0; k < count; ++k) {
      std::string key = k == 0 ? "f" : "f#" + std::to_string(k);
      oldLeaves += (k ? "," : "") + leaf(key, 10 + k % 7, "_Df");
      newLeaves += (k ? "," : "") + leaf(key, 10 + (k + 1) % 7, "_Df");
    }
    report::Matching m =
        report::matchBuilds(doc(root(0, "", oldLeaves)), doc(root(0, "", newLeaves)));
    EXPECT_EQ(std::count(m.oldLeafOf.begin(), m.oldLeafOf.end(), report::kUnmatched), 0);
  }
}

}  // namespace
}  // namespace vorlith
