// The decompressor with ISA-L against the decompressor with zlib, on the same
// streams cut into the same blocks: the differences allowed are those that
// compare_inflate_runs describes, and nothing else.
#include <zlib.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/make_shared.hpp>

#include "stream/stream_gz.h"
#include "support/inflate_diff.h"
#include "support/test_support.h"

using namespace velkor::library;
using velkor::testkit::compare_inflate_runs;
using velkor::testkit::cut_blocks;
using velkor::testkit::hex;
using velkor::testkit::inflate_run_t;
using velkor::testkit::run_inflate;

namespace {

const char cut_short[] = "Warning: The compressed stream ended before its end; the input was cut short.\n";
const char data_error[] = "Error: deflate() returned Z_DATA_ERROR.\n";

// ---- Fixtures -------------------------------------------------------------------

std::string deflate_with(const std::string& payload, int level, int strategy) {
  z_stream z = z_stream();
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, 15, 8, strategy), Z_OK);
  std::string out(deflateBound(&z, payload.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
  z.avail_in = static_cast<uInt>(payload.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string deflate_default(const std::string& payload) {
  return deflate_with(payload, Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY);
}

// Records in a text format with numbers: the kind of payload the files hold,
// compressible but not trivially.
std::string records(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out;
  while (out.size() < size) {
    out += "pc=" + std::to_string(gen() % 4096) + " addr=" + std::to_string(gen() % 100000) +
           " t=" + std::to_string(out.size()) + "\n";
  }
  out.resize(size);
  return out;
}

// A small alphabet: short codes that ISA-L decodes several at a time.
std::string small_alphabet(size_t size, unsigned seed, int letters) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>('a' + gen() % letters);
  return out;
}

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string out(size, '\0');
  for (char& c : out) c = static_cast<char>(gen());
  return out;
}

struct stream_case_t {
  std::string name;
  std::string payload;
  std::string stream;
};

// Payloads of every kind and size, each compressed in several ways; most run
// well past the opening that zlib inflates alone.
std::vector<stream_case_t> valid_streams() {
  struct payload_t {
    const char* name;
    std::string bytes;
  } payloads[] = {
      {"empty", ""},
      {"short text", "hello, hello, hello"},
      {"records", records(300000, 1)},
      {"two letters", small_alphabet(200000, 2, 2)},
      {"eight letters", small_alphabet(120000, 3, 8)},
      {"random", random_bytes(100000, 4)},
      {"zeros", std::string(1 << 20, '\0')},
  };
  struct method_t {
    const char* name;
    int level, strategy;
  } methods[] = {
      {"default", Z_DEFAULT_COMPRESSION, Z_DEFAULT_STRATEGY},
      {"stored", 0, Z_DEFAULT_STRATEGY},
      {"fast", 1, Z_DEFAULT_STRATEGY},
      {"huffman only", 6, Z_HUFFMAN_ONLY},
      {"fixed codes", 6, Z_FIXED},
      {"runs", 9, Z_RLE},
  };
  std::vector<stream_case_t> cases;
  for (const payload_t& p : payloads) {
    for (const method_t& m : methods) {
      cases.push_back({std::string(p.name) + ", " + m.name, p.bytes,
                       deflate_with(p.bytes, m.level, m.strategy)});
    }
  }
  return cases;
}

struct block_plan_t {
  const char* name;
  uint32_t seed;
  size_t max_block;
};

const block_plan_t block_plans[] = {
    {"1..7", 1, 7},
    {"1..300", 2, 300},
    {"1..4096", 3, 4096},
    {"1..20000", 4, 20000},
};

// Runs both engines and checks the comparison; returns the ISA-L run.
inflate_run_t compare(const std::vector<std::string>& blocks) {
  inflate_run_t zlib = run_inflate(inflate_engine_zlib, blocks);
  inflate_run_t isal = run_inflate(inflate_engine_isal, blocks);
  EXPECT_EQ(compare_inflate_runs(zlib, isal), "");
  return isal;
}

class GzEngines : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!inflate_engine_available(inflate_engine_isal)) GTEST_SKIP() << "built without ISA-L";
  }
};

// ---- Valid streams ------------------------------------------------------------------

TEST_F(GzEngines, ValidStreamsGiveTheSameBytesInAnyBlocks) {
  for (const stream_case_t& c : valid_streams()) {
    for (const block_plan_t& plan : block_plans) {
      if (plan.max_block < 10 && c.stream.size() > 40000) continue;  // slow, adds little
      SCOPED_TRACE(c.name + ", blocks " + plan.name);
      inflate_run_t isal = compare(cut_blocks(c.stream, plan.seed, plan.max_block));
      EXPECT_EQ(isal.joined(), c.payload);
      EXPECT_EQ(isal.flush_warnings, "");
    }
  }
}

