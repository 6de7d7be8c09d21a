#include "cxxnames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/best_of.h"

using vorlith::CxxNameSplitter;
using Segments = std::vector<std::string>;

namespace {

struct Case {
  std::string_view name;
  Segments segments;  // empty: not a demangled C++ name
};

void expectSplits(const std::vector<Case>& cases) {
  CxxNameSplitter splitter;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    std::optional<Segments> got = splitter.split(c.name);
    if (c.segments.empty()) {
      EXPECT_EQ(got, std::nullopt);
    } else {
      EXPECT_EQ(got, c.segments);
    }
  }
}

std::string repeat(std::string_view s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t k = 0; k < n; ++k) {
    out.append(s);
  }
  return out;
}

}  // namespace

// Names as GNU ld wrote them into tests/data/gnu-ld-cxx-names.map and the LLVM map.
TEST(CxxNames, FilesScopesWithoutTemplateArgumentsOrParameters) {
  expectSplits({
      {"tally(geo::shapes::Point const&, int)", {"C++ symbols", "tally"}},
      {"foo(int)", {"C++ symbols", "foo"}},
      {"geo::shapes::Circle::area() const", {"C++ symbols", "geo", "shapes", "Circle", "area"}},
      {"geo::shapes::Diamond::~Diamond()", {"C++ symbols", "geo", "shapes", "Diamond", "~Diamond"}},
      {"llvm::R600::R600_KC0_YRegClass", {"C++ symbols", "llvm", "R600", "R600_KC0_YRegClass"}},
      {"std::vector<int, std::allocator<int> >::push_back(int const&)",
       {"C++ symbols", "std", "vector", "push_back"}},
      {"llvm::RISCVDAGToDAGISel::SelectCode(llvm::SDNode*)::MatcherTable",
       {"C++ symbols", "llvm", "RISCVDAGToDAGISel", "SelectCode", "MatcherTable"}},
      {"geo::Grid<int, 3>::sum() const", {"C++ symbols", "geo", "Grid", "sum"}},
      {"llvm::IncIntegerState<unsigned int, 4294967295u, 0u>::handleNewAssumedValue(unsigned int)",
       {"C++ symbols", "llvm", "IncIntegerState", "handleNewAssumedValue"}},
      {"geo::registry[abi:cxx11]()", {"C++ symbols", "geo", "registry"}},
      {"geo::lastLabel[abi:cxx11]", {"C++ symbols", "geo", "lastLabel"}},
      {"BeforeColour[abi:cxx11]", {"C++ symbols", "BeforeColour"}},
      {"std::map<geo::shapes::Point, std::__cxx11::basic_string<char, std::char_traits<char>, "
       "std::allocator<char> >, std::less<geo::shapes::Point>, std::allocator<std::pair<"
       "geo::shapes::Point const, std::__cxx11::basic_string<char, std::char_traits<char>, "
       "std::allocator<char> > > > >::~map()",
       {"C++ symbols", "std", "map", "~map"}},
      {"std::_Function_handler<bool (llvm::LegalityQuery const&), llvm::LegalizeRuleSet::"
       "clampMaxNumElements(unsigned int, llvm::LLT, unsigned int)::{lambda(llvm::LegalityQuery "
       "const&)#1}>::_M_invoke(std::_Any_data const&, llvm::LegalityQuery const&)",
       {"C++ symbols", "std", "_Function_handler", "_M_invoke"}},
  });
}

