#include "synth.h"

#include <algorithm>
#include <cassert>

#include "events/qnt_events.h"

namespace velkor { namespace synth {

using namespace library;

namespace {

// ---- Random numbers ------------------------------------------------------------

// splitmix64: small, fast, and the same on every platform and library
// version (unlike the standard distributions).
class random_t {
 public:
  explicit random_t(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // 0 to n - 1; n must not be 0. The bias is negligible for the small n used.
  uint64_t below(uint64_t n) { return next() % n; }
  // True with probability num / den.
  bool chance(uint64_t num, uint64_t den) { return below(den) < num; }

 private:
  uint64_t state_;
};

// ---- The recorded program ------------------------------------------------------
//
// A non-position-independent executable with a hot stencil kernel, a halo
// exchange between neighbouring threads' blocks of a shared grid, a residual
// reduction into one shared variable under a lock, and some libc and libm
// code. Addresses are those of a typical x86-64 Linux process.

struct mapping_t {
  uint64_t address;
  uint64_t size;
  uint32_t attr;  // protection bits: 1 read, 2 write, 4 execute
  uint64_t inode;
  uint64_t offset;
  const char* filename;
};

const uint64_t disk_device = 0x801;  // major 8, minor 1

const mapping_t mappings[] = {
    {0x400000, 0x2a000, 5, 1835021, 0, "/opt/heat3d/bin/heat3d"},
    {0x62a000, 0x3000, 3, 1835021, 0x2a000, "/opt/heat3d/bin/heat3d"},
    {0x7f3a3d400000, 0x103000, 5, 3932181, 0, "/lib/x86_64-linux-gnu/libm.so.6"},
    {0x7f3a3d800000, 0x19000, 5, 3932190, 0, "/lib/x86_64-linux-gnu/libpthread.so.0"},
    {0x7f3a3dc00000, 0x1bc000, 5, 3932170, 0, "/lib/x86_64-linux-gnu/libc.so.6"},
    {0x7f3a3e000000, 0x22000, 5, 3932164, 0, "/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"},
    {0x7f3a3e400000, 0x8000, 5, 1835044, 0, "/opt/heat3d/lib/libh3d_io.so"},
};
const size_t mapping_count = sizeof(mappings) / sizeof(mappings[0]);
// The output plugin is unloaded when the program ends.
const mapping_t& unloaded_mapping = mappings[mapping_count - 1];

// Where the data of an access lies; decides who else touches it.
enum region_t {
  region_grid_own,   // the thread's block of the current grid (private)
  region_grid_halo,  // the rows at the border with the next thread's block (shared)
  region_grid_next,  // the thread's block of the next grid (private)
  region_stack,      // the thread's stack (private)
  region_scratch,    // the thread's scratch buffer on the heap (private)
  region_sum,        // the shared residual, updated under the lock
  region_lock,       // the lock word
  region_table,      // a read-only table in libm (shared, read only)
  region_count
};

bool is_shared(region_t region) {
  return region == region_grid_halo || region == region_sum || region == region_lock ||
         region == region_table;
}

// Functions, for the call stacks.
enum function_t {
  fn_stencil_kernel,
  fn_exchange_halo,
  fn_reduce_residual,
  fn_solve_step,
  fn_memcpy,
  fn_exp,
  fn_mutex_lock,
  fn_tally,  // the planted counters of false_sharing; last, so that no other stack id moves
  function_count
};

// An instruction that accesses memory.
struct site_t {
  uint64_t pc;
  uint8_t length;  // bytes of the instruction: next_pc is pc + length
  qnt_access_type_t type;
  uint16_t size;
  region_t region;
  function_t function;
  uint32_t weight;  // how often it is sampled, relative to the others
};

// The weights make the kernel's loads the hot spot.
const site_t sites[] = {
    {0x402836, 5, qnt_access_rd, 8, region_grid_own, fn_stencil_kernel, 620},
    {0x40283b, 6, qnt_access_rd, 8, region_grid_own, fn_stencil_kernel, 480},
    {0x40284d, 5, qnt_access_wr, 8, region_grid_next, fn_stencil_kernel, 400},
    {0x402841, 6, qnt_access_rd, 8, region_grid_halo, fn_stencil_kernel, 260},
    {0x403491, 4, qnt_access_rd, 16, region_grid_halo, fn_exchange_halo, 220},
    {0x4034a6, 4, qnt_access_wr, 16, region_grid_halo, fn_exchange_halo, 180},
    {0x403b3c, 4, qnt_access_rd, 8, region_scratch, fn_reduce_residual, 140},
    {0x402859, 7, qnt_access_pf_intel_t0, 64, region_grid_own, fn_stencil_kernel, 120},
    {0x403b5a, 5, qnt_access_rdwr, 8, region_sum, fn_reduce_residual, 110},
    {0x7f3a3dc9a1f4, 4, qnt_access_rd, 16, region_scratch, fn_memcpy, 100},
    {0x402872, 4, qnt_access_rd, 8, region_stack, fn_stencil_kernel, 90},
    {0x7f3a3dc9a200, 4, qnt_access_wr, 16, region_grid_next, fn_memcpy, 90},
    {0x402177, 3, qnt_access_rd, 8, region_stack, fn_solve_step, 80},
    {0x4021c4, 4, qnt_access_wr, 8, region_stack, fn_solve_step, 70},
    {0x4028a0, 6, qnt_access_nta_wr, 16, region_grid_next, fn_stencil_kernel, 60},
    {0x7f3a3d43a31b, 5, qnt_access_rd, 8, region_table, fn_exp, 50},
    {0x7f3a3d809fc4, 5, qnt_access_rdwr, 4, region_lock, fn_mutex_lock, 40},
};
const size_t site_count = sizeof(sites) / sizeof(sites[0]);

// Return addresses of each function's call, innermost first, up to the
// thread's entry function; then the entry chain of the main thread or of a
// worker thread.
struct call_chain_t {
  uint64_t returns[3];
  size_t count;
};
const call_chain_t call_chains[function_count] = {
    {{0x4021f3}, 1},            // stencil_kernel <- solve_step
    {{0x402208}, 1},            // exchange_halo <- solve_step
    {{0x40221d}, 1},            // reduce_residual <- solve_step
    {{}, 0},                    // solve_step
    {{0x4034d2, 0x402208}, 2},  // memcpy <- exchange_halo <- solve_step
    {{0x4028c3, 0x4021f3}, 2},  // exp <- stencil_kernel <- solve_step
    {{0x403b88, 0x40221d}, 2},  // mutex_lock <- reduce_residual <- solve_step
    {{0x402232}, 1},            // tally <- solve_step
};
// solve_step <- main <- __libc_start_main <- _start
const uint64_t main_entry[] = {0x401b8e, 0x7f3a3dc21b97, 0x40102a};
// solve_step <- worker_main <- start_thread <- clone
const uint64_t worker_entry[] = {0x404096, 0x7f3a3d8076db, 0x7f3a3dd0f41f};

// Stack ids: 1 + 2 * function + (1 for a worker thread).
uint32_t stack_id(function_t function, uint32_t thread) {
  return 1 + 2 * static_cast<uint32_t>(function) + (thread == 0 ? 0 : 1);
}
const uint32_t stack_count = 2 * function_count;

// Data areas.
const uint64_t grid_current = 0x7f3a2c000010;  // two grids of 64 MiB each
const uint64_t grid_next = 0x7f3a30000010;
const uint64_t grid_size = 0x4000000;
const uint64_t grid_row = 0x4000;  // 2048 doubles
const uint64_t main_stack_top = 0x7ffd5e3c8000;
const uint64_t worker_stack_top = 0x7f3a2b7ff000;  // worker i: minus (i - 1) * stride
const uint64_t worker_stack_stride = 0x801000;     // 8 MiB and a guard page
const uint64_t scratch_base = 0x1d4e000;           // heap; 1 MiB per thread
const uint64_t scratch_stride = 0x100000;
const uint64_t residual_sum = 0x62c0c0;  // in the executable's data
const uint64_t lock_word = 0x62c100;
const uint64_t libm_table = 0x7f3a3d4f1a40;

// ---- The run ---------------------------------------------------------------------

// Program start-up before the first sample, in accesses.
const uint64_t startup_accesses = 1000000;
// Nanoseconds from the start of the acquisition to the program's first access.
const uint64_t startup_ns = 180000000;

class generator_t {
 public:
  generator_t(const synth_options_t& options, quenth_flow_t& flow)
      : options_(options),
        flow_(flow),
        random_(options.seed),
        planted_random_(options.seed ^ 0x6a09e667f3bcc908ull),
        status_(flow_status_ok) {
    block_ = (grid_size / options_.threads) & ~uint64_t(0xfff);
    for (const site_t& site : sites) {
      total_weight_ += site.weight;
      region_weight_[site.region] += site.weight;
    }
    stack_written_.assign(stack_count + 1, false);
    deferred_.reserve(16);
    sample_.ends.reserve(8);
  }

