// The flow file reader reading ahead on a thread of its own against the same
// reader in the caller's thread alone, on valid, cut, damaged and crafted
// files: the same events, the same warnings in the same places among them,
// the same status, exception and counts; and a flow that stops early stops
// the reading thread, also when the input is a pipe that never ends.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "flow/flow_file_reader.h"
#include "support/record_bytes.h"
#include "support/recording_flow.h"
#include "support/test_support.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

// Events and warnings in one log, in the order they reached flow and sink.
struct log_t {
  std::vector<std::string> lines;
};

class logging_flow_t : public quenth_flow_t {
 public:
  logging_flow_t(log_t* log, int stop_at) : log_(log), stop_at_(stop_at) {}
  flow_status_t flow_init(uint64_t parameter) override {
    log_->lines.push_back("init " + std::to_string(parameter));
    return flow_status_ok;
  }
  flow_status_t process_event(const qnt_event_t& event) override {
    log_->lines.push_back(event_text(event));
    return ++events_ == stop_at_ ? flow_status_done : flow_status_ok;
  }

 private:
  log_t* log_;
  int stop_at_;
  int events_ = 0;
};

class logging_sink_t : public warning_consumer_base_t {
 public:
  explicit logging_sink_t(log_t* log) : log_(log) {}
  void warn(const warning_const_ptr_t& w) override {
    log_->lines.push_back(std::string("warning: ") + warning_severity_prefix(w->severity()) +
                          w->what());
  }
  using warning_consumer_base_t::warn;

 private:
  log_t* log_;
};

struct outcome_t {
  std::vector<std::string> log;
  std::string status;
  uint64_t pending = 0, trailing = 0, events = 0;
  std::string reason;
};

outcome_t read_file_with(const std::string& path, flow_read_mode_t mode, int stop_at) {
  log_t log;
  logging_flow_t flow(&log, stop_at);
  outcome_t out;
  try {
    flow_file_reader_t reader(path, &flow, boost::make_shared<logging_sink_t>(&log), mode);
    stream_status_t status = reader.dispatch();
    out.status = "status " + std::to_string(status);
    out.pending = reader.pending_bytes();
    out.trailing = reader.trailing_bytes();
    out.events = reader.events_delivered();
    out.reason = reader.failure_reason();
  } catch (const codec_exception_t& e) {
    out.status = std::string("codec exception: ") + e.what() + " " + e.location();
  } catch (const std::exception& e) {
    out.status = std::string("exception: ") + e.what();
  }
  out.log = log.lines;
  return out;
}

// After a flow stopped early, the reading thread may have read further, and
// seen more of what follows the stream.
void expect_same(const outcome_t& alone, const outcome_t& ahead, bool stopped_early) {
  EXPECT_EQ(ahead.log, alone.log);
  EXPECT_EQ(ahead.status, alone.status);
  EXPECT_EQ(ahead.pending, alone.pending);
  EXPECT_EQ(ahead.events, alone.events);
  if (!stopped_early) {
    EXPECT_EQ(ahead.trailing, alone.trailing);
    EXPECT_EQ(ahead.reason, alone.reason);
  }
}

// A file of every size of record, large enough to fill several queue items.
std::string many_records(size_t samples) {
  std::string records;
  for (size_t i = 0; i < samples; ++i) {
    records += sample(i * 100, static_cast<uint8_t>(i % 3),
                      {access(i * 100 + 7, 2, 1), access(i * 100 + 9, 3, 0)}, 0x400000 + i % 97);
    if (i % 1000 == 0) records += rec(8, u64(0x400000) + u64(i) + u32(5) + u64(1) + u64(2) +
                                             u64(0) + text("/bin/app") + u64(i));
  }
  return records;
}

TEST(FlowReadAhead, SameEventsWarningsAndStatusesAsInOneThread) {
  temp_dir_t tmp;
  const std::string raw = v3_file(many_records(12000));
  const std::string deflated = v3_deflated_file(many_records(12000));
  std::vector<std::pair<std::string, std::string>> inputs = {
      {"raw", raw},
      {"deflated", deflated},
      {"empty", ""},
      {"bare header", raw.substr(0, 12)},
      {"raw, cut inside a record", raw.substr(0, raw.size() - 40)},
      {"deflated, cut short", deflated.substr(0, deflated.size() / 2)},
      {"deflated, garbage after", deflated + "garbage"},
      {"not a sample file", std::string(10000, 'x')},
      {"container version 2", "VELKOR" + hex("00 0c 02 ff 00 00") + raw.substr(12)},
      {"malformed record deep inside", raw.substr(0, raw.size() / 2) + rec(4, u32(1) + u8(0)) +
                                           raw.substr(raw.size() / 2)},
  };
  for (size_t bit : {200u * 8, 5000u * 8 + 3, 400000u * 8 + 1}) {
    std::string flipped = deflated;
    flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
    inputs.push_back({"deflated, bit " + std::to_string(bit) + " flipped", flipped});
  }
  for (const auto& input : inputs) {
    write_file(tmp.file("f"), input.second);
    for (int stop_at : {-1, 1, 8000}) {
      SCOPED_TRACE(input.first + ", flow stops at event " + std::to_string(stop_at));
      outcome_t alone = read_file_with(tmp.file("f"), read_in_caller, stop_at);
      expect_same(alone, read_file_with(tmp.file("f"), read_ahead, stop_at),
                  alone.status == "status " + std::to_string(stream_status_done));
    }
  }
  // A directory: the read fails on the reading thread.
  expect_same(read_file_with(tmp.path(), read_in_caller, -1),
              read_file_with(tmp.path(), read_ahead, -1), false);
}

// Events of a pipe reach the flow as they arrive, not when a queue item is
// full; and a flow that wants no more ends the reading thread even when the
// pipe stays open and silent.
TEST(FlowReadAhead, StoppingEndsTheReadingThreadOnASilentPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  // More than a block: a block is handed on once whole, as fread would.
  const std::string head = v3_file(many_records(100));
  ASSERT_GT(head.size(), 8192u);
  ASSERT_EQ(write(fds[1], head.data(), head.size()), static_cast<ssize_t>(head.size()));
  FILE* in = fdopen(fds[0], "rb");
  ASSERT_NE(in, nullptr);
  log_t log;
  logging_flow_t flow(&log, 3);
  {
    flow_file_reader_t reader(in, &flow, boost::make_shared<logging_sink_t>(&log), read_ahead);
    EXPECT_EQ(reader.dispatch(), stream_status_done);
  }
  EXPECT_EQ(log.lines.size(), 1u + 3u);  // flow_init and three events
  fclose(in);
  close(fds[1]);
}

}  // namespace
