#include "synth.h"

#include <elf.h>

#include <algorithm>
#include <cassert>
#include <cmath>

#include "events/qnt_events.h"
#include "synth_binary.h"

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

// The last, the output plugin, is unloaded when the program ends.
const mapping_t mappings[] = {
    {0x400000, 0x2a000, 5, 1835021, 0, "/opt/heat3d/bin/heat3d"},
    {0x62a000, 0x3000, 3, 1835021, 0x2a000, "/opt/heat3d/bin/heat3d"},
    {0x7f3a3d400000, 0x103000, 5, 3932181, 0, "/lib/x86_64-linux-gnu/libm.so.6"},
    {0x7f3a3d800000, 0x19000, 5, 3932190, 0, "/lib/x86_64-linux-gnu/libpthread.so.0"},
    {0x7f3a3dc00000, 0x1bc000, 5, 3932170, 0, "/lib/x86_64-linux-gnu/libc.so.6"},
    {0x7f3a3e000000, 0x22000, 5, 3932164, 0, "/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"},
    {0x7f3a3e400000, 0x8000, 5, 1835044, 0, "/opt/heat3d/lib/libh3d_io.so"},
};

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
  uint32_t length;  // bytes to the next instruction: next_pc is pc + length
  qnt_access_type_t type;
  uint16_t size;
  region_t region;
  function_t function;
  uint64_t weight;  // how often it is sampled, relative to the others
};