  flow_status_t run() {
    status_ = flow_.flow_init(0);
    if (status_ != flow_status_ok) return status_;
    if (!prologue()) return status_;
    uint64_t written = 0;
    uint64_t burst = 0;
    while (written < options_.samples) {
      uint64_t size = std::min<uint64_t>(1536 + random_.below(1024), options_.samples - written);
      if (!run_burst(++burst, size)) return status_;
      written += size;
    }
    return epilogue() ? flow_status_ok : status_;
  }

 private:
  // ---- Delivery

  bool emit(const qnt_event_t& event) {
    status_ = flow_.process_event(event);
    return status_ == flow_status_ok;
  }

  // ---- Clocks

  uint64_t real_time(uint64_t accesses) const {
    return acquisition_start_ns + startup_ns + accesses * 3 / 2;  // 1.5 ns per access
  }
  uint32_t thread_id(uint32_t thread) const { return main_thread_id + thread; }
  // Each thread counts its own accesses from its start; threads start
  // staggered and share the work evenly.
  uint64_t local_time(uint32_t thread, uint64_t global) const {
    uint64_t start = startup_accesses / 2 + 25000 * thread;
    return global > start ? (global - start) / options_.threads : 0;
  }

  // ---- Beginning and end of the acquisition

  bool prologue() {
    qnt_event_acquisition_begin_t begin;
    begin.time = acquisition_start_ns;
    begin.architecture = 1;  // x86_64
    begin.argv = {"/opt/heat3d/bin/heat3d", "--grid=2048x4096",
                  "--threads=" + std::to_string(options_.threads), "--steps=500"};
    begin.user = "bench";
    for (qnt_line_size_t size : options_.line_sizes) {
      begin.line_sizes.push_back(line_size_log(size));
    }
    if (!emit(begin)) return false;

    qnt_event_sample_period_t period;
    period.sample_period = nominal_sample_period;
    if (!emit(period)) return false;

    for (const mapping_t& m : mappings) {
      qnt_event_mmap_t mmap;
      mmap.address = m.address;
      mmap.size = m.size;
      mmap.attr = m.attr;
      mmap.device = disk_device;
      mmap.inode = m.inode;
      mmap.filename = m.filename;
      mmap.offset = m.offset;
      mmap.time = 0;  // mapped before the acquisition began
      if (!emit(mmap)) return false;
    }

    qnt_event_contexts_t contexts;
    for (uint32_t t = 0; t < options_.threads; ++t) contexts.contexts.push_back(thread_id(t));
    if (!emit(contexts)) return false;

    time_ = startup_accesses;
    return true;
  }

