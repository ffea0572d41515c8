// The model behind sample_synth: a deterministic generator of the events that
// a sampling profiler would record for a multi-threaded stencil solver. It
// emits them into any flow, so that the program writes them through the
// encoder and the tests can see exactly what it meant to write.
#ifndef TOOLS_SAMPLE_SYNTH_SYNTH_H_
#define TOOLS_SAMPLE_SYNTH_SYNTH_H_

#include <cstdint>
#include <string>
#include <vector>

#include "events/qnt_types.h"
#include "flow/quenth_flow.h"

namespace velkor { namespace synth {

// What to generate. The same settings give the same events.
struct synth_options_t {
  uint64_t samples = 10000;  // sample records (complete or begin) to write
  uint32_t threads = 4;
  // Distinct powers of two, in the order given; each sample belongs to one.
  std::vector<library::qnt_line_size_t> line_sizes{64};
  uint64_t seed = 1;
  // Also plants sharing: after about one regular sample in eight, a sample
  // of per-thread counters packed into one line of the first line size
  // (each thread increments its own 8 bytes; the accesses that end it are
  // other threads' increments of theirs: false sharing) or of a counter in
  // the next line that every thread increments (true sharing). The planted
  // samples come on top of `samples`, from a generator of their own: the
  // regular samples stay those of the run without them.
  bool false_sharing = false;
};

// Limits of the settings; check_options enforces them.
const uint64_t max_samples = 0xffffffffu;  // sample ids are 32-bit
const uint32_t max_threads = 1024;

// Nominal sample period in accesses, written as the sample period event.
const uint64_t nominal_sample_period = 50000;
// Start of the acquisition in nanoseconds since the epoch: Thu Jun 14
// 09:26:53 UTC 2012. Fixed, so that the output is reproducible.
const uint64_t acquisition_start_ns = 1339666013ull * 1000000000ull;
// Thread id of the main thread; the workers follow it.
const uint32_t main_thread_id = 23817;

// The planted lines of false_sharing: the counters of the first
// min(threads, line size / 8) threads at planted_counters + 8 * thread, and
// the counter all threads share at planted_counters + line size.
const uint64_t planted_counters = 0x62b000;
const uint64_t planted_counter_pc = 0x403c18;  // add qword [rbx+rax*8], 1
const uint64_t planted_shared_pc = 0x403c40;   // lock add qword [rip+...], 1

// Empty when the settings are usable, else why not (one sentence).
std::string check_options(const synth_options_t& options);

// Calls flow_init(0), then process_event for every event of the run, in file
// order: acquisition begin, sample period, mappings, contexts, then per burst
// a time mapping, the burst begin, the samples (with each call stack before
// the first sample that refers to it), the local times of the threads and the
// burst end; finally an unmapping and the acquisition end. Stops at the first
// status other than flow_status_ok and returns it (flow_init's included);
// flow_status_ok when everything was delivered. The options must pass
// check_options.
library::flow_status_t synthesize(const synth_options_t& options, library::quenth_flow_t& flow);

}}  // namespace velkor::synth
#endif
