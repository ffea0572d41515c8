#include "stream/stream_container.h"

#include <sstream>
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

// ---- Fixtures ------------------------------------------------------------------

const std::string magic = "VELKOR";

stream_container_header_t make_header(int version, int product, int data_type, int compression) {
  stream_container_header_t h;
  h.version = static_cast<uint8_t>(version);
  h.product = static_cast<stream_container_product_t>(product);
  h.data_type = static_cast<stream_container_data_type_t>(data_type);
  h.compression = static_cast<stream_container_compression_t>(compression);
  return h;
}

// The inflated bytes of exactly one complete zlib stream.
std::string inflate_whole(const std::string& bytes) {
  bool complete = false;
  size_t used = 0;
  std::string out = zlib_inflate(bytes, &complete, &used);
  EXPECT_TRUE(complete);
  EXPECT_EQ(used, bytes.size());
  return out;
}

std::string payload_text(size_t size) {
  std::string bytes;
  for (size_t i = 0; bytes.size() < size; ++i) bytes += "event " + std::to_string(i) + ";";
  bytes.resize(size);
  return bytes;
}

std::string printed(const stream_container_header_t& h) {
  std::ostringstream out;
  out << h;
  return out.str();
}

// ---- Names and the text block --------------------------------------------------

TEST(ContainerHeader, NamesAndUnknownValues) {
  struct {
    int value;
    const char* product;
    const char* compression;
  } cases[] = {
      {0, "Pacemark", "None"},        {1, "Loomview", "Deflate"},         {2, "Glintly", "bzip2"},
      {3, "Pacemark 1.2", "Unknown"}, {255, "Keldo Internal", "Unknown"}, {7, "Unknown", "Unknown"},
      {-1, "Unknown", "Unknown"},     {256, "Unknown", "Unknown"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_STREQ(stream_container_product_name(static_cast<stream_container_product_t>(c.value)),
                 c.product);
    EXPECT_STREQ(
        stream_container_compression_name(static_cast<stream_container_compression_t>(c.value)),
        c.compression);
    EXPECT_STREQ(
        stream_container_data_type_name(static_cast<stream_container_data_type_t>(c.value)),
        c.value == 0 ? "Binary samples" : "Unknown");
  }
}

TEST(ContainerHeader, TextBlock) {
  EXPECT_EQ(printed(stream_container_header_t()),
            "Container:\n"
            "  Version: 1\n"
            "  Product: Pacemark(0)\n"
            "  Data type: Binary samples(0)\n"
            "  Compression: Deflate(1)\n");
  EXPECT_EQ(printed(make_header(1, 255, 0, 0)),
            "Container:\n"
            "  Version: 1\n"
            "  Product: Keldo Internal(255)\n"
            "  Data type: Binary samples(0)\n"
            "  Compression: None(0)\n");
  EXPECT_EQ(printed(make_header(2, 7, 9, -3)),
            "Container:\n"
            "  Version: 2\n"
            "  Product: Unknown(7)\n"
            "  Data type: Unknown(9)\n"
            "  Compression: Unknown(-3)\n");
  EXPECT_EQ(printed(make_header(0, 1, 0, 1)), "Container:\n  Version: 0\n");
}

// ---- Writer --------------------------------------------------------------------

TEST(ContainerWriter, HeaderAndPayload) {
  const std::string payload = payload_text(10000);
  struct {
    const char* name;
    stream_container_header_t header;
    std::string header_bytes;  // what precedes the payload
    bool deflated;
  } cases[] = {
      {"raw", make_header(1, 255, 0, 0), magic + hex("000c 01 ff 00 00"), false},
      {"deflate", make_header(1, 1, 0, 1), magic + hex("000c 01 01 00 01"), true},
      {"odd fields keep their low byte", make_header(1, 0x1234, 0x0107, 0),
       magic + hex("000c 01 34 07 00"), false},
      {"legacy", make_header(0, 255, 0, 1), "", true},
      {"legacy asking for no compression", make_header(0, 255, 0, 0), "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    recording_stage_t sink;
    {
      stream_container_writer_t writer(c.header, &sink,
                                       boost::make_shared<warning_consumer_null_t>());
      EXPECT_EQ(sink.joined(), c.header_bytes);  // one block, before any payload
      EXPECT_LE(sink.blocks.size(), 1u);
      EXPECT_EQ(writer.get_header(),
                c.header.version == 0 ? stream_container_header_t() : c.header);
      EXPECT_EQ(feed_random(&writer, payload, 3, 5000), stream_status_ok);
      EXPECT_EQ(sink.flushes, 1);
    }
    std::string out = sink.joined();
    ASSERT_EQ(out.substr(0, c.header_bytes.size()), c.header_bytes);
    std::string body = out.substr(c.header_bytes.size());
    EXPECT_EQ(c.deflated ? inflate_whole(body) : body, payload);
  }
}

TEST(ContainerWriter, EmptyPayloadStillGetsHeaderAndStream) {
  recording_stage_t raw, deflated;
  {
    stream_container_writer_t w(make_header(1, 255, 0, 0), &raw,
                                boost::make_shared<warning_consumer_null_t>());
  }
  {
    stream_container_writer_t w(make_header(1, 255, 0, 1), &deflated,
                                boost::make_shared<warning_consumer_null_t>());
  }
  EXPECT_EQ(to_hex(raw.joined()), to_hex(magic) + " 00 0c 01 ff 00 00");
  EXPECT_EQ(inflate_whole(deflated.joined().substr(12)), "");
}

TEST(ContainerWriter, Refusals) {
  struct {
    const char* name;
    int compression;
    bool sink_refuses;
    const char* message;
    size_t bytes_written;
  } cases[] = {
      {"bzip2", 2, false, "BZip2 compression unsupported.", 12},
      {"unknown compression", 9, false, "Illegal compression specified.", 12},
      {"negative compression", -1, false, "Illegal compression specified.", 12},
      {"sink refuses the header", 0, true, "Failed to write container header.", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    recording_stage_t sink;
    if (c.sink_refuses) {
      sink.fail_at_block = 0;
      sink.status_for_block = stream_status_error;
    }
    try {
      stream_container_writer_t writer(make_header(1, 255, 0, c.compression), &sink,
                                       boost::make_shared<warning_consumer_null_t>());
      ADD_FAILURE() << "expected stream_exception_t";
    } catch (const stream_exception_t& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(sink.joined().size(), c.bytes_written);
  }
}

// ---- Reader --------------------------------------------------------------------

struct reader_run_t {
  stream_status_t status;
  std::vector<std::string> blocks;
  int flushes;
  stream_container_header_t header;
  std::string warnings;
};

reader_run_t read_all(const std::string& bytes, size_t block) {
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  recording_stage_t sink;
  reader_run_t run;
  {
    stream_container_reader_t reader(&sink, warnings);
    run.status = block ? feed(&reader, bytes, block) : feed_random(&reader, bytes, 17, 300);
    run.header = reader.get_header();
  }
  run.blocks = sink.blocks;
  run.flushes = sink.flushes;
  run.warnings = warnings->get_messages();
  return run;
}

std::string joined(const std::vector<std::string>& blocks) {
  std::string all;
  for (const std::string& b : blocks) all += b;
  return all;
}

TEST(ContainerReader, HeaderAnyBlockSplitAndPayload) {
  const std::string payload = payload_text(9000);
  struct {
    const char* name;
    std::string bytes;
    stream_container_header_t header;
    std::string payload;
  } cases[] = {
      {"raw", magic + hex("000c 01 ff 00 00") + payload, make_header(1, 255, 0, 0), payload},
      {"deflate", magic + hex("000c 01 01 00 01") + zlib_deflate(payload), make_header(1, 1, 0, 1),
       payload},
      {"header only", magic + hex("000c 01 03 00 00"), make_header(1, 3, 0, 0), ""},
      {"legacy: no magic, inflated from the first byte", zlib_deflate(payload),
       stream_container_header_t(), payload},
      {"version 0 header becomes the default header",
       magic + hex("000c 00 02 00 00") + zlib_deflate(payload), stream_container_header_t(),
       payload},
      {"header length 10: bytes 10 and 11 are payload too", magic + hex("000a 01 01 41 00") + "xyz",
       make_header(1, 1, 0x41, 0), hex("41 00") + "xyz"},
      {"header length 0: the whole header is payload", magic + hex("0000 01 01 00 00") + "xyz",
       make_header(1, 1, 0, 0), magic + hex("0000 01 01 00 00") + "xyz"},
      {"header length 40 skips nothing more", magic + hex("0028 01 01 00 00") + "xyz",
       make_header(1, 1, 0, 0), "xyz"},
  };
  for (const auto& c : cases) {
    for (size_t block : {size_t(1), size_t(5), size_t(12), size_t(13), size_t(4096), size_t(0)}) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
      reader_run_t run = read_all(c.bytes, block);
      EXPECT_EQ(run.status, stream_status_ok);
      EXPECT_EQ(run.header, c.header) << printed(run.header);
      EXPECT_EQ(joined(run.blocks), c.payload);
      EXPECT_EQ(run.flushes, 1);
      EXPECT_EQ(run.warnings, "");
    }
  }
}

TEST(ContainerReader, CollectsQuietlyThenForwardsWithoutCopying) {
  const std::string bytes = magic + hex("000c 01 ff 00 00") + "12345678";
  recording_stage_t sink;
  stream_container_reader_t reader(&sink, boost::make_shared<warning_consumer_null_t>());
  for (size_t i = 0; i < 11; ++i) {
    EXPECT_EQ(reader.process_data(&bytes[i], 1), stream_status_ok);
    EXPECT_EQ(reader.get_header(), stream_container_header_t());
  }
  EXPECT_TRUE(sink.blocks.empty());
  // The 12th header byte arrives with 8 payload bytes: one block of 8.
  EXPECT_EQ(reader.process_data(&bytes[11], 9), stream_status_ok);
  EXPECT_EQ(sink.blocks, std::vector<std::string>{"12345678"});
  EXPECT_EQ(reader.get_header(), make_header(1, 255, 0, 0));
  EXPECT_EQ(reader.process_data("tail", 4), stream_status_ok);
  EXPECT_EQ(sink.blocks.back(), "tail");
}

// A header the reader cannot act on stops it, keeps what was decoded, reports
// nothing, and passes nothing on, not even later blocks.
TEST(ContainerReader, RefusedHeaders) {
  struct {
    const char* name;
    std::string header;
    stream_container_header_t decoded;
    const char* refusal;
  } cases[] = {
      {"version 2", magic + hex("000c 02 01 00 01"), make_header(2, 1, 0, 1),
       "Container version 2 is not supported."},
      {"version 255", magic + hex("000c ff 03 05 00"), make_header(255, 3, 5, 0),
       "Container version 255 is not supported."},
      {"bzip2", magic + hex("000c 01 01 00 02"), make_header(1, 1, 0, 2),
       "Compression bzip2(2) is not supported."},
      {"unknown compression", magic + hex("000c 01 01 00 07"), make_header(1, 1, 0, 7),
       "Compression Unknown(7) is not supported."},
  };
  for (const auto& c : cases) {
    for (size_t block : {size_t(1), size_t(4096)}) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
      auto warnings = boost::make_shared<warning_consumer_string_t>();
      recording_stage_t sink;
      stream_container_reader_t reader(&sink, warnings);
      EXPECT_EQ(feed(&reader, c.header + "payload", block, /*flush=*/false), stream_status_error);
      EXPECT_EQ(reader.get_header(), c.decoded) << printed(reader.get_header());
      EXPECT_EQ(reader.process_data("more", 4), stream_status_error);
      EXPECT_TRUE(sink.blocks.empty());
      EXPECT_EQ(warnings->get_messages(), "");
      EXPECT_EQ(reader.refusal(), c.refusal);
    }
  }
}

// Sees the decoded header; may change it or stop the reader.
class hooked_reader_t : public stream_container_reader_t {
 public:
  hooked_reader_t(stream_t* next, stream_status_t answer, bool force_raw)
      : stream_container_reader_t(next, boost::make_shared<warning_consumer_null_t>()),
        answer_(answer),
        force_raw_(force_raw) {}
  stream_status_t process_header(stream_container_header_t& header) override {
    seen.push_back(header);
    if (force_raw_) header.compression = compression_none;
    return answer_;
  }
  std::vector<stream_container_header_t> seen;

 private:
  stream_status_t answer_;
  bool force_raw_;
};

TEST(ContainerReader, ProcessHeaderHook) {
  const std::string bytes = magic + hex("000c 01 01 00 01") + "not deflated";
  {
    recording_stage_t sink;
    hooked_reader_t reader(&sink, stream_status_ok, /*force_raw=*/true);
    EXPECT_EQ(feed(&reader, bytes, 5), stream_status_ok);
    EXPECT_EQ(reader.seen, std::vector<stream_container_header_t>{make_header(1, 1, 0, 1)});
    EXPECT_EQ(reader.get_header(), make_header(1, 1, 0, 0));
    EXPECT_EQ(sink.joined(), "not deflated");
  }
  {
    recording_stage_t sink;
    hooked_reader_t reader(&sink, stream_status_done, /*force_raw=*/false);
    EXPECT_EQ(reader.process_data(bytes.data(), bytes.size()), stream_status_done);
    EXPECT_EQ(reader.process_data("more", 4), stream_status_done);
    EXPECT_EQ(reader.seen.size(), 1u);
    EXPECT_TRUE(sink.blocks.empty());
  }
}

// Input that starts neither with the container header nor with a zlib
// header is said to be no sample file at all, once, after the inflate stage's
// own error; a damaged legacy stream with a proper zlib header is not.
TEST(ContainerReader, InputThatIsNoSampleFileSaysSo) {
  const char data_error[] = "Error: deflate() returned Z_DATA_ERROR.\n";
  const char not_sample[] =
      "Error: The input is not a sample file: it starts with neither a container header nor a "
      "zlib header.\n";
  struct {
    const char* name;
    std::string bytes;
    std::string warnings;
  } cases[] = {
      {"text", "This is a plain text file, not a recording.\n",
       std::string(data_error) + not_sample},
      {"random bytes", std::string(5000, '\xa5'), std::string(data_error) + not_sample},
      {"zlib header, damaged data", hex("78 9c ff ff ff ff ff ff ff ff ff ff ff ff"), data_error},
      {"raw container with events", magic + hex("000c 01 01 00 00") + "payload", ""},
  };
  for (const auto& c : cases) {
    for (size_t block : {size_t(1), size_t(4096)}) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
      reader_run_t run = read_all(c.bytes, block);
      EXPECT_EQ(run.warnings, c.warnings);
    }
  }
}

// Bytes after the end of a compressed payload are counted, not inflated.
TEST(ContainerReader, CountsBytesAfterTheCompressedPayload) {
  const std::string stream = zlib_deflate("events");
  const struct {
    const char* name;
    std::string bytes;
    uint64_t trailing;
  } cases[] = {
      {"nothing after", magic + hex("000c 01 01 00 01") + stream, 0},
      {"garbage", magic + hex("000c 01 01 00 01") + stream + "garbage", 7},
      {"a second stream", magic + hex("000c 01 01 00 01") + stream + stream, stream.size()},
      {"legacy with garbage", stream + "xy", 2},
      {"raw payload", magic + hex("000c 01 01 00 00") + stream + "garbage", 0},
  };
  for (const auto& c : cases) {
    for (size_t block : {size_t(1), size_t(4096)}) {
      SCOPED_TRACE(std::string(c.name) + ", block " + std::to_string(block));
      auto warnings = boost::make_shared<warning_consumer_string_t>();
      recording_stage_t sink;
      stream_container_reader_t reader(&sink, warnings);
      EXPECT_EQ(feed(&reader, c.bytes, block), stream_status_ok);
      EXPECT_EQ(reader.trailing_bytes(), c.trailing);
      EXPECT_EQ(warnings->get_messages(), "");
    }
  }
}

TEST(ContainerReader, ErrorsBehindTheHeaderComeBackUnchanged) {
  // A corrupt deflate payload is reported by the inflate stage.
  reader_run_t corrupt = read_all(magic + hex("000c 01 01 00 01") + "garbage!", 4096);
  EXPECT_EQ(corrupt.status, stream_status_error);
  EXPECT_EQ(corrupt.warnings, "Error: deflate() returned Z_DATA_ERROR.\n");

  // The successor's status for the header remainder or the rest of the block.
  for (stream_status_t status : {stream_status_done, stream_status_error}) {
    recording_stage_t sink;
    sink.fail_at_block = 0;
    sink.status_for_block = status;
    stream_container_reader_t reader(&sink, boost::make_shared<warning_consumer_null_t>());
    std::string bytes = magic + hex("000a 01 01 41 00") + "xyz";
    EXPECT_EQ(reader.process_data(bytes.data(), bytes.size()), status);
    EXPECT_EQ(sink.blocks, std::vector<std::string>{hex("41 00")});  // "xyz" not sent
    EXPECT_EQ(reader.process_data("abc", 3), status);  // not a refusal: next is asked again
  }
}

// Fewer than 12 bytes: taken as a legacy stream when the input ends, so that
// it is decoded, and its errors reported, before the chain's flush passes.
TEST(ContainerReader, ShortStreamIsDecidedAtTheFlush) {
  const std::string tiny = zlib_deflate("a");
  ASSERT_LT(tiny.size(), 12u);
  struct {
    const char* name;
    std::string bytes;
    stream_status_t status;
    std::string delivered;
    int flushes;
    std::string warnings;
  } cases[] = {
      {"nothing", "", stream_status_ok, "", 1, ""},
      {"a complete tiny zlib stream", tiny, stream_status_ok, "a", 1, ""},
      {"5 bytes that are not zlib", "VELKO", stream_status_error, "", 0,
       "Error: deflate() returned Z_DATA_ERROR.\n"
       "Error: The input is not a sample file: it starts with neither a container header nor "
       "a zlib header.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto warnings = boost::make_shared<warning_consumer_string_t>();
    recording_stage_t sink;
    {
      stream_container_reader_t reader(&sink, warnings);
      EXPECT_EQ(feed(&reader, c.bytes, 1, /*flush=*/false), stream_status_ok);
      EXPECT_TRUE(sink.blocks.empty());
      EXPECT_EQ(reader.flush(), c.status);
      EXPECT_EQ(sink.joined(), c.delivered);
      EXPECT_EQ(sink.flushes, c.flushes);
      EXPECT_EQ(warnings->get_messages(), c.warnings);
      EXPECT_EQ(reader.get_header(), stream_container_header_t());
      // Decided: later bytes go through the same inflate stage.
      if (c.status == stream_status_ok) {
        EXPECT_EQ(reader.process_data("", 0), stream_status_ok);
      }
    }
    // Nothing more happens when the reader goes.
    EXPECT_EQ(sink.joined(), c.delivered);
    EXPECT_EQ(sink.flushes, c.flushes);
    EXPECT_EQ(warnings->get_messages(), "");
  }
}

// A reader that never saw a flush (the chain stopped early) still hands a
// short stream on when it goes, ignoring what comes back.
TEST(ContainerReader, ShortStreamWithoutFlushGoesOnAtDestruction) {
  const std::string tiny = zlib_deflate("a");
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  recording_stage_t sink;
  {
    stream_container_reader_t reader(&sink, warnings);
    EXPECT_EQ(feed(&reader, tiny, 3, /*flush=*/false), stream_status_ok);
    EXPECT_TRUE(sink.blocks.empty());
  }
  EXPECT_EQ(sink.joined(), "a");
  EXPECT_EQ(sink.flushes, 0);
  EXPECT_EQ(warnings->get_messages(), "");
}

TEST(Container, WriterOutputReadsBack) {
  const std::string payload = payload_text(50000);
  struct {
    int version;
    int compression;
  } cases[] = {{1, 0}, {1, 1}, {0, 0}, {0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + "/" + std::to_string(c.compression));
    recording_stage_t packed;
    stream_container_header_t header = make_header(c.version, 2, 0, c.compression);
    {
      stream_container_writer_t writer(header, &packed,
                                       boost::make_shared<warning_consumer_null_t>());
      EXPECT_EQ(feed_random(&writer, payload, 5, 4096), stream_status_ok);
    }
    reader_run_t run = read_all(packed.joined(), 0);
    EXPECT_EQ(run.status, stream_status_ok);
    EXPECT_EQ(joined(run.blocks), payload);
    EXPECT_EQ(run.header, c.version == 0 ? stream_container_header_t() : header);
  }
}

}  // namespace