  bool epilogue() {
    time_ += 10 * nominal_sample_period;
    qnt_event_munmap_t munmap;
    munmap.address = unloaded_mapping.address;
    munmap.size = unloaded_mapping.size;
    munmap.time = time_;
    if (!emit(munmap)) return false;

    qnt_event_acquisition_end_t end;
    end.time = real_time(time_) + 1000000;
    return emit(end);
  }

  // ---- Bursts

  bool run_burst(uint64_t number, uint64_t samples) {
    // The sampler pauses between bursts.
    time_ += number == 1 ? nominal_sample_period
                         : 20 * nominal_sample_period + random_.below(20 * nominal_sample_period);

    qnt_event_time_mapping_t mapping;
    for (uint32_t t = 0; t < options_.threads; ++t) {
      qnt_event_time_mapping_t::time_event_t entry;
      entry.time = local_time(t, time_);
      entry.tid = thread_id(t);
      mapping.times.push_back(entry);
    }
    if (!emit(mapping)) return false;

    qnt_event_burst_begin_t begin;
    begin.real_time = real_time(time_);
    begin.time = time_;
    begin.opaque_1 = number;
    begin.opaque_2 = samples;
    if (!emit(begin)) return false;

    last_time_ = time_;
    for (uint64_t i = 0; i < samples; ++i) {
      time_ += nominal_sample_period / 2 + random_.below(nominal_sample_period);
      if (!one_sample()) return false;
      if (options_.false_sharing && planted_random_.chance(1, 8) && !planted_sample()) {
        return false;
      }
      ++samples_done_;
      if (!emit_deferred(false)) return false;
    }
    if (!emit_deferred(true)) return false;

    // The burst ends after the last access that ended one of its samples.
    time_ = std::max(time_, last_time_) + 1;
    for (uint32_t t = 0; t < options_.threads; ++t) {
      qnt_event_local_time_t local;
      local.tid = thread_id(t);
      local.global_time = time_;
      local.local_time = local_time(t, time_);
      if (!emit(local)) return false;
    }

    qnt_event_burst_end_t end;
    end.real_time = real_time(time_);
    end.time = time_;
    return emit(end);
  }

