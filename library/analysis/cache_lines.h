// Cache-line analysis: which lines of memory the threads of a recording
// touch, how often a line passes from one thread to another, and whether the
// threads that share a line share its bytes (true sharing) or only the line
// (false sharing). A flow that any program can run fills the plain record
// cache_line_stats_t; cache_line_report.h picks the hottest lines from it for
// sample_lines and its renderers.
#ifndef LIBRARY_ANALYSIS_CACHE_LINES_H_
#define LIBRARY_ANALYSIS_CACHE_LINES_H_

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "events/qnt_events.h"
#include "events/qnt_types.h"
#include "flow/quenth_flow.h"
#include "support/chunked_vector.h"
#include "support/seeded_hash.h"
#include "symbols/address_space.h"

namespace velkor { namespace library {

// ---- What is counted ----------------------------------------------------------
//
// Every access of a complete sample (its begin and each end, however many)
// and both accesses of a separate begin and end that met by sample id count
// under their line: the address rounded down to the sample's line size. A
// sample without a line size (0) counts under the flow's default line size.
// A line is the pair (line size, line address): a 64-byte and a 128-byte line
// that hold the same byte are two lines.
//
// - An access starts at its address and covers its size in bytes (at least
//   one). One that runs past the end of its line counts in the line where it
//   starts, its byte range cut at the end of that line; the summary counts
//   such accesses (straddling_accesses). The next line gets nothing.
// - Reads and writes come from the class bits of the access type: an access
//   with the read bit is a read, one with the write bit a write, "RDWR" both,
//   a flush ("CLFLUSH") neither. Prefetches count by their bits as well
//   ("PF_AMD_W" is a write). A type above 12, which only a damaged file can
//   carry, has no class: it counts as an access that neither reads nor
//   writes (summary: unknown_type_accesses).
// - A pair is two consecutive accesses of one sample (the begin and the first
//   end, each end and the next); a transfer is a pair whose accesses are on
//   different threads. Both count under their line when the two accesses lie
//   in the same line; a pair that crosses lines (possible only in a damaged
//   file) counts under none (summary: pairs_across_lines). A transfer is
//   write->read, write->write, read->write or read->read by the kinds of its
//   two accesses, an access that writes counting as a write ("RDWR" too); a
//   transfer with an access that neither reads nor writes is in none of the
//   four.
// - Separate begins and ends wait for their partner by sample id, in either
//   order; a later one with the same id replaces the one that waits (which
//   then counts as unmatched). A matched pair is the begin followed by the
//   end, whichever came first in the file.
//
// Verdicts, from the bytes each thread touched and wrote in the line:
// - private: one thread touched the line;
// - read-shared: several threads, none of them wrote;
// - true-sharing: several threads, and a byte written by one of them was
//   touched by another;
// - false-sharing: several threads and some write, but no byte written by one
//   thread was touched by another: the threads share the line, not the data.
// The transfer counts say how often the line actually moved; a line whose
// threads never handed it over still gets its verdict from the bytes. Bytes
// are told apart exactly in lines of up to 128 bytes; a longer line is cut
// into 128 equal granules, and two threads that touch one granule count as
// touching the same bytes.
//
// The detail of a line is its sites: a site is a byte range (offset and
// length in the line) touched by one thread from one pc with one kind of
// access (read, write, both or neither), with its count.
//
// Bounds: memory grows with the distinct lines only. A line keeps at most
// max_threads_per_line threads; the accesses of further threads count in one
// entry for all of them (other_threads), which takes part in the verdict as
// one more thread. A thread keeps at most max_sites_per_thread sites; its
// further accesses count in its totals only. The tables are keyed through
// the seeded hash, so that crafted addresses, pcs or sample ids cannot make
// them slow.
//
// Symbols: a flow that follows the recording's mappings (follow_mappings())
// notes where each line's address and each pc lay when it was first counted
// (the module and the offset in its file), so that the few that a report
// lists can be named at the end against the mappings in force then.

// ---- The record ------------------------------------------------------------------

enum cache_line_verdict_t {
  verdict_private = 0,
  verdict_read_shared = 1,
  verdict_true_sharing = 2,
  verdict_false_sharing = 3,
};
const unsigned cache_line_verdict_count = 4;

// "private", "read-shared", "true-sharing", "false-sharing".
const char* cache_line_verdict_name(cache_line_verdict_t verdict);

// Index into one of the tables of cache_line_stats_t; no_index for none.
typedef uint32_t line_index_t;
const line_index_t no_index = 0xffffffffu;

const uint32_t max_threads_per_line = 256;
const unsigned max_sites_per_thread = 16;

// Transfers among the pairs of consecutive accesses.
struct transfer_counts_t {
  uint64_t transfers = 0;  // all pairs on two threads, of any kinds
  uint64_t write_read = 0;
  uint64_t write_write = 0;
  uint64_t read_write = 0;
  uint64_t read_read = 0;

