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

TEST(JsonWriter, EscapesEveryByteAsTheTableSaysWhereverItStands) {
  // The writer passes plain runs whole; the text it writes must be that of a walk through the
  // table one byte at a time, whatever the byte and wherever it stands in the blocks of the
  // search, escapes side by side and at the very end included.
  const zel::utils::json::Escapes& table = zel::utils::json::escapes();
  auto byteByByte = [&table](std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
      out += table.chars(static_cast<unsigned char>(c));
    }
    return out + "\"";
  };
  for (size_t length : {1u, 2u, 15u, 16u, 17u, 33u, 40u}) {
    for (size_t at = 0; at < length; ++at) {
      for (int value = 0; value < 256; ++value) {
        std::string text(length, 'x');
        for (size_t k = 0; k < length; k += 3) {
          text[k] = k % 2 == 0 ? '\xC3' : '~';  // high and near-escape bytes around it
        }
        text[at] = static_cast<char>(value);
        ASSERT_EQ(jsonString(text), byteByByte(text))
            << "length " << length << " at " << at << " byte " << value;
        if (at + 1 < length) {
          text[at + 1] = static_cast<char>(value);  // two in a row
          ASSERT_EQ(jsonString(text), byteByByte(text))
              << "length " << length << " at " << at << " byte " << value << " twice";
        }
      }
    }
  }
}

TEST(JsonWriter, WritesPlainKeysAsEscapedKeysWouldBe) {
  CustomJsonWriter<FastAppender> plain;
  CustomJsonWriter<FastAppender> escaped;
  bool plainFirst = true;
  bool escapedFirst = true;
  plain.beginObject();
  escaped.beginObject();
  plain.putMember(plainFirst, zel::utils::json::PlainKey("size"), uint64_t{42});
  escaped.putMember(escapedFirst, std::string_view("size"), uint64_t{42});
  plain.putMember(plainFirst, zel::utils::json::PlainKey("demangledName"),
                  std::string_view("a<b>"));
  escaped.putMember(escapedFirst, std::string_view("demangledName"), std::string_view("a<b>"));
  plain.output.put(',');
  plain.putKey(zel::utils::json::PlainKey("children"));
  escaped.output.put(',');
  escaped.putString("children");
  escaped.output.put(':');
  plain.endObject();
  escaped.endObject();
  EXPECT_EQ(plain.output.get(), escaped.output.get());
  EXPECT_EQ(plain.output.get(),
            std::string_view(R"({"size":42,"demangledName":"a\u003cb\u003e","children":})"));
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
