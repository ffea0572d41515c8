#include "stream/stream_gz.h"

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "support/test_support.h"
#include "support/zlib_reference.h"

using namespace velkor::library;
using velkor::testkit::feed;
using velkor::testkit::feed_random;
using velkor::testkit::hex;
using velkor::testkit::recording_stage_t;
using velkor::testkit::to_hex;
using velkor::testkit::zlib_deflate;
using velkor::testkit::zlib_inflate;

namespace {

// ---- Fixtures ---------------------------------------------

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  return bytes;
}

// Text with plenty of repetition, but not trivially so.
std::string text_bytes(size_t size) {
  std::string bytes;
  for (size_t i = 0; bytes.size() < size; ++i) bytes += "line " + std::to_string(i % 977) + "\n";
  bytes.resize(size);
  return bytes;
}

size_t largest_block(const recording_stage_t& stage) {
  size_t largest = 0;
  for (const std::string& b : stage.blocks) largest = std::max(largest, b.size());
  return largest;
}

struct input_case_t {
  const char* name;
  std::string bytes;
};

std::vector<input_case_t> round_trip_inputs() {
  return {
      {"empty", ""},
      {"one byte", "a"},
      {"text", text_bytes(300000)},
      {"random", random_bytes(70001, 7)},
      {"zeros", std::string(200000, '\0')},
  };
}

// ---- Compression ---------------------------------------------------------------

// Compresses `bytes` in blocks of `block` bytes (0: random sizes up to 5000),
// flushes and destroys the compressor; returns what reached next.
std::string compress_through_stage(const std::string& bytes, size_t block,
                                   recording_stage_t* sink) {
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  {
    stream_gz_compress_t gz(sink, warnings);
    stream_status_t status = block ? feed(&gz, bytes, block) : feed_random(&gz, bytes, 11, 5000);
    EXPECT_EQ(status, stream_status_ok);
  }
  EXPECT_EQ(warnings->get_messages(), "");
  return sink->joined();
}

TEST(GzCompress, RoundTripsThroughZlibAndTheDecompressor) {
  for (const input_case_t& c : round_trip_inputs()) {
    for (size_t block : {size_t(1), size_t(7), size_t(4096), size_t(4097), size_t(0)}) {
      if (block == 1 && c.bytes.size() > 100000) continue;  // slow, adds nothing
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
      recording_stage_t sink;
      std::string compressed = compress_through_stage(c.bytes, block, &sink);
      EXPECT_LE(largest_block(sink), 4096u);
      EXPECT_EQ(sink.flushes, 1);
      bool complete = false;
      EXPECT_EQ(zlib_inflate(compressed, &complete), c.bytes);
      EXPECT_TRUE(complete);

      // And back through the decompressor, in odd block sizes.
      for (size_t back : {size_t(1), size_t(3), size_t(4096)}) {
        if (back == 1 && compressed.size() > 20000) continue;
        auto warnings = boost::make_shared<warning_consumer_string_t>();
        recording_stage_t out;
        stream_gz_decompress_t gunzip(&out, warnings);
        EXPECT_EQ(feed(&gunzip, compressed, back), stream_status_ok);
        EXPECT_EQ(out.joined(), c.bytes);
        EXPECT_LE(largest_block(out), 16384u);
        EXPECT_EQ(out.flushes, 1);
        EXPECT_EQ(warnings->get_messages(), "");
      }
    }
  }
}

TEST(GzCompress, EmptyInputGivesCompleteStream) {
  // Header, the empty stored block of the flush, the final block, Adler-32.
  recording_stage_t sink;
  EXPECT_EQ(compress_through_stage("", 4096, &sink), hex("78 9c 00 00 00 ff ff 03 00 00 00 00 01"));
}

TEST(GzCompress, WithoutFlushTheDestructorStillFinishes) {
  recording_stage_t sink;
  std::string bytes = text_bytes(10000);
  {
    stream_gz_compress_t gz(&sink, boost::make_shared<warning_consumer_null_t>());
    EXPECT_EQ(gz.process_data(bytes.data(), bytes.size()), stream_status_ok);
  }
  EXPECT_EQ(sink.flushes, 0);
  EXPECT_EQ(zlib_inflate(sink.joined()), bytes);
}

