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

// The classes that sites keep of an access.
const uint8_t site_classes = access_class_read | access_class_write;

// Bits lo to hi (lo <= hi < 64) of a word.
inline uint64_t bit_range(unsigned lo, unsigned hi) {
  return ((uint64_t(2) << (hi - lo)) - 1) << lo;
}

// Sets the bits first to last (first <= last < 128) of a two-word mask.
inline void set_bits(uint64_t mask[2], unsigned first, unsigned last) {
  if (last < 64) {
    mask[0] |= bit_range(first, last);
  } else if (first >= 64) {
    mask[1] |= bit_range(first - 64, last - 64);
  } else {
    mask[0] |= bit_range(first, 63);
    mask[1] |= bit_range(0, last - 64);
  }
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
cache_line_verdict_t judge(const cache_line_stats_t& stats, line_more_t& more) {
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
  if (more.writes == 0) return verdict_read_shared;
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

static_assert(sizeof(cache_line_t) == 64, "a line is one cache line");

const char* cache_line_verdict_name(cache_line_verdict_t verdict) {
  return static_cast<unsigned>(verdict) < cache_line_verdict_count ? verdict_names[verdict]
                                                                   : "unknown";
}

cache_line_counts_t line_counts(const cache_line_stats_t& stats, const cache_line_t& line) {
  cache_line_counts_t counts;
  counts.address = line.address;
  counts.line_size = stats.line_sizes[line.line_size_index];
  counts.verdict = static_cast<cache_line_verdict_t>(line.verdict);
  if (!line.has_more) {
    counts.accesses = line.accesses;
    counts.pairs = line.pairs;
    const line_site_t* sites = own_sites(stats, line);
    for (unsigned i = 0; i < line.site_count; ++i) {
      const site_key_t& key = stats.site_keys[sites[i].key];
      if (key.reads()) counts.reads += sites[i].accesses;
      if (key.writes()) counts.writes += sites[i].accesses;
    }
    counts.threads = 1;
    counts.writer_threads = counts.writes != 0 ? 1 : 0;
  } else {
    const line_more_t& more = stats.more[line.detail];
    counts.accesses = more.accesses;
    counts.reads = more.reads;
    counts.writes = more.writes;
    counts.pairs = more.pairs;
    counts.transfers = more.transfers;
    counts.threads = more.threads;
    counts.writer_threads = more.writer_threads;
  }
  return counts;
}

const cache_lines_flow_t::geometry_t& cache_lines_flow_t::add_geometry(qnt_line_size_t size) {
  for (size_t i = 0; i < geometries_.size(); ++i) {
    if (geometries_[i].size == size) {
      geometry_ = i;
      return geometries_[i];
    }
  }
  // Files give powers of two up to 2^63 and the default comes on top: far
  // fewer than the 256 an index can name.
  if (geometries_.size() == 256) too_many("line sizes");
  geometry_t g;
  g.size = size;
  g.index = static_cast<uint8_t>(geometries_.size());
  g.power_of_two = (size & (size - 1)) == 0;
  g.granule = 1;
  g.granule_shift = 0;
  if (size > granules_per_line) {
    g.granule = (size - 1) / granules_per_line + 1;
    while (g.granule_shift < 63 && (uint64_t(1) << g.granule_shift) < g.granule) ++g.granule_shift;
  }
  geometries_.push_back(g);
  stats_.line_sizes.push_back(size);
  geometry_ = geometries_.size() - 1;
  return geometries_.back();
}

cache_lines_flow_t::cache_lines_flow_t(qnt_line_size_t default_line_size)
    : line_slots_(size_t(1) << 10, slot_t{0, 0}),
      line_bits_(10),
      key_slots_(size_t(1) << 8, slot_t{0, 0}),
      key_bits_(8),
      pending_slots_(256, pending_slot_t{0, 0}) {
  stats_.default_line_size = default_line_size == 0 ? 64 : default_line_size;
  for (unsigned type = 0; type < 256; ++type) {
    classes_[type] = get_access_classes(static_cast<qnt_access_type_t>(type));
  }
  // The geometries stay in place: count_sample holds one while it counts.
  geometries_.reserve(256);
  add_geometry(stats_.default_line_size);
}

void cache_lines_flow_t::follow_mappings(address_space_t* space) {
  space_ = space;
  stats_.has_locations = space != nullptr;
  // Lines counted before were seen outside every mapping.
  while (stats_.line_locations.size() < stats_.lines.size()) stats_.line_locations.emplace_back();
}

mapped_location_t cache_lines_flow_t::locate(uint64_t address) const {
  mapped_location_t location;
  const mapping_t* mapping = space_->find(address);
  if (mapping != nullptr) {
    location.mapped = true;
    location.module = mapping->module;
    location.offset = mapping_file_offset(*mapping, address);
  }
  return location;
}

// ---- Mappings --------------------------------------------------------------------------

flow_status_t cache_lines_flow_t::mmap(const qnt_event_mmap_t& event) {
  if (space_ != nullptr) {
    // What waits was seen under the mappings before this one.
    count_queued();
    space_->observe(event);
  }
  return flow_status_ok;
}

flow_status_t cache_lines_flow_t::munmap(const qnt_event_munmap_t& event) {
  if (space_ != nullptr) {
    count_queued();
    space_->observe(event);
  }
  return flow_status_ok;
}

// ---- Samples -----------------------------------------------------------------------

flow_status_t cache_lines_flow_t::sample(const qnt_event_sample_t& event) {
  ++stats_.summary.samples;
  enqueue(qnt_line_size_from_log(event.line_size), event.begin, event.ends.data(),
          event.ends.size());
  return flow_status_ok;
}

flow_status_t cache_lines_flow_t::sample_begin(const qnt_event_sample_begin_t& event) {
  pending_t begin;
  begin.is_begin = true;
  begin.access_type = event.access_type;
  begin.size = event.access_size;
  begin.thread = event.thread_id;
  begin.pc = event.pc;
  begin.addr = event.addr;
  begin.line_size = event.line_size;
  meet(event.sample_id, begin);
  return flow_status_ok;
}

flow_status_t cache_lines_flow_t::sample_end(const qnt_event_sample_end_t& event) {
  pending_t end;
  end.is_begin = false;
  end.access_type = event.access_type;
  end.size = event.access_size;
  end.thread = event.thread_id;
  end.pc = event.pc;
  end.addr = event.addr;
  meet(event.sample_id, end);
  return flow_status_ok;
}

void cache_lines_flow_t::meet(uint32_t sample_id, const pending_t& part) {
  current_ = false;
  const size_t slot = find_pending(sample_id);
  if (slot == no_slot) {
    insert_pending(sample_id, part);
    ++(part.is_begin ? pending_begins_ : pending_ends_);
    return;
  }
  pending_t& waiting = pending_[pending_slots_[slot].index_plus_one - 1];
  if (waiting.is_begin == part.is_begin) {
    // The later one waits instead.
    ++(part.is_begin ? replaced_begins_ : replaced_ends_);
    waiting = part;
    return;
  }
  const pending_t other = waiting;
  erase_pending(slot);
  if (other.is_begin) {
    --pending_begins_;
    match(other, part);
  } else {
    --pending_ends_;
    match(part, other);
  }
}

void cache_lines_flow_t::match(const pending_t& begin, const pending_t& end) {
  ++stats_.summary.matched_pairs;
  counted_access_t accesses[2];
  const pending_t* parts[2] = {&begin, &end};
  for (int i = 0; i < 2; ++i) {
    accesses[i].pc = parts[i]->pc;
    accesses[i].addr = parts[i]->addr;
    accesses[i].thread = parts[i]->thread;
    accesses[i].size = parts[i]->size;
    accesses[i].access_type = parts[i]->access_type;
  }
  enqueue_pair(begin.line_size, accesses[0], accesses[1]);
}

// ---- The queue --------------------------------------------------------------------------

void cache_lines_flow_t::enqueue(qnt_line_size_t line_size, const qnt_sample_access_t& first,
                                 const qnt_sample_access_t* rest, size_t rest_count) {
  queued_t& entry = queue_back(line_size, first.addr);
  counted_access_t* accesses = entry.make_room(1 + rest_count);
  accesses[0] = counted(first);
  for (size_t i = 0; i < rest_count; ++i) accesses[1 + i] = counted(rest[i]);
}

void cache_lines_flow_t::enqueue_pair(qnt_line_size_t line_size, const counted_access_t& begin,
                                      const counted_access_t& end) {
  queued_t& entry = queue_back(line_size, begin.addr);
  counted_access_t* accesses = entry.make_room(2);
  accesses[0] = begin;
  accesses[1] = end;
}

cache_lines_flow_t::queued_t& cache_lines_flow_t::queue_back(qnt_line_size_t line_size,
                                                             uint64_t first_address) {
  current_ = false;
  if (queue_count_ == queue_length) count_oldest();
  queued_t& entry = queue_[(queue_first_ + queue_count_) % queue_length];
  ++queue_count_;
  entry.line_size = line_size;

  // Where the line of its first access will be looked for.
  const qnt_line_size_t size = line_size == 0 ? stats_.default_line_size : line_size;
  const uint64_t addr = first_address;
  const uint64_t line_address = addr - ((size & (size - 1)) == 0 ? addr & (size - 1) : addr % size);
  entry.tag = line_tag(size, line_address);
  entry.line_hint = no_index;
  __builtin_prefetch(&line_slots_[home(entry.tag, line_bits_)]);

  // Samples that came earlier: the line of one, found by the tag alone (a
  // hint, which may name another line), and the sites of an older one.
  if (queue_count_ > line_hint_age) {
    queued_t& older = queue_[(queue_first_ + queue_count_ - 1 - line_hint_age) % queue_length];
    const size_t mask = line_slots_.size() - 1;
    for (size_t i = home(older.tag, line_bits_); line_slots_[i].index_plus_one != 0;
         i = (i + 1) & mask) {
      if (line_slots_[i].tag == older.tag) {
        older.line_hint = line_slots_[i].index_plus_one - 1;
        __builtin_prefetch(&stats_.lines[older.line_hint], 1);
        break;
      }
    }
  }
  if (queue_count_ > site_hint_age) {
    const queued_t& older =
        queue_[(queue_first_ + queue_count_ - 1 - site_hint_age) % queue_length];
    if (older.line_hint != no_index) {
      const cache_line_t& line = stats_.lines[older.line_hint];
      if (line.has_more) {
        __builtin_prefetch(&stats_.more[line.detail], 1);
      } else if (line.site_count > line_own_sites) {
        const char* sites = reinterpret_cast<const char*>(&stats_.sites[line.detail]);
        __builtin_prefetch(sites, 1);
        __builtin_prefetch(sites + 64, 1);
      }
    }
  }
  // A shared line: its first thread and that thread's sites.
  if (queue_count_ > thread_hint_age) {
    const queued_t& older =
        queue_[(queue_first_ + queue_count_ - 1 - thread_hint_age) % queue_length];
    if (older.line_hint != no_index && stats_.lines[older.line_hint].has_more) {
      const line_more_t& more = stats_.more[stats_.lines[older.line_hint].detail];
      const line_thread_t& thread = stats_.threads[more.thread_block];
      __builtin_prefetch(&thread, 1);
      __builtin_prefetch(reinterpret_cast<const char*>(&thread) + 64, 1);
      if (thread.sites != no_index) __builtin_prefetch(&stats_.sites[thread.sites], 1);
    }
  }
  return entry;
}

void cache_lines_flow_t::count_oldest() {
  queued_t& entry = queue_[queue_first_];
  // The line found for the hint is the first one to look at.
  if (entry.line_hint != no_index) last_line_ = entry.line_hint;
  count_sample(entry.line_size, entry.accesses(), entry.count);
  queue_first_ = (queue_first_ + 1) % queue_length;
  --queue_count_;
}

void cache_lines_flow_t::count_queued() {
  while (queue_count_ != 0) count_oldest();
}

void cache_lines_flow_t::count_sample(qnt_line_size_t line_size, const counted_access_t* accesses,
                                      size_t count) {
  if (line_size == 0) {
    line_size = stats_.default_line_size;
    ++stats_.summary.samples_without_line_size;
  }
  const geometry_t& geometry = geometry_for(line_size);
  previous_t previous;
  count_access(geometry, accesses[0], &previous, false);
  for (size_t i = 1; i < count; ++i) count_access(geometry, accesses[i], &previous, true);
}

// ---- One access ----------------------------------------------------------------------

__attribute__((always_inline)) inline void cache_lines_flow_t::count_access(
    const geometry_t& geometry, const counted_access_t& access, previous_t* previous,
                                      bool has_previous) {
  const qnt_line_size_t size = geometry.size;
  const uint64_t addr = access.addr;
  const uint64_t offset = geometry.power_of_two ? (addr & (size - 1)) : addr % size;
  const uint64_t line_address = addr - offset;

  line_index_t index = last_line_;
  if (index == no_index || stats_.lines[index].address != line_address ||
      stats_.lines[index].line_size_index != geometry.index) {
    index = find_or_add_line(geometry, line_address, access.thread);
    last_line_ = index;
  }
  // Elements of the tables never move: the reference outlives the additions
  // below.
  cache_line_t& line = stats_.lines[index];

  const qnt_access_classes_t classes = classes_[access.access_type];
  if (access.access_type >= qnt_access_type_count) ++stats_.summary.unknown_type_accesses;
  static_assert(access_class_read == 1 && access_class_write == 2, "class bits");
  const uint32_t reads = classes & 1;
  const uint32_t writes = (classes >> 1) & 1;
  uint64_t length = access.size == 0 ? 1 : access.size;
  if (length > size - offset) {
    length = size - offset;
    ++stats_.summary.straddling_accesses;
  }
  site_key_t site;
  site.pc = access.pc;
  site.offset = offset;
  site.length = static_cast<uint16_t>(length);
  site.classes = static_cast<uint8_t>(classes & site_classes);
  const uint32_t tag = key_tag(site);
  // A key that no line has yet is no site of this one either.
  line_index_t key = find_key(site, tag);

  bool own = !line.has_more && line.first_thread == access.thread &&
             line.accesses != UINT32_MAX;
  if (own) {
    // The one thread so far: its counts are the line's, its sites the own.
    line_site_t* sites = line.site_count <= line_own_sites ? line.own_sites
                                                            : &stats_.sites[line.detail];
    line_site_t* found = key == no_index ? nullptr : find_site(sites, line.site_count, key);
    if (found != nullptr) {
      // Below the line's accesses, which are below 2^32 - 1.
      ++found->accesses;
    } else if (line.site_count < max_sites_per_thread) {
      if (key == no_index) key = add_key(site, tag);
      if (line.site_count < line_own_sites) {
        sites = line.own_sites;
      } else if (line.site_count == line_own_sites) {
        // Out of the record, into a block of 8.
        const line_index_t block = allocate_block(stats_.sites, free_sites_, 8, "sites");
        for (unsigned i = 0; i < line_own_sites; ++i) stats_.sites[block + i] = line.own_sites[i];
        line.detail = block;
        sites = &stats_.sites[block];
      } else {
        sites = room_for_site(&line.detail, line.site_count);
      }
      sites[line.site_count++] = line_site_t{key, 1};
    } else {
      // No site for it: from now on the thread's bytes are kept apart from
      // its sites, in a thread entry.
      own = false;
    }
    if (own) ++line.accesses;
  }
  line_more_t* more = nullptr;
  if (!own) {
    if (!line.has_more) add_more(index, line, geometry);
    more = &stats_.more[line.detail];
    ++more->accesses;
    more->reads += reads;
    more->writes += writes;
    count_thread_access(*more, geometry, access.thread, site, key, tag, reads, writes);
  } else if (line.has_more) {
    more = &stats_.more[line.detail];
  }
  cache_line_summary_t& summary = stats_.summary;
  ++summary.accesses;
  summary.reads += reads;
  summary.writes += writes;

  if (has_previous) {
    if (previous->line == index) {
      ++summary.pairs;
      if (more == nullptr) {
        ++line.pairs;  // below the line's accesses
      } else {
        ++more->pairs;
        // Two threads: the line has its line_more_t.
        if (previous->thread != access.thread) {
          transfer_counts_t& t = more->transfers;
          ++t.transfers;
          const unsigned from = transfer_side(previous->classes);
          const unsigned to = transfer_side(classes);
          if (from == 2 && to == 1) ++t.write_read;
          if (from == 2 && to == 2) ++t.write_write;
          if (from == 1 && to == 2) ++t.read_write;
          if (from == 1 && to == 1) ++t.read_read;
        }
      }
    } else {
      ++summary.pairs_across_lines;
    }
  }
  previous->line = index;
  previous->thread = access.thread;
  previous->classes = classes;
}

void cache_lines_flow_t::count_thread_access(line_more_t& more, const geometry_t& geometry,
                                             qnt_thread_id_t thread_id, const site_key_t& site,
                                             line_index_t key, uint32_t tag, uint32_t reads,
                                             uint32_t writes) {
  line_thread_t& thread = find_or_add_thread(more, thread_id);
  ++thread.accesses;
  thread.reads += reads;
  thread.writes += writes;
  uint64_t first_granule, last_granule;
  const uint64_t last_byte = site.offset + site.length - 1;
  if (geometry.granule == 1) {
    first_granule = site.offset;
    last_granule = last_byte;
  } else if ((geometry.granule & (geometry.granule - 1)) == 0) {
    first_granule = site.offset >> geometry.granule_shift;
    last_granule = last_byte >> geometry.granule_shift;
  } else {
    first_granule = site.offset / geometry.granule;
    last_granule = last_byte / geometry.granule;
  }
  set_bits(thread.touched, static_cast<unsigned>(first_granule),
           static_cast<unsigned>(last_granule));
  if (writes != 0) {
    set_bits(thread.written, static_cast<unsigned>(first_granule),
             static_cast<unsigned>(last_granule));
  }
  if (thread.other_threads) return;
  line_site_t* sites = thread.site_count == 0 ? nullptr : &stats_.sites[thread.sites];
  line_site_t* found = key == no_index ? nullptr : find_site(sites, thread.site_count, key);
  if (found != nullptr) {
    if (found->accesses != max_site_count) ++found->accesses;
  } else if (thread.site_count < max_sites_per_thread) {
    if (key == no_index) key = add_key(site, tag);
    sites = room_for_site(&thread.sites, thread.site_count);
    sites[thread.site_count++] = line_site_t{key, 1};
  }
}

void cache_lines_flow_t::add_more(line_index_t index, cache_line_t& line,
                                  const geometry_t& geometry) {
  // Until now one thread, all of whose accesses lie in its own sites: its
  // counts are the line's, its bytes those of its sites.
  line_thread_t first;
  first.thread = line.first_thread;
  first.accesses = line.accesses;
  const line_site_t* sites = own_sites(stats_, line);
  for (unsigned i = 0; i < line.site_count; ++i) {
    const site_key_t& key = stats_.site_keys[sites[i].key];
    const unsigned first_granule = static_cast<unsigned>(key.offset / geometry.granule);
    const unsigned last_granule =
        static_cast<unsigned>((key.offset + key.length - 1) / geometry.granule);
    set_bits(first.touched, first_granule, last_granule);
    if (key.writes()) {
      set_bits(first.written, first_granule, last_granule);
      first.writes += sites[i].accesses;
    }
    if (key.reads()) first.reads += sites[i].accesses;
  }
  // The sites move to a block of the size a thread entry has for them: the
  // block of 8 or 16 a line's own sites have past line_own_sites is one.
  if (line.site_count > line_own_sites) {
    first.sites = line.detail;
  } else if (line.site_count != 0) {
    first.sites =
        allocate_block(stats_.sites, free_sites_, site_capacity(line.site_count), "sites");
    for (unsigned i = 0; i < line.site_count; ++i) stats_.sites[first.sites + i] = line.own_sites[i];
  }
  first.site_count = line.site_count;

  line_more_t more;
  more.line = index;
  more.threads = 1;
  more.thread_block = allocate_block(stats_.threads, free_threads_, 2, "thread entries");
  more.thread_count = 1;
  more.thread_capacity = 2;
  more.accesses = line.accesses;
  more.reads = first.reads;
  more.writes = first.writes;
  more.pairs = line.pairs;
  stats_.threads[more.thread_block] = first;
  line.detail = next_index(stats_.more, "shared lines");
  stats_.more.push_back(more);
  line.has_more = 1;
  line.site_count = 0;
  line.accesses = 0;
  line.pairs = 0;
}

line_thread_t& cache_lines_flow_t::find_or_add_thread(line_more_t& more, qnt_thread_id_t thread) {
  line_thread_t* entries = &stats_.threads[more.thread_block];
  for (unsigned i = 0; i < more.thread_count; ++i) {
    if (entries[i].thread == thread && !entries[i].other_threads) return entries[i];
  }
  // The entry for the threads past the bound comes last, once they come.
  if (more.threads >= max_threads_per_line && entries[more.thread_count - 1].other_threads) {
    return entries[more.thread_count - 1];
  }

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

// ---- Blocks ----------------------------------------------------------------------------

unsigned cache_lines_flow_t::size_class(unsigned capacity) {
  unsigned size_class = 0;
  while ((2u << size_class) < capacity) ++size_class;
  return size_class;
}

unsigned cache_lines_flow_t::site_capacity(unsigned count) {
  unsigned capacity = 2;
  while (capacity < count) capacity *= 2;
  return capacity;
}

line_site_t* cache_lines_flow_t::room_for_site(line_index_t* block, unsigned count) {
  if (count == 0) {
    *block = allocate_block(stats_.sites, free_sites_, 2, "sites");
  } else if (count == site_capacity(count)) {
    // Full: a block twice the size; the one given up is kept for another.
    const line_index_t moved = allocate_block(stats_.sites, free_sites_, 2 * count, "sites");
    for (unsigned i = 0; i < count; ++i) stats_.sites[moved + i] = stats_.sites[*block + i];
    free_sites_[size_class(count)].push_back(*block);
    *block = moved;
  }
  return &stats_.sites[*block];
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

line_index_t cache_lines_flow_t::find_or_add_line(const geometry_t& geometry, uint64_t address,
                                                  qnt_thread_id_t thread) {
  const uint32_t tag = line_tag(geometry.size, address);
  const size_t mask = line_slots_.size() - 1;
  for (size_t i = home(tag, line_bits_);; i = (i + 1) & mask) {
    slot_t& slot = line_slots_[i];
    if (slot.index_plus_one == 0) {
      line_index_t index = next_index(stats_.lines, "cache lines");
      cache_line_t& line = stats_.lines.emplace_back();
      line.address = address;
      line.line_size_index = geometry.index;
      line.first_thread = thread;
      if (space_ != nullptr) stats_.line_locations.push_back(locate(address));
      slot.index_plus_one = index + 1;
      slot.tag = tag;
      if (stats_.lines.size() * 2 > line_slots_.size() && line_bits_ < 32) grow_lines_table();
      return index;
    }
    if (slot.tag == tag) {
      const cache_line_t& line = stats_.lines[slot.index_plus_one - 1];
      if (line.address == address && line.line_size_index == geometry.index) {
        return slot.index_plus_one - 1;
      }
    }
  }
}

void cache_lines_flow_t::grow_lines_table() {
  // The tags tell the new places: no line needs to be read.
  std::vector<slot_t> old(line_slots_.size() * 2, slot_t{0, 0});
  old.swap(line_slots_);
  ++line_bits_;
  const size_t mask = line_slots_.size() - 1;
  for (const slot_t& slot : old) {
    if (slot.index_plus_one == 0) continue;
    size_t i = home(slot.tag, line_bits_);
    while (line_slots_[i].index_plus_one != 0) i = (i + 1) & mask;
    line_slots_[i] = slot;
  }
}

// ---- The table of site keys ----------------------------------------------------------

__attribute__((always_inline)) inline line_index_t cache_lines_flow_t::find_key(
    const site_key_t& key, uint32_t tag) const {
  const size_t mask = key_slots_.size() - 1;
  for (size_t i = home(tag, key_bits_); key_slots_[i].index_plus_one != 0; i = (i + 1) & mask) {
    if (key_slots_[i].tag != tag) continue;
    const line_index_t index = key_slots_[i].index_plus_one - 1;
    const site_key_t& kept = stats_.site_keys[index];
    if (kept.pc == key.pc && kept.offset == key.offset && kept.length == key.length &&
        kept.classes == key.classes) {
      return index;
    }
  }
  return no_index;
}

line_index_t cache_lines_flow_t::add_key(const site_key_t& key, uint32_t tag) {
  const line_index_t index = next_index(stats_.site_keys, "sites");
  stats_.site_keys.push_back(key);
  if (space_ != nullptr) stats_.pc_locations.emplace(key.pc.value, locate(key.pc));
  const size_t mask = key_slots_.size() - 1;
  size_t i = home(tag, key_bits_);
  while (key_slots_[i].index_plus_one != 0) i = (i + 1) & mask;
  key_slots_[i] = slot_t{index + 1, tag};
  if (stats_.site_keys.size() * 2 > key_slots_.size() && key_bits_ < 32) grow_keys_table();
  return index;
}

void cache_lines_flow_t::grow_keys_table() {
  std::vector<slot_t> old(key_slots_.size() * 2, slot_t{0, 0});
  old.swap(key_slots_);
  ++key_bits_;
  const size_t mask = key_slots_.size() - 1;
  for (const slot_t& slot : old) {
    if (slot.index_plus_one == 0) continue;
    size_t i = home(slot.tag, key_bits_);
    while (key_slots_[i].index_plus_one != 0) i = (i + 1) & mask;
    key_slots_[i] = slot;
  }
}

// ---- The table of waiting begins and ends ------------------------------------------------

size_t cache_lines_flow_t::find_pending(uint32_t sample_id) const {
  const size_t mask = pending_slots_.size() - 1;
  for (size_t i = pending_home(sample_id);; i = (i + 1) & mask) {
    const pending_slot_t& slot = pending_slots_[i];
    if (slot.index_plus_one == 0) return no_slot;
    if (slot.sample_id == sample_id) return i;
  }
}

void cache_lines_flow_t::insert_pending(uint32_t sample_id, const pending_t& part) {
  if ((pending_count_ + 1) * 4 > pending_slots_.size() * 3) grow_pending_table();
  uint32_t index;
  if (!free_pending_.empty()) {
    index = free_pending_.back();
    free_pending_.pop_back();
    pending_[index] = part;
  } else {
    // Fewer records than slots, and slots number at most 2^32.
    index = static_cast<uint32_t>(pending_.size());
    pending_.push_back(part);
  }
  const size_t mask = pending_slots_.size() - 1;
  size_t i = pending_home(sample_id);
  while (pending_slots_[i].index_plus_one != 0) i = (i + 1) & mask;
  pending_slots_[i] = pending_slot_t{sample_id, index + 1};
  ++pending_count_;
}

void cache_lines_flow_t::erase_pending(size_t hole) {
  free_pending_.push_back(pending_slots_[hole].index_plus_one - 1);
  // Backward shift: every later entry of the run that may sit at the hole
  // (its home is not between the hole and itself) moves into it.
  const size_t mask = pending_slots_.size() - 1;
  for (size_t j = (hole + 1) & mask; pending_slots_[j].index_plus_one != 0; j = (j + 1) & mask) {
    const size_t home = pending_home(pending_slots_[j].sample_id);
    const bool stays = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (!stays) {
      pending_slots_[hole] = pending_slots_[j];
      hole = j;
    }
  }
  pending_slots_[hole].index_plus_one = 0;
  --pending_count_;
}

void cache_lines_flow_t::grow_pending_table() {
  std::vector<pending_slot_t> old(pending_slots_.size() * 2, pending_slot_t{0, 0});
  old.swap(pending_slots_);
  const size_t mask = pending_slots_.size() - 1;
  for (const pending_slot_t& slot : old) {
    if (slot.index_plus_one == 0) continue;
    size_t i = pending_home(slot.sample_id);
    while (pending_slots_[i].index_plus_one != 0) i = (i + 1) & mask;
    pending_slots_[i] = slot;
  }
}

// ---- The result ------------------------------------------------------------------------

const cache_line_stats_t& cache_lines_flow_t::result() {
  if (current_) return stats_;
  count_queued();
  // Only a line with a line_more_t can be other than private, or have
  // transfers.
  cache_line_summary_t& summary = stats_.summary;
  summary.lines = stats_.lines.size();
  for (uint64_t& count : summary.lines_by_verdict) count = 0;
  summary.lines_by_verdict[verdict_private] = summary.lines;
  summary.transfers = transfer_counts_t();
  for (size_t i = 0; i < stats_.more.size(); ++i) {
    line_more_t& more = stats_.more[i];
    const cache_line_verdict_t verdict = judge(stats_, more);
    stats_.lines[more.line].verdict = static_cast<uint8_t>(verdict);
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
