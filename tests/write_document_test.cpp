// The document written as it is made, against the document made in one piece, on real maps.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "mapfile.h"
#include "options.h"
#include "vorlith.h"
#include "zel/utils/chunked_appender.h"
#include "zel/utils/json.h"

namespace fs = std::filesystem;
using zel::utils::appender::ChunkedAppender;
using zel::utils::appender::kDefaultChunkSize;

namespace {

// Every real map of the project: its own maps, the fixtures and the sample.
std::vector<fs::path> realMaps() {
  std::vector<fs::path> maps;
  for (const fs::path& dir :
       {fs::path(VORLITH_TEST_DATA), fs::path(VORLITH_TEST_DATA) / "fixtures"}) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (entry.path().extension() == ".map") {
        maps.push_back(entry.path());
      }
    }
  }
  maps.push_back(fs::path(VORLITH_TEST_DATA) / "../../examples/sample.map");
  std::sort(maps.begin(), maps.end());
  return maps;
}

// Where chunk edges fell: inside a \u escape, between two digits of a number, inside one of
// the member names.
struct Edges {
  size_t inEscape = 0, inNumber = 0, inMemberName = 0;

  void count(std::string_view text, size_t chunkSize) {
    for (size_t at = chunkSize; at < text.size(); at += chunkSize) {
      // A "\uXXXX" escape is six bytes: its backslash is at most five before the edge.
      for (size_t back = 1; back <= 5 && back <= at; ++back) {
        inEscape += text.substr(at - back, 2) == "\\u";
      }
      inNumber += std::isdigit(static_cast<unsigned char>(text[at - 1])) &&
                  std::isdigit(static_cast<unsigned char>(text[at]));
      for (std::string_view name : {"\"total\"", "\"children\"", "\"leaves\"", "\"size\"",
                                    "\"address\"", "\"mangledName\"", "\"demangledName\""}) {
        size_t start = at >= name.size() ? at - name.size() + 1 : 0;
        size_t found = text.substr(start, 2 * name.size()).find(name);
        inMemberName += found != std::string_view::npos && start + found < at &&
                        at < start + found + name.size();
      }
    }
  }
};

}  // namespace

TEST(WriteDocument, GivesTheBytesOfTheOnePieceDocumentAtEveryChunkSize) {
  const std::array<size_t, 4> chunkSizes = {1, 7, 4096, kDefaultChunkSize};
  Edges edges;
  int documents = 0;
  for (const fs::path& path : realMaps()) {
    for (bool modern : {false, true}) {
      SCOPED_TRACE(path.string() + (modern ? " --modern" : ""));
      vorlith::Settings settings = vorlith::readingSettings(modern);
      std::ostringstream echo;
      vorlith::MapFile map(path.string(), echo, settings);
      if (map.symbols.size() < 2) {
        continue;  // a form this reading does not take: no document
      }
      vorlith::SizeTree sized = vorlith::buildTree(map.symbols, settings);
      const vorlith::TreeNode& tree = sized.root;
      std::string whole = "var treeData = ";
      whole += zel::utils::json::toJson(tree).get();
      ++documents;
      for (size_t chunkSize : chunkSizes) {
        SCOPED_TRACE(chunkSize);
        std::string text;
        size_t chunks = 0;
        size_t shortChunks = 0;
        size_t oversized = 0;
        ChunkedAppender sink(
            [&](std::string_view chunk) {
              text.append(chunk);
              ++chunks;
              shortChunks += chunk.size() != chunkSize;
              // The sink holds one chunk at most, whatever single append filled it.
              oversized += chunk.size() > chunkSize;
            },
            chunkSize);
        vorlith::writeDocument(sink, tree);
        EXPECT_EQ(sink.held(), 0u);
        ASSERT_TRUE(text == whole) << text.size() << " bytes, not " << whole.size();
        EXPECT_EQ(chunks, (whole.size() + chunkSize - 1) / chunkSize);
        EXPECT_LE(shortChunks, 1u);
        EXPECT_EQ(oversized, 0u);
        if (chunkSize == 7) {
          edges.count(text, chunkSize);
        }
      }
    }
  }
  EXPECT_GE(documents, 40);
  // The comparisons above did cut the text where it is most likely to go wrong.
  EXPECT_GT(edges.inEscape, 0u);
  EXPECT_GT(edges.inNumber, 0u);
  EXPECT_GT(edges.inMemberName, 0u);
}