  // The transfers that move a written line: write->read, write->write and
  // read->write.
  uint64_t with_write() const { return write_read + write_write + read_write; }
};

// What a site is, kept once for all the sites of every line that share it
// (cache_line_stats_t::site_keys): the instruction, the byte range in the
// line (offset, and length cut at the line's end) and the access_class_read
// and access_class_write bits of its accesses.
struct site_key_t {
  qnt_address_t pc;
  uint64_t offset = 0;
  uint16_t length = 0;
  uint8_t classes = 0;

  bool reads() const { return (classes & access_class_read) != 0; }
  bool writes() const { return (classes & access_class_write) != 0; }
};

// One site of a line: its key and how often the thread came there. The
// count stops at max_site_count; later accesses of the site count in its
// thread's totals only. Its reads and writes are its accesses or none, by
// the classes of its key.
struct line_site_t {
  line_index_t key = no_index;  // in cache_line_stats_t::site_keys
  uint32_t accesses = 0;
};
const uint32_t max_site_count = 0xffffffffu;

// Sites a line holds in its own record, which is all most lines need.
const unsigned line_own_sites = 4;

// One line, as every line has it: 64 bytes, one cache line of the machine.
// While only one thread has touched it (and it counts fewer than 2^32 - 1
// accesses), this record is complete: that thread is first_thread, the
// line's accesses and pairs are here, its reads and writes those of its
// sites, and its sites are site_count entries of own_sites or, past
// line_own_sites of them, of the block `detail` of cache_line_stats_t::sites
// (a block of 8, or of 16 past 8 sites). When a second thread comes (or the
// thread needs a site past max_sites_per_thread, or the counts would pass
// 32 bits), the line gets a line_more_t (has_more, at `detail` of
// cache_line_stats_t::more), which counts everything from then on and lists
// every thread, first_thread among them; the fields here other than the
// address, the line size, the first thread and the verdict are then unused.
// line_counts() and for_each_line_thread() below read a line either way.
struct alignas(64) cache_line_t {
  qnt_address_t address;    // the first byte of the line
  uint32_t accesses = 0;    // without a line_more_t
  uint32_t pairs = 0;       // of consecutive accesses of a sample, both in this line
  qnt_thread_id_t first_thread;
  line_index_t detail = no_index;
  uint8_t line_size_index = 0;  // in cache_line_stats_t::line_sizes
  uint8_t site_count = 0;       // without a line_more_t
  uint8_t has_more = 0;
  uint8_t verdict = verdict_private;  // a cache_line_verdict_t, set by result()
  line_site_t own_sites[line_own_sites];
};

// The rest of a line that two threads touched, or one at more sites than it
// keeps, or one with more accesses than its record counts. Its threads are
// thread_count consecutive entries of cache_line_stats_t::threads from
// thread_block (a block of thread_capacity), first_thread and the
// other_threads entry among them.
struct line_more_t {
  line_index_t line = no_index;  // in cache_line_stats_t::lines
  // Distinct threads kept (at most max_threads_per_line; the other_threads
  // entry is not among them) and those of them that wrote (set by result()).
  uint32_t threads = 0;
  uint32_t writer_threads = 0;
  line_index_t thread_block = no_index;
  uint16_t thread_count = 0;
  uint16_t thread_capacity = 0;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t pairs = 0;
  transfer_counts_t transfers;
};

// One thread of a line that has a line_more_t. Its sites (site_count
// entries of cache_line_stats_t::sites from index `sites`, a block of 2, 4,
// 8 or 16: the least power of two that holds them) add up to the counts
// here until the thread reaches max_sites_per_thread sites (or a site its
// max_site_count); the accesses after that count here only. The bytes are
// two 64-bit words of granule bits (bit i of word w: granule 64 w + i; a
// granule is one byte in lines of up to 128 bytes).
struct line_thread_t {
  qnt_thread_id_t thread;      // 0 in the other_threads entry
  bool other_threads = false;  // the one entry for all threads past the bound; no sites
  uint8_t site_count = 0;
  line_index_t sites = no_index;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t touched[2] = {0, 0};
  uint64_t written[2] = {0, 0};
};

// Totals of the whole input. The line, verdict and transfer counts are set
// by result().
struct cache_line_summary_t {
  uint64_t lines = 0;
  uint64_t shared_lines = 0;  // touched by more than one thread
  uint64_t lines_by_verdict[cache_line_verdict_count] = {0, 0, 0, 0};
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t pairs = 0;           // of all lines; pairs across lines not included
  transfer_counts_t transfers;  // of all lines
  uint64_t samples = 0;         // complete sample events
  uint64_t matched_pairs = 0;   // separate begins and ends that met
  // Separate begins and ends that are still waiting, or were replaced by a
  // later one with their sample id.
  uint64_t unmatched_begins = 0;
  uint64_t unmatched_ends = 0;
  uint64_t samples_without_line_size = 0;  // complete samples and matched pairs
  uint64_t straddling_accesses = 0;
  uint64_t unknown_type_accesses = 0;
  uint64_t pairs_across_lines = 0;
};

// Where an address lay when it was first counted: outside every mapping, or
// at an offset of a module of the address space that the flow followed.
struct mapped_location_t {
  bool mapped = false;
  module_id_t module = 0;
  uint64_t offset = 0;
};

// The result: plain records in tables that grow block by block, linked by
// indices. lines are in the order of their first access. threads and sites
// also hold blocks that lines and threads gave up when they outgrew them,
// which nothing refers to.
struct cache_line_stats_t {
  qnt_line_size_t default_line_size = 64;
  cache_line_summary_t summary;
  std::vector<qnt_line_size_t> line_sizes;  // by cache_line_t::line_size_index
  chunked_vector_t<cache_line_t> lines;
  chunked_vector_t<line_more_t> more;
  chunked_vector_t<line_thread_t> threads;
  chunked_vector_t<line_site_t> sites;
  chunked_vector_t<site_key_t> site_keys;

