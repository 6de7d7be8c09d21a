#include "dsym.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dmodules.h"
#include "support/expect.h"

using vorlith::Classifier;
using vorlith::isMangledTemplateInstance;
using vorlith::NameText;
using vorlith::toText;
using vorlith::rlSplit;
using vorlith::rlSplitForce;
using vorlith::rlSubSplit;
using vorlith::splitDemangled;
using Segments = std::vector<std::string>;
using Views = std::vector<std::string_view>;

namespace {

struct Classified {
  std::string_view name;
  Segments segments;
  std::string_view dem;  // what the classifier shows; "=" for the name itself
};

void expectClassified(const Classified& c) {
  SCOPED_TRACE(hexBytes(c.name) + " " + std::string(c.name));
  Classifier classifier{vorlith::Settings{}};
  NameText result = toText(classifier.classify(c.name));
  EXPECT_EQ(result.segments, c.segments);
  EXPECT_EQ(result.shown, c.dem == "=" ? c.name : c.dem);
}

}  // namespace

TEST(Classifier, FilesNamesTheDemanglerLeavesAlone) {
  const Classified cases[] = {
      {"_D13TypeInfo_AAya6__initZ", {"TypeInfo", "AAya", "__init"}, "TypeInfo_AAya.__init"},
      {"_D20TypeInfo_S3app5Shape6__initZ",
       {"app", "Shape", "TypeInfo", "__init"},
       "TypeInfo_S3app5Shape.__init"},
      {"_D3app5Shape7__ClassZ", {"app", "Shape", "__Class"}, "app.Shape.__Class"},
      {"_D3app5count7", {"app", "count", ""}, "app.count."},
      {"_D3app10__T3BarTiX3Bar3putMFZv",
       {"app", "Bar", "TiX", "Bar", "put", "MFZv"},
       "app.Bar.TiX.Bar.put.MFZv"},
      {"_Dmain", {"C symbols", "Dmain"}, "="},
      {"_d_hook", {"D internals", "hook"}, "="},
      {"__d_arraybounds", {"D internals", "arraybounds"}, "="},
      {"?bar@Foo@@QAEXXZ", {"C++ symbols", "Foo", "bar"}, "Foo::bar"},
      {"??0Foo@@QAE@XZ", {"C++ symbols", "Foo"}, "Foo"},
      {"??_C@_03ABCD@abc?$AA@", {"C++ symbols", "??_C@_03ABCD@abc?$AA@"}, "="},
      {"?@@x", {"C++ symbols"}, ""},
      {"_ZN3foo3barEv", {"C++ symbols", "foo", "bar"}, "foo::bar"},
      {"_Z3foov", {"C++ symbols", "foo"}, "foo"},
      {"_ZNSt6vectorIiSaIiEE9push_backERKi", {"C++ symbols", "vector"}, "vector"},
      {"_Zfoo", {"C++ symbols"}, ""},
      {"__imp__GetProcAddress@8", {"Imports", "GetProcAddress@8"}, "="},
      {"_TMP250", {"TMP", "250"}, "="},
      {"__HandlerTable_x", {"Exception handler tables", "_x"}, "="},
      {"app.obj: _main", {"app.obj", "C symbols", "main"}, "app.obj: _main"},
      {"__libc_csu_init", {"C symbols", "libc", "csu_init"}, "="},
      {"___", {"C symbols", ""}, "="},
      {"gc_lock", {"gc", "gc_lock"}, "="},
      {"/usr/lib/gcc/x86_64-linux-gnu/4.8/../../../x86_64-linux-gnu/crt1.o (.text)",
       {"/", "usr", "lib", "x86_64-linux-gnu", "crt1.o", ".text"},
       "="},
      {"/usr/lib/libc.a(printf.o) (.text)",
       {"/", "usr", "lib", "libc.a", "printf.o", ".text"},
       "="},
      {"/", {"/", ""}, "="},
      {"00 (*fill*)", {"(*fill*)", "00 (*fill*)"}, "="},
      {"internal", {"internal", ""}, "="},
      {"anon", {"anon", ""}, "="},
      {"main", {"main"}, "="},
      {"", {""}, "="},
      {"__Dfoo", {"C symbols", "Dfoo"}, "_Dfoo"},
      {"_D5", {"C symbols", "D5"}, "="},
  };
  for (const Classified& c : cases) {
    expectClassified(c);
  }
}