TEST(GzCompress, FlushMakesEverythingSoFarReadable) {
  recording_stage_t sink;
  stream_gz_compress_t gz(&sink, boost::make_shared<warning_consumer_null_t>());
  EXPECT_EQ(gz.process_data("hello, ", 7), stream_status_ok);
  EXPECT_EQ(gz.process_data("world", 5), stream_status_ok);
  EXPECT_EQ(gz.flush(), stream_status_ok);
  std::string so_far = sink.joined();
  EXPECT_EQ(so_far.substr(so_far.size() - 4), hex("00 00 ff ff"));  // byte boundary
  bool complete = true;
  EXPECT_EQ(zlib_inflate(so_far, &complete), "hello, world");
  EXPECT_FALSE(complete);
  EXPECT_EQ(sink.flushes, 1);

  // The successor's flush status comes back unchanged.
  sink.flush_status = stream_status_done;
  EXPECT_EQ(gz.flush(), stream_status_done);
}

TEST(GzCompress, OneMegabyteBlockLeavesInPiecesOf4096) {
  std::string bytes = random_bytes(1 << 20, 3);
  recording_stage_t sink;
  {
    stream_gz_compress_t gz(&sink, boost::make_shared<warning_consumer_null_t>());
    EXPECT_EQ(gz.process_data(bytes.data(), bytes.size()), stream_status_ok);
    // Incompressible: the block alone fills some 256 whole buffers (zlib
    // keeps the last few kilobytes back until the end).
    ASSERT_GE(sink.blocks.size(), 250u);
    for (size_t i = 0; i + 1 < sink.blocks.size(); ++i) EXPECT_EQ(sink.blocks[i].size(), 4096u);
  }
  EXPECT_LE(largest_block(sink), 4096u);
  EXPECT_EQ(zlib_inflate(sink.joined()), bytes);
}

// ---- Decompression -------------------------------------------------------------

TEST(GzDecompress, CompressibleBlockLeavesInPiecesOf16384) {
  std::string bytes(1 << 20, '\0');
  std::string compressed = zlib_deflate(bytes);
  ASSERT_LE(compressed.size(), 4096u);
  recording_stage_t sink;
  stream_gz_decompress_t gunzip(&sink, boost::make_shared<warning_consumer_null_t>());
  EXPECT_EQ(gunzip.process_data(compressed.data(), compressed.size()), stream_status_ok);
  ASSERT_EQ(sink.blocks.size(), 64u);
  for (const std::string& b : sink.blocks) EXPECT_EQ(b, std::string(16384, '\0'));
}

TEST(GzDecompress, EmptyBlockAndFlushPassNothingButTheFlush) {
  recording_stage_t sink;
  sink.flush_status = stream_status_done;
  stream_gz_decompress_t gunzip(&sink, boost::make_shared<warning_consumer_null_t>());
  EXPECT_EQ(gunzip.process_data("", 0), stream_status_ok);
  EXPECT_EQ(gunzip.flush(), stream_status_done);
  EXPECT_TRUE(sink.blocks.empty());
  EXPECT_EQ(sink.flushes, 1);
}

TEST(GzDecompress, CorruptInputIsReportedOnce) {
  std::string good = zlib_deflate("some payload");
  std::string bad_adler = good;
  bad_adler[bad_adler.size() - 1] ^= 1;
  struct {
    const char* name;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"not a zlib header", hex("00 01 02 03 04 05"), "Error: deflate() returned Z_DATA_ERROR.\n"},
      {"gzip header", hex("1f 8b 08 00 00 00 00 00"), "Error: deflate() returned Z_DATA_ERROR.\n"},
      {"bad checksum", bad_adler, "Error: deflate() returned Z_DATA_ERROR.\n"},
      {"preset dictionary", hex("78 bb 00 00 00 01 4b 04 00"),
       "Error: deflate() returned Z_NEED_DICT.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    recording_stage_t sink;
    stream_gz_decompress_t gunzip(&sink, warnings);
    EXPECT_EQ(gunzip.process_data(c.bytes.data(), c.bytes.size()), stream_status_error);
    EXPECT_EQ(warnings->get_messages(), c.message);
    // A caller that goes on anyway is told again; nothing breaks.
    EXPECT_EQ(gunzip.process_data("xyz", 3), stream_status_error);
  }
}