  // Only when the flow followed the mappings: where each line's address lay
  // (by line index), and each pc of a site.
  bool has_locations = false;
  chunked_vector_t<mapped_location_t> line_locations;
  std::unordered_map<uint64_t, mapped_location_t, seeded_hash_t> pc_locations;
};

// ---- Reading a line ----------------------------------------------------------------

// Everything counted for one line, whichever records hold it.
struct cache_line_counts_t {
  qnt_address_t address;
  qnt_line_size_t line_size = 0;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t pairs = 0;
  transfer_counts_t transfers;
  uint32_t threads = 0;
  uint32_t writer_threads = 0;
  cache_line_verdict_t verdict = verdict_private;
};

cache_line_counts_t line_counts(const cache_line_stats_t& stats, const cache_line_t& line);

// One thread of a line with its sites.
struct line_thread_view_t {
  qnt_thread_id_t thread;
  bool other_threads = false;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  const line_site_t* sites = nullptr;
  unsigned site_count = 0;
};

// The sites a line without a line_more_t holds.
inline const line_site_t* own_sites(const cache_line_stats_t& stats, const cache_line_t& line) {
  return line.site_count <= line_own_sites ? line.own_sites : &stats.sites[line.detail];
}

// Calls f(const line_thread_view_t&) for every thread of the line (and its
// other_threads entry), in no particular order.
template <class F>
void for_each_line_thread(const cache_line_stats_t& stats, const cache_line_t& line, F f) {
  line_thread_view_t view;
  if (!line.has_more) {
    view.thread = line.first_thread;
    view.accesses = line.accesses;
    view.sites = own_sites(stats, line);
    view.site_count = line.site_count;
    for (unsigned i = 0; i < view.site_count; ++i) {
      const site_key_t& key = stats.site_keys[view.sites[i].key];
      if (key.reads()) view.reads += view.sites[i].accesses;
      if (key.writes()) view.writes += view.sites[i].accesses;
    }
    f(view);
    return;
  }
  const line_more_t& more = stats.more[line.detail];
  for (unsigned i = 0; i < more.thread_count; ++i) {
    const line_thread_t& t = stats.threads[more.thread_block + i];
    view.thread = t.thread;
    view.other_threads = t.other_threads;
    view.accesses = t.accesses;
    view.reads = t.reads;
    view.writes = t.writes;
    view.sites = t.site_count == 0 ? nullptr : &stats.sites[t.sites];
    view.site_count = t.site_count;
    f(view);
  }
}

// ---- The flow --------------------------------------------------------------------

class cache_lines_flow_t : public quenth_flow_by_type_default_t {
 public:
  // default_line_size: the line size of samples that carry none (0 is taken
  // as 64).
  explicit cache_lines_flow_t(qnt_line_size_t default_line_size = 64);