TEST(CxxNames, DropsTheReturnTypeOfTemplateFunctions) {
  expectSplits({
      {"std::vector<int, std::allocator<int> > geo::repeat<int>(int const&, int)",
       {"C++ symbols", "geo", "repeat"}},
      {"void llvm::VerifierSupport::CheckFailed<llvm::FPTruncInst*>(llvm::Twine const&, "
       "llvm::FPTruncInst* const&)",
       {"C++ symbols", "llvm", "VerifierSupport", "CheckFailed"}},
      {"llvm::Error llvm::BinaryStreamReader::readArray<llvm::codeview::CrossModuleExport>("
       "llvm::FixedStreamArray<llvm::codeview::CrossModuleExport>&, unsigned int)",
       {"C++ symbols", "llvm", "BinaryStreamReader", "readArray"}},
      {"llvm::detail::DenseMapPair<unsigned long, unsigned int>* llvm::DenseMapBase<llvm::"
       "DenseMap<unsigned long, unsigned int> >::InsertIntoBucket<unsigned long>(llvm::detail::"
       "DenseMapPair<unsigned long, unsigned int>*, unsigned long&&)",
       {"C++ symbols", "llvm", "DenseMapBase", "InsertIntoBucket"}},
      {"std::basic_ostream<char, std::char_traits<char> >& std::operator<< <std::char_traits<char> "
       ">(std::basic_ostream<char, std::char_traits<char> >&, char const*)",
       {"C++ symbols", "std", "operator<<"}},
      {"void std::__cxx11::list<int>::sort<bool (*)(int, int)>(bool (*)(int, int))",
       {"C++ symbols", "std", "__cxx11", "list", "sort"}},
      {"decltype ({parm#1}+{parm#2}) ns::add<int, int>(int, int)", {"C++ symbols", "ns", "add"}},
      {"decltype(auto) llvm::orc::ThreadSafeModule::withModuleDo<llvm::orc::IRCompiler&>("
       "llvm::orc::IRCompiler&)",
       {"C++ symbols", "llvm", "orc", "ThreadSafeModule", "withModuleDo"}},
      {"unsigned long const& std::max<unsigned long>(unsigned long const&, unsigned long const&)",
       {"C++ symbols", "std", "max"}},
      {"void (anonymous namespace)::visit<int>(int)",
       {"C++ symbols", "(anonymous namespace)", "visit"}},
  });
}

TEST(CxxNames, TakesOperatorsAsNames) {
  expectSplits({
      {"geo::shapes::Point::operator<(geo::shapes::Point const&) const",
       {"C++ symbols", "geo", "shapes", "Point", "operator<"}},
      {"(anonymous namespace)::Counter::operator<<(int)",
       {"C++ symbols", "(anonymous namespace)", "Counter", "operator<<"}},
      {"geo::Grid<int, 3>::operator()(int, int)", {"C++ symbols", "geo", "Grid", "operator()"}},
      {"geo::shapes::Point::operator[](int) const",
       {"C++ symbols", "geo", "shapes", "Point", "operator[]"}},
      {"llvm::ValueMap<llvm::Function const*, llvm::AMDGPUPerfHintAnalysis::FuncInfo>::operator[]"
       "(llvm::Function const* const&)",
       {"C++ symbols", "llvm", "ValueMap", "operator[]"}},
      {"x::It::operator->() const", {"C++ symbols", "x", "It", "operator->"}},
      {"x::It::operator->*(int) const", {"C++ symbols", "x", "It", "operator->*"}},
      {"x::A::operator>>=(int)", {"C++ symbols", "x", "A", "operator>>="}},
      {"foo<(char)60>(int)", {"C++ symbols", "foo"}},
      {"foo::bar(int) const &", {"C++ symbols", "foo", "bar"}},
      {"ns::S::operator std::vector<int, std::allocator<int> >() const",
       {"C++ symbols", "ns", "S", "operator std::vector<int, std::allocator<int> >"}},
      {"x::A::operator<=>(x::A const&) const", {"C++ symbols", "x", "A", "operator<=>"}},
      {"bool x::operator< <int>(x::B<int> const&, x::B<int> const&)",
       {"C++ symbols", "x", "operator<"}},
      {"operator new(unsigned long)", {"C++ symbols", "operator new"}},
      {"operator delete[](void*)", {"C++ symbols", "operator delete[]"}},
      {"geo::shapes::Point::operator long() const",
       {"C++ symbols", "geo", "shapes", "Point", "operator long"}},
      {"llvm::Foo::operator llvm::ArrayRef<unsigned int>() const",
       {"C++ symbols", "llvm", "Foo", "operator llvm::ArrayRef<unsigned int>"}},
      {"units::operator\"\" _km(unsigned long long)", {"C++ symbols", "units", "operator\"\" _km"}},
  });
}