TEST(Classifier, FilesDemangledNamesByTheirQualifiedName) {
  const Classified cases[] = {
      {"_D4dsym12parseDSymbolFAyaJAyaZAAya",
       {"dsym", "parseDSymbol"},
       "immutable(char)[][] dsym.parseDSymbol(immutable(char)[], out immutable(char)[])"},
      {"_D3app4initUZi", {"app", "init"}, "extern (C) int app.init()"},
      {"_D3app22__T3BoxTiTS3app5PointZ3Box3putMFS3app5PointZv",
       {"app", "Box", "Box", "put"},
       "void app.Box!(int, app.Point).Box.put(app.Point)"},
      {"_D3app5Shape6centerMFZS3app5Point",
       {"app", "app", "Shape", "center"},
       "app.Point app.Shape.center()"},
      {"_D3app5Shape6__ctorMFNcZS3app5Shape",
       {"app", "app", "Shape", "__ctor"},
       "ref app.Shape app.Shape.__ctor()"},
      {"_D3app7counteri", {"app", "counter"}, "int app.counter"},
      {"_D3app3logFAyaYv", {"app", "log"}, "void app.log(immutable(char)[], ...)"},
      {"_D3app3fooFNaNbNfZv", {"app", "foo"}, "pure nothrow @safe void app.foo()"},
      {"__D3app7counteri", {"app", "counter"}, "int app.counter"},
      {"D3app1xi", {"app", "x"}, "int app.x"},
      {"_D3pkg3mod4mainFZv5localMFZi",
       {"pkg", "mod", "main", "local"},
       "int pkg.mod.main().local()"},
      {"_D3pkg3mod14__T3BarTiVii5Z3Bar1xi",
       {"pkg", "mod", "Bar", "Bar", "x"},
       "int pkg.mod.Bar!(int, 5).Bar.x"},
      {"_D3pkg3mod3Bar3bazMxFZv",
       {"pkg", "mod", "Bar", "baz"},
       "const(void function()) pkg.mod.Bar.baz"},
      // A type ahead of the name that is a qualified name gives all its parts but the last.
      {"_D3pkg3mod1sS3pkg3mod1S", {"pkg", "mod", "pkg", "mod", "s"}, "pkg.mod.S pkg.mod.s"},
      // A prefix, then a demangled name.
      {"lib.a: _D3app7counteri", {"lib.a", "app", "counter"}, "lib.a: int app.counter"},
      // Decoded, but with a raw template instance: the mangled D rule files it.
      {"_D3app10__T3BarTiX3Bar3putMFZv",
       {"app", "Bar", "TiX", "Bar", "put", "MFZv"},
       "app.Bar.TiX.Bar.put.MFZv"},
      // Newer manglings with back references are not decoded: filed by the mangled rule.
      {"_D3zoo7animals4base6Animal6__ctorMFAyadZCQBnQBmQBhQBf",
       {"zoo", "animals", "base", "Animal", "__ctor", "MFAyadZCQBnQBmQBhQBf"},
       "zoo.animals.base.Animal.__ctor.MFAyadZCQBnQBmQBhQBf"},
  };
  for (const Classified& c : cases) {
    expectClassified(c);
  }
}

TEST(Classifier, AppliesRulesInOrder) {
  const Classified cases[] = {
      // Prefixes are split first, but only after position 0; each part is classified again.
      {"_foo: bar", {"_foo", "bar"}, "="},
      {": x: y", {": x: y"}, "="},
      {"a: b: _c_d", {"a", "b", "C symbols", "c", "d"}, "="},
      {"x: __Dfoo", {"x", "C symbols", "Dfoo"}, "x: _Dfoo"},
      {"lib.a: _D3app1x", {"lib.a", "app", "x"}, "lib.a: app.x"},
      // Earlier rules win over the fill and prefix rules.
      {"/x/y (*fill*)", {"/", "x", "y", "*fill*"}, "="},
      {"_x (*fill*)", {"C symbols", "x (*fill*)"}, "="},
      {"__imp__a: b", {"Imports", "a: b"}, "="},
      {"gc_x: y", {"gc_x", "y"}, "="},
      // Compressed names are expanded first; plain ones decode to themselves.
      {"_D3app\xDB"
       "7__ClassZ",
       {"app", "app", "__Class"},
       "app.app.__Class"},
      // Length 4 > distance 1: not expanded, so the raw byte stays in the mangled name.
      {"_D3app\xC3"
       "1xi",
       {"app",
        "\xC3"
        "1xi"},
       "app.\xC3"
       "1xi"},
      {"_D3abc\xC9", {"abc", "bc"}, "abc.bc"},
  };
  for (const Classified& c : cases) {
    expectClassified(c);
  }
}