  // Follows the recording's mmap and munmap events in `space` (not owned;
  // it must outlive the flow) and notes the locations of lines and pcs in
  // the result. Call before the first event.
  void follow_mappings(address_space_t* space);

  // Every handler answers flow_status_ok. Throws std::length_error when a
  // table would hold more than 2^32 - 2 entries.
  flow_status_t sample(const qnt_event_sample_t& event) override;
  flow_status_t sample_begin(const qnt_event_sample_begin_t& event) override;
  flow_status_t sample_end(const qnt_event_sample_end_t& event) override;
  flow_status_t mmap(const qnt_event_mmap_t& event) override;
  flow_status_t munmap(const qnt_event_munmap_t& event) override;

  // Everything counted so far, with the verdicts, writer threads and the
  // totals of the summary brought up to date. More events may follow; the
  // record is valid until then.
  const cache_line_stats_t& result();

 private:
  cache_lines_flow_t(const cache_lines_flow_t&) = delete;
  cache_lines_flow_t& operator=(const cache_lines_flow_t&) = delete;

  // What the previous access of the sample being counted left for the pair
  // with the next one.
  struct previous_t {
    line_index_t line;
    qnt_thread_id_t thread;
    qnt_access_classes_t classes;
  };

  // A separate begin or end waiting for its partner.
  struct pending_t {
    qnt_address_t pc;
    qnt_address_t addr;
    qnt_line_size_t line_size = 0;  // of a begin
    qnt_thread_id_t thread;
    uint16_t size = 0;
    qnt_access_type_t access_type = 0;
    bool is_begin = false;
  };

  // How addresses fall into the lines of one line size.
  struct geometry_t {
    qnt_line_size_t size;
    uint8_t index;  // in cache_line_stats_t::line_sizes
    bool power_of_two;
    // Bytes per granule of the byte masks, and its logarithm when it is a
    // power of two.
    uint64_t granule;
    unsigned granule_shift;
  };
  // Line sizes seldom change from one sample to the next.
  const geometry_t& geometry_for(qnt_line_size_t size) {
    if (geometries_[geometry_].size == size) return geometries_[geometry_];
    return add_geometry(size);
  }
  const geometry_t& add_geometry(qnt_line_size_t size);

  // The parts of an access that counting reads.
  struct counted_access_t {
    qnt_address_t pc;
    qnt_address_t addr;
    qnt_thread_id_t thread;
    uint16_t size = 0;
    qnt_access_type_t access_type = 0;
  };
  static counted_access_t counted(const qnt_sample_access_t& access) {
    counted_access_t c;
    c.pc = access.pc;
    c.addr = access.addr;
    c.thread = access.thread;
    c.size = access.size;
    c.access_type = access.access_type;
    return c;
  }

