// Tests of the D demangler: its reader and buffer, the grammar, template values, and the bounds
// that keep hostile names from exhausting the stack or the time.
#include "demangle.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "demangle_internal.h"

namespace vorlith {
namespace {

using demangler::Demangle;
using demangler::Failure;
using demangler::Span;

struct Rendering {
  std::string_view input;
  std::string_view expected;
};

void expectRenderings(const std::vector<Rendering>& cases) {
  for (const Rendering& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(demangle(c.input), c.expected);
  }
}

void expectUnchanged(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(demangle(name), name);
  }
}

std::string repeat(std::string_view piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i)
    out += piece;
  return out;
}

// "_D3pkg" + a template instance "b" with the given arguments + "1xi", length prefix computed.
std::string templateName(std::string_view args) {
  std::string id = "__T1b" + std::string(args) + "Z";
  return "_D3pkg" + std::to_string(id.size()) + id + "1xi";
}
std::string templateRendering(std::string_view args) {
  return "int pkg.b!(" + std::string(args) + ").x";
}
// What templateName gives when the instance cannot be read: its raw identifier as a component.
std::string rawTemplate(std::string_view args) {
  return "int pkg.__T1b" + std::string(args) + "Z.x";
}

// Template arguments and their rendering; kRaw: the instance falls back to its raw identifier.
constexpr std::string_view kRaw = "<raw>";
struct ArgumentCase {
  std::string args;
  std::string text;
};
void expectArguments(const std::vector<ArgumentCase>& cases) {
  for (const ArgumentCase& c : cases) {
    SCOPED_TRACE(c.args);
    EXPECT_EQ(demangle(templateName(c.args)),
              c.text == kRaw ? rawTemplate(c.args) : templateRendering(c.text));
  }
}

