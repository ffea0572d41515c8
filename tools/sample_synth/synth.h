// The model behind sample_synth: a deterministic generator of the events that
// a sampling profiler would record for a multi-threaded stencil solver. It
// emits them into any flow, so that the program writes them through the
// encoder and the tests can see exactly what it meant to write.
#ifndef TOOLS_SAMPLE_SYNTH_SYNTH_H_
#define TOOLS_SAMPLE_SYNTH_SYNTH_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "events/qnt_types.h"
#include "flow/quenth_flow.h"

namespace velkor { namespace synth {

struct recorded_binary_t;  // synth_binary.h

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

  // ---- The shape of the workload; the defaults give the model described
  // in synth.cc (seventeen instructions, a hot spot, ends soon after their
  // begins). What these settings add is drawn from generators of their own.

  // Program counters that begin samples. 0: the model's seventeen
  // instructions with their fixed weights. Otherwise that many instructions,
  // each accessing memory like one of the seventeen (drawn by their
  // weights), at addresses spread over the executable's text mapping (with
  // `binary`, at line-table rows of its functions) and sampled with the
  // weights of pc_skew. The accesses that end a sample come from the same
  // instructions.
  uint32_t pcs = 0;
  // The k-th busiest of the `pcs` instructions is sampled with weight
  // 1 / k^pc_skew: 0 is flat, 1 Zipf's law, larger values more skewed.
  double pc_skew = 1;
  // 0: each access that ends a sample comes a reuse gap after the access
  // before it, as the model has it. Otherwise the ends of a sample come at
  // its begin time plus 1 to end_trail accesses, drawn uniformly, at
  // distinct times in ascending order (a sample gets at most end_trail
  // ends), and those of separate end records likewise: the ends of
  // successive samples interleave, so end times arrive out of order.
  uint64_t end_trail = 0;
  // With ends_given, a complete sample record has ends_min to ends_max ends,
  // drawn uniformly, instead of none one time in eleven and else one for
  // private data, up to four for shared data.
  bool ends_given = false;
  uint32_t ends_min = 0;
  uint32_t ends_max = 0;
  // Every sample a complete sample record: no separate begin and end
  // records, so that none dangles.
  bool complete_only = false;
  // The recorded program: null for the model's stencil solver, else an ELF
  // executable whose segments, libraries, functions and global objects the
  // recording uses (see synth_binary.h).
  std::shared_ptr<const recorded_binary_t> binary;
};

// Limits of the settings; check_options enforces them.
const uint64_t max_samples = 0xffffffffu;  // sample ids are 32-bit
const uint32_t max_threads = 1024;
const uint32_t max_pcs = 16384;          // at least 10 bytes of text each
const double max_pc_skew = 10;
const uint64_t max_end_trail = 0xffffffffu;
const uint32_t max_ends = 255;

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