TEST(GzDecompress, BytesAfterTheStreamEndAreIgnored) {
  std::string compressed = zlib_deflate("payload");
  struct {
    const char* name;
    std::vector<std::string> blocks;
  } cases[] = {
      {"trailing bytes in the same block", {compressed + "garbage"}},
      {"a second stream in the same block", {compressed + zlib_deflate("second")}},
      {"trailing bytes in later blocks", {compressed, "more", std::string(100, 'x')}},
      {"end split across blocks",
       {compressed.substr(0, compressed.size() - 2),
        compressed.substr(compressed.size() - 2) + "zz", "later"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    recording_stage_t sink;
    stream_gz_decompress_t gunzip(&sink, warnings);
    for (const std::string& b : c.blocks) {
      EXPECT_EQ(gunzip.process_data(b.data(), b.size()), stream_status_ok);
    }
    EXPECT_EQ(gunzip.flush(), stream_status_ok);
    EXPECT_EQ(sink.joined(), "payload");
    EXPECT_EQ(sink.flushes, 1);
    EXPECT_EQ(warnings->get_messages(), "");
  }
}

TEST(GzDecompress, FlushBeforeTheStreamEndWarnsOfACutInput) {
  std::string compressed = zlib_deflate(std::string(5000, 'a') + "payload");
  struct {
    const char* name;
    std::string bytes;
    const char* warnings;
  } cases[] = {
      {"complete", compressed, ""},
      {"nothing at all", "", ""},
      {"cut in the checksum", compressed.substr(0, compressed.size() - 1),
       "Warning: The compressed stream ended before its end; the input was cut short.\n"},
      {"only the zlib header", compressed.substr(0, 2),
       "Warning: The compressed stream ended before its end; the input was cut short.\n"},
      {"corrupt (reported once, as an error)", hex("00 01 02 03"),
       "Error: deflate() returned Z_DATA_ERROR.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    recording_stage_t sink;
    stream_gz_decompress_t gunzip(&sink, warnings);
    gunzip.process_data(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(gunzip.flush(), stream_status_ok);
    EXPECT_EQ(sink.flushes, 1);
    EXPECT_EQ(warnings->get_messages(), c.warnings);
  }
}

// ---- A successor that stops the chain ----------------------------------------

// The caller's block dies right after the call that the successor stopped;
// later calls and the compressor's finishing step must not read it (the
// sanitizer build catches a read of the freed block) nor trip an assertion.
TEST(GzStages, SuccessorStatusMidBlockDropsTheRest) {
  for (stream_status_t status : {stream_status_done, stream_status_error}) {
    SCOPED_TRACE(status);
    auto warnings = boost::make_shared<warning_consumer_string_t>();

    recording_stage_t deflated;
    deflated.fail_at_block = 1;
    deflated.status_for_block = status;
    {
      stream_gz_compress_t gz(&deflated, warnings);
      std::unique_ptr<std::string> block(new std::string(random_bytes(100000, 5)));
      EXPECT_EQ(gz.process_data(block->data(), block->size()), status);
      EXPECT_EQ(deflated.blocks.size(), 2u);  // stopped at the second piece
      block.reset();
      gz.process_data("abc", 3);
      gz.flush();
    }
    EXPECT_EQ(warnings->get_messages(), "");  // a successor's status is not reported

    recording_stage_t inflated;
    inflated.fail_at_block = 0;
    inflated.status_for_block = status;
    {
      stream_gz_decompress_t gunzip(&inflated, warnings);
      std::unique_ptr<std::string> block(new std::string(zlib_deflate(text_bytes(1 << 20))));
      EXPECT_EQ(gunzip.process_data(block->data(), block->size()), status);
      EXPECT_EQ(inflated.blocks.size(), 1u);
      block.reset();
      gunzip.process_data("", 0);
      gunzip.process_data("\x03\x00", 2);
    }
  }
}

}  // namespace