  // Queues a sample (line_size 0 for none), counting the oldest one first
  // when the queue is full: a sample event, or a begin and end that met.
  void enqueue(qnt_line_size_t line_size, const qnt_sample_access_t& first,
               const qnt_sample_access_t* rest, size_t rest_count);
  void enqueue_pair(qnt_line_size_t line_size, const counted_access_t& begin,
                    const counted_access_t& end);
  // The entry after the last one, once the oldest has made room for it, and
  // the hints that the entries before it are due.
  struct queued_t;
  queued_t& queue_back(qnt_line_size_t line_size, uint64_t first_address);
  void count_oldest();
  void count_queued();
  // Counts the accesses of one sample, in order; line_size 0 for none.
  void count_sample(qnt_line_size_t line_size, const counted_access_t* accesses, size_t count);
  void count_access(const geometry_t& geometry, const counted_access_t& access,
                    previous_t* previous, bool has_previous);
  // A new line gets `thread` as its first thread.
  line_index_t find_or_add_line(const geometry_t& geometry, uint64_t address,
                                qnt_thread_id_t thread);
  // Gives the line its line_more_t, which takes over its counts, with its
  // first thread as the one entry, which takes over the own sites.
  void add_more(line_index_t index, cache_line_t& line, const geometry_t& geometry);
  line_thread_t& find_or_add_thread(line_more_t& more, qnt_thread_id_t thread);
  // Counts an access under its thread's entry of a line with a line_more_t:
  // counts, bytes and site. key: the access's site key, no_index when it has
  // none yet, and tag its tag.
  void count_thread_access(line_more_t& more, const geometry_t& geometry,
                           qnt_thread_id_t thread, const site_key_t& site, line_index_t key,
                           uint32_t tag, uint32_t reads, uint32_t writes);
  // The site among the `count` at `sites` with this key, or null.
  static line_site_t* find_site(line_site_t* sites, unsigned count, line_index_t key) {
    for (unsigned i = 0; i < count; ++i) {
      if (sites[i].key == key) return &sites[i];
    }
    return nullptr;
  }
  // A block of `capacity` (a power of two from 2 to 512) consecutive entries
  // of the table, from the blocks given up (free, by capacity 2, 4, ...) or
  // new at its end; it never spans two chunks of the table.
  template <class T>
  line_index_t allocate_block(chunked_vector_t<T>& table, std::vector<line_index_t>* free,
                              unsigned capacity, const char* what);
  static unsigned size_class(unsigned capacity);
  // The least block of sites (2, 4, 8 or 16) that holds count sites.
  static unsigned site_capacity(unsigned count);
  // Makes room for one more site after the `count` in *block (no_index: none
  // yet), moving them to a larger block when theirs is full, and returns the
  // sites.
  line_site_t* room_for_site(line_index_t* block, unsigned count);
  void grow_lines_table();

  // Site keys: open addressing, linear probing, like the lines. The pc and
  // the rest of the key, packed into one word where the offset leaves room
  // (lines up to 2^40 bytes), else mixed into one.
  static uint32_t key_tag(const site_key_t& key) {
    const uint64_t rest = uint64_t(key.length) | uint64_t(key.classes) << 16;
    const uint64_t second = key.offset < (uint64_t(1) << 40)
                                ? key.offset << 24 | rest
                                : seeded_hash64(key.offset, rest);
    return static_cast<uint32_t>(seeded_hash64(key.pc.value, second) >> 32);
  }
  line_index_t find_key(const site_key_t& key, uint32_t tag) const;
  line_index_t add_key(const site_key_t& key, uint32_t tag);
  void grow_keys_table();

  // A separate begin or end: it meets its partner, which waits, or waits
  // for it.
  void meet(uint32_t sample_id, const pending_t& part);
  void match(const pending_t& begin, const pending_t& end);
  // The table of waiting begins and ends by sample id: open addressing,
  // linear probing, erase by backward shift. find_pending answers the slot
  // of the id, or no_slot.
  static const size_t no_slot = ~size_t(0);
  size_t pending_home(uint32_t sample_id) const {
    return static_cast<size_t>(seeded_hash64(sample_id)) & (pending_slots_.size() - 1);
  }
  size_t find_pending(uint32_t sample_id) const;
  void insert_pending(uint32_t sample_id, const pending_t& part);
  void erase_pending(size_t slot);
  void grow_pending_table();