TEST_F(GzEngines, BytesAfterTheEndAreIgnored) {
  std::string payload = records(100000, 5);
  std::string stream = deflate_default(payload);
  std::string second = deflate_default("second");
  struct {
    const char* name;
    std::string bytes;
    uint64_t trailing;
  } cases[] = {
      {"garbage", stream + "garbage after the end", 21},
      {"a second stream", stream + second, second.size()},
      {"a long tail", stream + random_bytes(20000, 6), 20000},
  };
  for (const auto& c : cases) {
    for (const block_plan_t& plan : block_plans) {
      SCOPED_TRACE(std::string(c.name) + ", blocks " + plan.name);
      inflate_run_t isal = compare(cut_blocks(c.bytes, plan.seed, plan.max_block));
      EXPECT_EQ(isal.joined(), payload);
      EXPECT_FALSE(isal.damaged());
      EXPECT_EQ(isal.flush_warnings, "");
      EXPECT_EQ(isal.trailing, c.trailing);
    }
  }
}

// ---- Streams cut short ---------------------------------------------------------------

TEST_F(GzEngines, StreamsCutShortWarnAtTheFlush) {
  for (const stream_case_t& c : valid_streams()) {
    if (c.stream.size() < 8) continue;
    for (size_t cut : {size_t(1), size_t(2), c.stream.size() / 3, c.stream.size() - 5,
                       c.stream.size() - 1}) {
      SCOPED_TRACE(c.name + ", cut at " + std::to_string(cut));
      inflate_run_t isal = compare(cut_blocks(c.stream.substr(0, cut), 7, 4096));
      EXPECT_EQ(isal.flush_warnings, cut_short);
      EXPECT_EQ(c.payload.compare(0, isal.joined().size(), isal.joined()), 0);
    }
  }
}

// ---- Damaged streams -------------------------------------------------------------

TEST_F(GzEngines, FlippedBitsAgreeAsFarAsAllowed) {
  std::vector<stream_case_t> streams = valid_streams();
  std::mt19937 gen(8);
  for (const stream_case_t& c : streams) {
    if (c.stream.size() < 16) continue;
    for (int round = 0; round < 12; ++round) {
      std::string damaged = c.stream;
      int flips = 1 + round % 3;
      for (int f = 0; f < flips; ++f) damaged[2 + gen() % (damaged.size() - 2)] ^= 1 << gen() % 8;
      SCOPED_TRACE(c.name + ", round " + std::to_string(round));
      compare(cut_blocks(damaged, round, round % 2 ? 4096 : 500));
    }
  }
}

