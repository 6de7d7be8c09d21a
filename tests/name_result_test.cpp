// The naming result: segments that say where their bytes lie, and a classifier that names symbol
// after symbol into buffers it keeps.
#include "name_result.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "dsym.h"
#include "mapfile.h"
#include "support/allocations_counted.h"

namespace vorlith {
namespace {

using std::string_view;

bool liesWithin(string_view piece, string_view text) {
  std::less_equal<const char*> notAfter;
  return notAfter(text.data(), piece.data()) &&
         notAfter(piece.data() + piece.size(), text.data() + text.size());
}

// Each segment's bytes lie where its origin says: in the name, in the shown name, or in neither.
void expectOrigins(const NameResult& result, string_view name) {
  for (const NameSegment& segment : result.segments) {
    SCOPED_TRACE(std::string(segment.text));
    switch (segment.origin) {
      case SegmentOrigin::Name:
        EXPECT_TRUE(liesWithin(segment.text, name));
        break;
      case SegmentOrigin::Shown:
        EXPECT_TRUE(liesWithin(segment.text, result.shown));
        break;
      case SegmentOrigin::Made:
        if (!segment.text.empty()) {
          EXPECT_FALSE(liesWithin(segment.text, name));
        }
        break;
    }
  }
}

std::string originsOf(const NameResult& result) {
  std::string origins;
  for (const NameSegment& segment : result.segments) {
    origins += segment.origin == SegmentOrigin::Name    ? 'N'
               : segment.origin == SegmentOrigin::Shown ? 'S'
                                                        : 'M';
  }
  return origins;
}

TEST(NameBuilder, KeepsWhereEachSegmentLiesThroughChanges) {
  const std::string name = "app.obj: libc_start";
  const string_view view(name);
  const std::string libc = "libc";  // the same bytes as in the name, elsewhere
  struct Case {
    const char* label;
    std::function<void(NameBuilder&)> build;
    std::vector<std::string> segments;
    std::string origins;  // N: a piece of the name, S: of the shown name, M: made
    std::string shown;
  } cases[] = {
      {"pieces of the name and made text",
       [&](NameBuilder& b) {
         b.add(view.substr(0, 7));
         b.add("C symbols");
         b.add(libc);
       },
       {"app.obj", "C symbols", "libc"},
       "NMM",
       name},
      {"a piece of the name grown at its end is made text",
       [&](NameBuilder& b) {
         b.add(view.substr(9, 4));
         b.appendToLast(" (thunk)");
         b.add(view.substr(14));
       },
       {"libc (thunk)", "start"},
       "MN",
       name},
      {"made text grown twice, with a segment put in front",
       [&](NameBuilder& b) {
         b.add("Shape");
         b.appendToLast(" (");
         b.appendToLast("vtable)");
         b.insert(0, "object");
       },
       {"object", "Shape (vtable)"},
       "MM",
       name},
      {"pieces of the shown name follow it when it grows in front",
       [&](NameBuilder& b) {
         b.show("void app.run()");
         b.addPieceOfShown(5, 3);
         b.addPieceOfShown(9, 3);
         b.prependToShown("app.obj: ");
         b.appendToShown(" [clone .isra.0]");
       },
       {"app", "run"},
       "SS",
       "app.obj: void app.run() [clone .isra.0]"},
      {"a shown piece of the name stays a view of it",
       [&](NameBuilder& b) {
         b.show(view.substr(9));
         b.add(view.substr(9));
       },
       {"libc_start"},
       "N",
       "libc_start"},
      {"a segment taken back",
       [&](NameBuilder& b) {
         b.add(view.substr(0, 3));
         b.add("..");
         b.removeLast();
       },
       {"app"},
       "N",
       name},
  };
  NameBuilder builder;  // one for all: nothing carries over from one name to the next
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    builder.start(name);
    c.build(builder);
    NameResult result = builder.result();
    EXPECT_EQ(toText(result).segments, c.segments);
    EXPECT_EQ(originsOf(result), c.origins);
    EXPECT_EQ(result.shown, c.shown);
    expectOrigins(result, name);
    if (c.shown == name) {
      EXPECT_EQ(result.shown.data(), name.data());  // the name itself, not a copy
    }
  }
}

TEST(Classifier, SaysWhereEachSegmentComesFrom) {
  struct Case {
    bool modern;
    std::string name;
    std::vector<std::string> segments;
    std::string origins;
    std::string shown;  // "=" for the name itself
  } cases[] = {
      {false, "__libc_csu_init", {"C symbols", "libc", "csu_init"}, "MNN", "="},
      {false, "_ZN3foo3barEv", {"C++ symbols", "foo", "bar"}, "MNN", "foo::bar"},
      {false, "_D3app3runFAAyaZv", {"app", "run"}, "SS", "void app.run(immutable(char)[][])"},
      {false,
       "/usr/lib/libc.a(printf.o) (.text)",
       {"/", "usr", "lib", "libc.a", "printf.o", ".text"},
       "MNNNNN",
       "="},
      {false, "/a/b(c)d.o (.text)", {"/", "a", "b", "cd.o", ".text"}, "MNNMN", "="},
      {false, "/p/a) )(m.o)", {"/", "p", "a ", "m.o"}, "MNMN", "="},
      {false, "/p/q/../r.o ((.text))", {"/", "p", "r.o", "", ".text"}, "MNNMN", "="},
      {false, "app.obj: _main", {"app.obj", "C symbols", "main"}, "NMN", "="},
      {false,
       "app.obj: _D3app3runFZv",
       {"app.obj", "app", "run"},
       "NSS",
       "app.obj: void app.run()"},
      {false,
       "x.a\xFE"
       "b",
       {"x.a\xFE"
        "b"},
       "N",
       "="},
      {true, "llvm::Pass::run(int)", {"C++ symbols", "llvm", "Pass", "run"}, "MNNN", "="},
      {true, "vtable for llvm::Pass", {"C++ symbols", "llvm", "Pass (vtable)"}, "MNM", "="},
      {true, "main", {"C symbols", "main"}, "MN", "="},
      // The identifiers of a D name are pieces of it, read through back references too; an
      // instance's text is made.
      {true, "_D3app3runFZv", {"app", "run"}, "NN", "void app.run()"},
      {true,
       "_D3pkg3mod__T5twiceTiZQjFNaNbNiNfiZi",
       {"pkg", "mod", "twice", "twice!(int)"},
       "NNNM",
       "pure nothrow @nogc @safe int pkg.mod.twice!(int).twice(int)"},
      {true,
       "_DThn16_3app1C4areaMxFZd",
       {"app", "C", "area (thunk)"},
       "NNM",
       "thunk for double app.C.area() const"},
      {true, "_D11TypeInfo_Ai6__initZ", {"TypeInfo", "int[]"}, "MS", "typeid(int[])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings settings;
    settings.modern = c.modern;
    Classifier classifier(settings);
    NameResult result = classifier.classify(c.name);
    EXPECT_EQ(toText(result).segments, c.segments);
    EXPECT_EQ(originsOf(result), c.origins);
    EXPECT_EQ(result.shown, c.shown == "=" ? c.name : c.shown);
    expectOrigins(result, c.name);
  }
}

// The names of a real map, as the classifier gets them.
std::vector<std::string> namesOf(const std::string& map, bool modern) {
  std::ostringstream echo;
  Settings settings;
  settings.modern = modern;
  MapFile file(std::string(VORLITH_TEST_DATA) + "/" + map, echo, settings);
  std::vector<std::string> names;
  for (const Symbol& symbol : file.symbols) {
    names.emplace_back(symbol.name);
  }
  return names;
}

TEST(Classifier, AllocatesNothingOnceItsBuffersHaveGrown) {
  // Every name of a real map twice: the first round grows the buffers, the second must find
  // them large enough. The D maps under the modern rules go through the current-ABI demangler.
  struct Case {
    const char* map;
    bool modern;
  } cases[] = {
      {"gnu-ld-gdc.map", false},
      {"gnu-ld-cpp.map", false},
      {"gnu-ld-cxx-names.map", true},
      {"gnu-ld-c.map", true},
      {"gnu-ld-gdc.map", true},
      {"lld-ldc2.map", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.map);
    std::vector<std::string> names = namesOf(c.map, c.modern);
    ASSERT_GT(names.size(), 20u);
    Settings settings;
    settings.modern = c.modern;
    Classifier classifier(settings);
    size_t segments = 0;
    for (const std::string& name : names) {
      segments += classifier.classify(name).segments.size();
    }
    size_t before = allocationsOnThisThread();
    for (const std::string& name : names) {
      segments -= classifier.classify(name).segments.size();
    }
    EXPECT_EQ(allocationsOnThisThread() - before, 0u) << names.size() << " names";
    EXPECT_EQ(segments, 0u);
  }
}

}  // namespace
}  // namespace vorlith