TEST(Classifier, ClimbsObjectPathsNoHigherThanTheRoot) {
  const Classified cases[] = {
      {"/../x/../y", {"/", "y"}, "="},
      {"/a/../..", {"/"}, "="},
      {"/a/b/../../c.o (.text)", {"/", "c.o", ".text"}, "="},
      {"/a//b/../c", {"/", "a", "", "c"}, "="},
      {"/lib/libc.a(x.o)", {"/", "lib", "libc.a", "x.o"}, "="},
  };
  for (const Classified& c : cases) {
    expectClassified(c);
  }
}

TEST(Classifier, FilesNamesWithNoReadableSegmentUnderTheirOwnName) {
  const Classified cases[] = {
      {"_D0Z", {"_D0Z"}, ""},
      {"_D00", {"_D00"}, ""},
      {"__D0Z", {"__D0Z"}, ""},
      {"_Z0", {"_Z0"}, ""},  // the Itanium rule's parts, joined: none
      {"obj: _D0Z", {"obj", "_D0Z"}, "obj: "},
      {"x: _Z0", {"x", "_Z0"}, "x: "},
      {"a: b: _Z0", {"a", "b", "_Z0"}, "a: b: "},
  };
  for (const Classified& c : cases) {
    expectClassified(c);
  }
}

TEST(Classifier, HandlesHostileLengthsAndDepths) {
  // Deeply nested template pieces and many prefixes must not exhaust the stack.
  // Each level is "__T", the length of the level inside it, then that level: built inside out.
  std::vector<std::string> heads;
  size_t inner = 1;  // the innermost "x"
  for (int k = 0; k < 20000; ++k) {
    heads.push_back("__T" + std::to_string(inner));
    inner += heads.back().size();
  }
  std::string nested;
  for (auto it = heads.rbegin(); it != heads.rend(); ++it) {
    nested += *it;
  }
  nested += "x";
  Classifier classifier{vorlith::Settings{}};
  EXPECT_EQ(toText(classifier.classify("_D" + std::to_string(nested.size()) + nested)).segments,
            Segments{"x"});
  std::string prefixes;
  for (int k = 0; k < 100000; ++k) {
    prefixes += "p: ";
  }
  NameText result = toText(classifier.classify(prefixes + "main"));
  EXPECT_EQ(result.segments.size(), 100001u);
  EXPECT_EQ(result.segments.back(), "main");
  EXPECT_EQ(result.shown, prefixes + "main");
}

