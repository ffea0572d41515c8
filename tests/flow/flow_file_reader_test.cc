#include "flow/flow_file_reader.h"

#include <cstdio>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "support/recording_flow.h"
#include "support/test_support.h"
#include "support/zlib_reference.h"

using namespace velkor::library;
using velkor::testkit::hex;
using velkor::testkit::recording_flow_t;
using velkor::testkit::temp_dir_t;
using velkor::testkit::write_file;
using velkor::testkit::zlib_deflate;

namespace {

// A version-3 stream of n read records (pc = 0x1000 + i), flow parameter 7.
std::string event_stream(int n) {
  std::string bytes = hex("09 00 13  00 00 00 03  00 00 00 01  00 01 00  00 00 00 00 00 00 00 07");
  for (int i = 0; i < n; ++i) {
    bytes += hex("00 00 00 00 1e  00 00 00 00 00 00 00 00 00 00 10");
    bytes += static_cast<char>(i);
    bytes += hex("00 00 00 00 00 00 00 00 00 00 20 00  00 00 00 03  00 08");
  }
  return bytes;
}

std::string container(int compression, const std::string& payload) {
  return "VELKOR" + hex("00 0c 01 01 00") + std::string(1, static_cast<char>(compression)) +
         (compression == 1 ? zlib_deflate(payload) : payload);
}

struct read_result_t {
  stream_status_t status;
  stream_container_header_t header;
  std::vector<uint64_t> inits;
  size_t events = 0;
  uint64_t pending = 0;
  std::string warnings;
};

read_result_t read_file_through(const std::string& path, recording_flow_t* flow) {
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  flow_file_reader_t reader(path, flow, warnings);
  read_result_t r;
  r.status = reader.dispatch();
  r.header = reader.get_header();
  r.inits = flow->inits;
  r.events = flow->events.size();
  r.pending = reader.pending_bytes();
  r.warnings = warnings->get_messages();
  return r;
}

TEST(FlowFileReader, ContainerKinds) {
  const std::string events = event_stream(3000);  // larger than one block
  stream_container_header_t deflated;
  deflated.product = product_loomview;
  stream_container_header_t raw = deflated;
  raw.compression = compression_none;
  struct {
    const char* name;
    std::string bytes;
    stream_container_header_t header;
  } cases[] = {
      {"deflated", container(1, events), deflated},
      {"uncompressed", container(0, events), raw},
      {"legacy", zlib_deflate(events), stream_container_header_t()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir_t tmp;
    write_file(tmp.file("in"), c.bytes);
    recording_flow_t flow;
    read_result_t r = read_file_through(tmp.file("in"), &flow);
    EXPECT_EQ(r.status, stream_status_ok);
    EXPECT_EQ(r.header, c.header);
    EXPECT_EQ(r.inits, std::vector<uint64_t>{7});
    EXPECT_EQ(r.events, 3000u);
    EXPECT_EQ(r.pending, 0u);
    EXPECT_EQ(r.warnings, "");
  }
}

TEST(FlowFileReader, StandardInputAndOpenStreams) {
  temp_dir_t tmp;
  write_file(tmp.file("in"), container(1, event_stream(5)));
  FILE* file = fopen(tmp.file("in").c_str(), "rb");
  ASSERT_NE(file, (FILE*)NULL);
  FILE* saved_stdin = stdin;
  stdin = file;  // an empty path reads standard input
  {
    recording_flow_t flow;
    flow_file_reader_t reader(boost::filesystem::path(), &flow,
                              boost::make_shared<warning_consumer_null_t>());
    EXPECT_EQ(reader.dispatch(), stream_status_ok);
    EXPECT_EQ(flow.events.size(), 5u);
  }
  stdin = saved_stdin;
  // Neither reader closed the stream.
  rewind(file);
  {
    recording_flow_t flow;
    flow_file_reader_t reader(file, &flow, boost::make_shared<warning_consumer_null_t>());
    EXPECT_EQ(reader.dispatch(), stream_status_ok);
    EXPECT_EQ(flow.events.size(), 5u);
  }
  EXPECT_EQ(fclose(file), 0);
}

TEST(FlowFileReader, EmptyInput) {
  temp_dir_t tmp;
  write_file(tmp.file("in"), "");
  recording_flow_t flow;
  read_result_t r = read_file_through(tmp.file("in"), &flow);
  EXPECT_EQ(r.status, stream_status_ok);
  EXPECT_EQ(r.header, stream_container_header_t());
  EXPECT_TRUE(r.inits.empty());
  EXPECT_EQ(r.events, 0u);
}

TEST(FlowFileReader, FlowDoneOnFirstEventStopsReading) {
  temp_dir_t tmp;
  write_file(tmp.file("in"), container(0, event_stream(3000)));
  recording_flow_t flow;
  flow.answer_at_event = 0;
  flow.answer_status = flow_status_done;
  read_result_t r = read_file_through(tmp.file("in"), &flow);
  EXPECT_EQ(r.status, stream_status_done);
  EXPECT_EQ(r.events, 1u);
}

TEST(FlowFileReader, InputEndingInsideARecord) {
  temp_dir_t tmp;
  std::string events = event_stream(3);
  write_file(tmp.file("in"), container(0, events.substr(0, events.size() - 10)));
  recording_flow_t flow;
  read_result_t r = read_file_through(tmp.file("in"), &flow);
  EXPECT_EQ(r.status, stream_status_ok);
  EXPECT_EQ(r.events, 2u);
  EXPECT_EQ(r.pending, 25u);  // 5 header bytes and 20 of 30 payload bytes
  EXPECT_EQ(r.warnings, "");
}

TEST(FlowFileReader, FailuresOfTheChain) {
  temp_dir_t tmp;
  // A header the container reader refuses, and corrupt deflate data.
  write_file(tmp.file("v2"), "VELKOR" + hex("00 0c 02 01 00 01") + "data");
  write_file(tmp.file("corrupt"), "VELKOR" + hex("00 0c 01 01 00 01") + "not zlib at all");
  recording_flow_t flow;
  read_result_t v2 = read_file_through(tmp.file("v2"), &flow);
  EXPECT_EQ(v2.status, stream_status_error);
  EXPECT_EQ(v2.header.version, 2);
  EXPECT_EQ(v2.warnings, "");
  read_result_t corrupt = read_file_through(tmp.file("corrupt"), &flow);
  EXPECT_EQ(corrupt.status, stream_status_error);
  EXPECT_EQ(corrupt.warnings, "Error: deflate() returned Z_DATA_ERROR.\n");

  // Codec exceptions leave dispatch; a missing file leaves the constructor.
  write_file(tmp.file("v4"), container(0, hex("09 00 04 00 00 00 04")));
  flow_file_reader_t reader(tmp.file("v4"), &flow, boost::make_shared<warning_consumer_null_t>());
  EXPECT_THROW(reader.dispatch(), codec_exception_t);
  EXPECT_THROW(flow_file_reader_t(tmp.file("missing"), &flow,
                                  boost::make_shared<warning_consumer_null_t>()),
               stream_errno_exception_t);
}

}  // namespace