// Everything the stream's header decides, and a bad checksum after a long
// stream: both engines answer exactly alike, block after block.
TEST_F(GzEngines, HeaderAndTrailerFaultsAreReportedAlike) {
  std::string long_stream = deflate_default(records(200000, 9));
  std::string bad_adler = long_stream;
  bad_adler[bad_adler.size() - 2] ^= 0x40;
  std::string raw = long_stream.substr(2);
  struct {
    const char* name;
    std::string bytes;
    std::string first_warnings;
  } cases[] = {
      {"preset dictionary", hex("78 bb 00 00 00 01 4b 04 00"),
       "Error: deflate() returned Z_NEED_DICT.\n"},
      {"bad check bits", hex("78 9d 4b 04 00 00 62 00 62"), data_error},
      {"32 KiB window exceeded (CINFO 8)", hex("88 98") + long_stream.substr(2), data_error},
      {"method 7", hex("77 85 4b 04 00"), data_error},
      {"gzip", hex("1f 8b 08 00 00 00 00 00 00 03 4b 04 00"), data_error},
      {"raw deflate", raw, data_error},
      {"bad checksum, long stream", bad_adler, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    inflate_run_t zlib = run_inflate(inflate_engine_zlib, cut_blocks(c.bytes, 10, 4096));
    inflate_run_t isal = run_inflate(inflate_engine_isal, cut_blocks(c.bytes, 10, 4096));
    EXPECT_EQ(compare_inflate_runs(zlib, isal), "");
    ASSERT_FALSE(isal.calls.empty());
    EXPECT_EQ(isal.calls[0].warnings, c.first_warnings);
    EXPECT_TRUE(isal.damaged());
    EXPECT_EQ(isal.calls.back().warnings, isal.calls.back().status == stream_status_error
                                              ? (c.first_warnings.empty() ? data_error
                                                                          : c.first_warnings)
                                              : "");
  }
}

// The bad checksum of a long stream is found by ISA-L, which leads there: it
// hands on exactly what zlib hands on and fails in the same call.
TEST_F(GzEngines, BadChecksumAfterTheOpeningFailsInTheSameCall) {
  std::string stream = deflate_default(records(500000, 11));
  stream[stream.size() - 1] ^= 1;
  std::vector<std::string> blocks = cut_blocks(stream, 12, 4096);
  inflate_run_t zlib = run_inflate(inflate_engine_zlib, blocks);
  inflate_run_t isal = run_inflate(inflate_engine_isal, blocks);
  EXPECT_EQ(compare_inflate_runs(zlib, isal), "");
  ASSERT_EQ(isal.calls.size(), zlib.calls.size());
  for (size_t k = 0; k < zlib.calls.size(); ++k) {
    EXPECT_EQ(isal.calls[k].status, zlib.calls[k].status) << "call " << k;
  }
  EXPECT_EQ(isal.calls.back().warnings, data_error);
}

// ---- A successor that stops ISA-L -----------------------------------------------------

// Past the opening ISA-L leads. A successor's status comes back at once with
// the pieces before it, and the freed block is never read again (the
// sanitizer build would catch it). Damage found behind the stop in the same
// block is reported by the next call; a stream whose end was found there is
// over.
TEST_F(GzEngines, SuccessorStatusAfterTheOpening) {
  std::string payload = records(150000, 13);
  std::string stream = deflate_default(payload);
  std::string damaged = stream;
  damaged[damaged.size() - 1] ^= 1;  // the checksum
  const size_t opening_bytes = stream.size() * 2 / 5;
  for (stream_status_t status : {stream_status_done, stream_status_error}) {
    for (const std::string* bytes : {&stream, &damaged}) {
      SCOPED_TRACE(std::to_string(status) + (bytes == &stream ? ", intact" : ", damaged"));
      auto warnings = boost::make_shared<warning_consumer_string_t>();
      velkor::testkit::recording_stage_t sink;
      stream_gz_decompress_t gunzip(&sink, warnings, inflate_engine_isal);
      ASSERT_EQ(gunzip.process_data(bytes->data(), opening_bytes), stream_status_ok);
      size_t before = sink.blocks.size();
      ASSERT_GE(sink.joined().size(), velkor::testkit::inflate_opening_size);
      sink.fail_at_block = static_cast<int>(before) + 3;
      sink.status_for_block = status;
      std::unique_ptr<std::string> rest(new std::string(bytes->substr(opening_bytes)));
      EXPECT_EQ(gunzip.process_data(rest->data(), rest->size()), status);
      rest.reset();
      ASSERT_EQ(sink.blocks.size(), before + 4);
      for (size_t i = before; i < sink.blocks.size(); ++i) EXPECT_EQ(sink.blocks[i].size(), 16384u);
      EXPECT_EQ(payload.compare(0, sink.joined().size(), sink.joined()), 0);
      EXPECT_EQ(warnings->get_messages(), "");
      sink.fail_at_block = -1;
      bool intact = bytes == &stream;
      EXPECT_EQ(gunzip.process_data("\x03\x00", 2), intact ? stream_status_ok : stream_status_error);
      EXPECT_EQ(warnings->get_messages(), intact ? "" : data_error);
      EXPECT_EQ(sink.blocks.size(), before + 4);
      EXPECT_EQ(gunzip.flush(), stream_status_ok);
      EXPECT_EQ(warnings->get_messages(), "");
    }
  }
}

// ---- Engine choice ------------------------------------------------------------------

TEST(GzEngineChoice, DefaultIsTheFasterEngineTheBuildHas) {
  EXPECT_TRUE(inflate_engine_available(inflate_engine_zlib));
  EXPECT_TRUE(inflate_engine_available(inflate_engine_default()));
  EXPECT_EQ(inflate_engine_default(), inflate_engine_available(inflate_engine_isal)
                                          ? inflate_engine_isal
                                          : inflate_engine_zlib);
  if (!inflate_engine_available(inflate_engine_isal)) {
    velkor::testkit::recording_stage_t sink;
    EXPECT_THROW(stream_gz_decompress_t(&sink, boost::make_shared<warning_consumer_null_t>(),
                                        inflate_engine_isal),
                 stream_exception_t);
  }
}

}  // namespace
