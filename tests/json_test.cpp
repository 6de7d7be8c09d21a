#include "zel/utils/json.h"

#include <gtest/gtest.h>

#include <string>

#include "support/expect.h"
#include "vorlith.h"

using vorlith::TreeLeaf;
using vorlith::TreeNode;
using zel::utils::appender::FastAppender;
using zel::utils::json::CustomJsonWriter;
using zel::utils::json::toJson;

namespace {

std::string jsonString(std::string_view s) {
  CustomJsonWriter<FastAppender> writer;
  writer.putString(s);
  return std::string(writer.output.get());
}

}  // namespace

TEST(JsonWriter, EscapesThroughTheTable) {
  struct Case {
    std::string_view in, out;
  } cases[] = {
      {"", R"("")"},
      {"a<b>\"c\"\\", R"("a\u003cb\u003e\"c\"\\")"},
      {"a/b \xC3\xA9\xE2\x82\xAC", "\"a/b \xC3\xA9\xE2\x82\xAC\""},
      {"\t\n\r\b\f", R"("\t\n\r\b\f")"},
      {std::string_view("\x01\x1F\x7F\x00&", 5), R"("\u0001\u001f\u007f\u0000\u0026")"},
      {"end<", R"("end\u003c")"},
      {"\xFF\x80", "\"\xFF\x80\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hexBytes(c.in));
    EXPECT_EQ(jsonString(c.in), c.out);
  }
}

TEST(JsonWriter, WritesTheTreeCompactlyInFieldOrder) {
  vorlith::TextArena text;
  TreeNode root;
  root.total = 48;
  TreeNode& lib = root.children.at("lib", text);
  lib.total = 48;
  TreeLeaf& leaf = lib.leaves.at("main", text);
  leaf = {48, 65536, "main", ""};
  EXPECT_EQ(toJson(root).get(),
            R"({"total":48,"children":{"lib":{"total":48,"children":{},"leaves":{"main":)"
            R"({"size":48,"address":65536,"mangledName":"main","demangledName":""}}}},)"
            R"("leaves":{}})");
}

TEST(JsonWriter, WritesEmptyTreeAndExtremeNumbers) {
  EXPECT_EQ(toJson(TreeNode()).get(), R"({"total":0,"children":{},"leaves":{}})");
  vorlith::TextArena text;
  TreeNode root;
  root.total = UINT64_MAX;
  root.leaves.at("", text) = {0, UINT64_MAX, "", "x"};
  EXPECT_EQ(toJson(root).get(),
            R"({"total":18446744073709551615,"children":{},"leaves":{"":{"size":0,)"
            R"("address":18446744073709551615,"mangledName":"","demangledName":"x"}}})");
}

TEST(JsonWriter, KeepsInsertionOrderOfMembers) {
  vorlith::TextArena text;
  TreeNode root;
  for (const char* name : {"zeta", "alpha", "mid", "\"q\""}) {
    root.children.at(name, text);
  }
  EXPECT_EQ(toJson(root).get(),
            R"({"total":0,"children":{"zeta":{"total":0,"children":{},"leaves":{}},)"
            R"("alpha":{"total":0,"children":{},"leaves":{}},)"
            R"("mid":{"total":0,"children":{},"leaves":{}},)"
            R"("\"q\"":{"total":0,"children":{},"leaves":{}}},"leaves":{}})");
}
