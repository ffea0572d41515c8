#include "flow/quenth_flow.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace velkor::library;

namespace {

// Notes the name of every handler that runs.
class naming_flow_t : public quenth_flow_by_type_t {
 public:
  std::vector<std::string> calls;
  flow_status_t answer = flow_status_ok;
  uint64_t init_value = 0;

  flow_status_t flow_init(uint64_t v) override {
    init_value = v;
    return quenth_flow_by_type_t::flow_init(v);
  }
#define NOTE(handler, type) \
  flow_status_t handler(const type&) override { calls.push_back(#handler); return answer; }
  NOTE(read, qnt_event_read_t)
  NOTE(write, qnt_event_write_t)
  NOTE(prefetch, qnt_event_prefetch_t)
  NOTE(sample_begin, qnt_event_sample_begin_t)
  NOTE(sample_end, qnt_event_sample_end_t)
  NOTE(sample_period, qnt_event_sample_period_t)
  NOTE(acquisition_begin, qnt_event_acquisition_begin_t)
  NOTE(acquisition_end, qnt_event_acquisition_end_t)
  NOTE(mmap, qnt_event_mmap_t)
  NOTE(munmap, qnt_event_munmap_t)
  NOTE(stack, qnt_event_stack_t)
  NOTE(sample, qnt_event_sample_t)
  NOTE(time_mapping, qnt_event_time_mapping_t)
  NOTE(local_time, qnt_event_local_time_t)
  NOTE(burst_begin, qnt_event_burst_begin_t)
  NOTE(burst_end, qnt_event_burst_end_t)
  NOTE(contexts, qnt_event_contexts_t)
#undef NOTE
};

// An event of a kind the framework does not know.
class alien_event_t : public qnt_event_t {
 public:
  explicit alien_event_t(unsigned kind) : kind_(kind) {}
  qnt_event_kind_t get_kind() const override { return static_cast<qnt_event_kind_t>(kind_); }
  std::ostream& stream_put(std::ostream& os) const override { return os; }
  bool operator==(const qnt_event_t&) const override { return false; }

 private:
  unsigned kind_;
};

struct one_of_each_t {
  qnt_event_read_t read;
  qnt_event_write_t write;
  qnt_event_prefetch_t prefetch;
  qnt_event_sample_begin_t sample_begin;
  qnt_event_sample_end_t sample_end;
  qnt_event_sample_period_t sample_period;
  qnt_event_acquisition_begin_t acquisition_begin;
  qnt_event_acquisition_end_t acquisition_end;
  qnt_event_mmap_t mmap;
  qnt_event_munmap_t munmap;
  qnt_event_stack_t stack;
  qnt_event_sample_t sample;
  qnt_event_time_mapping_t time_mapping;
  qnt_event_local_time_t local_time;
  qnt_event_burst_begin_t burst_begin;
  qnt_event_burst_end_t burst_end;
  qnt_event_contexts_t contexts;
  // In kind order.
  std::vector<const qnt_event_t*> all() const {
    return {&read,       &write,           &prefetch, &sample_begin, &sample_end, &sample_period,
            &acquisition_begin, &acquisition_end, &mmap, &munmap, &stack, &sample,
            &time_mapping, &local_time, &burst_begin, &burst_end, &contexts};
  }
};

const std::vector<std::string> handler_names = {
    "read",    "write",  "prefetch", "sample_begin", "sample_end",   "sample_period",
    "acquisition_begin", "acquisition_end", "mmap", "munmap", "stack", "sample",
    "time_mapping", "local_time", "burst_begin", "burst_end", "contexts"};

TEST(FlowDispatch, EachKindReachesItsHandlerAndItsStatusComesBack) {
  one_of_each_t events;
  for (flow_status_t answer : {flow_status_ok, flow_status_done, flow_status_error}) {
    naming_flow_t flow;
    flow.answer = answer;
    for (const qnt_event_t* e : events.all()) EXPECT_EQ(flow.process_event(*e), answer);
    EXPECT_EQ(flow.calls, handler_names);
  }
}

TEST(FlowDispatch, UnknownKindsAreSkipped) {
  naming_flow_t flow;
  flow.answer = flow_status_error;
  for (unsigned kind : {17u, 18u, 255u, 0xffffffffu}) {
    EXPECT_EQ(flow.process_event(alien_event_t(kind)), flow_status_ok);
  }
  EXPECT_TRUE(flow.calls.empty());
}

TEST(FlowDispatch, DefaultFlowConsumesEverything) {
  one_of_each_t events;
  quenth_flow_by_type_default_t flow;
  EXPECT_EQ(flow.flow_init(42), flow_status_ok);
  for (const qnt_event_t* e : events.all()) EXPECT_EQ(flow.process_event(*e), flow_status_ok);
}

// Counts what passes through and drops writes.
class dropping_filter_t : public quenth_flow_filter_t {
 public:
  explicit dropping_filter_t(quenth_flow_t* next) : quenth_flow_filter_t(next) {}
  flow_status_t write(const qnt_event_write_t&) override { return flow_status_ok; }
};

TEST(FlowFilter, ChainOfTwoReachesTheLastFlow) {
  one_of_each_t events;
  naming_flow_t last;
  quenth_flow_filter_t inner(&last);
  dropping_filter_t outer(&inner);
  EXPECT_EQ(outer.flow_init(7), flow_status_ok);
  EXPECT_EQ(last.init_value, 7u);
  for (const qnt_event_t* e : events.all()) EXPECT_EQ(outer.process_event(*e), flow_status_ok);
  std::vector<std::string> expected = handler_names;
  expected.erase(expected.begin() + 1);  // the write was dropped
  EXPECT_EQ(last.calls, expected);

  last.answer = flow_status_done;
  EXPECT_EQ(outer.process_event(events.read), flow_status_done);
  // Unknown kinds stop at the first dispatch.
  EXPECT_EQ(outer.process_event(alien_event_t(17)), flow_status_ok);
}

TEST(FlowFilter, NullNextThrowsBrokenChain) {
  one_of_each_t events;
  quenth_flow_filter_t filter(NULL);
  try {
    filter.flow_init(0);
    FAIL();
  } catch (const flow_exception_t& e) {
    EXPECT_STREQ(e.what(), "Flow chain broken.");
  }
  for (const qnt_event_t* e : events.all()) {
    EXPECT_THROW(filter.process_event(*e), flow_exception_t);
  }
}

}  // namespace
