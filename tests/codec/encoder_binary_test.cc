#include "codec/encoder_binary.h"

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "flow/flow_file_reader.h"
#include "flow/flow_file_writer.h"
#include "support/recording_flow.h"
#include "support/test_support.h"

using namespace velkor::library;
using velkor::testkit::clone_event;
using velkor::testkit::event_text;
using velkor::testkit::hex;
using velkor::testkit::recording_flow_t;
using velkor::testkit::recording_stage_t;
using velkor::testkit::temp_dir_t;
using velkor::testkit::to_hex;

namespace {

const uint64_t max64 = std::numeric_limits<uint64_t>::max();
const uint32_t max32 = std::numeric_limits<uint32_t>::max();

typedef std::vector<std::shared_ptr<qnt_event_t>> event_list_t;

template <class T>
std::shared_ptr<qnt_event_t> share(const T& e) {
  return std::shared_ptr<qnt_event_t>(new T(e));
}

qnt_event_read_t read_event(uint64_t pc) {
  qnt_event_read_t e;
  e.pc = pc;
  e.addr = 0x2000;
  e.thread_id = 3;
  e.size = 8;
  return e;
}

TEST(Encoder, ExactBytesOfOneReadEvent) {
  recording_stage_t sink;
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  qnt_encoder_binary_t encoder(&sink, warnings);
  EXPECT_EQ(encoder.flow_init(7), flow_status_ok);
  EXPECT_TRUE(sink.blocks.empty());  // the version record waits for the first event
  EXPECT_EQ(encoder.process_event(read_event(0x1000)), flow_status_ok);
  ASSERT_EQ(sink.blocks.size(), 1u);
  EXPECT_EQ(to_hex(sink.blocks[0]),
            to_hex(hex("09 00 1a  00 00 00 03  00 00 00 01  00 08 75 6e 6b 6e 6f 77 6e 00"
                       "00 00 00 00 00 00 00 07"
                       "00 00 00 00 1e"
                       "00 00 00 00 00 00 00 00 00 00 10 00  00 00 00 00 00 00 00 00 00 00 20 00"
                       "00 00 00 03  00 08")));
  EXPECT_EQ(encoder.process_event(read_event(0x1000)), flow_status_ok);
  ASSERT_EQ(sink.blocks.size(), 2u);
  EXPECT_EQ(sink.blocks[1].size(), 35u);  // only the new record
  EXPECT_EQ(sink.flushes, 0);
  EXPECT_EQ(warnings->get_messages(), "");
}

TEST(Encoder, RecordsCarryTheirCodesNotTheirKinds) {
  qnt_event_stack_t stack;
  qnt_event_munmap_t munmap;
  qnt_event_local_time_t local_time;
  qnt_event_sample_t sample;
  qnt_event_sample_period_t period;
  qnt_event_prefetch_t prefetch;
  qnt_event_contexts_t contexts;
  qnt_event_time_mapping_t mapping;
  struct {
    const qnt_event_t* event;
    int code;
  } cases[] = {{&stack, 10},  {&munmap, 18}, {&local_time, 19}, {&sample, 16},
               {&period, 4}, {&prefetch, 5}, {&contexts, 17},  {&mapping, 13}};
  for (const auto& c : cases) {
    recording_stage_t sink;
    qnt_encoder_binary_t encoder(&sink, boost::make_shared<warning_consumer_null_t>());
    encoder.flow_init(0);
    encoder.process_event(*c.event);
    ASSERT_EQ(sink.blocks.size(), 1u);
    // After the 3-byte header and the 26-byte version payload.
    EXPECT_EQ(static_cast<unsigned char>(sink.blocks[0][29]), c.code) << event_text(*c.event);
  }
}

TEST(Encoder, NothingIsSentWithoutAnEventOrByTheDestructor) {
  recording_stage_t sink;
  {
    qnt_encoder_binary_t encoder(&sink, boost::make_shared<warning_consumer_null_t>());
    encoder.flow_init(1);
  }
  EXPECT_TRUE(sink.blocks.empty());
  EXPECT_EQ(sink.flushes, 0);
}

TEST(Encoder, DownstreamStatusesComeBack) {
  for (stream_status_t status : {stream_status_done, stream_status_error}) {
    recording_stage_t sink;
    sink.fail_at_block = 0;
    sink.status_for_block = status;
    qnt_encoder_binary_t encoder(&sink, boost::make_shared<warning_consumer_null_t>());
    encoder.flow_init(0);
    EXPECT_EQ(encoder.process_event(read_event(1)),
              status == stream_status_done ? flow_status_done : flow_status_error);
    EXPECT_EQ(sink.blocks.size(), 1u);  // the record was handed over
  }
}

// ---- Round trips through a file -------------------------------------------------

event_list_t every_kind_with_edge_values() {
  event_list_t events;
  qnt_event_read_t read = read_event(max64);
  read.addr = 0;
  read.thread_id = max32;
  read.size = 0xffff;
  events.push_back(share(read));
  qnt_event_write_t write;
  events.push_back(share(write));
  qnt_event_prefetch_t prefetch;
  prefetch.pc = 1;
  prefetch.addr = max64;
  prefetch.size = 64;
  events.push_back(share(prefetch));

  for (uint64_t line_size : {uint64_t(0), uint64_t(1), uint64_t(64), uint64_t(1) << 63}) {
    qnt_event_sample_begin_t begin;
    begin.time = max64;
    begin.thread_id = max32;
    begin.sample_id = max32;
    begin.pc = max64;
    begin.next_pc = 0;
    begin.addr = 0x7fff0000;
    begin.access_type = 12;
    begin.access_size = 0xffff;
    begin.line_size = line_size;
    events.push_back(share(begin));
  }
  qnt_event_sample_end_t end;
  end.time = 1;
  end.sample_id = 0;
  end.access_type = 255;  // stored as it is
  end.rdist = max64;
  events.push_back(share(end));

  qnt_event_sample_period_t period;
  period.sample_period = max32;
  events.push_back(share(period));

  qnt_event_acquisition_begin_t empty_acquisition;
  events.push_back(share(empty_acquisition));
  qnt_event_acquisition_begin_t acquisition;
  acquisition.time = max64;
  acquisition.architecture = max32;
  acquisition.argv = {"", "ls", std::string(65534, 'x'), std::string("nul\0inside", 10)};
  acquisition.user = "\xff\xfe not text";
  for (int i = 0; i < 255; ++i) acquisition.line_sizes.push_back(static_cast<uint8_t>(i));
  events.push_back(share(acquisition));

  qnt_event_acquisition_end_t acquisition_end;
  acquisition_end.time = 42;
  events.push_back(share(acquisition_end));

  qnt_event_mmap_t mmap;
  mmap.address = max64;
  mmap.size = max64;
  mmap.attr = max32;
  mmap.device = 1;
  mmap.inode = 2;
  mmap.filename = std::string(65534, '/');
  mmap.offset = 3;
  mmap.time = 4;
  events.push_back(share(mmap));
  qnt_event_mmap_t mmap_without_time;
  mmap_without_time.filename = "/lib/x.so";
  events.push_back(share(mmap_without_time));

  qnt_event_munmap_t munmap;
  munmap.address = 5;
  munmap.size = max64;
  munmap.time = 6;
  events.push_back(share(munmap));

  qnt_event_stack_t empty_stack;
  events.push_back(share(empty_stack));
  qnt_event_stack_t stack;
  stack.id = max32;
  for (uint64_t i = 0; i < 65535; ++i) stack.return_addresses.push_back(max64 - i);
  events.push_back(share(stack));

  qnt_event_sample_t sample;
  sample.begin.pc = 1;
  sample.begin.addr = 2;
  sample.begin.time = max64;
  sample.begin.stack = max32;
  sample.begin.thread = 3;
  sample.begin.size = 0xffff;
  sample.begin.access_type = 200;
  sample.next_pc = max64;
  sample.stack = 7;
  sample.line_size = 255;
  sample.flags = 0xff;
  events.push_back(share(sample));
  for (int i = 0; i < 1000; ++i) {
    qnt_sample_access_t a;
    a.pc = i;
    a.time = max64 - i;
    a.thread = i % 5;
    a.access_type = i % 13;
    sample.ends.push_back(a);
  }
  sample.line_size = 6;
  sample.flags = 1;
  events.push_back(share(sample));

  qnt_event_time_mapping_t empty_mapping;
  events.push_back(share(empty_mapping));
  qnt_event_time_mapping_t mapping;
  for (uint32_t i = 0; i < 65535; ++i) mapping.times.push_back({max64 - i, i});
  events.push_back(share(mapping));

  qnt_event_local_time_t local_time;
  local_time.tid = max32;
  local_time.global_time = max64;
  local_time.local_time = 0;
  events.push_back(share(local_time));

  qnt_event_burst_begin_t burst_begin;
  burst_begin.real_time = max64;
  burst_begin.time = 1;
  burst_begin.opaque_1 = 2;
  burst_begin.opaque_2 = max64;
  events.push_back(share(burst_begin));
  qnt_event_burst_end_t burst_end;
  burst_end.real_time = 3;
  burst_end.time = max64;
  events.push_back(share(burst_end));

  qnt_event_contexts_t empty_contexts;
  events.push_back(share(empty_contexts));
  qnt_event_contexts_t contexts;
  for (uint32_t i = 0; i < 100000; ++i) contexts.contexts.push_back(max32 - i);
  events.push_back(share(contexts));
  return events;
}

struct written_file_t {
  std::vector<flow_status_t> statuses;
  stream_status_t finish = stream_status_ok;
  std::string warnings;
};

written_file_t write_events(const std::string& path, const event_list_t& events,
                            stream_container_compression_t compression, uint64_t parameter) {
  stream_container_header_t header;
  header.compression = compression;
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  written_file_t written;
  flow_file_writer_t writer(path, header, warnings);
  EXPECT_EQ(writer.flow().flow_init(parameter), flow_status_ok);
  for (const auto& e : events) written.statuses.push_back(writer.flow().process_event(*e));
  written.finish = writer.finish();
  written.warnings = warnings->get_messages();
  return written;
}

std::unique_ptr<recording_flow_t> read_events(const std::string& path) {
  std::unique_ptr<recording_flow_t> flow(new recording_flow_t);
  flow_file_reader_t reader(path, flow.get(), boost::make_shared<warning_consumer_null_t>());
  EXPECT_EQ(reader.dispatch(), stream_status_ok);
  EXPECT_EQ(reader.pending_bytes(), 0u);
  return flow;
}

TEST(EncoderRoundTrip, EveryKindWithEdgeValues) {
  const event_list_t events = every_kind_with_edge_values();
  for (stream_container_compression_t compression : {compression_none, compression_deflate}) {
    SCOPED_TRACE(compression);
    temp_dir_t tmp;
    written_file_t written = write_events(tmp.file("f"), events, compression, max64);
    EXPECT_EQ(written.finish, stream_status_ok);
    EXPECT_EQ(written.warnings, "");
    auto flow = read_events(tmp.file("f"));
    EXPECT_EQ(flow->inits, std::vector<uint64_t>{max64});
    ASSERT_EQ(flow->events.size(), events.size());
    for (size_t i = 0; i < events.size(); ++i) {
      EXPECT_TRUE(*flow->events[i] == *events[i]) << i << ": " << event_text(*events[i]).substr(0, 200);
    }
  }
}

TEST(EncoderRoundTrip, LineSizesComeBackAsPowersOfTwo) {
  struct {
    uint64_t written, read;
  } cases[] = {{0, 0}, {1, 1}, {3, 2}, {100, 64}, {4096, 4096}, {max64, uint64_t(1) << 63}};
  temp_dir_t tmp;
  event_list_t events;
  for (const auto& c : cases) {
    qnt_event_sample_begin_t begin;
    begin.line_size = c.written;
    events.push_back(share(begin));
  }
  write_events(tmp.file("f"), events, compression_deflate, 0);
  auto flow = read_events(tmp.file("f"));
  ASSERT_EQ(flow->events.size(), events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(static_cast<const qnt_event_sample_begin_t&>(*flow->events[i]).line_size,
              cases[i].read);
  }
}

// ---- Refusals ------------------------------------------------------------------

struct refusal_case_t {
  const char* name;
  std::shared_ptr<qnt_event_t> event;
  std::string warning;
};

std::vector<refusal_case_t> refusal_cases() {
  std::vector<refusal_case_t> cases;
  qnt_event_sample_period_t period;
  period.sample_period = uint64_t(1) << 32;
  cases.push_back({"sample period of 2^32", share(period),
                   "Error: Cannot encode sample period 4294967296: it does not fit, at most "
                   "4294967295.\n"});
  qnt_event_stack_t stack;
  stack.return_addresses.resize(65536);
  cases.push_back({"65536 return addresses", share(stack),
                   "Error: Cannot encode stack: return addresses: 65536 do not fit, at most "
                   "65535.\n"});
  qnt_event_time_mapping_t mapping;
  mapping.times.resize(65536);
  cases.push_back({"65536 time entries", share(mapping),
                   "Error: Cannot encode time mapping: entries: 65536 do not fit, at most "
                   "65535.\n"});
  qnt_event_acquisition_begin_t acquisition;
  acquisition.line_sizes.resize(256);
  cases.push_back({"256 line sizes", share(acquisition),
                   "Error: Cannot encode acquisition begin: line sizes: 256 do not fit, at most "
                   "255.\n"});
  qnt_event_acquisition_begin_t long_argument;
  long_argument.argv = {"ok", std::string(65535, 'a')};
  cases.push_back({"argument of 65535 bytes", share(long_argument),
                   "Error: Cannot encode acquisition begin: command-line argument: a text of "
                   "65535 bytes does not fit, at most 65534.\n"});
  qnt_event_acquisition_begin_t long_user;
  long_user.user = std::string(70000, 'u');
  cases.push_back({"user of 70000 bytes", share(long_user),
                   "Error: Cannot encode acquisition begin: user: a text of 70000 bytes does not "
                   "fit, at most 65534.\n"});
  qnt_event_mmap_t mmap;
  mmap.filename = std::string(65535, 'f');
  cases.push_back({"file name of 65535 bytes", share(mmap),
                   "Error: Cannot encode mmap: file name: a text of 65535 bytes does not fit, at "
                   "most 65534.\n"});
  return cases;
}

TEST(EncoderRefusal, EventsTheFormatCannotHoldLeaveAValidStream) {
  for (const refusal_case_t& c : refusal_cases()) {
    SCOPED_TRACE(c.name);
    for (stream_container_compression_t compression : {compression_none, compression_deflate}) {
      temp_dir_t tmp;
      event_list_t events = {share(read_event(1)), c.event, share(read_event(2))};
      written_file_t written = write_events(tmp.file("f"), events, compression, 0);
      EXPECT_EQ(written.statuses,
                (std::vector<flow_status_t>{flow_status_ok, flow_status_error, flow_status_ok}));
      EXPECT_EQ(written.warnings, c.warning);
      EXPECT_EQ(written.finish, stream_status_ok);
      auto flow = read_events(tmp.file("f"));
      ASSERT_EQ(flow->events.size(), 2u);
      EXPECT_TRUE(*flow->events[0] == read_event(1));
      EXPECT_TRUE(*flow->events[1] == read_event(2));
    }
  }
}

TEST(EncoderRefusal, KindsOutsideTheTableInForce) {
  recording_stage_t sink;
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  qnt_encoder_binary_t encoder(&sink, warnings);
  // Before flow_init the version-0 table is in force: kinds from 9 on lack it.
  EXPECT_EQ(encoder.process_event(qnt_event_stack_t()), flow_status_error);
  EXPECT_EQ(encoder.process_event(qnt_event_munmap_t()), flow_status_error);
  EXPECT_EQ(warnings->get_messages(),
            "Error: Unknown Quenth event kind.\nError: Unknown Quenth event kind.\n");
  EXPECT_TRUE(sink.blocks.empty());
  // Kinds that it has are framed with 3-byte headers and 16-bit lengths.
  EXPECT_EQ(encoder.process_event(read_event(1)), flow_status_ok);
  ASSERT_EQ(sink.blocks.size(), 1u);
  EXPECT_EQ(sink.blocks[0].substr(0, 3), hex("00 00 1e"));
  // A payload over 65535 bytes does not fit that header.
  qnt_event_acquisition_begin_t big;
  big.argv = {std::string(40000, 'a'), std::string(40000, 'b')};
  EXPECT_EQ(encoder.process_event(big), flow_status_error);
  EXPECT_EQ(warnings->get_messages(),
            "Error: Cannot encode record: a payload of 80026 bytes does not fit its record "
            "header.\n");
  EXPECT_EQ(sink.blocks.size(), 1u);
  // The encoder goes on afterwards.
  EXPECT_EQ(encoder.process_event(read_event(2)), flow_status_ok);
}

}  // namespace
