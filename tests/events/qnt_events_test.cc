#include "events/qnt_events.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace velkor::library;

namespace {

// One default-constructed event of every kind, in kind order.
std::vector<std::shared_ptr<qnt_event_t>> one_of_each_kind() {
  return {
      std::make_shared<qnt_event_read_t>(),
      std::make_shared<qnt_event_write_t>(),
      std::make_shared<qnt_event_prefetch_t>(),
      std::make_shared<qnt_event_sample_begin_t>(),
      std::make_shared<qnt_event_sample_end_t>(),
      std::make_shared<qnt_event_sample_period_t>(),
      std::make_shared<qnt_event_acquisition_begin_t>(),
      std::make_shared<qnt_event_acquisition_end_t>(),
      std::make_shared<qnt_event_mmap_t>(),
      std::make_shared<qnt_event_munmap_t>(),
      std::make_shared<qnt_event_stack_t>(),
      std::make_shared<qnt_event_sample_t>(),
      std::make_shared<qnt_event_time_mapping_t>(),
      std::make_shared<qnt_event_local_time_t>(),
      std::make_shared<qnt_event_burst_begin_t>(),
      std::make_shared<qnt_event_burst_end_t>(),
      std::make_shared<qnt_event_contexts_t>(),
  };
}

TEST(EventKinds, FixedValuesAndCrossKindInequality) {
  std::vector<std::shared_ptr<qnt_event_t>> events = one_of_each_kind();
  ASSERT_EQ(events.size(), qnt_event_kind_count);
  EXPECT_EQ(kind_sample, 11);
  EXPECT_EQ(kind_time_mapping, 12);
  EXPECT_EQ(kind_contexts, 16);
  for (size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(unsigned(events[i]->get_kind()), i);
    // Default events of one kind are equal; of different kinds never, in
    // either operand order.
    for (size_t j = 0; j < events.size(); ++j) {
      EXPECT_EQ(*events[i] == *events[j], i == j) << "j=" << j;
      EXPECT_EQ(*events[i] != *events[j], i != j) << "j=" << j;
    }
  }
  EXPECT_EQ(qnt_event_sample_t::kind, kind_sample);
  EXPECT_EQ(qnt_event_read_t::kind, kind_read);
}

// A clone has the class of its kind and every field of the original.
TEST(EventKinds, CloneKeepsClassAndFields) {
  qnt_event_stack_t stack;
  stack.id = 9;
  stack.return_addresses = {1, 2};
  std::vector<std::shared_ptr<qnt_event_t>> events = one_of_each_kind();
  events.push_back(std::make_shared<qnt_event_stack_t>(stack));
  for (const auto& e : events) {
    std::unique_ptr<qnt_event_t> copy = qnt_event_clone(*e);
    ASSERT_TRUE(copy != nullptr);
    EXPECT_EQ(copy->get_kind(), e->get_kind());
    EXPECT_TRUE(*copy == *e);
  }
  EXPECT_EQ(static_cast<const qnt_event_stack_t&>(*qnt_event_clone(stack)).return_addresses,
            stack.return_addresses);
}

TEST(EventEquality, SameFieldsDifferentKindsAreNotEqual) {
  qnt_event_read_t read;
  qnt_event_write_t write;
  qnt_event_prefetch_t prefetch;
  read.pc = write.pc = prefetch.pc = 0x1000;
  read.addr = write.addr = prefetch.addr = 0x2000;
  read.thread_id = write.thread_id = prefetch.thread_id = 3;
  read.size = write.size = prefetch.size = 8;
  EXPECT_FALSE(read == write);
  EXPECT_FALSE(write == read);
  EXPECT_FALSE(prefetch == read);
  EXPECT_FALSE(read == prefetch);
  EXPECT_TRUE(read == qnt_event_read_t(read));
}

// Changing any one compared field of a default event makes it unequal to the
// default (both orders) and equal to its own copy; the listed ignored fields
// keep it equal.
template <typename Event>
struct field_case_t {
  const char* field;
  std::function<void(Event&)> change;
  bool compared;
};

template <typename Event>
void check_fields(const std::vector<field_case_t<Event>>& cases) {
  const Event zero;
  for (const field_case_t<Event>& c : cases) {
    SCOPED_TRACE(c.field);
    Event changed;
    c.change(changed);
    EXPECT_EQ(changed == zero, !c.compared);
    EXPECT_EQ(zero == changed, !c.compared);
    Event copy(changed);
    EXPECT_TRUE(copy == changed);
    Event assigned;
    assigned = changed;
    EXPECT_TRUE(assigned == changed);
  }
}

TEST(EventEquality, EveryComparedFieldMatters) {
  check_fields<qnt_event_read_t>({
      {"pc", [](qnt_event_read_t& e) { e.pc = 1; }, true},
      {"addr", [](qnt_event_read_t& e) { e.addr = 1; }, true},
      {"thread_id", [](qnt_event_read_t& e) { e.thread_id = 1; }, true},
      {"size", [](qnt_event_read_t& e) { e.size = 1; }, true},
  });
  check_fields<qnt_event_write_t>({
      {"pc", [](qnt_event_write_t& e) { e.pc = 1; }, true},
      {"addr", [](qnt_event_write_t& e) { e.addr = 1; }, true},
      {"thread_id", [](qnt_event_write_t& e) { e.thread_id = 1; }, true},
      {"size", [](qnt_event_write_t& e) { e.size = 1; }, true},
  });
  check_fields<qnt_event_prefetch_t>({
      {"pc", [](qnt_event_prefetch_t& e) { e.pc = 1; }, true},
      {"addr", [](qnt_event_prefetch_t& e) { e.addr = 1; }, true},
      {"thread_id", [](qnt_event_prefetch_t& e) { e.thread_id = 1; }, true},
      {"size", [](qnt_event_prefetch_t& e) { e.size = 1; }, true},
  });
  check_fields<qnt_event_sample_begin_t>({
      {"time", [](qnt_event_sample_begin_t& e) { e.time = 1; }, true},
      {"thread_id", [](qnt_event_sample_begin_t& e) { e.thread_id = 1; }, true},
      {"sample_id", [](qnt_event_sample_begin_t& e) { e.sample_id = 1; }, true},
      {"pc", [](qnt_event_sample_begin_t& e) { e.pc = 1; }, true},
      {"next_pc", [](qnt_event_sample_begin_t& e) { e.next_pc = 1; }, true},
      {"addr", [](qnt_event_sample_begin_t& e) { e.addr = 1; }, true},
      {"access_type", [](qnt_event_sample_begin_t& e) { e.access_type = 1; }, true},
      {"access_size", [](qnt_event_sample_begin_t& e) { e.access_size = 1; }, true},
      {"line_size", [](qnt_event_sample_begin_t& e) { e.line_size = 64; }, true},
  });
  check_fields<qnt_event_sample_end_t>({
      {"time", [](qnt_event_sample_end_t& e) { e.time = 1; }, true},
      {"thread_id", [](qnt_event_sample_end_t& e) { e.thread_id = 1; }, true},
      {"sample_id", [](qnt_event_sample_end_t& e) { e.sample_id = 1; }, true},
      {"pc", [](qnt_event_sample_end_t& e) { e.pc = 1; }, true},
      {"addr", [](qnt_event_sample_end_t& e) { e.addr = 1; }, true},
      {"access_type", [](qnt_event_sample_end_t& e) { e.access_type = 1; }, true},
      {"access_size", [](qnt_event_sample_end_t& e) { e.access_size = 1; }, true},
      {"rdist", [](qnt_event_sample_end_t& e) { e.rdist = 1; }, true},
  });
  check_fields<qnt_event_sample_period_t>({
      {"sample_period", [](qnt_event_sample_period_t& e) { e.sample_period = 1; }, true},
  });
  check_fields<qnt_event_acquisition_begin_t>({
      {"time", [](qnt_event_acquisition_begin_t& e) { e.time = 1; }, true},
      {"architecture", [](qnt_event_acquisition_begin_t& e) { e.architecture = 1; }, true},
      // An empty command line differs from one empty argument.
      {"argv", [](qnt_event_acquisition_begin_t& e) { e.argv.push_back(""); }, true},
      {"user", [](qnt_event_acquisition_begin_t& e) { e.user = "u"; }, true},
      {"line_sizes", [](qnt_event_acquisition_begin_t& e) { e.line_sizes.push_back(0); }, true},
  });
  check_fields<qnt_event_acquisition_end_t>({
      {"time", [](qnt_event_acquisition_end_t& e) { e.time = 1; }, true},
  });
  check_fields<qnt_event_mmap_t>({
      {"address", [](qnt_event_mmap_t& e) { e.address = 1; }, true},
      {"size", [](qnt_event_mmap_t& e) { e.size = 1; }, true},
      {"attr", [](qnt_event_mmap_t& e) { e.attr = 1; }, true},
      {"device", [](qnt_event_mmap_t& e) { e.device = 1; }, true},
      {"inode", [](qnt_event_mmap_t& e) { e.inode = 1; }, true},
      {"filename", [](qnt_event_mmap_t& e) { e.filename = "f"; }, true},
      {"offset", [](qnt_event_mmap_t& e) { e.offset = 1; }, true},
      {"time", [](qnt_event_mmap_t& e) { e.time = 1; }, true},
  });
  check_fields<qnt_event_munmap_t>({
      {"address", [](qnt_event_munmap_t& e) { e.address = 1; }, true},
      {"size", [](qnt_event_munmap_t& e) { e.size = 1; }, true},
      {"time", [](qnt_event_munmap_t& e) { e.time = 1; }, true},
  });
  check_fields<qnt_event_stack_t>({
      {"id", [](qnt_event_stack_t& e) { e.id = 1; }, true},
      {"return_addresses", [](qnt_event_stack_t& e) { e.return_addresses.push_back(0); }, true},
  });
  check_fields<qnt_event_sample_t>({
      {"begin.pc", [](qnt_event_sample_t& e) { e.begin.pc = 1; }, true},
      {"begin.access_type", [](qnt_event_sample_t& e) { e.begin.access_type = 1; }, true},
      {"ends", [](qnt_event_sample_t& e) { e.ends.resize(1); }, true},
      {"next_pc", [](qnt_event_sample_t& e) { e.next_pc = 1; }, true},
      {"stack", [](qnt_event_sample_t& e) { e.stack = 1; }, true},
      {"line_size", [](qnt_event_sample_t& e) { e.line_size = 6; }, true},
      {"flags", [](qnt_event_sample_t& e) { e.flags = 2; }, true},
  });
  check_fields<qnt_event_time_mapping_t>({
      {"times", [](qnt_event_time_mapping_t& e) { e.times.resize(1); }, true},
  });
  check_fields<qnt_event_local_time_t>({
      {"tid", [](qnt_event_local_time_t& e) { e.tid = 1; }, true},
      {"global_time", [](qnt_event_local_time_t& e) { e.global_time = 1; }, true},
      {"local_time", [](qnt_event_local_time_t& e) { e.local_time = 1; }, true},
  });
  check_fields<qnt_event_burst_begin_t>({
      {"real_time", [](qnt_event_burst_begin_t& e) { e.real_time = 1; }, true},
      {"time", [](qnt_event_burst_begin_t& e) { e.time = 1; }, true},
      {"opaque_1", [](qnt_event_burst_begin_t& e) { e.opaque_1 = 1; }, false},
      {"opaque_2", [](qnt_event_burst_begin_t& e) { e.opaque_2 = 1; }, false},
  });
  check_fields<qnt_event_burst_end_t>({
      {"real_time", [](qnt_event_burst_end_t& e) { e.real_time = 1; }, true},
      {"time", [](qnt_event_burst_end_t& e) { e.time = 1; }, true},
  });
  check_fields<qnt_event_contexts_t>({
      {"contexts", [](qnt_event_contexts_t& e) { e.contexts.push_back(0); }, true},
  });
}

// Containers compare element by element, in order.
TEST(EventEquality, ContainerContents) {
  qnt_sample_access_t a, b;
  a.thread = 1;
  b.thread = 2;
  qnt_event_sample_t ab, ba, ab2;
  ab.ends = {a, b};
  ba.ends = {b, a};
  ab2.ends = {a, b};
  EXPECT_FALSE(ab == ba);
  EXPECT_TRUE(ab == ab2);
  qnt_sample_access_t a_other_time = a;
  a_other_time.time = 9;
  ab2.ends[0] = a_other_time;
  EXPECT_FALSE(ab == ab2);

  qnt_event_acquisition_begin_t x, y;
  x.argv = {"ls", "-l"};
  y.argv = {"ls", "-L"};
  EXPECT_FALSE(x == y);
  y.argv = {"ls", "-l"};
  EXPECT_TRUE(x == y);

  qnt_event_time_mapping_t m1, m2;
  m1.times.resize(2);
  m2.times.resize(2);
  m2.times[1].tid = 4;
  EXPECT_FALSE(m1 == m2);
  m1.times[1].tid = 4;
  EXPECT_TRUE(m1 == m2);

  qnt_event_stack_t s1, s2;
  s1.return_addresses = {1, 2};
  s2.return_addresses = {1, 3};
  EXPECT_FALSE(s1 == s2);
}

// A flow keeps copies: the copy owns its strings and vectors.
TEST(EventValues, CopiesAreIndependent) {
  qnt_event_acquisition_begin_t original;
  original.argv = {"prog"};
  original.user = "me";
  qnt_event_acquisition_begin_t copy = original;
  original.argv[0] = "other";
  original.user.clear();
  EXPECT_EQ(copy.argv, std::vector<std::string>{"prog"});
  EXPECT_EQ(copy.user, "me");

  qnt_event_sample_t sample;
  sample.ends.resize(2);
  std::unique_ptr<qnt_event_t> held(new qnt_event_sample_t(sample));
  sample.ends.clear();
  EXPECT_EQ(static_cast<const qnt_event_sample_t&>(*held).ends.size(), 2u);
}

}  // namespace