// The weights make the kernel's loads the hot spot.
const site_t model_sites[] = {
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
const size_t model_site_count = sizeof(model_sites) / sizeof(model_sites[0]);

// Return addresses of each function's call, innermost first, up to the
// thread's entry function; then the entry chain of the main thread or of a
// worker thread.
struct call_chain_t {
  uint64_t returns[3];
  size_t count;
};
const call_chain_t model_call_chains[function_count] = {
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
const uint64_t model_main_entry[] = {0x401b8e, 0x7f3a3dc21b97, 0x40102a};
// solve_step <- worker_main <- start_thread <- clone
const uint64_t model_worker_entry[] = {0x404096, 0x7f3a3d8076db, 0x7f3a3dd0f41f};

// Stack ids: 1 + 2 * function + (1 for a worker thread).
uint32_t stack_id(function_t function, uint32_t thread) {
  return 1 + 2 * static_cast<uint32_t>(function) + (thread == 0 ? 0 : 1);
}
const uint32_t stack_count = 2 * function_count;

// Data areas.
const uint64_t model_grid_current = 0x7f3a2c000010;  // two grids of 64 MiB each
const uint64_t model_grid_next = 0x7f3a30000010;
const uint64_t model_grid_size = 0x4000000;
const uint64_t model_grid_row = 0x4000;  // 2048 doubles
const uint64_t main_stack_top = 0x7ffd5e3c8000;
const uint64_t worker_stack_top = 0x7f3a2b7ff000;  // worker i: minus (i - 1) * stride
const uint64_t worker_stack_stride = 0x801000;     // 8 MiB and a guard page
const uint64_t scratch_base = 0x1d4e000;           // heap; 1 MiB per thread
const uint64_t scratch_stride = 0x100000;
const uint64_t model_residual_sum = 0x62c0c0;  // in the executable's data
const uint64_t model_lock_word = 0x62c100;
const uint64_t libm_table = 0x7f3a3d4f1a40;

// ---- The program the generator records ------------------------------------------
//
// The model above, or what the settings make of it: more instructions at
// addresses of their own (pcs), or an ELF executable's segments, libraries,
// functions and global objects (binary). Built once, before the run, from a
// generator of its own, so that the run's draws stay those of the model.

struct program_mapping_t {
  uint64_t address;
  uint64_t size;
  uint32_t attr;
  uint64_t device;
  uint64_t inode;
  uint64_t offset;
  std::string filename;
};

struct program_t {
  std::vector<std::string> argv;
  std::vector<program_mapping_t> mappings;
  bool unmap_last = true;  // the output plugin, the last mapping, goes at the end
  std::vector<site_t> sites;
  std::vector<std::vector<uint64_t>> call_chains;  // by function
  std::vector<uint64_t> main_entry;
  std::vector<uint64_t> worker_entry;
  uint64_t grid_current = model_grid_current;
  uint64_t grid_next = model_grid_next;
  uint64_t grid_size = model_grid_size;
  uint64_t grid_row = model_grid_row;
  uint64_t residual_sum = model_residual_sum;
  uint64_t lock_word = model_lock_word;
  uint64_t planted_counters = synth::planted_counters;
  uint64_t planted_counter_pc = synth::planted_counter_pc;
  uint32_t planted_counter_length = 5;
  uint64_t planted_shared_pc = synth::planted_shared_pc;
  uint32_t planted_shared_length = 8;
};

// The text of the model's executable that generated instructions spread
// over: its first mapping, after the page of its headers.
const uint64_t model_text_begin = 0x401000;
const uint64_t model_text_end = 0x42a000;

// Where --binary places a position-independent executable (where Linux
// puts one when address randomization is off) and the first library.
const uint64_t binary_pie_base = 0x555555554000;
const uint64_t binary_library_base = 0x7f3a3e800000;
const uint64_t page_size = 0x1000;
const uint64_t library_alignment = 0x200000;

random_t layout_random(uint64_t seed) { return random_t(seed ^ 0xbb67ae8584caa73bull); }

program_t model_program(const synth_options_t& options) {
  program_t program;
  program.argv = {"/opt/heat3d/bin/heat3d", "--grid=2048x4096",
                  "--threads=" + std::to_string(options.threads), "--steps=500"};
  for (const mapping_t& m : mappings) {
    program.mappings.push_back(
        {m.address, m.size, m.attr, disk_device, m.inode, m.offset, m.filename});
  }
  program.sites.assign(model_sites, model_sites + model_site_count);
  for (const call_chain_t& chain : model_call_chains) {
    program.call_chains.emplace_back(chain.returns, chain.returns + chain.count);
  }
  program.main_entry.assign(std::begin(model_main_entry), std::end(model_main_entry));
  program.worker_entry.assign(std::begin(model_worker_entry), std::end(model_worker_entry));
  return program;
}

// The weight of the instruction of rank k (1 the busiest) under skew s:
// 2^32 / k^s, at least 1.
uint64_t zipf_weight(uint64_t k, double skew) {
  double weight = std::ldexp(1.0, 32) / std::pow(static_cast<double>(k), skew);
  return weight < 1 ? 1 : static_cast<uint64_t>(std::llround(weight));
}

// The kinds of access of `count` generated instructions, busiest first:
// copies of the model's instructions drawn by their weights, with the
// weights of rank under the skew.
std::vector<site_t> generated_kinds(uint32_t count, double skew, random_t* layout) {
  uint64_t total = 0;
  for (const site_t& site : model_sites) total += site.weight;
  std::vector<site_t> kinds;
  for (uint32_t rank = 1; rank <= count; ++rank) {
    uint64_t r = layout->below(total);
    const site_t* kind = &model_sites[0];
    for (const site_t& site : model_sites) {
      if (r < site.weight) {
        kind = &site;
        break;
      }
      r -= site.weight;
    }
    site_t site = *kind;
    site.weight = zipf_weight(rank, skew);
    kinds.push_back(site);
  }
  return kinds;
}

// The generated instructions of the model's executable: each in a slot of
// its own among `count` equal slots of the text (the slots dealt to the
// ranks in a random order), at a random place inside it.
void spread_over_text(std::vector<site_t>* sites, random_t* layout) {
  const uint64_t count = sites->size();
  std::vector<uint32_t> slot_of(count);
  for (uint32_t i = 0; i < count; ++i) slot_of[i] = i;
  for (uint64_t i = count; i > 1; --i) std::swap(slot_of[i - 1], slot_of[layout->below(i)]);
  const uint64_t span = model_text_end - model_text_begin;
  for (uint64_t rank = 0; rank < count; ++rank) {
    site_t& site = (*sites)[rank];
    uint64_t slot = slot_of[rank];
    uint64_t start = model_text_begin + slot * span / count;
    uint64_t end = model_text_begin + (slot + 1) * span / count;
    site.pc = start + layout->below(end - start - site.length + 1);
  }
}

uint32_t mapping_attr(uint32_t elf_flags) {
  return ((elf_flags & PF_R) ? 1 : 0) | ((elf_flags & PF_W) ? 2 : 0) |
         ((elf_flags & PF_X) ? 4 : 0);
}

// The mappings of a module's loadable segments at base, in pages, as the
// loader makes them; the end of the highest one.
uint64_t map_module(const recorded_module_t& module, uint64_t base, program_t* program) {
  uint64_t end = base;
  for (const elf_load_segment_t& load : module.loads) {
    uint64_t first = load.vaddr & ~(page_size - 1);
    uint64_t last = (load.vaddr + load.memory_size + page_size - 1) & ~(page_size - 1);
    if (last <= first) continue;
    program->mappings.push_back({base + first, last - first, mapping_attr(load.flags),
                                 module.device, module.inode, load.offset & ~(page_size - 1),
                                 module.path});
    end = std::max(end, base + last);
  }
  return end;
}

// The places of a binary's code in the order ranks take them: one from each
// function in turn, largest function first, each function's places in a
// random order; the first `count`.
std::vector<code_place_t> places_by_rank(const recorded_binary_t& binary, size_t count,
                                         random_t* layout) {
  std::vector<std::vector<code_place_t>> functions = binary.functions;
  for (std::vector<code_place_t>& places : functions) {
    for (uint64_t i = places.size(); i > 1; --i) {
      std::swap(places[i - 1], places[layout->below(i)]);
    }
  }
  std::vector<code_place_t> order;
  for (size_t round = 0; order.size() < count; ++round) {
    for (const std::vector<code_place_t>& places : functions) {
      if (round < places.size() && order.size() < count) order.push_back(places[round]);
    }
  }
  return order;
}

// The binary's writable object that `fits` and is not taken yet, of the
// smallest size (ties: the lower address), those of strong symbols before
// weak ones (which compilers make for their own use, such as the personality
// routine's DW.ref); null when there is none.
template <class fits_t>
const data_object_t* smallest_object(const recorded_binary_t& binary,
                                     const std::vector<bool>& taken, fits_t fits) {
  const data_object_t* best = nullptr;
  for (size_t i = 0; i < binary.objects.size(); ++i) {
    const data_object_t& o = binary.objects[i];
    if (taken[i] || !fits(o)) continue;
    if (best == nullptr || o.weak < best->weak || (o.weak == best->weak && o.size < best->size)) {
      best = &o;
    }
  }
  return best;
}

void take(const recorded_binary_t& binary, const data_object_t* object, std::vector<bool>* taken) {
  (*taken)[object - binary.objects.data()] = true;
}

// The program of --binary: the executable and its libraries mapped, the
// instructions at places of its code, the stacks' return addresses in its
// functions, the global data in its objects where it has fitting ones.
program_t binary_program(const synth_options_t& options, random_t* layout) {
  const recorded_binary_t& binary = *options.binary;
  program_t program;
  program.argv = {binary.executable.path};
  program.unmap_last = false;
  const uint64_t base = binary.executable.position_independent ? binary_pie_base : 0;
  map_module(binary.executable, base, &program);
  uint64_t library_base = binary_library_base;
  for (const recorded_module_t& library : binary.libraries) {
    uint64_t end = map_module(library, library.position_independent ? library_base : 0, &program);
    if (library.position_independent) {
      library_base = (end + library_alignment - 1) & ~(library_alignment - 1);
    }
  }

  // Instructions: the model's seventeen at seventeen places, or `pcs`
  // generated ones; the busiest in the largest functions.
  const size_t places = binary.place_count();
  if (options.pcs == 0) {
    program.sites.assign(model_sites, model_sites + std::min(model_site_count, places));
  } else {
    program.sites = generated_kinds(options.pcs, options.pc_skew, layout);
  }
  std::vector<code_place_t> order = places_by_rank(binary, program.sites.size(), layout);
  for (size_t i = 0; i < program.sites.size(); ++i) {
    program.sites[i].pc = base + order[i].pc;
    program.sites[i].length = static_cast<uint32_t>(order[i].next_pc - order[i].pc);
  }

  // Return addresses: the next pcs of places (whose address less one, where
  // a return address is resolved, lies in the function).
  auto return_address = [&]() {
    size_t f = layout->below(binary.functions.size());
    const std::vector<code_place_t>& in = binary.functions[f];
    return base + in[layout->below(in.size())].next_pc;
  };
  for (const call_chain_t& chain : model_call_chains) {
    std::vector<uint64_t> returns;
    for (size_t i = 0; i < chain.count; ++i) returns.push_back(return_address());
    program.call_chains.push_back(returns);
  }
  for (size_t i = 0; i < 3; ++i) program.main_entry.push_back(return_address());
  for (size_t i = 0; i < 3; ++i) program.worker_entry.push_back(return_address());
  // The planted counters are updated inside the busiest code, as a loop
  // that counts its work does: the per-thread counter in the largest
  // function, the shared one in the next.
  const std::vector<code_place_t>& counter_function = binary.functions[0];
  const std::vector<code_place_t>& shared_function =
      binary.functions[std::min<size_t>(1, binary.functions.size() - 1)];
  const code_place_t& counter = counter_function[counter_function.size() / 2];
  const code_place_t& shared = shared_function[shared_function.size() / 2];
  program.planted_counter_pc = base + counter.pc;
  program.planted_counter_length = static_cast<uint32_t>(counter.next_pc - counter.pc);
  program.planted_shared_pc = base + shared.pc;
  program.planted_shared_length = static_cast<uint32_t>(shared.next_pc - shared.pc);

  // Data: the grids in the two largest objects when each has a page per
  // thread; the residual and the lock in the smallest ones that hold them;
  // the planted counters in the smallest that holds two whole lines.
  std::vector<bool> taken(binary.objects.size(), false);
  std::vector<size_t> by_size(binary.objects.size());
  for (size_t i = 0; i < by_size.size(); ++i) by_size[i] = i;
  std::stable_sort(by_size.begin(), by_size.end(), [&](size_t a, size_t b) {
    return binary.objects[a].size > binary.objects[b].size;
  });
  const uint64_t grid_need = page_size * options.threads;
  if (by_size.size() >= 2 && binary.objects[by_size[1]].size >= grid_need) {
    const data_object_t& current = binary.objects[by_size[0]];
    const data_object_t& next = binary.objects[by_size[1]];
    program.grid_current = base + current.address;
    program.grid_next = base + next.address;
    program.grid_size = next.size;  // the smaller of the two
    program.grid_row = std::min(model_grid_row, (next.size / options.threads) & ~(page_size - 1));
    taken[by_size[0]] = taken[by_size[1]] = true;
  }
  const data_object_t* sum =
      smallest_object(binary, taken, [](const data_object_t& o) { return o.size >= 8; });
  if (sum != nullptr) {
    program.residual_sum = base + ((sum->address + 7) & ~uint64_t(7));
    take(binary, sum, &taken);
  }
  const data_object_t* lock =
      smallest_object(binary, taken, [](const data_object_t& o) { return o.size >= 4; });
  if (lock != nullptr) {
    program.lock_word = base + ((lock->address + 3) & ~uint64_t(3));
    take(binary, lock, &taken);
  }
  const uint64_t line = options.line_sizes[0];
  auto line_start = [line](const data_object_t& o) { return (o.address + line - 1) & ~(line - 1); };
  const data_object_t* counters = smallest_object(binary, taken, [&](const data_object_t& o) {
    return line_start(o) + 2 * line <= o.address + o.size;
  });
  if (counters != nullptr) program.planted_counters = base + line_start(*counters);
  return program;
}

program_t build_program(const synth_options_t& options) {
  random_t layout = layout_random(options.seed);
  if (options.binary) return binary_program(options, &layout);
  program_t program = model_program(options);
  if (options.pcs != 0) {
    program.sites = generated_kinds(options.pcs, options.pc_skew, &layout);
    spread_over_text(&program.sites, &layout);
  }
  return program;
}

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
        program_(build_program(options)),
        random_(options.seed),
        planted_random_(options.seed ^ 0x6a09e667f3bcc908ull),
        shape_random_(options.seed ^ 0x3c6ef372fe94f82bull),
        status_(flow_status_ok) {
    block_ = (program_.grid_size / options_.threads) & ~uint64_t(0xfff);
    // Running sums of the weights, overall and per region, for the draws.
    for (size_t i = 0; i < program_.sites.size(); ++i) {
      const site_t& site = program_.sites[i];
      total_weight_ += site.weight;
      site_sums_.push_back(total_weight_);
      region_weight_[site.region] += site.weight;
      region_sites_[site.region].push_back(i);
      region_sums_[site.region].push_back(region_weight_[site.region]);
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
    begin.argv = program_.argv;
    begin.user = "bench";
    for (qnt_line_size_t size : options_.line_sizes) {
      begin.line_sizes.push_back(line_size_log(size));
    }
    if (!emit(begin)) return false;

    qnt_event_sample_period_t period;
    period.sample_period = nominal_sample_period;
    if (!emit(period)) return false;

    for (const program_mapping_t& m : program_.mappings) {
      qnt_event_mmap_t mmap;
      mmap.address = m.address;
      mmap.size = m.size;
      mmap.attr = m.attr;
      mmap.device = m.device;
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
    if (program_.unmap_last) {
      qnt_event_munmap_t munmap;
      munmap.address = program_.mappings.back().address;
      munmap.size = program_.mappings.back().size;
      munmap.time = time_;
      if (!emit(munmap)) return false;
    }

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

  // A site by weight: the first whose running sum passes the draw.
  const site_t& pick_site() {
    uint64_t r = random_.below(total_weight_);
    size_t i = std::upper_bound(site_sums_.begin(), site_sums_.end(), r) - site_sums_.begin();
    return program_.sites[i];
  }

  // A site that accesses the given region, by weight. The region is that of
  // a site, so that some site accesses it.
  const site_t& pick_site_in(region_t region) {
    assert(region_weight_[region] > 0);
    uint64_t r = random_.below(region_weight_[region]);
    const std::vector<uint64_t>& sums = region_sums_[region];
    size_t i = std::upper_bound(sums.begin(), sums.end(), r) - sums.begin();
    return program_.sites[region_sites_[region][i]];
  }

  uint64_t align(uint64_t address, uint16_t size) const { return address & ~uint64_t(size - 1); }

  // The data address that `thread` touches at a site.
  uint64_t pick_address(const site_t& site, uint32_t thread) {
    switch (site.region) {
      case region_grid_own:
        return align(program_.grid_current + thread * block_ + random_.below(block_), site.size);
      case region_grid_next:
        return align(program_.grid_next + thread * block_ + random_.below(block_), site.size);
      case region_grid_halo: {
        // The last row of this block and the first of the next one.
        const uint64_t grid = program_.grid_current, row = program_.grid_row;
        uint64_t border = grid + ((thread + 1) % options_.threads) * block_;
        if (border == grid) border += row;  // periodic: wraps to the top
        return align(border - row + random_.below(2 * row), site.size);
      }
      case region_stack: {
        uint64_t top = thread == 0 ? main_stack_top
                                   : worker_stack_top - (thread - 1) * worker_stack_stride;
        return align(top - 64 - random_.below(2048), site.size);
      }
      case region_scratch:
        return align(scratch_base + thread * scratch_stride + random_.below(0x40000), site.size);
      case region_sum: return program_.residual_sum;
      case region_lock: return program_.lock_word;
      case region_table: return align(libm_table + random_.below(0x800), site.size);
      case region_count: break;
    }
    assert(0);
    return 0;
  }

  // How many accesses ended a sample of the region: none when the line was
  // not touched again before the sampler gave up.
  size_t pick_end_count(region_t region) {
    if (options_.ends_given) {
      return options_.ends_min + shape_random_.below(options_.ends_max - options_.ends_min + 1);
    }
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
    const std::vector<uint64_t>& chain = program_.call_chains[function];
    stack.return_addresses.assign(chain.begin(), chain.end());
    for (uint64_t address : thread == 0 ? program_.main_entry : program_.worker_entry) {
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

    if (random_.chance(1, 5) && !options_.complete_only) return separate_sample(site, line_size);

    if (!write_stack(begin.stack, site.function, thread)) return false;
    size_t ends = pick_end_count(site.region);
    if (options_.end_trail != 0) {
      ends = static_cast<size_t>(std::min<uint64_t>(ends, options_.end_trail));
      trailing_offsets(ends, options_.end_trail, &trail_);
    }
    sample_.ends.resize(ends);
    uint64_t after = begin.time;
    for (size_t i = 0; i < ends; ++i) {
      qnt_sample_access_t& end = sample_.ends[i];
      function_t function;
      end = make_end(begin, site.region, line_size, after, &function);
      if (options_.end_trail != 0) end.time = begin.time + trail_[i];
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
    if (options_.end_trail != 0) ended.time = access.time + 1 + shape_random_.below(options_.end_trail);
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

  // k distinct offsets from 1 to n (k <= n), drawn uniformly, in ascending
  // order (Floyd's selection: each draw below j that was drawn before gives
  // way to j, larger than every one so far).
  void trailing_offsets(size_t k, uint64_t n, std::vector<uint64_t>* offsets) {
    offsets->clear();
    for (uint64_t j = n - k + 1; j <= n; ++j) {
      uint64_t t = 1 + shape_random_.below(j);
      auto at = std::lower_bound(offsets->begin(), offsets->end(), t);
      if (at != offsets->end() && *at == t) {
        offsets->push_back(j);
      } else {
        offsets->insert(at, t);
      }
    }
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
    const uint64_t pc = packed ? program_.planted_counter_pc : program_.planted_shared_pc;
    const uint32_t length =
        packed ? program_.planted_counter_length : program_.planted_shared_length;

    uint32_t thread = static_cast<uint32_t>(planted_random_.below(threads));
    auto access = [&](uint32_t t, uint64_t time) {
      qnt_sample_access_t a;
      a.pc = pc;
      a.addr = packed ? program_.planted_counters + 8 * t : program_.planted_counters + line_size;
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
  const program_t program_;
  random_t random_;
  random_t planted_random_;  // draws for the planted samples only
  random_t shape_random_;    // draws for the shape options (end_trail, ends) only
  flow_status_t status_;
  uint64_t block_ = 0;         // bytes of each thread's block of a grid
  uint64_t total_weight_ = 0;  // of all sites
  uint64_t time_ = 0;          // accesses so far: the time of the latest begin
  uint64_t last_time_ = 0;     // latest access that ended a sample
  uint32_t sample_id_ = 0;
  uint64_t region_weight_[region_count] = {};
  std::vector<uint64_t> site_sums_;
  std::vector<size_t> region_sites_[region_count];  // the sites of each region, in order
  std::vector<uint64_t> region_sums_[region_count];
  uint64_t samples_done_ = 0;  // samples of the run so far
  std::vector<bool> stack_written_;
  std::vector<deferred_t> deferred_;
  std::vector<uint64_t> trail_;  // end offsets of the sample being made (end_trail)
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
  if (options.pcs > max_pcs) {
    return "the number of program counters must be from 1 to " + std::to_string(max_pcs) + ".";
  }
  if (!(options.pc_skew >= 0 && options.pc_skew <= max_pc_skew)) {
    return "the skew of the program counters must be from 0 to " +
           std::to_string(static_cast<int>(max_pc_skew)) + ".";
  }
  if (options.end_trail > max_end_trail) {
    return "the trail of the ends must be from 1 to " + std::to_string(max_end_trail) +
           " accesses.";
  }
  if (options.ends_given && (options.ends_min > options.ends_max || options.ends_max > max_ends)) {
    return "the number of ends must be a range from 0 to " + std::to_string(max_ends) + ".";
  }
  if (options.binary) {
    const recorded_binary_t& binary = *options.binary;
    if (binary.functions.empty()) return binary.executable.path + " has no functions to sample.";
    if (options.pcs > binary.place_count()) {
      return "the number of program counters must not exceed the " +
             std::to_string(binary.place_count()) + " places that the line table of " +
             binary.executable.path + " gives in its functions.";
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