  // The location of an address in the mappings followed now.
  mapped_location_t locate(uint64_t address) const;

  cache_line_stats_t stats_;
  bool current_ = true;  // result() has nothing to bring up to date
  address_space_t* space_ = nullptr;
  // The classes of every access type byte (none above 12), and the geometry
  // of the line size counted last.
  qnt_access_classes_t classes_[256];
  std::vector<geometry_t> geometries_;  // by line size index
  size_t geometry_ = 0;

  // Samples wait in a short queue before they are counted, so that the
  // memory that counting them will touch can be fetched while the samples
  // before them are counted: the slot of the line of the first access at
  // once, the line line_hint_age samples later, the block of its sites or
  // its line_more_t site_hint_age samples later, and the first thread of a
  // shared line with its sites thread_hint_age samples later. These are
  // hints only: the counts are those of counting each sample as it comes.
  // result() and a change of the mappings count what waits.
  // The accesses of a sample, the begin then the ends: in the entry itself
  // for up to queued_inline of them, else in `spilled`.
  static const size_t queued_inline = 4;
  struct queued_t {
    qnt_line_size_t line_size = 0;
    uint32_t tag = 0;
    line_index_t line_hint = no_index;
    size_t count = 0;
    counted_access_t inline_accesses[queued_inline];
    std::vector<counted_access_t> spilled;
    counted_access_t* accesses() { return count <= queued_inline ? inline_accesses : spilled.data(); }
    counted_access_t* make_room(size_t n) {
      count = n;
      if (n > queued_inline) {
        spilled.resize(n);
        return spilled.data();
      }
      // What a sample of millions of ends took is not kept for the next.
      if (spilled.capacity() > 4096) std::vector<counted_access_t>().swap(spilled);
      return inline_accesses;
    }
  };
  static const size_t queue_length = 16;
  static const size_t line_hint_age = 6;
  static const size_t site_hint_age = 10;
  static const size_t thread_hint_age = 13;
  queued_t queue_[queue_length];
  size_t queue_first_ = 0;
  size_t queue_count_ = 0;

  // Lines by (line size, address), and site keys: each slot holds an index
  // + 1 (0: empty) and the upper half of the key's seeded hash, the tag,
  // whose top bits are the slot where the search for the key starts. A table
  // of 2^bits slots has twice as many as lines or keys at least, up to 2^32
  // slots: a new line, which most samples of a recording bring, is found
  // missing after few probes.
  struct slot_t {
    uint32_t index_plus_one;
    uint32_t tag;
  };
  static uint32_t line_tag(qnt_line_size_t line_size, uint64_t address) {
    return static_cast<uint32_t>(seeded_hash64(address, line_size) >> 32);
  }
  static size_t home(uint32_t tag, unsigned bits) { return tag >> (32 - bits); }
  std::vector<slot_t> line_slots_;
  unsigned line_bits_;
  std::vector<slot_t> key_slots_;
  unsigned key_bits_;
  // The last line found, which the next access of a sample usually hits.
  line_index_t last_line_ = no_index;
  // Blocks given up, by capacity 2, 4, 8, ...
  std::vector<line_index_t> free_sites_[4];
  std::vector<line_index_t> free_threads_[9];

  // The slots hold the sample id and the index + 1 of the record in
  // pending_ (0: an empty slot), at most three quarters of them used, so
  // that the table is small enough to stay in the caches while the records
  // of begins that never meet an end lie untouched; records given up are
  // listed in free_pending_.
  struct pending_slot_t {
    uint32_t sample_id;
    uint32_t index_plus_one;
  };
  std::vector<pending_slot_t> pending_slots_;
  size_t pending_count_ = 0;
  std::vector<pending_t> pending_;
  std::vector<uint32_t> free_pending_;
  uint64_t pending_begins_ = 0;
  uint64_t pending_ends_ = 0;
  uint64_t replaced_begins_ = 0;
  uint64_t replaced_ends_ = 0;
};

}}  // namespace velkor::library
#endif