TEST(SplitDemangled, CutsQualifiedNamesOutOfDemangledText) {
  struct Case {
    std::string_view dem;
    Segments segments;
  } cases[] = {
      {"immutable(char)[][] dsym.parseDSymbol(immutable(char)[], out immutable(char)[])",
       {"dsym", "parseDSymbol"}},
      {"extern (C) int app.init()", {"app", "init"}},
      {"void app.Box!(int, app.Point).Box.put(app.Point)", {"app", "Box", "Box", "put"}},
      {"app.Point app.Shape.center()", {"app", "app", "Shape", "center"}},
      {"ref app.Shape app.Shape.__ctor()", {"app", "app", "Shape", "__ctor"}},
      {"int app.counter", {"app", "counter"}},
      {"void app.log(immutable(char)[], ...)", {"app", "log"}},
      {"pure nothrow @safe void app.foo()", {"app", "foo"}},
      {"int pkg.mod.main().local().void nested()", {"pkg", "mod", "main", "local", "nested"}},
      {"int[immutable(char)[]] pkg.mod.a", {"pkg", "mod", "a"}},
      {"void pkg.mod.foo(int[]...)", {"pkg", "mod", "foo"}},
      {"extern (C) void f", {"f"}},
      {"a..b", {"a", "", "b"}},
      {"x...y", {"x...y"}},        // a "..." outside parentheses never splits
      {"f(a.b) g.h", {"g", "h"}},  // only what follows the last space
      {"f(( a.b", {"f"}},          // unbalanced: everything after stays protected
      {"f)) x.y", {"f)) x.y"}},    // below zero protects too: nothing splits
      {"x.a\xFE"
       "b\xFF"
       "c",
       {"x", "a.b c"}},  // stand-in bytes already there come out converted
      {"T!(1.5).x", {"T", "x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dem);
    EXPECT_EQ(splitDemangled(c.dem), c.segments);
  }
  EXPECT_EQ(splitDemangled("void app.__T3BarTiX.Bar.put()"), std::nullopt);
  EXPECT_EQ(splitDemangled("int pkg.mod.__T3BarTiX.Bar.x"), std::nullopt);
}

TEST(RlSplit, SplitsLengthPrefixedPieces) {
  struct Case {
    std::string_view in;
    Views out;
  } cases[] = {
      {"4dsym12parseDSymbolFAyaJAyaZAAya", {"dsym", "parseDSymbol", "FAyaJAyaZAAya"}},
      {"3app5Shape7__ClassZ", {"app", "Shape", "__Class"}},
      {"3app10__T3BoxTiZ3Box3putMFZv", {"app", "Box", "TiZ", "Box", "put", "MFZv"}},
      {"10__T3BoxTiZ", {"Box", "TiZ"}},
      {"3app5count7", {"app", "count", ""}},
      {"12", {""}},
      {"99abc", {"abc"}},
      {"99999999999x", {"99x"}},
      {"4294967295x", {"x"}},
      {"5app/x3Box", {"app", "x", "Box"}},
      {"1/", {"", ""}},
      {"Z", {}},
      {"0Z", {}},
      {"", {}},
      {"2\xFF"
       "ab",
       {"\xFF"
        "ab"}},  // a malformed character ends the number and the reading
      {"2\xC3\xA9"
       "1x",
       {"\xC3\xA9", "x"}},
      {"8__T3BoxZ1x", {"Box", "x"}},  // an instance whose rest is exactly "Z"
      {"7__T3BoxZ1x", {"Box", "Z1x"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.in));
    EXPECT_EQ(rlSplit(c.in), c.out);
  }
}

TEST(RlSplit, ForceSkipsToTheFirstDigit) {
  EXPECT_EQ(rlSplitForce("N3foo3barEv"), (Views{"foo", "bar", "Ev"}));
  EXPECT_EQ(rlSplitForce("S3app5Shape"), (Views{"app", "Shape"}));
  EXPECT_EQ(rlSplitForce("3foov"), (Views{"foo", "v"}));
  EXPECT_EQ(rlSplitForce("AAya"), (Views{"AAya"}));
  EXPECT_EQ(rlSplitForce(""), (Views{""}));
  EXPECT_EQ(rlSplitForce("0"), (Views{}));
  EXPECT_EQ(rlSubSplit("a/b"), (Views{"a", "b"}));
  EXPECT_EQ(rlSubSplit(""), (Views{}));
  EXPECT_EQ(rlSubSplit("__T3BoxTiZ"), (Views{"Box", "TiZ"}));
}

TEST(RlSplit, RecognisesTemplateInstances) {
  for (std::string_view s : {"__T3BoxTiZ", "__T3B"}) {
    EXPECT_TRUE(isMangledTemplateInstance(s)) << s;
  }
  for (std::string_view s : {"__T3", "__TBox", "_T3Box", "", "x__T3Box"}) {
    EXPECT_FALSE(isMangledTemplateInstance(s)) << s;
  }
}

TEST(ContributionObject, CutsTheObjectBeforeTheBracketThatOpensTheSection) {
  struct Case {
    std::string_view name, object;
  } cases[] = {
      {"app.o (.text._Dmain)", "app.o"},
      {"lib.a(m.o) (.data)", "lib.a(m.o)"},
      {"my dir/app.o (.text)", "my dir/app.o"},
      {"a (.text)", "a"},
      {"lib.a(m.o) (.text._D3app3runFZv)", "lib.a(m.o)"},
      {"C:\\obj\\app.obj (.rdata$r)", "C:\\obj\\app.obj"},
      // None: a C++ parameter list, a pattern of a linker script, an empty section, no
      // space or no object before the bracket, no closing bracket.
      {"f(int, long)", ""},
      {"ns::f(char const*) const", ""},
      {"g(int)", ""},
      {"*(.text)", ""},
      {"app.o (*.text)", ""},
      {"app.o ()", ""},
      {"(.text)", ""},
      {" (.text)", ""},
      {"app.o(.text)", ""},
      {"app.o (.text", ""},
      {"app.o (.text x)", ""},
      {"app.o (.text)x)", ""},
      {")", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vorlith::contributionObject(c.name), c.object) << c.name;
  }
}

TEST(ContributionObject, FindsTheBracketBehindSectionNamesOfEveryLength) {
  // The search goes back sixteen bytes at a time: a space or a bracket inside the section's
  // name, wherever it stands, makes the name no contribution.
  for (size_t length = 1; length <= 40; ++length) {
    std::string section = "." + std::string(length - 1, 't');
    std::string name = "lib.a(m.o) (" + section + ")";
    ASSERT_EQ(vorlith::contributionObject(name), "lib.a(m.o)") << name;
    for (size_t at = 0; at < length; ++at) {
      for (char inside : {' ', '(', ')'}) {
        std::string broken = name;
        broken[12 + at] = inside;
        ASSERT_EQ(vorlith::contributionObject(broken), "") << broken;
      }
    }
  }
}