  // ---- Samples

  const site_t& pick_site() {
    uint64_t r = random_.below(total_weight_);
    for (const site_t& site : sites) {
      if (r < site.weight) return site;
      r -= site.weight;
    }
    return sites[0];
  }

  // A site that accesses the given region, by weight.
  const site_t& pick_site_in(region_t region) {
    uint64_t r = random_.below(region_weight_[region]);
    for (const site_t& site : sites) {
      if (site.region != region) continue;
      if (r < site.weight) return site;
      r -= site.weight;
    }
    return sites[0];
  }

  uint64_t align(uint64_t address, uint16_t size) const { return address & ~uint64_t(size - 1); }

  // The data address that `thread` touches at a site.
  uint64_t pick_address(const site_t& site, uint32_t thread) {
    switch (site.region) {
      case region_grid_own:
        return align(grid_current + thread * block_ + random_.below(block_), site.size);
      case region_grid_next:
        return align(grid_next + thread * block_ + random_.below(block_), site.size);
      case region_grid_halo: {
        // The last row of this block and the first of the next one.
        uint64_t border = grid_current + ((thread + 1) % options_.threads) * block_;
        if (border == grid_current) border += grid_row;  // periodic: wraps to the top
        return align(border - grid_row + random_.below(2 * grid_row), site.size);
      }
      case region_stack: {
        uint64_t top = thread == 0 ? main_stack_top
                                   : worker_stack_top - (thread - 1) * worker_stack_stride;
        return align(top - 64 - random_.below(2048), site.size);
      }
      case region_scratch:
        return align(scratch_base + thread * scratch_stride + random_.below(0x40000), site.size);
      case region_sum: return residual_sum;
      case region_lock: return lock_word;
      case region_table: return align(libm_table + random_.below(0x800), site.size);
      case region_count: break;
    }
    assert(0);
    return 0;
  }

  // How many accesses ended a sample of the region: none when the line was
  // not touched again before the sampler gave up.
  size_t pick_end_count(region_t region) {
    if (random_.chance(3, 32)) return 0;
    if (!is_shared(region)) return 1;
    if (region == region_grid_halo) return 1 + random_.below(2);
    return 1 + random_.below(4);
  }

  // The thread of an end: private data stays with its thread; the halo is
  // shared with the neighbour; the rest with anyone.
  uint32_t pick_end_thread(region_t region, uint32_t thread) {
    if (!is_shared(region) || random_.chance(1, 2)) return thread;
    if (region == region_grid_halo) return (thread + 1) % options_.threads;
    return static_cast<uint32_t>(random_.below(options_.threads));
  }

  // Accesses from a sampled access to the one that ended it.
  uint64_t pick_reuse_gap(region_t region) {
    switch (region) {
      case region_grid_halo: return 200 + random_.below(30000);
      case region_sum:
      case region_lock: return 50 + random_.below(20000);
      case region_table: return 100 + random_.below(50000);
      default: return 1 + random_.below(4000);
    }
  }

  // An access that ended a sample: same line, later. Tells the function of
  // its instruction.
  qnt_sample_access_t make_end(const qnt_sample_access_t& begin, region_t region,
                               qnt_line_size_t line_size, uint64_t after, function_t* function) {
    uint32_t thread = pick_end_thread(region, begin.thread - main_thread_id);
    const site_t& site = pick_site_in(region);
    *function = site.function;
    qnt_sample_access_t end;
    end.pc = site.pc;
    if (region == region_sum || region == region_lock) {
      end.addr = begin.addr;  // the same variable
    } else {
      uint64_t base = begin.addr & ~(line_size - 1);
      end.addr = base + (site.size <= line_size ? align(random_.below(line_size), site.size) : 0);
    }
    end.time = after + pick_reuse_gap(region);
    end.stack = stack_id(site.function, thread);
    end.thread = thread_id(thread);
    end.size = site.size;
    end.access_type = site.type;
    return end;
  }