TEST(CxxNames, FilesLambdasAnonymousNamespacesAndLocalEntities) {
  expectSplits({
      {"(anonymous namespace)::helper(std::vector<int, std::allocator<int> >)",
       {"C++ symbols", "(anonymous namespace)", "helper"}},
      {"geo::sequence(int)::{lambda(int&)#1}::operator()(int&) const",
       {"C++ symbols", "geo", "sequence", "{lambda(int&)#1}", "operator()"}},
      {"geo::sequence(int)::counter", {"C++ symbols", "geo", "sequence", "counter"}},
      {"x::A::f() const::{lambda()#1}::operator()() const",
       {"C++ symbols", "x", "A", "f", "{lambda()#1}", "operator()"}},
      {"x::f()::{unnamed type#1}::g()", {"C++ symbols", "x", "f", "{unnamed type#1}", "g"}},
  });
}

TEST(CxxNames, PutsSpecialPhrasesAfterTheLeaf) {
  expectSplits({
      {"vtable for llvm::Pass", {"C++ symbols", "llvm", "Pass (vtable)"}},
      {"typeinfo for bool", {"C++ symbols", "bool (typeinfo)"}},
      {"typeinfo name for geo::shapes::Shape",
       {"C++ symbols", "geo", "shapes", "Shape (typeinfo name)"}},
      {"VTT for geo::shapes::Diamond", {"C++ symbols", "geo", "shapes", "Diamond (VTT)"}},
      {"construction vtable for geo::shapes::Right-in-geo::shapes::Diamond",
       {"C++ symbols", "geo", "shapes", "Diamond (construction vtable)"}},
      {"guard variable for geo::registry[abi:cxx11]()::names",
       {"C++ symbols", "geo", "registry", "names (guard variable)"}},
      {"guard variable for x::y", {"C++ symbols", "x", "y (guard variable)"}},
      {"non-virtual thunk to Foo::bar()", {"C++ symbols", "Foo", "bar (non-virtual thunk)"}},
      {"virtual thunk to geo::shapes::Diamond::~Diamond()",
       {"C++ symbols", "geo", "shapes", "Diamond", "~Diamond (virtual thunk)"}},
      {"covariant return thunk to x::C::clone() const",
       {"C++ symbols", "x", "C", "clone (covariant return thunk)"}},
      {"TLS init function for geo::lastLabel[abi:cxx11]",
       {"C++ symbols", "geo", "lastLabel (TLS init function)"}},
      {"TLS wrapper function for x::t", {"C++ symbols", "x", "t (TLS wrapper function)"}},
      {"typeinfo for bool (*)(llvm::LegalityQuery const&)",
       {"C++ symbols", "bool (*)(llvm::LegalityQuery const&) (typeinfo)"}},
      {"typeinfo name for llvm::Error (llvm::jitlink::LinkGraph&)",
       {"C++ symbols", "llvm::Error (llvm::jitlink::LinkGraph&) (typeinfo name)"}},
      {"typeinfo for std::vector<int, std::allocator<int> > (*)(int const&)",
       {"C++ symbols", "std::vector<int, std::allocator<int> > (*)(int const&) (typeinfo)"}},
      {"transaction clone for x::f(int)", {"C++ symbols", "x", "f (transaction clone)"}},
      {"reference temporary #0 for geo::limit",
       {"C++ symbols", "geo", "limit (reference temporary #0)"}},
  });
}

TEST(CxxNames, KeepsCloneSuffixesAndSymbolVersionsInTheLeaf) {
  expectSplits({
      {"scaled(long, long) [clone .constprop.0]", {"C++ symbols", "scaled [clone .constprop.0]"}},
      {"(anonymous namespace)::Counter::operator->*(int) const [clone .constprop.0] [clone "
       ".isra.0]",
       {"C++ symbols", "(anonymous namespace)", "Counter",
        "operator->* [clone .constprop.0] [clone .isra.0]"}},
      {"std::_Rb_tree<int, int>::_M_erase(std::_Rb_tree_node<int>*) [clone .isra.0]",
       {"C++ symbols", "std", "_Rb_tree", "_M_erase [clone .isra.0]"}},
      {"operator new(unsigned long)@@GLIBCXX_3.4", {"C++ symbols", "operator new@@GLIBCXX_3.4"}},
      {"std::__throw_length_error(char const*)@GLIBCXX_3.4",
       {"C++ symbols", "std", "__throw_length_error@GLIBCXX_3.4"}},
      {"non-virtual thunk to A::f() [clone .cold]",
       {"C++ symbols", "A", "f (non-virtual thunk) [clone .cold]"}},
  });
}