template <typename F>
double secondsFor(F f) {
  auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ---- Reader --------------------------------------------------------------------------------

TEST(DemangleReader, EndOfInputIsFFAndCannotBeStepped) {
  Demangle d("ab");
  EXPECT_EQ(d.tok(), 'a');
  d.next();
  d.next();
  EXPECT_EQ(d.tok(), '\xFF');
  EXPECT_FALSE(d.failed());
  d.next();
  EXPECT_EQ(d.failureKind(), Failure::Parse);
  EXPECT_EQ(d.readPos, 2u);
  Demangle m("ab");
  m.match('b');
  EXPECT_EQ(m.failureKind(), Failure::Parse);
  EXPECT_EQ(m.readPos, 0u);
  Demangle e("_D42x");
  e.eat('D');  // not there: stays
  e.eat('_');
  e.match("D");
  EXPECT_EQ(e.decodeNumber(), 42u);
  EXPECT_EQ(e.sliceNumber(), "") << "an empty run of digits";
  EXPECT_FALSE(e.failed());
  e.test('y');
  EXPECT_EQ(e.failureKind(), Failure::Parse);
  EXPECT_EQ(e.readPos, 4u);
}

// A failed reader reads as ended and moves no more, so the steps on the way back out of a
// failed parse read nothing and write nothing.
TEST(DemangleReader, AFailedReaderStandsStill) {
  Demangle d("_D3abc");
  d.next();
  d.test('x');
  ASSERT_EQ(d.failureKind(), Failure::Parse);
  EXPECT_EQ(d.tok(), '\xFF') << "the byte at readPos is 'D'";
  d.next();
  d.eat('D');
  EXPECT_EQ(d.sliceNumber(), "");
  EXPECT_EQ(d.readPos, 1u);
  EXPECT_EQ(d.workDone(), 1u) << "no work counted after the failure";
  d.put(std::string_view("text"));
  EXPECT_EQ(d.writtenText(), "");
  EXPECT_EQ(d.capacity(), 0u) << "a failed parse allocates nothing";
  d.overflow();
  EXPECT_EQ(d.failureKind(), Failure::Parse) << "the first failure stands";
}

TEST(DemangleReader, DecodeNumberLimits) {
  Demangle d("");
  EXPECT_EQ(d.decodeNumber("4294967295"), 4294967295u);
  EXPECT_EQ(d.decodeNumber("0004294967295"), 4294967295u);
  EXPECT_EQ(d.decodeNumber(""), 0u);
  EXPECT_EQ(d.decodeNumber("429496729"), 429496729u);
  EXPECT_EQ(d.ascii2hex('F'), 15);
  EXPECT_FALSE(d.failed());
  for (std::string_view tooBig : {"4294967296", "4294967300", "9999999999", "42949672950"}) {
    SCOPED_TRACE(tooBig);
    Demangle e("");
    EXPECT_EQ(e.decodeNumber(tooBig), 0u);
    EXPECT_EQ(e.failureKind(), Failure::Parse);
  }
  Demangle e("");
  EXPECT_EQ(e.ascii2hex('g'), 0);
  EXPECT_EQ(e.failureKind(), Failure::Parse);
}

// ---- Buffer --------------------------------------------------------------------------------

TEST(DemangleBuffer, FirstWriteMakesFourThousandBytes) {
  Demangle d("");
  d.put(std::string_view(""));
  EXPECT_EQ(d.capacity(), 0u) << "an empty text must not allocate";
  d.put(std::string_view("abc"));
  EXPECT_EQ(d.capacity(), 4000u);
  EXPECT_EQ(d.writtenText(), "abc");
}

TEST(DemangleBuffer, OverflowFailsAndWritesNothing) {
  std::vector<char> lent = {'.', '.', '.', '.', '.'};
  Demangle d("", demangler::AddType::Yes, &lent);
  d.put(std::string_view("abc"));
  EXPECT_EQ(d.capacity(), 5u) << "a lent buffer is used at its size";
  d.put(std::string_view("def"));
  EXPECT_EQ(d.failureKind(), Failure::Overflow);
  EXPECT_EQ(d.writtenText(), "abc");
  EXPECT_EQ(std::string(lent.begin(), lent.end()), "abc..");
  Demangle e("", demangler::AddType::Yes, &lent);
  e.put(std::string_view("abcde"));  // exactly fills it
  EXPECT_FALSE(e.failed());
  EXPECT_EQ(e.writtenText(), "abcde");
}

TEST(DemangleBuffer, PutMovesASpanOfWrittenTextToTheEnd) {
  Demangle d("");
  Span abc = d.put(std::string_view("abc"));
  d.put(std::string_view(" def"));
  Span moved = d.put(abc);
  EXPECT_EQ(d.writtenText(), " defabc");
  EXPECT_EQ(d.text(moved), "abc");
  EXPECT_EQ(moved.offset, 4u);
  EXPECT_EQ(d.text(abc), " de") << "an old span describes whatever lies there now";
}

// Short and long pieces, short and long text behind them: the rotation takes different roads.
TEST(DemangleBuffer, ShiftMovesAPieceBehindTheRestOfTheText) {
  struct Case {
    size_t before, piece, after;
  };
  for (const Case& c : {Case{0, 3, 5}, Case{2, 300, 4}, Case{7, 4, 300}, Case{1, 300, 300},
                        Case{0, 256, 257}, Case{0, 257, 256}, Case{5, 1, 0}}) {
    SCOPED_TRACE(testing::Message() << c.before << "/" << c.piece << "/" << c.after);
    std::string head(c.before, 'h'), piece, tail;
    for (size_t i = 0; i < c.piece; ++i)
      piece += static_cast<char>('a' + i % 26);
    for (size_t i = 0; i < c.after; ++i)
      tail += static_cast<char>('A' + i % 26);
    Demangle d("");
    d.put(std::string_view(head));
    Span span = d.put(std::string_view(piece));
    d.put(std::string_view(tail));
    Span moved = d.shift(span);
    EXPECT_EQ(d.writtenText(), head + tail + piece);
    EXPECT_EQ(d.text(moved), piece);
  }
}

TEST(DemangleBuffer, SilentDropsTextButKeepsItsBytesBehind) {
  Demangle d("");
  d.put(std::string_view("head "));
  Span dropped = d.silent([&] { return d.put(std::string_view("pkg.S")); });
  EXPECT_EQ(d.writtenText(), "head ");
  EXPECT_EQ(d.text(dropped), "pkg.S");
  EXPECT_EQ(dropped.offset, d.written);
  // Putting it again takes it in place rather than copying.
  Span taken = d.put(dropped);
  EXPECT_EQ(taken.offset, dropped.offset);
  EXPECT_EQ(d.writtenText(), "head pkg.S");
}

TEST(DemangleBuffer, PutCopiesASpanThatLiesElsewhereBeyondTheText) {
  Demangle d("");
  d.put(std::string_view("ab"));
  Span dropped = d.silent([&] {
    d.put(std::string_view("xyz"));
    return d.put(std::string_view("QR"));  // two bytes beyond the written text, not just behind
  });
  d.put(dropped);
  EXPECT_EQ(d.writtenText(), "abQR");
}

TEST(DemangleBuffer, PutAsHex) {
  struct Case {
    uint32_t value;
    size_t width;
    std::string_view text;
  };
  for (const Case& c : {Case{0, 2, "00"}, Case{0xE9, 4, "00e9"}, Case{0x1F, 1, "1f"},
                        Case{0, 0, ""}, Case{0xDEADBEEF, 2, "deadbeef"}, Case{65, 8, "00000041"}}) {
    SCOPED_TRACE(c.text);
    Demangle d("");
    d.putAsHex(c.value, c.width);
    EXPECT_EQ(d.writtenText(), c.text);
  }
}

// ---- Grammar -------------------------------------------------------------------------------

TEST(Demangle, WorkedRenderings) {
  expectRenderings({
      {"_D3pkg3mod3fooFiZv", "void pkg.mod.foo(int)"},
      {"D3pkg3mod3fooFiZv", "void pkg.mod.foo(int)"},
      {"_D3pkg3mod1xi", "int pkg.mod.x"},
      {"_D3pkg3mod1xOxi", "shared(const(int)) pkg.mod.x"},
      {"_D3pkg3mod1aHAyai", "int[immutable(char)[]] pkg.mod.a"},
      {"_D3pkg3mod1bG16i", "int[16] pkg.mod.b"},
      {"_D3pkg3mod1cPFZv", "void function()* pkg.mod.c"},
      {"_D3pkg3mod3fooUiYv", "extern (C) void pkg.mod.foo(int, ...)"},
      {"_D3pkg3mod3fooWkZPv", "extern (Windows) void* pkg.mod.foo(uint)"},
      {"_D3pkg3mod3fooFAiXv", "void pkg.mod.foo(int[]...)"},
      {"_D3pkg3mod3fooFNgiZNgi", "inout(int) pkg.mod.foo(inout(int))"},
      {"_D3pkg3mod3Bar3bazMFZv", "void pkg.mod.Bar.baz()"},
      {"_D3pkg3mod3Bar3bazMxFZv", "const(void function()) pkg.mod.Bar.baz"},
      {"_D3pkg3mod3Bar3bazMNgFZv", "inout(void function()) pkg.mod.Bar.baz"},
      {"_D3pkg3mod4mainFZv5localMFZi", "int pkg.mod.main().local()"},
      {"_D3pkg3mod21__T3BarS3pkg3mod3fooZ1xi", "int pkg.mod.Bar!(pkg.mod.foo).x"},
      {"_D3pkg3mod10__T3BarTiX3Bar1xi", "int pkg.mod.__T3BarTiX.Bar.x"},
      {"_D3pkg3mod14__T3BarTiVii5Z3Bar1xi", "int pkg.mod.Bar!(int, 5).Bar.x"},
      {"_D3pkg3mod24__T3BarVki7Vmi9VlN3Vbi1Z1xi", "int pkg.mod.Bar!(7u, 9uL, -3L, true).x"},
      {"_D3pkg3mod49__T3BarVAiA2i1i2VHiiA1i1i2VS3pkg3mod1SS2i1i2VPinZ1xi",
       "int pkg.mod.Bar!([1, 2], [1:2], pkg.mod.S(1, 2), null).x"},
      {"_D3app3runFAAyaZv", "void app.run(immutable(char)[][])"},
      {"_D3pkg3mod3setFMKiJkLlZv", "void pkg.mod.set(scope ref int, out uint, lazy long)"},
  });
}

// The demangled texts that the classifier cuts into paths.
TEST(Demangle, RenderingsTheClassifierFiles) {
  expectRenderings({
      {"_D4dsym12parseDSymbolFAyaJAyaZAAya",
       "immutable(char)[][] dsym.parseDSymbol(immutable(char)[], out immutable(char)[])"},
      {"_D3app4initUZi", "extern (C) int app.init()"},
      {"_D3app22__T3BoxTiTS3app5PointZ3Box3putMFS3app5PointZv",
       "void app.Box!(int, app.Point).Box.put(app.Point)"},
      {"_D3app5Shape6centerMFZS3app5Point", "app.Point app.Shape.center()"},
      {"_D3app5Shape6__ctorMFNcZS3app5Shape", "ref app.Shape app.Shape.__ctor()"},
      {"_D3app7counteri", "int app.counter"},
      {"_D3app3logFAyaYv", "void app.log(immutable(char)[], ...)"},
      {"_D3app3fooFNaNbNfZv", "pure nothrow @safe void app.foo()"},
      {"_D3app10__T3BarTiX3Bar3putMFZv", "void app.__T3BarTiX.Bar.put()"},
      {"D3app1xi", "int app.x"},
  });
}

TEST(Demangle, TypeConstructorsAndPrimitives) {
  expectRenderings({
      {"_D3pkg1pxPya", "const(immutable(char)*) pkg.p"},
      {"_D3pkg1xNei", "int pkg.x"},
      {"_D3pkg1xNgPi", "inout(int*) pkg.x"},
      {"_D3pkg1xyAa", "immutable(char[]) pkg.x"},
      {"_D3pkg1xG0G3h", "ubyte[3][0] pkg.x"},
      {"_D3pkg1xHiHkb", "bool[uint][int] pkg.x"},
      {"_D3pkg1xC3pkg3Obj", "pkg.Obj pkg.x"},
      {"_D3pkg1xE3pkg1E", "pkg.E pkg.x"},
      {"_D3pkg1xI3pkg1I", "pkg.I pkg.x"},
      {"_D3pkg1xT3pkg1T", "pkg.T pkg.x"},
      {"_D3pkg1xS3pkg1S", "pkg.S pkg.x"},
      {"_D3pkg3allFabcdefghijklmopqrstuvwZv",
       "void pkg.all(char, bool, creal, double, real, float, byte, ubyte, int, ireal, uint, long, "
       "ulong, ifloat, idouble, cfloat, cdouble, short, ushort, wchar, void, dchar)"},
      {"_D3pkg3fooFnZv", "void pkg.foo()"},
      {"_D3pkg3fooRZv", "extern (C++) void pkg.foo()"},
      {"_D3pkg3fooVZv", "extern (Pascal) void pkg.foo()"},
      {"_D3pkg3fooFNaNbNcNdNeNfZv", "pure nothrow ref @property @trusted @safe void pkg.foo()"},
      {"_D3pkg3fooFNbNaZv", "nothrow pure void pkg.foo()"},
  });
}

TEST(Demangle, FunctionTypesNamesAndWords) {
  expectRenderings({
      // A variable of delegate type shows its name in place of "delegate".
      {"_D3pkg6onExitDFZv", "void pkg.onExit()"},
      {"_D3pkg1dPDFiZv", "void delegate(int)* pkg.d"},
      {"_D3pkg3setFDFZvZv", "void pkg.set(void delegate())"},
      {"_D3pkg3setFPUiZvZi", "int pkg.set(extern (C) void function(int)*)"},
      {"_D3pkg3fooFYv", "void pkg.foo(...)"},
      {"_D3pkg3fooFZFZi", "int function() pkg.foo()"},
      // A tuple writes nothing and consumes only its letter.
      {"_D3pkg1xB", "pkg.x"},
      {"_D3pkg3fooFBZv", "void pkg.foo()"},
      // The key of an associative array that is a bare function type: its span was taken before
      // the function type was rearranged, so it then holds the return type's bytes.
      {"_D3pkg1aHFiZvi", " function(int)int[void] pkg.a"},
  });
}

TEST(Demangle, LocalAndNestedSymbols) {
  expectRenderings({
      {"_D3pkg3mod4mainFZi5localFZv6nestedFZv", "void pkg.mod.main().local().nested()"},
      {"_D3pkg3mod4mainFZv5localMFZi6nestedFZv", "int pkg.mod.main().local().void nested()"},
      {"_D3pkg4mainFiZ5localFZv", "void pkg.main(int).local()"},     // parent without return type
      {"_D3pkg4mainFNaiZi5localFZv", "void pkg.main(int).local()"},  // attributes are dropped
      {"_D3pkg1aFZ1bFZ1cFZv", "void pkg.a().b().c()"},
  });
}

TEST(Demangle, ReturnsUndecodableNamesUnchanged) {
  expectUnchanged({
      "main",
      "printf",
      "_Dmain",
      "_ZN3foo3barEv",
      "?bar@Foo@@QAEXXZ",
      "__libc_csu_init",
      "",
      "D",
      "_D",
      "_D5",
      "__D3pkg1xi",
      "_D3pkg3mod12__ModuleInfoZ",
      "_D3app5Shape7__ClassZ",
      "_D3app5Shape6__vtblZ",
      "_D13TypeInfo_AAya6__initZ",
      "_D3app5count7",
      "_D0Z",
      "_D00",
      "_D3pkg1xNxi",                      // N followed by neither g nor e
      "_D3pkg3fooFNiZv",                  // an attribute letter this mangling does not have
      "_D3pkg1xi1",                       // bytes left over that form no further name
      "_D3pkg1xiZ",                       //
      "_D3pkg3fooFi",                     // ends inside a parameter list
      "_D3pkg3fooFiZ",                    // ends before the return type
      "_D3pkg21xi",                       // identifier longer than the input
      "_D3pkg0xi",                        // identifier of length 0
      "_D3pk.1xi",                        // a byte the identifier rule refuses
      "_D14294967296abc1xi",              // length beyond 32 bits
      "_D3pkg3fooFB2iZv",                 // what follows a tuple letter is read as a type
      "_D3pkg3fooFZS3pkg3Bar5localMFZv",  // local to a function returning a struct
      "_D3pkg1x\xFF",
  });
}

TEST(Demangle, FailureResultIsAnExactCopy) {
  const std::string withNul("_D3pkg1x\0i", 10);
  EXPECT_EQ(demangle(withNul), withNul);
  std::vector<char> buffer;
  std::string_view result = demangle("_D3pkg1xZZ", buffer);
  EXPECT_EQ(result, "_D3pkg1xZZ");
  EXPECT_EQ(result.data(), buffer.data()) << "the copy lies at the start of the buffer";
}

TEST(Demangle, IdentifierBytesFromEightyHexPassUnchanged) {
  expectRenderings({
      {"_D3pkg5\xC3\xA9t\xC3\xA9"
       "1xi",
       "int pkg.\xC3\xA9t\xC3\xA9.x"},
      {"_D3pkg2\xFF\xFE"
       "1xi",
       "int pkg.\xFF\xFE.x"},  // not checked as UTF-8
      {"_D3pkg3_\x80"
       "9"
       "1xi",
       "int pkg._\x80"
       "9.x"},
  });
  expectUnchanged({
      "_D3pkg29a"
      "1xi",
      "_D3pkg2\x7F"
      "a1xi",
  });
}

TEST(Demangle, FastPathRefusesOnlyNamesThatCannotParse) {
  for (std::string_view name : {"_D3", "D0", "_D9x", "D1xi"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(demangler::startsLikeDName(name));
  }
  for (std::string_view name : {"", "_", "D", "_D", "__D3x", "_Dx3", "_d3", "d3", "_E3", "3"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(demangler::startsLikeDName(name));
    EXPECT_EQ(demangle(name), name);
  }
}

// ---- Template instances --------------------------------------------------------------------

TEST(DemangleTemplate, ArgumentKindsAndFallBack) {
  const std::string raw(kRaw);
  expectArguments({
      {"TiTa", "int, char"},
      {"", ""},
      {"S3pkg3foo", "pkg.foo"},
      {"TS3pkg8__T1cTiZ", "pkg.c!(int)"},
      {"TFiZv", "void function(int)"},
      {"TPFNaZv", "pure void function()*"},
      {"TDFZv", "void delegate()"},
      {"TiX", raw},             // a letter that no argument starts with
      {"Tiq", raw},             // arguments that stop before the "Z"
      {"VizZ", raw},            // no such value letter
      {"TS3pkg1SVii1", raw},    // struct type then value: "V" read as the Pascal convention
      {"VE3pkg1E0", raw},       // enum value: its digits read as a further name component
      {"S113pkg3fooFZv", raw},  // symbol argument: the two lengths run together
  });
  EXPECT_EQ(demangle("_D3pkg4__Ta1xi"), "int pkg.__Ta.x");  // below 5: a plain identifier
}

TEST(DemangleTemplate, LengthPrefixMismatch) {
  // One too small leaves the instance's "Z", which starts no type: the whole name fails.
  EXPECT_EQ(demangle("_D3pkg3mod13__T3BarTiVii5Z1xi"), "_D3pkg3mod13__T3BarTiVii5Z1xi");
  // One too large swallows the next byte; that reads on only when the byte is the first digit
  // of a longer length prefix.
  EXPECT_EQ(demangle("_D3pkg3mod15__T3BarTiVii5Z3Bar1xi"), "_D3pkg3mod15__T3BarTiVii5Z3Bar1xi");
  // ... or when what is left happens to read as a type: "xi" after the swallowed "1".
  EXPECT_EQ(demangle("_D3pkg3mod15__T3BarTiVii5Z1xi"), "const(int) pkg.mod.__T3BarTiVii5Z1");
  EXPECT_EQ(demangle("_D3pkg3mod15__T3BarTiVii5Z12ab1c2de4fghi1xi"),
            "int pkg.mod.__T3BarTiVii5Z1.ab.c.de.fghi.x");
  EXPECT_EQ(demangle("_D3pkg3mod14__T3BarTiVii5Z12ab1c2de4fghi1xi"),
            "int pkg.mod.Bar!(int, 5).ab1c2de4fghi.x");
}

// ---- Template values -----------------------------------------------------------------------

// Tables of many short cases, kept several to a line.
// clang-format off
TEST(DemangleValue, Characters) {
  const std::string raw(kRaw);
  expectArguments({
      {"Vai97", "'a'"},         {"Vai32", "' '"},       {"Vai126", "'~'"},
      {"Vai10", "'\\n'"},       {"Vai39", "'\\''"},     {"Vai92", "'\\\\'"},
      {"Vai7", "'\\a'"},        {"Vai8", "'\\b'"},      {"Vai12", "'\\f'"},
      {"Vai13", "'\\r'"},       {"Vai9", "'\\t'"},      {"Vai11", "'\\v'"},
      {"Vai200", "\\xc8"},      {"Vai127", "\\x7f"},    {"Vai0", "\\x00"},
      {"Vai31", "\\x1f"},       {"Vai256", "\\x100"},   {"Vui233", "'\\u00e9'"},
      {"Vui65", "'\\u0041'"},   {"Vui10", "'\\n'"},     {"Vui70000", "'\\u11170'"},
      {"Vwi65", "'\\U00000041'"}, {"Vwi128512", "'\\U0001f600'"},
      {"Vwi4294967295", "'\\Uffffffff'"},
      {"Vxai97", "97"},  // the type letter is the first one, here "x" of const(char)
      {"Vai4294967296", raw},  // decoded, so bounded to 32 bits
  });
}

TEST(DemangleValue, IntegersAndBooleans) {
  const std::string raw(kRaw);
  expectArguments({
      {"Vii5", "5"},      {"ViN5", "-5"},     {"Vi5", "5"},      {"Vhi200", "200u"},
      {"Vti7", "7u"},     {"Vli3", "3L"},     {"VlN3", "-3L"},   {"Vmi9", "9uL"},
      {"Vgi5", "5"},      {"Vsi4", "4"},      {"VlN", "-L"},     {"Vbi0", "false"},
      {"Vbi1", "true"},   {"Vbi2", "true"},   {"Vii1Vii2", "1, 2"}, {"TiVii1", "int, 1"},
      {"Vki4294967296", "4294967296u"},  // copied, not decoded
      {"Vii123456789012345678901234567890", "123456789012345678901234567890"},
      {"Vii", raw},       {"VliZ", raw},      {"Vbi4294967296", raw},
  });
}

TEST(DemangleValue, Strings) {
  const std::string raw(kRaw);
  expectArguments({
      {"VAyaa3_616263", "\"abc\""}, {"VAyuw2_6162", "\"ab\"w"}, {"VAywd1_7a", "\"z\"d"},
      {"VAyaa0_", "\"\""},          {"VAyaa1_6a", "\"j\""},
      // Written raw: a quote, a NUL, a backslash and a byte of 0xFF.
      {"VAyaa4_22005cFF", std::string("\"\"\0\\\xFF\"", 6)},
      {"VAyaa2_61", raw}, {"VAyaa1_6G", raw}, {"VAyaa4294967296_61", raw}, {"VAyaa161", raw},
      {"VAyaa1_6", raw},
  });
}

TEST(DemangleValue, Reals) {
  const std::string raw(kRaw);
  expectArguments({
      {"Vde18P0", "1.50000"},          {"Vde1P1", "2.00000"},          {"VdeN18P0", "-1.50000"},
      {"Vee1PN1", "0.500000"},         {"VeeAP2", "40.0000"},          {"Vfea8P0", "10.5000"},
      {"Vee1P100", "1.26765e+30"},     {"Vee1PN100", "7.88861e-31"},
      // Beyond double's range: formatted from long double.
      {"Vee1P16000", "3.01947e+4816"}, {"Vee1PN16000", "3.31184e-4817"},
      {"VeeINF", "real.infinity"},     {"VeeNINF", "-real.infinity"},  {"VeeNAN", "real.nan"},
      {"Vqc1P0c2P0", "1.00000+2.00000i"}, {"VrcN1P0cNINF", "-1.00000+-real.infinityi"},
      {"VeeP0", raw},   {"VeeG1P0", raw}, {"Vee1", raw},   {"Vee1Q0", raw},
      {"VeeIN", raw},   {"VeeNA", raw},   {"Vqc1P0", raw}, {"Vqc1P0d2P0", raw},
  });
}
// clang-format on

// The literal "0X" d "." digits "p" sign exponent and its zero byte must fit 64 bytes.
TEST(DemangleValue, RealLiteralBoundedByItsScratch) {
  auto real = [](std::string_view sign, size_t mantissaDigits, std::string_view exponent) {
    return "Vee" + std::string(sign) + "1" + std::string(mantissaDigits - 1, '0') + "P" +
           std::string(exponent);
  };
  // 57 mantissa digits + 1 exponent digit + "0X.p+" = 63 bytes and the zero: fits.
  EXPECT_EQ(demangle(templateName(real("", 57, "0"))), templateRendering("1.00000"));
  EXPECT_EQ(demangle(templateName(real("N", 56, "0"))), templateRendering("-1.00000"));
  EXPECT_EQ(demangle(templateName(real("", 1, std::string(57, '0')))),
            templateRendering("1.00000"));
  for (const std::string& bad : {real("", 58, "0"), real("N", 57, "0"),
                                 real("", 1, std::string(58, '0')), real("", 500, "0")}) {
    SCOPED_TRACE(bad.size());
    EXPECT_EQ(demangle(templateName(bad)), rawTemplate(bad));
  }
}

TEST(DemangleValue, ArraysLiteralsAndNull) {
  const std::string raw(kRaw);
  expectArguments({
      {"VAiA0", "[]"},
      {"VAkA2i1i2", "[1, 2]"},  // nested values carry no type letter, so no suffix
      {"VAaA1i97", "[97]"},
      {"VHiiA2i1i2i3i4", "[1:2, 3:4]"},
      {"VHiiH2i1i2i3i4", "[1:2, 3:4]"},
      {"VHiAyaA1i1a1_78", "[1:\"x\"]"},
      {"VAAiA2A1i1A0", "[[1], []]"},
      {"VS3pkg1SS2i1i2", "pkg.S(1, 2)"},
      {"VS3pkg1SS0", "pkg.S()"},
      {"VAS3pkg1SA1S1i1", "[(1)]"},  // no type name below the top
      {"VPin", "null"},
      {"TiVS3pkg1SS1N4", "int, pkg.S(-4)"},
      {"VAiA2i1", raw},
      {"VAiA4294967296i1", raw},
      {"VHiiA1i1", raw},
      {"VS3pkg1SS2i1", raw},
  });
}

// ---- Restart, bounds -----------------------------------------------------------------------

// "void pkg.f(immutable(char)[], ...)" with `count` parameters: 19 bytes of text per 3 read.
std::string manyStrings(size_t count) {
  return "_D3pkg1fF" + repeat("Aya", count) + "Zv";
}
std::string manyStringsRendering(size_t count) {
  std::string text = "void pkg.f(";
  for (size_t i = 0; i < count; ++i)
    text += i > 0 ? ", immutable(char)[]" : "immutable(char)[]";
  return text + ")";
}

TEST(DemangleRestart, LongRenderingsGrowTheBuffer) {
  struct Case {
    size_t count;
    size_t capacity;
  };
  for (const Case& c : {Case{100, 4000}, Case{250, 8000}, Case{500, 16000}, Case{1000, 32000}}) {
    SCOPED_TRACE(c.count);
    std::string expected = manyStringsRendering(c.count);
    EXPECT_EQ(demangle(manyStrings(c.count)), expected);
    std::vector<char> buffer;
    EXPECT_EQ(demangle(manyStrings(c.count), buffer), expected);
    EXPECT_EQ(buffer.size(), c.capacity);
  }
  EXPECT_GT(manyStringsRendering(250).size(), 4000u);
  EXPECT_GT(manyStringsRendering(500).size(), 8000u);
}

TEST(DemangleRestart, LentBufferDoublesFromItsOwnSize) {
  std::vector<char> buffer(3000);
  EXPECT_EQ(demangle(manyStrings(400), buffer), manyStringsRendering(400));
  EXPECT_EQ(buffer.size(), 12000u);  // 3000 -> 6000 -> 12000
  std::vector<char> tiny(7);
  EXPECT_EQ(demangle("_D3pkg3mod3fooFiZv", tiny), "void pkg.mod.foo(int)");
  EXPECT_EQ(tiny.size(), 4000u);
}

TEST(Demangle, LentBufferHoldsTheResultAndIsReused) {
  std::vector<char> buffer;
  std::string_view first = demangle("_D3pkg1xi", buffer);
  EXPECT_EQ(first, "int pkg.x");
  EXPECT_EQ(first.data(), buffer.data());
  const char* storage = buffer.data();
  EXPECT_EQ(demangle("_D3pkg1yk", buffer), "uint pkg.y");
  EXPECT_EQ(buffer.data(), storage) << "a name that fits must not reallocate";
  EXPECT_EQ(demangle("plain", buffer), "plain");
  // A name that lies inside the buffer it is demangled into (an earlier result fed back).
  buffer.assign({'_', 'D', '3', 'p', 'k', 'g', '1', 'x', 'i'});
  EXPECT_EQ(demangle(std::string_view(buffer.data(), buffer.size()), buffer), "int pkg.x");
  std::string_view plain = demangle("xplain", buffer);
  EXPECT_EQ(demangle(plain.substr(1), buffer), "plain");
}

TEST(DemangleBounds, NestingAtTheBoundStillDecodes) {
  // The name's own type plus 999 pointer levels: 1000 open levels.
  EXPECT_EQ(demangle("_D3pkg1x" + repeat("P", 999) + "i"), "int" + repeat("*", 999) + " pkg.x");
  std::string tooDeep = "_D3pkg1x" + repeat("P", 1000) + "i";
  EXPECT_EQ(demangle(tooDeep), tooDeep);
}

// "_D3pkg" + `levels` instances a!(a!(...a!(x)...)) + "1yi", each taking the next as its argument:
// a struct type ("TS", two open levels each) or a symbol ("S", one level each).
std::string nestedTemplates(size_t levels, std::string_view argument = "TS") {
  const size_t overhead = std::string_view("__T1aZ").size() + argument.size();
  std::vector<size_t> lengths(levels + 1);
  lengths[0] = 2;  // "1x"
  for (size_t k = 1; k <= levels; ++k) {
    size_t id = overhead + lengths[k - 1];
    lengths[k] = std::to_string(id).size() + id;
  }
  std::string name = "_D3pkg";
  for (size_t k = levels; k >= 1; --k) {
    name += std::to_string(overhead + lengths[k - 1]) + "__T1a" + std::string(argument);
  }
  return name + "1x" + repeat("Z", levels) + "1yi";
}
std::string nestedRendering(size_t levels) {
  return "int pkg." + repeat("a!(", levels) + "x" + repeat(")", levels) + ".y";
}

TEST(DemangleBounds, TemplatesNestedUpToTheBoundDecode) {
  for (size_t levels : {size_t{1}, size_t{3}, size_t{500}}) {
    SCOPED_TRACE(levels);
    EXPECT_EQ(demangle(nestedTemplates(levels)), nestedRendering(levels));
  }
  EXPECT_EQ(demangle(nestedTemplates(1000, "S")), nestedRendering(1000));
  for (const std::string& name : {nestedTemplates(501), nestedTemplates(1001, "S")}) {
    EXPECT_EQ(demangle(name), name);
  }
}

// Too deep fails the whole name; it is not caught by the template-instance attempt, which would
// otherwise show the raw identifier.
TEST(DemangleBounds, TooDeepComesBackUnchangedAndQuickly) {
  std::vector<std::string> names = {
      "_D3pkg1x" + repeat("P", 100000) + "i",
      "_D3pkg1fF" + repeat("F", 100000) + "Zv",
      nestedTemplates(100000),
      nestedTemplates(100000, "S"),  // the most stack frames per level
      templateName("T" + repeat("P", 1500) + "i"),
      templateName("VAiA1" + repeat("A1", 100000) + "i1"),
      templateName("VAiH1" + repeat("H1", 100000) + "i1i2"),
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name.substr(0, 40));
    std::string result;
    double seconds = secondsFor([&] { result = demangle(name); });
    EXPECT_EQ(result, name);
    EXPECT_LT(seconds, 2.0);
  }
}

// Each level of "C1aF" is read twice by the look-ahead for a parent function, so unbounded this
// name costs twice as much for every level.
std::string exponentialName(size_t levels) {
  return "_D1xF" + repeat("C1aF", levels) + repeat("Zv", levels) + "Zv";
}
std::string exponentialRendering(size_t levels) {
  std::string inner;
  for (size_t i = 0; i < levels; ++i)
    inner = "a, void function(" + inner + ")";
  return "void x(" + inner + ")";
}

TEST(DemangleBounds, ExponentialLookAheadIsCutOff) {
  EXPECT_EQ(demangle(exponentialName(1)), "void x(a, void function())");
  EXPECT_EQ(demangle(exponentialName(2)), "void x(a, void function(a, void function()))");
  size_t decoded = 0;
  double seconds = secondsFor([&] {
    for (size_t levels = 1; levels <= 60; ++levels) {
      std::string name = exponentialName(levels);
      std::string result = demangle(name);
      if (result != name) {
        ++decoded;
        EXPECT_EQ(result, exponentialRendering(levels)) << levels;
      }
    }
  });
  // 32 bytes per input byte + 1024 allow 7 levels (2551 of 2592 bytes); 8 need 2785 of 2784.
  EXPECT_EQ(decoded, 7u);
  EXPECT_EQ(demangle(exponentialName(8)), exponentialName(8));
  EXPECT_EQ(demangle(exponentialName(60)), exponentialName(60));
  EXPECT_LT(seconds, 2.0);
}

// A parameter whose type returns a function returning a function ... k deep, the innermost taking
// n strings: each level rotates all the text inside it once more.
std::string nestedReturns(size_t levels, size_t strings) {
  return "_D1xF" + repeat("FZ", levels) + "F" + repeat("Aya", strings) + "ZvZv";
}

TEST(DemangleBounds, RotatedBytesAreBounded) {
  std::string innermost = manyStringsRendering(1000).replace(0, 10, "void function");
  EXPECT_EQ(demangle(nestedReturns(100, 1000)),
            "void x(" + innermost + repeat(" function()", 100) + ")");
  std::string tooCostly = nestedReturns(990, 1000);  // reads ~5000 bytes, would rotate ~40 MB
  std::string result;
  EXPECT_LT(secondsFor([&] { result = demangle(tooCostly); }), 2.0);
  EXPECT_EQ(result, tooCostly);
}

// The count of bytes read starts again with every restart after an overflow: a name that needs
// more than half its allowance must still decode when its first attempt overflows late.
TEST(DemangleBounds, WorkCountRestartsWithTheBuffer) {
  auto name = [](size_t levels) {
    return exponentialName(levels) + "3pkg1fF" + repeat("Aya", 300) + "Zv";
  };
  size_t best = 0;
  std::vector<char> big(1 << 20);
  for (size_t levels = 1; levels <= 30; ++levels) {
    std::string candidate = name(levels);
    Demangle d(candidate, demangler::AddType::Yes, &big);
    if (d.demangleName() != candidate)
      best = levels;
  }
  ASSERT_GT(best, 0u);
  std::string chosen = name(best);
  Demangle probe(chosen, demangler::AddType::Yes, &big);
  std::string expected(probe.demangleName());
  ASSERT_GT(probe.workDone() * 2, probe.workBound()) << "not costly enough to tell";
  ASSERT_GT(expected.size(), 4000u);
  std::vector<char> fresh;
  EXPECT_EQ(demangle(chosen, fresh), expected);
  EXPECT_EQ(fresh.size(), 8000u);
}

// ---- Names from real object files ------------------------------------------------------------

// Produced by: gdc -c app.d && nm app.o; ldc2 -c app.d && nm app.o (Debian's gdc 12 and ldc2
// 1.30), for a module "app" with classes, structs, templates, nested functions, delegates and
// associative arrays; the "rt." names from the map of the same program linked with
// gdc -static-libphobos app.d main.d -Wl,-Map=app.map. These are names without back references.
TEST(DemangleRealNames, OlderManglingDecodes) {
  expectRenderings({
      {"_D2rt8lifetime10__blkcacheFNbNdZPS4core6memory8BlkInfo_",
       "nothrow @property core.memory.BlkInfo_* rt.lifetime.__blkcache()"},
      {"_D2rt5minfo13rt_moduleCtorUZ14__foreachbody1MFKS3gcc8sections3elf3DSOZi",
       "int rt.minfo.rt_moduleCtor().__foreachbody1(ref gcc.sections.elf.DSO)"},
      {"_D2rt8lifetime14processGCMarksFNbPS4core6memory8BlkInfo_MDFNbPvZiZv",
       "nothrow void rt.lifetime.processGCMarks(core.memory.BlkInfo_*, scope nothrow int "
       "delegate(void*))"},
      {"_D2rt6dmain212traceHandlerPFPvZC6object9Throwable9TraceInfo",
       "object.Throwable.TraceInfo function(void*)* rt.dmain2.traceHandler"},
      {"_D2rt9profilegc18_staticDtor_L93_C1FZ11__critsec19OPv",
       "shared(void*) rt.profilegc._staticDtor_L93_C1().__critsec19"},
      {"_D2rt4util8typeinfo10TypeInfo_v7getHashMxFNaNbNeMxPvZm",
       "const(pure nothrow @trusted ulong function(scope const(void*))) "
       "rt.util.typeinfo.TypeInfo_v.getHash"},
      {"_D3app2dgDFiZi", "int app.dg(int)"},
      {"_D3app2fpPFiZv", "void function(int)* app.fp"},
      {"_D3app3useFZv", "void app.use()"},
      {"_D3app4propFNdZi", "@property int app.prop()"},
      {"_D3app5Shape4areaMxFZi", "const(int function()) app.Shape.area"},
      {"_D3app5fixedG16i", "int[16] app.fixed"},
      {"_D3app5outerFiZi", "int app.outer(int)"},
      {"_D3app5tableHAyai", "int[immutable(char)[]] app.table"},
      {"_D3app6pureFnFNaNbNfiZi", "pure nothrow @safe int app.pureFn(int)"},
      {"_D3app6scopedFMPiZv", "void app.scoped(scope int*)"},
      {"_D3app7counterOi", "shared(int) app.counter"},
      {"_D3app7messageAya", "immutable(char)[] app.message"},
      {"_D3app7trustedFNeZv", "@trusted void app.trusted()"},
      {"_D3app8typesafeFAiXi", "int app.typesafe(int[]...)"},
      {"_D3app8variadicFiYi", "int app.variadic(int, ...)"},
      {"_D6object6Object6toHashMFNbNeZm", "nothrow @trusted ulong object.Object.toHash()"},
      {"_D6object6Object8toStringMFZAya", "immutable(char)[] object.Object.toString()"},
  });
}

// Same source. Back references ("Q"), templates without a length prefix and newer attributes
// ("Ni" for @nogc) are not part of this mangling.
TEST(DemangleRealNames, NewerManglingComesBackUnchanged) {
  expectUnchanged({
      "_D3app5Shape4moveMFKSQt5PointJiLlZv",
      "_D3app5Shape6__ctorMFiZCQwQu",
      "_D3app5Shape6centerMFZSQv5Point",
      "_D3app5identFPNgiZQf",
      "_D3app5outerFiZ5innerMFNaNbNiNfiZi",
      "_D3app5outerFiZ9__lambda3MFNaNbNiNfiZi",
      "_D3app3useFZ9__lambda6FNaNbNiNfiZv",
      "_D3app__T2blVbi1Vhi200Vmi9VlN3Vsi4ZQBaFNaNbNiNfZi",
      "_D3app__T2flVfe0AP2ZQlFNaNbNiNfZi",
      "_D3app__T2flVfe14P1ZQlFNaNbNiNfZi",
      "_D3app__T2ptVSQm5PointS2i1i2ZQuFNaNbNiNfZi",
      "_D3app__T2wcVui233Vwi65ZQpFNaNbNiNfZi",
      "_D3app__T3BoxTSQn5PointZQp3putMFQsZv",
      "_D3app__T3BoxTiZQh3putMFiZv",
      "_D3app__T3arrVAiA3i1i2i3ZQqFNaNbNiNfZi",
      "_D3app__T3sumVii3VAyaa3_616263Vde0CP1Vai113ZQBjFNaNbNiNfZi",
      "_D3app__T4PairTiTAyaZQm11__xopEqualsMxFKxSQBo__TQBnTiTQBlZQBxZb",
      "_D4core8internal5array8equality__T8__equalsTaTaZQoFNaNbNiNeMxAaMxQeZb",
      "_D6object6Object5opCmpMFCQqZi",
      "_D6object__T10RTInfoImplVAmA2i24i4ZQxyG2m",
      "_D3app__T3BoxTiZQh11__interface3app8Drawable6Thn16_6__vtblZ",
      "_D3app5Point6__initZ",
      "_D20TypeInfo_S3app5Point6__initZ",
      "_D3app12__ModuleInfoZ",
      "_D3app8Drawable11__InterfaceZ",
      "_DTi16_D3app__T3BoxTiZQh4drawMFZv",
      "_DThn16_3app__T3BoxTiZQh4drawMFZv",
  });
}

}  // namespace
}  // namespace vorlith
