#include "analysis/cache_lines.h"

#include <stdexcept>
#include <string>

#include "events/quenth.h"
#include "support/seeded_hash.h"

namespace velkor { namespace library {

namespace {

const char* const verdict_names[cache_line_verdict_count] = {
    "private", "read-shared", "true-sharing", "false-sharing"};

// Granules a line is cut into for the byte masks.
const unsigned granules_per_line = 128;

// Sets the bits first to last (0 to 127) of a two-word mask.
void set_bits(uint64_t mask[2], unsigned first, unsigned last) {
  for (unsigned w = 0; w < 2; ++w) {
    unsigned lo = first > 64 * w ? first - 64 * w : 0;
    if (last < 64 * w) break;
    unsigned hi = last - 64 * w > 63 ? 63 : last - 64 * w;
    if (lo > hi) continue;
    uint64_t bits = hi - lo == 63 ? ~uint64_t(0) : ((uint64_t(1) << (hi - lo + 1)) - 1);
    mask[w] |= bits << lo;
  }
}

// A byte of a hash of a site's key, to tell most sites that do not match
// without reading them.
uint8_t site_tag(uint64_t pc, uint64_t offset, uint16_t length) {
  return static_cast<uint8_t>(((pc ^ (offset << 20) ^ (uint64_t(length) << 40)) *
                               0x9e3779b97f4a7c15ull) >> 56);
}

// 2 for an access that writes, 1 for one that only reads, 0 for neither.
unsigned transfer_side(qnt_access_classes_t classes) {
  if (classes & access_class_write) return 2;
  if (classes & access_class_read) return 1;
  return 0;
}

[[noreturn]] void too_many(const char* what) {
  throw std::length_error(std::string("Too many ") + what + " for the cache-line analysis.");
}

// The index the next element of a table gets; a table must not reach
// no_index.
template <class Table>
line_index_t next_index(const Table& table, const char* what) {
  if (table.size() >= no_index - 1) too_many(what);
  return static_cast<line_index_t>(table.size());
}

// The verdict of a line with a line_more_t; sets its writer_threads.
cache_line_verdict_t judge(const cache_line_stats_t& stats, const cache_line_t& line,
                           line_more_t& more) {
  // Granules touched by some thread, and by more than one.
  uint64_t seen[2] = {0, 0};
  uint64_t several[2] = {0, 0};
  unsigned entries = 0;
  more.writer_threads = 0;
  for (unsigned i = 0; i < more.thread_count; ++i) {
    const line_thread_t& t = stats.threads[more.thread_block + i];
    for (unsigned w = 0; w < 2; ++w) {
      several[w] |= seen[w] & t.touched[w];
      seen[w] |= t.touched[w];
    }
    if (!t.other_threads && t.writes != 0) ++more.writer_threads;
    ++entries;
  }
  if (entries <= 1) return verdict_private;
  if (line.writes == 0) return verdict_read_shared;
  for (unsigned i = 0; i < more.thread_count; ++i) {
    const line_thread_t& t = stats.threads[more.thread_block + i];
    for (unsigned w = 0; w < 2; ++w) {
      // Touched by another thread: by several, or by some thread but not
      // this one.
      const uint64_t by_others = several[w] | (seen[w] & ~t.touched[w]);
      if (t.written[w] & by_others) return verdict_true_sharing;
    }
  }
  return verdict_false_sharing;
}

void add_transfers(transfer_counts_t& total, const transfer_counts_t& more) {
  total.transfers += more.transfers;
  total.write_read += more.write_read;
  total.write_write += more.write_write;
  total.read_write += more.read_write;
  total.read_read += more.read_read;
}

}  // namespace

static_assert(sizeof(cache_line_t) == 128, "a line is two cache lines");

const char* cache_line_verdict_name(cache_line_verdict_t verdict) {
  return static_cast<unsigned>(verdict) < cache_line_verdict_count ? verdict_names[verdict]
                                                                   : "unknown";
}

cache_line_counts_t line_counts(const cache_line_stats_t& stats, const cache_line_t& line) {
  cache_line_counts_t counts;
  counts.address = line.address;
  counts.line_size = line.line_size;
  counts.accesses = line.accesses;
  counts.reads = line.reads;
  counts.writes = line.writes;
  counts.pairs = line.pairs;
  counts.verdict = static_cast<cache_line_verdict_t>(line.verdict);
  if (line.more == no_index) {
    counts.threads = 1;
    counts.writer_threads = line.writes != 0 ? 1 : 0;
  } else {
    const line_more_t& more = stats.more[line.more];
    counts.transfers = more.transfers;
    counts.threads = more.threads;
    counts.writer_threads = more.writer_threads;
  }
  return counts;
}

cache_lines_flow_t::geometry_t cache_lines_flow_t::geometry_for(qnt_line_size_t size) {
  geometry_t g;
  g.size = size;
  g.power_of_two = (size & (size - 1)) == 0;
  g.granule = 1;
  g.granule_shift = 0;
  if (size > granules_per_line) {
    g.granule = (size - 1) / granules_per_line + 1;
    while (g.granule_shift < 63 && (uint64_t(1) << g.granule_shift) < g.granule) ++g.granule_shift;
  }
  return g;
}

cache_lines_flow_t::cache_lines_flow_t(qnt_line_size_t default_line_size)
    : line_slots_(size_t(1) << 10, line_slot_t{0, 0}), line_bits_(10), pending_slots_(256) {
  stats_.default_line_size = default_line_size == 0 ? 64 : default_line_size;
  for (unsigned type = 0; type < 256; ++type) {
    classes_[type] = get_access_classes(static_cast<qnt_access_type_t>(type));
  }
  geometry_ = geometry_for(stats_.default_line_size);
}

// ---- Samples -----------------------------------------------------------------------

flow_status_t cache_lines_flow_t::sample(const qnt_event_sample_t& event) {
  ++stats_.summary.samples;
  enqueue(qnt_line_size_from_log(event.line_size), event.begin, event.ends.data(),
          event.ends.size());
  return flow_status_ok;
}

flow_status_t cache_lines_flow_t::sample_begin(const qnt_event_sample_begin_t& event) {
  current_ = false;
  pending_t* slot = find_pending(event.sample_id);
  pending_t begin;
  begin.sample_id = event.sample_id;
  begin.used = true;
  begin.is_begin = true;
  begin.access_type = event.access_type;
  begin.size = event.access_size;
  begin.thread = event.thread_id;
  begin.pc = event.pc;
  begin.addr = event.addr;
  begin.line_size = event.line_size;
  if (slot != nullptr && !slot->is_begin) {
    pending_t end = *slot;
    erase_pending(slot);
    --pending_ends_;
    match(begin, end);
    return flow_status_ok;
  }
  if (slot != nullptr) {
    ++replaced_begins_;
  } else {
    slot = insert_pending(event.sample_id);
    ++pending_begins_;
  }
  *slot = begin;
  return flow_status_ok;
}

flow_status_t cache_lines_flow_t::sample_end(const qnt_event_sample_end_t& event) {
  current_ = false;
  pending_t* slot = find_pending(event.sample_id);
  pending_t end;
  end.sample_id = event.sample_id;
  end.used = true;
  end.is_begin = false;
  end.access_type = event.access_type;
  end.size = event.access_size;
  end.thread = event.thread_id;
  end.pc = event.pc;
  end.addr = event.addr;
  end.line_size = 0;
  if (slot != nullptr && slot->is_begin) {
    pending_t begin = *slot;
    erase_pending(slot);
    --pending_begins_;
    match(begin, end);
    return flow_status_ok;
  }
  if (slot != nullptr) {
    ++replaced_ends_;
  } else {
    slot = insert_pending(event.sample_id);
    ++pending_ends_;
  }
  *slot = end;
  return flow_status_ok;
}

void cache_lines_flow_t::match(const pending_t& begin, const pending_t& end) {
  ++stats_.summary.matched_pairs;
  qnt_sample_access_t accesses[2];
  const pending_t* parts[2] = {&begin, &end};
  for (int i = 0; i < 2; ++i) {
    accesses[i].pc = parts[i]->pc;
    accesses[i].addr = parts[i]->addr;
    accesses[i].thread = parts[i]->thread;
    accesses[i].size = parts[i]->size;
    accesses[i].access_type = parts[i]->access_type;
  }
  enqueue(begin.line_size, accesses[0], &accesses[1], 1);
}

// ---- The queue --------------------------------------------------------------------------

void cache_lines_flow_t::enqueue(qnt_line_size_t line_size, const qnt_sample_access_t& first,
                                 const qnt_sample_access_t* rest, size_t rest_count) {
  current_ = false;
  if (queue_count_ == queue_length) count_oldest();
  queued_t& entry = queue_[(queue_first_ + queue_count_) % queue_length];
  ++queue_count_;
  entry.line_size = line_size;
  entry.accesses.clear();
  entry.accesses.push_back(first);
  entry.accesses.insert(entry.accesses.end(), rest, rest + rest_count);

  // Where the line of its first access will be looked for.
  const qnt_line_size_t size = line_size == 0 ? stats_.default_line_size : line_size;
  const uint64_t addr = first.addr;
  const uint64_t line_address = addr - ((size & (size - 1)) == 0 ? addr & (size - 1) : addr % size);
  entry.tag = line_tag(size, line_address);
  entry.line_hint = no_index;
  __builtin_prefetch(&line_slots_[line_home(entry.tag)]);

  // Samples that came earlier: the line of one, found by the tag alone (a
  // hint, which may name another line), and the own sites of an older one.
  if (queue_count_ > line_hint_age) {
    queued_t& older = queue_[(queue_first_ + queue_count_ - 1 - line_hint_age) % queue_length];
    const size_t mask = line_slots_.size() - 1;
    for (size_t i = line_home(older.tag); line_slots_[i].index_plus_one != 0; i = (i + 1) & mask) {
      if (line_slots_[i].tag == older.tag) {
        older.line_hint = line_slots_[i].index_plus_one - 1;
        const char* line = reinterpret_cast<const char*>(&stats_.lines[older.line_hint]);
        __builtin_prefetch(line, 1);
        __builtin_prefetch(line + 64, 1);
        break;
      }
    }
  }
  if (queue_count_ > site_hint_age) {
    const queued_t& older =
        queue_[(queue_first_ + queue_count_ - 1 - site_hint_age) % queue_length];
    if (older.line_hint != no_index) {
      const cache_line_t& line = stats_.lines[older.line_hint];
      if (line.more != no_index) {
        __builtin_prefetch(&stats_.more[line.more], 1);
      } else if (line.own_block != no_index) {
        const char* sites = reinterpret_cast<const char*>(&stats_.sites[line.own_block]);
        __builtin_prefetch(sites, 1);
        __builtin_prefetch(sites + 64, 1);
      }
    }
  }
  // A shared line: its first thread and that thread's sites.
  if (queue_count_ > thread_hint_age) {
    const queued_t& older =
        queue_[(queue_first_ + queue_count_ - 1 - thread_hint_age) % queue_length];
    if (older.line_hint != no_index && stats_.lines[older.line_hint].more != no_index) {
      const line_more_t& more = stats_.more[stats_.lines[older.line_hint].more];
      const line_thread_t& thread = stats_.threads[more.thread_block];
      __builtin_prefetch(&thread, 1);
      __builtin_prefetch(reinterpret_cast<const char*>(&thread) + 64, 1);
      if (thread.sites != no_index) __builtin_prefetch(&stats_.sites[thread.sites], 1);
    }
  }
}

void cache_lines_flow_t::count_oldest() {
  const queued_t& entry = queue_[queue_first_];
  // The line found for the hint is the first one to look at.
  if (entry.line_hint != no_index) last_line_ = entry.line_hint;
  count_sample(entry.line_size, entry.accesses[0], entry.accesses.data() + 1,
               entry.accesses.size() - 1);
  queue_first_ = (queue_first_ + 1) % queue_length;
  --queue_count_;
}

void cache_lines_flow_t::count_sample(qnt_line_size_t line_size, const qnt_sample_access_t& first,
                                      const qnt_sample_access_t* rest, size_t rest_count) {
  if (line_size == 0) {
    line_size = stats_.default_line_size;
    ++stats_.summary.samples_without_line_size;
  }
  // Line sizes seldom change from one sample to the next.
  if (line_size != geometry_.size) geometry_ = geometry_for(line_size);
  const geometry_t& geometry = geometry_;
  previous_t previous;
  count_access(geometry, first, &previous, false);
  for (size_t i = 0; i < rest_count; ++i) count_access(geometry, rest[i], &previous, true);
}

// ---- One access ----------------------------------------------------------------------

void cache_lines_flow_t::count_access(const geometry_t& geometry,
                                      const qnt_sample_access_t& access, previous_t* previous,
                                      bool has_previous) {
  const qnt_line_size_t size = geometry.size;
  const uint64_t addr = access.addr;
  const uint64_t offset = geometry.power_of_two ? (addr & (size - 1)) : addr % size;
  const uint64_t line_address = addr - offset;

  line_index_t index = last_line_;
  if (index == no_index || stats_.lines[index].address != line_address ||
      stats_.lines[index].line_size != size) {
    index = find_or_add_line(size, line_address, access.thread);
    last_line_ = index;
  }
  // Elements of the tables never move: the reference outlives the additions
  // below.
  cache_line_t& line = stats_.lines[index];

  const qnt_access_classes_t classes = classes_[access.access_type];
  if (access.access_type >= qnt_access_type_count) ++stats_.summary.unknown_type_accesses;
  static_assert(access_class_read == 1 && access_class_write == 2, "class bits");
  const uint64_t reads = classes & 1;
  const uint64_t writes = (classes >> 1) & 1;
  uint64_t length = access.size == 0 ? 1 : access.size;
  if (length > size - offset) {
    length = size - offset;
    ++stats_.summary.straddling_accesses;
  }
  const uint16_t kept_length = static_cast<uint16_t>(length);
  const uint32_t site_reads = static_cast<uint32_t>(reads);
  const uint32_t site_writes = static_cast<uint32_t>(writes);
  bool own = line.more == no_index && line.first_thread == access.thread;
  if (own) {
    // The one thread so far: its counts are the line's, its sites the own.
    line_site_t* sites =
        line.own_block == no_index ? line.own_sites : &stats_.sites[line.own_block];
    line_site_t* site = find_site(sites, line.own_site_count, access.pc, offset, kept_length);
    if (site != nullptr) {
      count_at(*site, site_reads, site_writes);
    } else if (line.own_site_count < max_sites_per_thread) {
      add_site(sites, &line.own_site_count, &line.own_site_capacity, &line.own_block, access.pc,
               offset, kept_length, site_reads, site_writes);
    } else {
      // No site for it: from now on the thread's bytes are kept apart from
      // its sites, in a thread entry.
      own = false;
    }
  }
  if (!own) {
    if (line.more == no_index) add_more(index, line, geometry);
    count_thread_access(stats_.more[line.more], geometry, access, offset, kept_length,
                        site_reads, site_writes);
  }
  ++line.accesses;
  line.reads += reads;
  line.writes += writes;
  cache_line_summary_t& summary = stats_.summary;
  ++summary.accesses;
  summary.reads += reads;
  summary.writes += writes;

  if (has_previous) {
    if (previous->line == index) {
      ++line.pairs;
      ++summary.pairs;
      // Two threads: the line has its line_more_t.
      if (previous->thread != access.thread && line.more != no_index) {
        transfer_counts_t& t = stats_.more[line.more].transfers;
        ++t.transfers;
        const unsigned from = transfer_side(previous->classes);
        const unsigned to = transfer_side(classes);
        if (from == 2 && to == 1) ++t.write_read;
        if (from == 2 && to == 2) ++t.write_write;
        if (from == 1 && to == 2) ++t.read_write;
        if (from == 1 && to == 1) ++t.read_read;
      }
    } else {
      ++stats_.summary.pairs_across_lines;
    }
  }
  previous->line = index;
  previous->thread = access.thread;
  previous->classes = classes;
}

void cache_lines_flow_t::count_thread_access(line_more_t& more, const geometry_t& geometry,
                                             const qnt_sample_access_t& access, uint64_t offset,
                                             uint16_t length, uint32_t reads, uint32_t writes) {
  line_thread_t& thread = find_or_add_thread(more, access.thread);
  ++thread.accesses;
  thread.reads += reads;
  thread.writes += writes;
  uint64_t first_granule, last_granule;
  if (geometry.granule == 1) {
    first_granule = offset;
    last_granule = offset + length - 1;
  } else if ((geometry.granule & (geometry.granule - 1)) == 0) {
    first_granule = offset >> geometry.granule_shift;
    last_granule = (offset + length - 1) >> geometry.granule_shift;
  } else {
    first_granule = offset / geometry.granule;
    last_granule = (offset + length - 1) / geometry.granule;
  }
  set_bits(thread.touched, static_cast<unsigned>(first_granule),
           static_cast<unsigned>(last_granule));
  if (writes != 0) {
    set_bits(thread.written, static_cast<unsigned>(first_granule),
             static_cast<unsigned>(last_granule));
  }
  if (!thread.other_threads) {
    const uint8_t tag = site_tag(access.pc, offset, length);
    line_site_t* site = nullptr;
    for (unsigned i = 0; i < thread.site_count && site == nullptr; ++i) {
      if (thread.site_tags[i] != tag) continue;
      line_site_t& candidate = stats_.sites[thread.sites + i];
      if (candidate.pc == access.pc && candidate.offset == offset &&
          candidate.length == length) {
        site = &candidate;
      }
    }
    if (site != nullptr) {
      count_at(*site, reads, writes);
    } else if (thread.site_count < max_sites_per_thread) {
      thread.site_tags[thread.site_count] = tag;
      line_site_t* sites = thread.site_count == 0 ? nullptr : &stats_.sites[thread.sites];
      add_site(sites, &thread.site_count, &thread.site_capacity, &thread.sites, access.pc,
               offset, length, reads, writes);
    }
  }
}

void cache_lines_flow_t::add_more(line_index_t index, cache_line_t& line,
                                  const geometry_t& geometry) {
  // Until now one thread, all of whose accesses lie in its own sites (a
  // full site still has the bytes of the accesses it no longer counts): its
  // counts are the line's, its bytes those of its sites.
  line_thread_t first;
  first.thread = line.first_thread;
  first.accesses = line.accesses;
  first.reads = line.reads;
  first.writes = line.writes;
  const line_site_t* sites =
      line.own_block == no_index ? line.own_sites : &stats_.sites[line.own_block];
  for (unsigned i = 0; i < line.own_site_count; ++i) {
    const line_site_t& site = sites[i];
    const unsigned first_granule = static_cast<unsigned>(site.offset / geometry.granule);
    const unsigned last_granule =
        static_cast<unsigned>((site.offset + site.length - 1) / geometry.granule);
    set_bits(first.touched, first_granule, last_granule);
    if (site.writes != 0) set_bits(first.written, first_granule, last_granule);
  }
  if (line.own_block != no_index) {
    first.sites = line.own_block;
    first.site_capacity = line.own_site_capacity;
  } else if (line.own_site_count != 0) {
    first.sites = allocate_block(stats_.sites, free_sites_, line_own_sites, "sites");
    first.site_capacity = line_own_sites;
    for (unsigned i = 0; i < line.own_site_count; ++i) {
      stats_.sites[first.sites + i] = line.own_sites[i];
    }
  }
  first.site_count = line.own_site_count;
  for (unsigned i = 0; i < line.own_site_count; ++i) {
    first.site_tags[i] = site_tag(sites[i].pc, sites[i].offset, sites[i].length);
  }
  line.own_block = no_index;
  line.own_site_count = 0;

  line_more_t more;
  more.line = index;
  more.threads = 1;
  more.thread_block = allocate_block(stats_.threads, free_threads_, 2, "thread entries");
  more.thread_count = 1;
  more.thread_capacity = 2;
  stats_.threads[more.thread_block] = first;
  line.more = next_index(stats_.more, "shared lines");
  stats_.more.push_back(more);
}

line_thread_t& cache_lines_flow_t::find_or_add_thread(line_more_t& more, qnt_thread_id_t thread) {
  line_thread_t* entries = &stats_.threads[more.thread_block];
  line_thread_t* other = nullptr;
  for (unsigned i = 0; i < more.thread_count; ++i) {
    if (entries[i].other_threads) {
      other = &entries[i];
    } else if (entries[i].thread == thread) {
      return entries[i];
    }
  }
  if (more.threads >= max_threads_per_line && other != nullptr) return *other;

  // A new entry, at the end.
  if (more.thread_count == more.thread_capacity) {
    const unsigned grown = 2u * more.thread_capacity;
    const line_index_t block = allocate_block(stats_.threads, free_threads_, grown, "thread entries");
    line_thread_t* moved = &stats_.threads[block];
    for (unsigned i = 0; i < more.thread_count; ++i) moved[i] = entries[i];
    free_threads_[size_class(more.thread_capacity)].push_back(more.thread_block);
    more.thread_block = block;
    more.thread_capacity = static_cast<uint16_t>(grown);
    entries = moved;
  }
  line_thread_t& entry = entries[more.thread_count++];
  entry = line_thread_t();
  if (more.threads >= max_threads_per_line) {
    entry.other_threads = true;
  } else {
    entry.thread = thread;
    ++more.threads;
  }
  return entry;
}

void cache_lines_flow_t::add_site(line_site_t* sites, uint8_t* count, uint8_t* capacity,
                                  line_index_t* block, qnt_address_t pc, uint64_t offset,
                                  uint16_t length, uint32_t reads, uint32_t writes) {
  if (*count == max_sites_per_thread) return;
  if (*count == *capacity) {
    // A block twice the size; a block given up is kept for another thread.
    const unsigned grown = *capacity == 0 ? 2 : 2 * *capacity;
    const line_index_t moved_to = allocate_block(stats_.sites, free_sites_, grown, "sites");
    line_site_t* moved = &stats_.sites[moved_to];
    for (unsigned i = 0; i < *count; ++i) moved[i] = sites[i];
    if (*block != no_index) free_sites_[size_class(*capacity)].push_back(*block);
    *block = moved_to;
    *capacity = static_cast<uint8_t>(grown);
    sites = moved;
  }
  line_site_t& site = sites[(*count)++];
  site.pc = pc;
  site.offset = offset;
  site.length = length;
  site.accesses = 1;
  site.reads = reads;
  site.writes = writes;
}

unsigned cache_lines_flow_t::size_class(unsigned capacity) {
  unsigned size_class = 0;
  while ((2u << size_class) < capacity) ++size_class;
  return size_class;
}

template <class T>
line_index_t cache_lines_flow_t::allocate_block(chunked_vector_t<T>& table,
                                                std::vector<line_index_t>* free,
                                                unsigned capacity, const char* what) {
  std::vector<line_index_t>& blocks = free[size_class(capacity)];
  if (!blocks.empty()) {
    const line_index_t block = blocks.back();
    blocks.pop_back();
    return block;
  }
  // Aligned to its size, a block never spans two chunks of the table, so
  // that its entries lie side by side.
  while (table.size() % capacity != 0) table.emplace_back();
  if (table.size() + capacity >= no_index) too_many(what);
  const line_index_t block = static_cast<line_index_t>(table.size());
  for (unsigned i = 0; i < capacity; ++i) table.emplace_back();
  return block;
}

// ---- The table of lines --------------------------------------------------------------

line_index_t cache_lines_flow_t::find_or_add_line(qnt_line_size_t line_size, uint64_t address,
                                                  qnt_thread_id_t thread) {
  const uint32_t tag = line_tag(line_size, address);
  const size_t mask = line_slots_.size() - 1;
  for (size_t i = line_home(tag);; i = (i + 1) & mask) {
    line_slot_t& slot = line_slots_[i];
    if (slot.index_plus_one == 0) {
      line_index_t index = next_index(stats_.lines, "cache lines");
      cache_line_t& line = stats_.lines.emplace_back();
      line.address = address;
      line.line_size = line_size;
      line.first_thread = thread;
      slot.index_plus_one = index + 1;
      slot.tag = tag;
      if (stats_.lines.size() * 4 > line_slots_.size() * 3 && line_bits_ < 32) grow_lines_table();
      return index;
    }
    if (slot.tag == tag) {
      const cache_line_t& line = stats_.lines[slot.index_plus_one - 1];
      if (line.address == address && line.line_size == line_size) return slot.index_plus_one - 1;
    }
  }
}

void cache_lines_flow_t::grow_lines_table() {
  // The tags tell the new places: no line needs to be read.
  std::vector<line_slot_t> old(line_slots_.size() * 2, line_slot_t{0, 0});
  old.swap(line_slots_);
  ++line_bits_;
  const size_t mask = line_slots_.size() - 1;
  for (const line_slot_t& slot : old) {
    if (slot.index_plus_one == 0) continue;
    size_t i = line_home(slot.tag);
    while (line_slots_[i].index_plus_one != 0) i = (i + 1) & mask;
    line_slots_[i] = slot;
  }
}

// ---- The table of waiting begins and ends ------------------------------------------------

cache_lines_flow_t::pending_t* cache_lines_flow_t::find_pending(uint32_t sample_id) {
  const size_t mask = pending_slots_.size() - 1;
  for (size_t i = seeded_hash64(sample_id) & mask;; i = (i + 1) & mask) {
    pending_t& slot = pending_slots_[i];
    if (!slot.used) return nullptr;
    if (slot.sample_id == sample_id) return &slot;
  }
}

cache_lines_flow_t::pending_t* cache_lines_flow_t::insert_pending(uint32_t sample_id) {
  if ((pending_count_ + 1) * 2 > pending_slots_.size()) grow_pending_table();
  const size_t mask = pending_slots_.size() - 1;
  size_t i = seeded_hash64(sample_id) & mask;
  while (pending_slots_[i].used) i = (i + 1) & mask;
  pending_slots_[i].used = true;
  pending_slots_[i].sample_id = sample_id;
  ++pending_count_;
  return &pending_slots_[i];
}

void cache_lines_flow_t::erase_pending(pending_t* slot) {
  // Backward shift: every later entry of the run that may sit at the hole
  // (its home is not between the hole and itself) moves into it.
  const size_t mask = pending_slots_.size() - 1;
  size_t hole = static_cast<size_t>(slot - pending_slots_.data());
  for (size_t j = (hole + 1) & mask; pending_slots_[j].used; j = (j + 1) & mask) {
    const size_t home = seeded_hash64(pending_slots_[j].sample_id) & mask;
    const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (!stays) {
      pending_slots_[hole] = pending_slots_[j];
      hole = j;
    }
  }
  pending_slots_[hole].used = false;
  --pending_count_;
}

void cache_lines_flow_t::grow_pending_table() {
  std::vector<pending_t> slots(pending_slots_.size() * 2);
  const size_t mask = slots.size() - 1;
  for (const pending_t& entry : pending_slots_) {
    if (!entry.used) continue;
    size_t i = seeded_hash64(entry.sample_id) & mask;
    while (slots[i].used) i = (i + 1) & mask;
    slots[i] = entry;
  }
  pending_slots_.swap(slots);
}

// ---- The result ------------------------------------------------------------------------

const cache_line_stats_t& cache_lines_flow_t::result() {
  if (current_) return stats_;
  while (queue_count_ != 0) count_oldest();
  // Only a line with a line_more_t can be other than private, or have
  // transfers.
  cache_line_summary_t& summary = stats_.summary;
  summary.lines = stats_.lines.size();
  for (uint64_t& count : summary.lines_by_verdict) count = 0;
  summary.lines_by_verdict[verdict_private] = summary.lines;
  summary.transfers = transfer_counts_t();
  for (size_t i = 0; i < stats_.more.size(); ++i) {
    line_more_t& more = stats_.more[i];
    cache_line_t& line = stats_.lines[more.line];
    const cache_line_verdict_t verdict = judge(stats_, line, more);
    line.verdict = static_cast<uint8_t>(verdict);
    --summary.lines_by_verdict[verdict_private];
    ++summary.lines_by_verdict[verdict];
    add_transfers(summary.transfers, more.transfers);
  }
  summary.shared_lines = summary.lines - summary.lines_by_verdict[verdict_private];
  summary.unmatched_begins = pending_begins_ + replaced_begins_;
  summary.unmatched_ends = pending_ends_ + replaced_ends_;
  current_ = true;
  return stats_;
}

}}  // namespace velkor::library
