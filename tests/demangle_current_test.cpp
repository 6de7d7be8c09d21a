// The current-ABI D demangler and its filing, checked against what gdc and ldc2 print for the
// same symbols (tests/data/d-current-names.tsv, tests/data/d-modern-truth.tsv), plus hand-made
// hostile names.
#include "demangle_current.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "demangle_current_internal.h"
#include "support/allocations_counted.h"

namespace vorlith {
namespace {

struct TableRow {
  std::string compiler;
  std::string kind;  // "symbol" or "type"
  std::string mangled;
  std::string qualified;
};

// Rows of a tab-separated table: d-current-names.tsv (four columns) or the fixture's truth
// table (mangled, qualified name).
std::vector<TableRow> readTable(const std::string& file) {
  std::ifstream in(std::string(VORLITH_TEST_DATA) + "/" + file);
  std::vector<TableRow> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    for (std::string field; std::getline(stream, field, '\t');) {
      fields.push_back(field);
    }
    if (fields.size() == 4) {
      rows.push_back({fields[0], fields[1], fields[2], fields[3]});
    } else if (fields.size() == 2) {
      rows.push_back({"fixture", "symbol", fields[0], fields[1]});
    }
  }
  return rows;
}

// Splits D text at the dots outside parentheses, brackets and literals; each piece cut before
// "!" and "(" when `bare`.
std::vector<std::string> splitQualified(std::string_view text, bool bare) {
  std::vector<std::string> pieces;
  std::string piece;
  int depth = 0;
  char quote = 0;
  bool cut = false;
  for (size_t k = 0; k < text.size(); ++k) {
    char c = text[k];
    if (quote != 0) {
      if (c == '\\') {
        ++k;
      } else if (c == quote) {
        quote = 0;
      }
    } else if (c == '"' || (c == '\'' && depth > 0)) {
      quote = c;
    } else if (c == '(' || c == '[') {
      ++depth;
    } else if (c == ')' || c == ']') {
      --depth;
    } else if (c == '.' && depth == 0) {
      pieces.push_back(piece);
      piece.clear();
      cut = false;
      continue;
    }
    if (depth == 0 && (c == '!' || c == '(')) {
      cut = cut || bare;
    }
    if (!cut || !bare) {
      piece += c;
    }
  }
  pieces.push_back(piece);
  return pieces;
}

// What the compilers' qualified name leaves out: template-mixin scopes, local-scope markers,
// and the repeat of a template's name by its eponymous member.
std::vector<std::string> comparable(std::vector<std::string> names) {
  static const std::regex hidden("__mixin[0-9]+|__S[0-9]+");
  std::vector<std::string> kept;
  for (std::string& name : names) {
    if (std::regex_match(name, hidden) || (!kept.empty() && kept.back() == name)) {
      continue;
    }
    kept.push_back(std::move(name));
  }
  return kept;
}

// The identifiers the filing put a symbol under, leaf included, as the qualified name has them.
// An instance's own group ("Stock!(int, 8)") reads as its template's name, and the leaf of an
// internal symbol ("Shape (vtable)") as its owner's name and the internal name (__vtbl).
std::vector<std::string> filedNames(const NameText& symbol) {
  static const std::regex internal("(.*) \\((vtable|initializer|ClassInfo|Interface|ModuleInfo)\\)");
  static const std::vector<std::pair<std::string, std::string>> kinds = {
      {"vtable", "__vtbl"},
      {"initializer", "__init"},
      {"ClassInfo", "__Class"},
      {"Interface", "__Interface"},
      {"ModuleInfo", "__ModuleInfo"}};
  std::vector<std::string> names;
  for (const std::string& segment : symbol.segments) {
    names.push_back(splitQualified(segment, true).back());
  }
  std::smatch match;
  if (std::regex_match(symbol.segments.back(), match, internal)) {
    names.back() = match[1].str();
    for (const auto& [kind, member] : kinds) {
      if (match[2] == kind) {
        names.push_back(member);
      }
    }
  }
  return comparable(names);
}

// Traces of mangling: template markers, "_D" and a digit, or a length prefix before exactly
// that many identifier bytes ("5twice"), which rendered D text never holds.
bool hasMangledText(std::string_view text) {
  static const std::regex markers("__T|__U|_D[0-9]|[A-Za-z]Q[A-Z]*[a-z][0-9]");
  std::string s(text);
  if (std::regex_search(s, markers)) {
    return true;
  }
  static const std::regex lengthPrefixed(
      "(^|[^A-Za-z0-9_\\\\])([1-9][0-9]*)([A-Za-z_][A-Za-z0-9_]*)");
  for (auto it = std::sregex_iterator(s.begin(), s.end(), lengthPrefixed);
       it != std::sregex_iterator(); ++it) {
    static const std::regex literalSuffix("u|U|L|LU|UL|F|Fi|Li|i|e");
    std::string digits = (*it)[2].str();
    size_t length = digits.size() > 6 ? SIZE_MAX : std::stoul(digits);
    std::string run = (*it)[3].str();
    if (length >= 2 && run.size() >= length && !std::regex_match(run, literalSuffix)) {
      return true;
    }
  }
  return false;
}

TEST(DemangleCurrent, RendersAsDSourceReads) {
  struct Case {
    std::string_view mangled;
    std::string_view shown;
  };
  const Case cases[] = {
      {"_D3pkg3mod3Bar3bazMxFZv", "void pkg.mod.Bar.baz() const"},
      {"_D3pkg3mod__T5twiceTiZQjFNaNbNiNfiZi",
       "pure nothrow @nogc @safe int pkg.mod.twice!(int).twice(int)"},
      // The compilers' name of Stock!(Item, 3).put, with return added beside scope on `this`.
      {"_D4shop5stock__T5StockTSQwQt4ItemVii3ZQw3putMFNaNbNiNjNlNfMQBkKiZv",
       "pure nothrow @nogc @safe void shop.stock.Stock!(shop.stock.Item, 3).Stock.put(scope "
       "shop.stock.Item, ref int) return scope"},
      {"_D3app1xi", "int app.x"},
      {"_D3app1S6__initZ", "app.S.__init"},
      {"_D4farm4barn11makeCounterFiZ7Counter4twinMxFZSQBsQBqQBoFiZQBe",
       "farm.barn.makeCounter(int).Counter farm.barn.makeCounter(int).Counter.twin() const"},
      {"_D3app1fFNcNdNeNmZv", "@property ref @live @trusted void app.f()"},
      {"_D3app1fFMNkPiIKiJiLiXv",
       "void app.f(return scope int*, in ref int, out int, lazy int...)"},
      {"_D3app1fUiYv", "extern (C) void app.f(int, ...)"},
      // A C-variadic close right after a type's qualified name, in a type and in the symbol's
      // own parameters (gdc and ldc2 write these for the variadic prototypes of C libraries).
      {"_D4post7varargs__T4linkTPUPSQBaQy1SYvZQuFNaNbNiNfZv",
       "pure nothrow @nogc @safe void post.varargs.link!(extern (C) void function(post.varargs.S*, "
       "...)).link()"},
      {"_D4post7varargs8withEnumFEQyQv1EYv", "void post.varargs.withEnum(post.varargs.E, ...)"},
      {"_D4post7varargs6Holder6methodMxFSQBfQBd1SYv",
       "void post.varargs.Holder.method(post.varargs.S, ...) const"},
      {"_D3app1fFNhG4fNnzizkZv", "void app.f(__vector(float[4]), noreturn, cent, ucent)"},
      {"_D3app1fFBiAyaZZv", "void app.f((int, string))"},
      {"_D3app1fFPFNaiZvDONgxFZiZv",
       "void app.f(void function(int) pure, int delegate() shared inout const)"},
      {"_D3app1fFHAyaAiPxyOaZv", "void app.f(int[][string], const(immutable(shared(char)))*)"},
      {"_D3app__T1VVAiA2i1N2ZQm1xi", "int app.V!([1, -2]).V.x"},
      {"_D3app__T1VVHAyaiA1a1_61i1ZQs1xi", "int app.V!([\"a\":1]).V.x"},
      {"_D3app__T1VVwi233ZQj1xi", "int app.V!('\\u00e9').V.x"},
      {"_D3app__T1VVdeNANVdeNINFVeeAP1Z1xi", "int app.V!(nan, -inf, 20.0L).x"},
      {"_D3app__T1VVqc18P0c1P1Z1xi", "int app.V!((1.5F + 2.0Fi)).x"},
      {"_D3app__T1VVAyaa2_0aeeZQo1xi", "int app.V!(\"\\n\\xee\").V.x"},
      // UTF-8 in a wstring as a code point; a byte that begins no UTF-8 sequence (0xF5 and up
      // never do) as itself.
      {"_D3app__T1VVAyuw3_e282acZ1xi", "int app.V!(\"\\u20ac\"w).x"},
      {"_D3app__T1VVAyuw3_f58080Z1xi", "int app.V!(\"\\xf5\\x80\\x80\"w).x"},
      {"_D3app__T1VSQk1gHTiZ1xi", "int app.V!(app.g, int).x"},
      {"_D3app__T1VX3abcZ1xi", "int app.V!(abc).x"},
      {"_D3app10__anything01xi", "int app.__anything.__anonymous.x"},
      {"_D3app__U1VTiZ1xi", "int app.V!(int).x"},
      {"_D3app17__T8AppenderTAyaZ4Datai", "int app.Appender!(string).Data"},
      // M, then the function type as a back reference.
      {"_D3std11concurrency14FiberScheduler6createMFNbDFZvZ4wrapMQk",
       "void std.concurrency.FiberScheduler.create(void delegate()).wrap()"},
      {"_D3app1fFPYZvPWZvPRZvZv",
       "void app.f(extern (Objective-C) void function(), extern (Windows) void function(), "
       "extern (C++) void function())"},
      {"_D3app__T1VVPFZvf_D3app9__lambda1FZvZ1xi", "int app.V!(app.__lambda1).x"},
      {"_D3app__T1VVbi0VnnZ1xi", "int app.V!(false, null).x"},
      {"_Dmain", "D main"},
      {"__D3app1xi", "int app.x"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mangled);
    auto shown = demangleCurrent(c.mangled);
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(*shown, c.shown);
  }
}

// The name of static Phobos (gdc 12) whose rendering costs the most per byte: 112 bytes of
// text made per byte of name, within the budget.
TEST(DemangleCurrent, DecodesTheCostliestNameOfStaticPhobos) {
  std::string_view name =
      "_D3std5range__T5chainTSQv9algorithm9iteration__T6joinerTSQCdQBjQBc__T9MapResultSQDa8bitmanip"
      "8BitArray7bitsSetMxFNbNdZ9__lambda2TSQExQEdQDw__T12FilterResultSQFyQCyQCsQCmMxFNbNdZ9__"
      "lambda1TSQHeQHd__T4iotaTmTmZQkFmmZ6ResultZQDcZQGaZQGzFQGvZQyTSQJfQIlQIe__TQEiSQJvQGvQGpQGjM"
      "xFNbNdZ9__lambda3TSQLbQLa__TQDxTmTxmZQEgFmxmZQDyZQGwZQLwFQLtQDmZQEr6__ctorMFNaNbNcNiNfQMwQE"
      "pZSQNyQNx__TQNuTQNrTQFlZQOgFQOdQFwZQHb";
  auto symbol = classifyCurrentD(name);
  ASSERT_TRUE(symbol.has_value());
  EXPECT_TRUE(symbol->shown.starts_with("pure nothrow @nogc ref @safe std.range.chain!(std."))
      << symbol->shown;
  EXPECT_EQ(symbol->segments[2], "chain");
  EXPECT_EQ(symbol->segments.back(), "__ctor");
  EXPECT_EQ(symbol->segments[symbol->segments.size() - 2], "Result");
  EXPECT_TRUE(symbol->segments[3].starts_with("chain!(std.")) << symbol->segments[3];
}

// Real names that expand 40 times through back references (core.lifetime.emplace of a chain of
// joiner and byUTF ranges, and their TypeInfo; tests/data/d-long-names.txt): each decodes, shows
// no mangling, and costs well inside its budget.
TEST(DemangleCurrent, DecodesRealNamesThatExpandFar) {
  std::ifstream in(std::string(VORLITH_TEST_DATA) + "/d-long-names.txt");
  size_t names = 0;
  size_t expansion = 0;
  for (std::string name; std::getline(in, name);) {
    SCOPED_TRACE(name);
    ++names;
    auto symbol = classifyCurrentD(name);
    ASSERT_TRUE(symbol.has_value());
    EXPECT_FALSE(hasMangledText(symbol->shown)) << symbol->shown;
    if (name.find("TypeInfo_") != std::string::npos) {
      continue;  // parsed in two pieces; the symbol itself below
    }
    currentd::Budget budget(name.size() - 2);
    currentd::Workspace work;
    currentd::CurrentParser parser(std::string_view(name).substr(2), budget, work);
    currentd::DecodedSymbol decoded = parser.parseSymbol();
    std::string_view text = work.view(decoded.text);
    EXPECT_EQ(text, symbol->shown);
    // Two thirds of each factor are left at least.
    EXPECT_LT(budget.work, currentd::kWorkPerByte / 3 * name.size());
    EXPECT_LT(budget.output, currentd::kOutputPerByte / 3 * name.size());
    EXPECT_LT(text.size(), currentd::kTextPerByte / 3 * name.size());
    expansion = std::max(expansion, text.size() / name.size());
  }
  EXPECT_GT(names, 30u);
  EXPECT_GE(expansion, 37u);  // the names are as costly as they were when they were taken
}

TEST(DemangleCurrent, RefusesWhatIsNotACompleteName) {
  for (std::string_view name :
       {"", "_D", "printf", "_ZN3foo3barEv", "_D4core6memory10initialize", "_D3app1xiq", "_D3appQa",
        "_D3app1x", "_D99app1xi", "_D3app1fFZ", "_D3app__T1VZ", "_D3app1xQz", "_DYNAMIC",
        "_D3app1x.", "_D3app1xi.bad-suffix", "_D3app1S6__initZZ"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(demangleCurrent(name).has_value());
    EXPECT_FALSE(classifyCurrentD(name).has_value());
  }
}

TEST(ClassifyCurrentD, FilesTheSpecialRows) {
  struct Case {
    std::string_view mangled;
    std::vector<std::string> segments;
    std::string_view shown;
  };
  const std::vector<Case> cases = {
      {"_Dmain", {"Other symbols", "D main"}, "D main"},
      {"_D10TypeInfo_a6__initZ", {"TypeInfo", "char"}, "typeid(char)"},
      {"_D12TypeInfo_Aya6__initZ", {"TypeInfo", "string"}, "typeid(string)"},
      {"_D28TypeInfo_AxS3zoo7animals3Cat6__initZ",
       {"zoo", "animals", "Cat", "TypeInfo", "const(zoo.animals.Cat)[]"},
       "typeid(const(zoo.animals.Cat)[])"},
      {"_D18TypeInfo_xC6Object6__initZ",
       {"object", "Object", "TypeInfo", "const(object.Object)"},
       "typeid(const(object.Object))"},
      {"_D26TypeInfo_C3app__T3BoxTiZQh6__initZ",
       {"app", "Box", "Box!(int)", "TypeInfo", "app.Box!(int)"},
       "typeid(app.Box!(int))"},
      // A class of the runtime named TypeInfo_..., not the TypeInfo of a type.
      {"_D6object15TypeInfo_Struct6__initZ",
       {"object", "TypeInfo_Struct", "TypeInfo_Struct (initializer)"},
       "object.TypeInfo_Struct.__init"},
      // The internal symbols of aggregates and modules, in their owner's group by kind.
      {"_D3app5Shape6__vtblZ", {"app", "Shape", "Shape (vtable)"}, "app.Shape.__vtbl"},
      {"_D3app5Shape7__ClassZ", {"app", "Shape", "Shape (ClassInfo)"}, "app.Shape.__Class"},
      {"_D3app1S6__initZ", {"app", "S", "S (initializer)"}, "app.S.__init"},
      {"_D3app5Shape11__InterfaceZ",
       {"app", "Shape", "Shape (Interface)"},
       "app.Shape.__Interface"},
      {"_D3pkg3app12__ModuleInfoZ", {"pkg", "app", "app (ModuleInfo)"}, "pkg.app.__ModuleInfo"},
      {"_D3app12__ModuleInfoZ", {"app", "app (ModuleInfo)"}, "app.__ModuleInfo"},
      {"_D3app__T4RingTiVmi4ZQm6__initZ",
       {"app", "Ring", "Ring!(int, 4LU)", "Ring (initializer)"},
       "app.Ring!(int, 4LU).Ring.__init"},
      // Classes of the runtime mangled without their module go under object.
      {"_D14TypeInfo_Class6__vtblZ",
       {"object", "TypeInfo_Class", "TypeInfo_Class (vtable)"},
       "TypeInfo_Class.__vtbl"},
      {"_D12TypeInfo_Aya6__vtblZ",
       {"object", "TypeInfo_Aya", "TypeInfo_Aya (vtable)"},
       "TypeInfo_Aya.__vtbl"},
      {"_D9Exception6__vtblZ", {"object", "Exception", "Exception (vtable)"}, "Exception.__vtbl"},
      {"_D9Exception7__ClassZ", {"object", "Exception", "Exception (ClassInfo)"},
       "Exception.__Class"},
      // Other internal names keep theirs.
      {"_D3app11__moduleRefZ", {"app", "__moduleRef"}, "app.__moduleRef"},
      {"_DThn16_3zoo2ui5orbit13EmberKite11904areaMxFZd",
       {"zoo", "ui", "orbit", "EmberKite1190", "area (thunk)"},
       "thunk for double zoo.ui.orbit.EmberKite1190.area() const"},
      {"_DTi16_D3app1C4areaMxFZd",
       {"app", "C", "area (thunk)"},
       "thunk for double app.C.area() const"},
      {"_D3app__T3addTiZQhFiiZi.isra.0",
       {"app", "add", "add!(int).isra.0"},
       "int app.add!(int).add(int, int) [clone .isra.0]"},
      {"_D3app3runFZv.constprop.0.cold",
       {"app", "run.constprop.0.cold"},
       "void app.run() [clone .constprop.0] [clone .cold]"},
      {"_D10TypeInfo_i6__initZ.8768", {"TypeInfo", "int.8768"}, "typeid(int) [clone .8768]"},
      {"_D3app3runFZv.llvm.123", {"app", "run.llvm.123"}, "void app.run() [clone .llvm.123]"},
      {"_D3app3runFZv.lto_priv.0", {"app", "run.lto_priv.0"}, "void app.run() [clone .lto_priv.0]"},
      {"_D3app3runFZv.part.0", {"app", "run.part.0"}, "void app.run() [clone .part.0]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mangled);
    auto symbol = classifyCurrentD(c.mangled);
    ASSERT_TRUE(symbol.has_value());
    EXPECT_EQ(symbol->segments, c.segments);
    EXPECT_EQ(symbol->shown, c.shown);
  }
}

TEST(ClassifyCurrentD, KeepsInstancesApartInTheLeaf) {
  struct Case {
    std::string_view mangled;
    std::vector<std::string> segments;
  };
  const std::vector<Case> cases = {
      {"_D3pkg3mod__T5twiceTiZQjFNaNbNiNfiZi", {"pkg", "mod", "twice", "twice!(int)"}},
      {"_D3pkg3mod__T5twiceTlZQjFNaNbNiNflZi", {"pkg", "mod", "twice", "twice!(long)"}},
      {"_D4shop5stock__T5StockTiVii8ZQn3putMFiKiZv",
       {"shop", "stock", "Stock", "Stock!(int, 8)", "put"}},
      {"_D4shop5stock__T5StockTiVii9ZQn3putMFiKiZv",
       {"shop", "stock", "Stock", "Stock!(int, 9)", "put"}},
      {"_D3app__T5OuterTiZQj__T5InnerTkZQj4Info1xi",
       {"app", "Outer", "Outer!(int)", "Inner", "Inner!(uint)", "Info", "x"}},
      // A member of a template function's instance: below the instance, not beside it.
      {"_D3app__T5outerTiZQjFiZ5inner1xi", {"app", "outer", "outer!(int)", "inner", "x"}},
      {"_D3app5plainFZv", {"app", "plain"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mangled);
    auto symbol = classifyCurrentD(c.mangled);
    ASSERT_TRUE(symbol.has_value());
    EXPECT_EQ(symbol->segments, c.segments);
  }
}

// Every name the compilers printed is filed under its qualified name's path and shown without
// a trace of mangling; where the compilers write the same text, the leaf is that text's end.
TEST(ClassifyCurrentD, FilesCompilerNamesUnderTheirQualifiedNames) {
  std::vector<TableRow> rows = readTable("d-current-names.tsv");
  std::vector<TableRow> fixture = readTable("d-modern-truth.tsv");
  ASSERT_GT(rows.size(), 250u);
  ASSERT_GT(fixture.size(), 2000u);
  rows.insert(rows.end(), fixture.begin(), fixture.end());
  size_t symbols = 0;
  size_t samePath = 0;
  size_t sameLeaf = 0;
  for (const TableRow& row : rows) {
    if (row.kind != "symbol") {
      continue;
    }
    SCOPED_TRACE(row.compiler + " " + row.mangled + " " + row.qualified);
    ++symbols;
    auto symbol = classifyCurrentD(row.mangled);
    ASSERT_TRUE(symbol.has_value());
    EXPECT_FALSE(hasMangledText(symbol->shown)) << symbol->shown;
    std::vector<std::string> expected = comparable(splitQualified(row.qualified, true));
    std::vector<std::string> filed = filedNames(*symbol);
    // The compilers' name may leave scopes out (named mixins; the path above a function-local
    // symbol), never add or reorder them, and ends with the same name.
    size_t matched = 0;
    for (size_t k = 0; k < filed.size() && matched < expected.size(); ++k) {
      matched += filed[k] == expected[matched] ? 1 : 0;
    }
    EXPECT_EQ(matched, expected.size()) << ::testing::PrintToString(filed);
    EXPECT_EQ(filed.back(), expected.back());
    samePath += filed == expected ? 1 : 0;
    // An internal symbol's leaf ("Shape (vtable)") names what the compilers write Shape.__vtbl.
    // An instance's is its instance's text, the group above it.
    const std::vector<std::string>& segments = symbol->segments;
    std::string leaf = segments.back();
    if (filed.size() >= 2 && filed.back().starts_with("__") && !leaf.starts_with("__")) {
      std::string owner = filed[filed.size() - 2];
      if (segments.size() >= 2 && segments[segments.size() - 2].starts_with(owner + "!(")) {
        owner = segments[segments.size() - 2];
      }
      leaf = owner + "." + filed.back();
    }
    sameLeaf += std::string_view(row.qualified).ends_with(leaf) ? 1 : 0;
  }
  // The path differs only by such left-out scopes. The leaf differs where the compilers write
  // what the mangling does not hold (enum member names; template arguments dropped above
  // members of template functions), name alias arguments without their module, or spell
  // floating values their own way (gdc 1.5e+0, 3.33333333333333333e-1L; ldc2 0.333333L).
  EXPECT_GT(samePath, symbols * 98 / 100) << samePath << " of " << symbols;
  EXPECT_GT(sameLeaf, symbols * 90 / 100) << sameLeaf << " of " << symbols;
}

TEST(ClassifyCurrentD, NamesTypeInfoByTheTypeAsTheCompilersWriteIt) {
  size_t types = 0;
  size_t exact = 0;
  for (const TableRow& row : readTable("d-current-names.tsv")) {
    if (row.kind != "type") {
      continue;
    }
    SCOPED_TRACE(row.compiler + " " + row.mangled + " " + row.qualified);
    ++types;
    std::string name = "TypeInfo_" + row.mangled;
    auto symbol = classifyCurrentD("_D" + std::to_string(name.size()) + name + "6__initZ");
    ASSERT_TRUE(symbol.has_value());
    ASSERT_GE(symbol->segments.size(), 2u);
    const std::string& type = symbol->segments.back();
    EXPECT_EQ(symbol->shown, "typeid(" + type + ")");
    EXPECT_EQ(symbol->segments[symbol->segments.size() - 2], "TypeInfo");
    EXPECT_FALSE(hasMangledText(type)) << type;
    // fullyQualifiedName writes "extern(C)"; .stringof, which the rendering follows, "extern (C)".
    std::string truth = std::regex_replace(row.qualified, std::regex("extern\\("), "extern (");
    exact += type == truth ? 1 : 0;
  }
  ASSERT_GT(types, 60u);
  // Object (the mangling has no module for it) and an enum member name are the exceptions.
  EXPECT_GE(exact + 4, types) << exact << " of " << types;
}

// The names the compilers made (the tables above and the long names), and the special rows,
// named twice by one CurrentDNames: the first round grows its buffers, the second must make no
// allocation at all and give the same results.
TEST(CurrentDNames, AllocatesNothingOnceItsBuffersHaveGrown) {
  std::vector<std::string> names = {"_Dmain", "_D3app3runFZv.isra.0.constprop.1",
                                    "_DThn16_3app1C4areaMxFZd", "_D3app5Shape6__vtblZ"};
  for (const char* table : {"d-current-names.tsv", "d-modern-truth.tsv"}) {
    for (TableRow& row : readTable(table)) {
      names.push_back(std::move(row.mangled));
    }
  }
  std::ifstream in(std::string(VORLITH_TEST_DATA) + "/d-long-names.txt");
  for (std::string name; std::getline(in, name);) {
    names.push_back(name);
  }
  CurrentDNames current;
  NameBuilder out;
  // What each round made of the names, summed up without allocating: how many were filed, and
  // a hash of the segments and shown names.
  auto round = [&](size_t& filed) {
    uint64_t hash = 14695981039346656037u;
    auto mix = [&hash](std::string_view text) {
      for (char c : text) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
      }
      hash = (hash ^ 0xFF) * 1099511628211u;
    };
    filed = 0;
    for (const std::string& name : names) {
      out.start(name);
      if (!current.classify(name, out)) {
        continue;
      }
      ++filed;
      NameResult result = out.result();
      for (const NameSegment& segment : result.segments) {
        mix(segment.text);
      }
      mix(result.shown);
    }
    return hash;
  };
  size_t filedFirst = 0;
  size_t before = allocationsOnThisThread();
  uint64_t first = round(filedFirst);
  size_t growing = allocationsOnThisThread() - before;
  size_t filedAgain = 0;
  before = allocationsOnThisThread();
  uint64_t again = round(filedAgain);
  EXPECT_EQ(allocationsOnThisThread() - before, 0u) << names.size() << " names";
  EXPECT_GT(growing, 0u) << "the counter counts";
  EXPECT_GT(filedFirst, 2500u) << "of " << names.size();
  EXPECT_EQ(filedAgain, filedFirst);
  EXPECT_EQ(again, first);
}
}  // namespace
}  // namespace vorlith
