// Fixtures of the sample_dump tests: running the program, and small sample
// files written with the library's writer, among them one event of every
// kind.
#ifndef TESTS_TOOLS_SAMPLE_DUMP_DUMP_FIXTURES_H_
#define TESTS_TOOLS_SAMPLE_DUMP_DUMP_FIXTURES_H_

#include <memory>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "flow/flow_file_writer.h"
#include "support/sample_files.h"
#include "support/test_support.h"

namespace velkor { namespace dump_fixtures {

using namespace library;
using testkit::bin_path;
using testkit::read_file;
using testkit::run_options_t;
using testkit::run_program;
using testkit::run_result_t;
using testkit::temp_dir_t;

inline run_result_t dump(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv{bin_path("sample_dump")};
  argv.insert(argv.end(), args.begin(), args.end());
  run_options_t options;
  options.stdin_data = input;
  return run_program(argv, options);
}

using testkit::sample_file;

template <class T>
T* add(std::vector<std::unique_ptr<qnt_event_t>>* events) {
  return testkit::add_event<T>(events);
}

// One event of every kind, with small values that are easy to check by eye.
// In this order: 0 acquisition begin, 1 sample period, 2 mmap, 3 contexts
// (threads 7, 8), 4 time mapping (time 100 thread 7, time 90 thread 8),
// 5 burst begin (time 100), 6 stack, 7 sample (begin at 120 by thread 7, end
// by thread 8), 8 killed sample (begin at 125 by thread 7, no end),
// 9 sample end (150, thread 8), 10 sample begin (140, thread 7), 11 read
// (thread 7), 12 write (thread 8), 13 prefetch (thread 8), 14 local time
// (thread 7, global time 160), 15 burst end (170), 16 munmap (180),
// 17 acquisition end.
inline std::vector<std::unique_ptr<qnt_event_t>> every_kind() {
  std::vector<std::unique_ptr<qnt_event_t>> events;
  auto* acq = add<qnt_event_acquisition_begin_t>(&events);
  acq->time = 1339666013000000000;
  acq->architecture = 1;
  acq->argv = {"./app", "-n", "4"};
  acq->user = "bench";
  acq->line_sizes = {6, 255};
  add<qnt_event_sample_period_t>(&events)->sample_period = 50000;
  auto* mmap = add<qnt_event_mmap_t>(&events);
  mmap->address = 0x400000;
  mmap->size = 4096;
  mmap->attr = 5;
  mmap->device = 2049;
  mmap->inode = 77;
  mmap->filename = "/bin/app";
  mmap->offset = 0x1000;
  mmap->time = 3;
  add<qnt_event_contexts_t>(&events)->contexts = {7, 8};
  auto* mapping = add<qnt_event_time_mapping_t>(&events);
  mapping->times.resize(2);
  mapping->times[0].time = 100;
  mapping->times[0].tid = 7;
  mapping->times[1].time = 90;
  mapping->times[1].tid = 8;
  auto* burst = add<qnt_event_burst_begin_t>(&events);
  burst->real_time = 5000;
  burst->time = 100;
  auto* stack = add<qnt_event_stack_t>(&events);
  stack->id = 1;
  stack->return_addresses = {0x401000, 0x401234};
  auto* sample = add<qnt_event_sample_t>(&events);
  sample->begin.pc = 0x400010;
  sample->begin.addr = 0x7000;
  sample->begin.time = 120;
  sample->begin.stack = 1;
  sample->begin.thread = 7;
  sample->begin.size = 8;
  sample->begin.access_type = qnt_access_rd;
  sample->ends.resize(1);
  sample->ends[0].pc = 0x400020;
  sample->ends[0].addr = 0x7008;
  sample->ends[0].time = 130;
  sample->ends[0].stack = 1;
  sample->ends[0].thread = 8;
  sample->ends[0].size = 8;
  sample->ends[0].access_type = qnt_access_wr;
  sample->next_pc = 0x400014;
  sample->stack = 1;
  sample->line_size = 6;
  auto* killed = add<qnt_event_sample_t>(&events);
  killed->begin = sample->begin;
  killed->begin.time = 125;
  killed->next_pc = 0x400014;
  killed->stack = 1;
  killed->line_size = 255;
  killed->flags = qnt_event_sample_t::flag_killed;
  auto* end = add<qnt_event_sample_end_t>(&events);
  end->time = 150;
  end->thread_id = 8;
  end->sample_id = 5;
  end->pc = 0x400030;
  end->addr = 0x7040;
  end->access_type = qnt_access_wr;
  end->access_size = 4;
  end->rdist = 9;
  auto* begin = add<qnt_event_sample_begin_t>(&events);
  begin->time = 140;
  begin->thread_id = 7;
  begin->sample_id = 5;
  begin->pc = 0x400010;
  begin->next_pc = 0x400014;
  begin->addr = 0x7040;
  begin->access_type = qnt_access_rd;
  begin->access_size = 8;
  begin->line_size = 64;
  auto* read = add<qnt_event_read_t>(&events);
  read->pc = 0x400040;
  read->addr = 0x7080;
  read->thread_id = 7;
  read->size = 2;
  auto* write = add<qnt_event_write_t>(&events);
  write->pc = 0x400044;
  write->addr = 0x7088;
  write->thread_id = 8;
  write->size = 4;
  auto* prefetch = add<qnt_event_prefetch_t>(&events);
  prefetch->pc = 0x400048;
  prefetch->addr = 0x70c0;
  prefetch->thread_id = 8;
  prefetch->size = 64;
  auto* local = add<qnt_event_local_time_t>(&events);
  local->tid = 7;
  local->global_time = 160;
  local->local_time = 80;
  auto* burst_end = add<qnt_event_burst_end_t>(&events);
  burst_end->real_time = 9000;
  burst_end->time = 170;
  auto* munmap = add<qnt_event_munmap_t>(&events);
  munmap->address = 0x400000;
  munmap->size = 4096;
  munmap->time = 180;
  add<qnt_event_acquisition_end_t>(&events)->time = 1339666014000000000;
  return events;
}

}}  // namespace velkor::dump_fixtures
#endif