// Everything else a map holds must be left to the other rules.
TEST(CxxNames, LeavesOtherTextAlone) {
  expectSplits({
      {"main", {}},
      {"LLVMRunPasses", {}},
      {"memcpy@@GLIBC_2.14", {}},
      {"_start", {}},
      {"main.cold", {}},
      {"completed.0", {}},
      {"DW.ref.__gxx_personality_v0", {}},
      {"app.o (.text)", {}},
      {"obj/util.o", {}},
      {"libfoo.a(bar.o) (.data)", {}},
      {"/usr/lib/libc.a(printf.o) (.text)", {}},
      {"00 (*fill*)", {}},
      {"<internal>:(.got)", {}},
      {"__bss_start = .", {}},
      {"x: y::z", {}},
      {"vtable for ", {}},
      {"vtable for a.b", {}},
      {"vtable for bool (*)(int)", {}},
      {"typeinfo for (", {}},
      {"x[1]", {}},
      {"construction vtable for A", {}},
      {"::foo", {}},
      {"foo::", {}},
      {"a::::b", {}},
      {"foo<int", {}},
      {"foo(int", {}},
      {"foo(int))", {}},
      {"foo>(int)", {}},
      {"foo(]", {}},
      {"hello world", {}},
      {"some text(x) more", {}},
      {"Foo<int>::bar baz", {}},
      {"1abc::x", {}},
      {"", {}},
  });
}

// Hostile brackets: unbalanced, nested 100,000 deep and a megabyte long, taken in one pass
// without recursion. The work is measured against a benign name of the same size (a long but
// ordinary scope list), so a quadratic path shows as a wide ratio whatever the machine's speed.
TEST(CxxNames, HostileBracketsTakeLinearTime) {
  const size_t depth = 100000;
  struct Hostile {
    const char* label;
    std::string name;
    bool isCxx;
  };
  const Hostile cases[] = {
      {"100,000 nested parameter lists", "f" + repeat("(", depth) + repeat(")", depth), true},
      {"100,000 nested template arguments", "f" + repeat("<a", depth) + repeat(">", depth) + "()",
       true},
      {"100,000 unclosed brackets", "f" + repeat("<(", depth), false},
      {"100,000 closing brackets", "f()" + repeat(")", depth), false},
      {"100,000 braces", "a::" + repeat("{", depth) + repeat("}", depth), true},
      {"mismatched at the end of 100,000", "f" + repeat("(", depth) + repeat(")", depth - 1) + "]",
       false},
      {"1 MB of scopes", repeat("a::", 333333) + "b", true},
      {"1 MB of spaces before a parameter list", repeat("a ", 500000) + "f()", true},
      {"1 MB of clone suffixes", "f()" + repeat(" [clone .a]", 90000), true},
      {"1 MB of broken clone suffixes", "f()" + repeat(" [clone .a", 100000) + "]", false},
      {"1 MB of operator tokens", repeat("operator<", 110000) + "()", true},
      {"1 MB of phrases", repeat("vtable for ", 95000) + "x", false},
      {"1 MB of '@'", "f()" + repeat("@", 1000000), false},
  };
  std::string benign = "ns::" + repeat("abcdefgh::", 100000) + "f(int)";
  CxxNameSplitter splitter;
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.label);
    std::optional<Segments> got = splitter.split(c.name);
    EXPECT_EQ(got.has_value(), c.isCxx);
  }
  // Time: the worst of the hostile names against the benign name, best of three runs each, so
  // that a busy machine does not decide the outcome.
  auto best = [&splitter](const std::string& name) {
    return bestOf(3, [&] { (void)splitter.split(name); }) / static_cast<double>(name.size());
  };
  double benignPerByte = best(benign);
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.label);
    // Linear work stays within a small factor per byte; a quadratic path over 100,000 levels
    // or a megabyte would be thousands of times slower.
    EXPECT_LT(best(c.name), benignPerByte * 50 + 1e-7);
  }
}
