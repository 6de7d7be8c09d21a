#include "zel/utils/chunked_appender.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "support/expect.h"
#include "zel/utils/appender.h"
#include "zel/utils/json.h"

using zel::utils::appender::ChunkedAppender;
using zel::utils::appender::FastAppender;
using zel::utils::appender::kDefaultChunkSize;

namespace {

// What a drain was handed, chunk by chunk.
struct Handed {
  std::string text;
  std::vector<size_t> chunks;

  ChunkedAppender::Drain drain() {
    return [this](std::string_view chunk) {
      text.append(chunk);
      chunks.push_back(chunk.size());
    };
  }
};

// Every chunk but the last is exactly `chunkSize` bytes, none is empty, and none is more.
// Counted rather than asserted per chunk: a chunk of 1 byte makes a million of them.
void expectFullChunks(const Handed& handed, size_t chunkSize) {
  size_t wrong = 0;
  for (size_t k = 0; k < handed.chunks.size(); ++k) {
    bool last = k + 1 == handed.chunks.size();
    wrong += handed.chunks[k] == 0 || handed.chunks[k] > chunkSize ||
             (!last && handed.chunks[k] != chunkSize);
  }
  EXPECT_EQ(wrong, 0u);
  EXPECT_EQ(handed.chunks.size(), (handed.text.size() + chunkSize - 1) / chunkSize);
}

// Appends the same mix of single characters, runs of several lengths and several items per
// call, to any appender.
template <typename Sink>
void putMix(Sink& sink) {
  const std::string longRun(10000, 'L');
  for (int k = 0; k < 300; ++k) {
    std::string number = std::to_string(k * 7919);
    sink.put('"');
    sink.put(std::string_view(number), ',', std::string_view("\\u003c"));
    sink.put(std::string_view());
    sink.put(std::string_view(longRun).substr(0, static_cast<size_t>(k) * 37 % 5000), '|');
  }
  sink.put(std::string_view(longRun));
}

}  // namespace

TEST(ChunkedAppender, HandsOnTheTextOfOnePieceInFullChunks) {
  FastAppender whole;
  putMix(whole);
  for (size_t chunkSize : {size_t{1}, size_t{2}, size_t{7}, size_t{4096}, kDefaultChunkSize}) {
    SCOPED_TRACE(chunkSize);
    Handed handed;
    ChunkedAppender sink(handed.drain(), chunkSize);
    putMix(sink);
    sink.flush();
    EXPECT_EQ(sink.held(), 0u);
    EXPECT_TRUE(handed.text == whole.get()) << handed.text.size() << " " << whole.get().size();
    expectFullChunks(handed, chunkSize);
  }
}

TEST(ChunkedAppender, HoldsAtMostOneChunkWhateverTheAppendSize) {
  constexpr size_t kChunk = 64;
  for (size_t size : {size_t{1}, kChunk - 1, kChunk, kChunk + 1, 5 * kChunk + 3, 100 * kChunk}) {
    SCOPED_TRACE(size);
    Handed handed;
    ChunkedAppender sink(handed.drain(), kChunk);
    std::string run(size, 'x');
    size_t most = 0;
    for (int k = 0; k < 10; ++k) {
      sink.put('<', std::string_view(run), '>');
      most = std::max(most, sink.held());
      EXPECT_EQ(sink.chunkSize(), kChunk);
    }
    EXPECT_LE(most, kChunk);
    sink.flush();
    EXPECT_EQ(handed.text.size(), 10 * (size + 2));
    // One hand-off per chunk of text: the work is linear in the text, whatever the appends.
    expectFullChunks(handed, kChunk);
  }
}

TEST(ChunkedAppender, FlushesNothingWhenEmptyAndCarriesOnAfterAFlush) {
  Handed handed;
  ChunkedAppender sink(handed.drain(), 8);
  sink.flush();
  EXPECT_TRUE(handed.chunks.empty());
  sink.put(std::string_view("abc"));
  sink.flush();
  sink.flush();
  sink.put(std::string_view("defghijklm"));
  sink.flush();
  EXPECT_EQ(handed.text, "abcdefghijklm");
  EXPECT_EQ(handed.chunks, (std::vector<size_t>{3, 8, 2}));
}

TEST(ChunkedAppender, AFailingDrainStopsTheAppendThatFilledTheChunk) {
  // The failure leaves put() at once, in the middle of the text: nothing after it is handed on.
  std::string handed;
  int calls = 0;
  ChunkedAppender sink(
      [&](std::string_view chunk) {
        if (++calls == 2) {
          throw std::runtime_error("out.json: No space left on device");
        }
        handed.append(chunk);
      },
      4);
  expectThrowsWithMessage<std::runtime_error>(
      [&] { sink.put(std::string_view("0123456789abcdef")); }, "out.json: No space left on device");
  EXPECT_EQ(handed, "0123");
  EXPECT_EQ(calls, 2);
  // The chunk that was not taken is still held, so a retry would not lose it.
  EXPECT_EQ(sink.held(), 4u);
}

TEST(ChunkedAppender, RefusesAChunkOfNoBytes) {
  expectThrowsWithMessage<std::invalid_argument>(
      [] { ChunkedAppender sink([](std::string_view) {}, 0); },
      "a chunk of 0 bytes cannot hold any text");
}

TEST(ChunkedAppender, CarriesTheJsonWriterSplittingEscapesAndNumbers) {
  // Chunk edges inside "\u003c" and inside a number: the text is the same as in one piece.
  zel::utils::json::CustomJsonWriter<FastAppender> whole;
  Handed handed;
  zel::utils::json::CustomJsonWriter<ChunkedAppender> split{ChunkedAppender(handed.drain(), 3)};
  for (std::string_view s : {"a<b", "\x01\x02", "", "&&&&"}) {
    whole.putString(s);
    split.putString(s);
    whole.put(uint64_t{18446744073709551615u});
    split.put(uint64_t{18446744073709551615u});
  }
  split.output.flush();
  EXPECT_EQ(handed.text, whole.output.get());
  EXPECT_EQ(handed.text.substr(0, 9), R"("a\u003cb)");
  expectFullChunks(handed, 3);
}