  bool write_stack(uint32_t id, function_t function, uint32_t thread) {
    if (stack_written_[id]) return true;
    stack_written_[id] = true;
    qnt_event_stack_t stack;
    stack.id = id;
    const call_chain_t& chain = call_chains[function];
    for (size_t i = 0; i < chain.count; ++i) stack.return_addresses.push_back(chain.returns[i]);
    for (uint64_t address : thread == 0 ? main_entry : worker_entry) {
      stack.return_addresses.push_back(address);
    }
    return emit(stack);
  }

  // One sample: four in five as a complete sample record; the rest as a
  // begin and an end record with a sample id (the end written first one
  // time in four, the second record a few samples later), or as a begin alone
  // that never meets its end.
  bool one_sample() {
    const site_t& site = pick_site();
    uint32_t thread = static_cast<uint32_t>(random_.below(options_.threads));
    size_t line_index = options_.line_sizes.size() == 1
                            ? 0
                            : static_cast<size_t>(random_.below(options_.line_sizes.size()));
    qnt_line_size_t line_size = options_.line_sizes[line_index];

    qnt_sample_access_t& begin = sample_.begin;
    begin.pc = site.pc;
    begin.addr = pick_address(site, thread);
    begin.time = time_;
    begin.stack = stack_id(site.function, thread);
    begin.thread = thread_id(thread);
    begin.size = site.size;
    begin.access_type = site.type;

    if (random_.chance(1, 5)) return separate_sample(site, line_size);

    if (!write_stack(begin.stack, site.function, thread)) return false;
    size_t ends = pick_end_count(site.region);
    sample_.ends.resize(ends);
    uint64_t after = begin.time;
    for (size_t i = 0; i < ends; ++i) {
      qnt_sample_access_t& end = sample_.ends[i];
      function_t function;
      end = make_end(begin, site.region, line_size, after, &function);
      if (!write_stack(end.stack, function, end.thread - main_thread_id)) return false;
      after = end.time;
    }
    last_time_ = std::max(last_time_, after);
    sample_.next_pc = site.pc + site.length;
    sample_.stack = begin.stack;
    sample_.line_size = line_size_log(line_size);
    // Half of the samples that nothing ended were killed by the sampler.
    sample_.flags = ends == 0 && random_.chance(1, 2) ? qnt_event_sample_t::flag_killed : 0;

    return emit(sample_);
  }

  bool separate_sample(const site_t& site, qnt_line_size_t line_size) {
    const qnt_sample_access_t& access = sample_.begin;
    uint32_t id = ++sample_id_;
    deferred_t record;
    record.due = samples_done_ + random_.below(4);
    qnt_event_sample_begin_t& begin = record.begin;
    begin.time = access.time;
    begin.thread_id = access.thread;
    begin.sample_id = id;
    begin.pc = access.pc;
    begin.next_pc = site.pc + site.length;
    begin.addr = access.addr;
    begin.access_type = access.access_type;
    begin.access_size = access.size;
    begin.line_size = line_size;

    if (random_.chance(1, 8)) return emit(begin);  // dangling: no end ever comes

    function_t function;
    qnt_sample_access_t ended = make_end(access, site.region, line_size, access.time, &function);
    last_time_ = std::max(last_time_, ended.time);
    qnt_event_sample_end_t& end = record.end;
    end.time = ended.time;
    end.thread_id = ended.thread;
    end.sample_id = id;
    end.pc = ended.pc;
    end.addr = ended.addr;
    end.access_type = ended.access_type;
    end.access_size = ended.size;
    end.rdist = ended.time - access.time - 1;

    record.is_begin = random_.chance(1, 4);
    if (!emit(record.is_begin ? static_cast<const qnt_event_t&>(end) : begin)) return false;
    deferred_.push_back(record);
    return true;
  }

  // Writes the second records that are due (all of them at the end of a burst).
  bool emit_deferred(bool all) {
    size_t kept = 0;
    for (size_t i = 0; i < deferred_.size(); ++i) {
      const deferred_t& record = deferred_[i];
      if (all || record.due < samples_done_) {
        if (!emit(record.is_begin ? static_cast<const qnt_event_t&>(record.begin) : record.end)) {
          return false;
        }
      } else {
        if (kept != i) deferred_[kept] = record;
        ++kept;
      }
    }
    deferred_.resize(kept);
    return true;
  }

  // ---- Planted sharing (false_sharing)

  // A complete sample of the planted lines, drawn from planted_random_
  // alone: two in three on the packed counters, where each access is a
  // thread's increment of its own counter and the ends are by other threads;
  // the rest on the shared counter, incremented by every thread.
  bool planted_sample() {
    const qnt_line_size_t line_size = options_.line_sizes[0];
    const uint64_t slots = std::max<uint64_t>(1, line_size / 8);
    const uint32_t counters = static_cast<uint32_t>(std::min<uint64_t>(options_.threads, slots));
    const bool packed = !planted_random_.chance(1, 3);
    const uint32_t threads = packed ? counters : options_.threads;
    const uint64_t pc = packed ? planted_counter_pc : planted_shared_pc;
    const uint8_t length = packed ? 5 : 8;

    uint32_t thread = static_cast<uint32_t>(planted_random_.below(threads));
    auto access = [&](uint32_t t, uint64_t time) {
      qnt_sample_access_t a;
      a.pc = pc;
      a.addr = packed ? planted_counters + 8 * t : planted_counters + line_size;
      a.time = time;
      a.stack = stack_id(fn_tally, t);
      a.thread = thread_id(t);
      a.size = 8;
      a.access_type = qnt_access_rdwr;
      return a;
    };
    planted_.begin = access(thread, time_ + 1 + planted_random_.below(1000));
    if (!write_stack(planted_.begin.stack, fn_tally, thread)) return false;
    const size_t ends = 1 + static_cast<size_t>(planted_random_.below(3));
    planted_.ends.resize(ends);
    uint64_t after = planted_.begin.time;
    for (size_t i = 0; i < ends; ++i) {
      // Another thread, when there is one.
      uint32_t next = thread;
      if (threads > 1) {
        next = static_cast<uint32_t>(planted_random_.below(threads - 1));
        if (next >= thread) ++next;
      }
      after += 50 + planted_random_.below(5000);
      planted_.ends[i] = access(next, after);
      if (!write_stack(planted_.ends[i].stack, fn_tally, next)) return false;
      thread = next;
    }
    last_time_ = std::max(last_time_, after);
    planted_.next_pc = pc + length;
    planted_.stack = planted_.begin.stack;
    planted_.line_size = line_size_log(line_size);
    planted_.flags = 0;
    return emit(planted_);
  }

  static uint8_t line_size_log(qnt_line_size_t size) {
    uint8_t log = 0;
    while ((qnt_line_size_t(1) << log) < size) ++log;
    return log;
  }

  // The second record of a separate sample, waiting for its turn.
  struct deferred_t {
    uint64_t due = 0;       // written after the sample with this number
    bool is_begin = false;  // the begin (its end came first) or the end
    qnt_event_sample_begin_t begin;
    qnt_event_sample_end_t end;
  };

  const synth_options_t& options_;
  quenth_flow_t& flow_;
  random_t random_;
  random_t planted_random_;  // draws for the planted samples only
  flow_status_t status_;
  uint64_t block_ = 0;         // bytes of each thread's block of a grid
  uint64_t total_weight_ = 0;  // of all sites
  uint64_t time_ = 0;          // accesses so far: the time of the latest begin
  uint64_t last_time_ = 0;     // latest access that ended a sample
  uint32_t sample_id_ = 0;
  uint64_t region_weight_[region_count] = {};
  uint64_t samples_done_ = 0;  // samples of the run so far
  std::vector<bool> stack_written_;
  std::vector<deferred_t> deferred_;
  qnt_event_sample_t sample_;   // reused for every complete sample
  qnt_event_sample_t planted_;  // and for every planted one
};

}  // namespace

std::string check_options(const synth_options_t& options) {
  if (options.samples > max_samples) {
    return "the number of samples must not exceed " + std::to_string(max_samples) + ".";
  }
  if (options.threads < 1 || options.threads > max_threads) {
    return "the number of threads must be from 1 to " + std::to_string(max_threads) + ".";
  }
  if (options.line_sizes.empty()) return "at least one line size is needed.";
  for (size_t i = 0; i < options.line_sizes.size(); ++i) {
    qnt_line_size_t size = options.line_sizes[i];
    if (size == 0 || (size & (size - 1)) != 0) {
      return "line size " + std::to_string(size) + " is not a power of two.";
    }
    for (size_t j = 0; j < i; ++j) {
      if (options.line_sizes[j] == size) {
        return "line size " + std::to_string(size) + " is given twice.";
      }
    }
  }
  return "";
}

flow_status_t synthesize(const synth_options_t& options, quenth_flow_t& flow) {
  assert(check_options(options).empty());
  generator_t generator(options, flow);
  return generator.run();
}

}}  // namespace velkor::synth
