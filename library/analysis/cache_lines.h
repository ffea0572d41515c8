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
#include <vector>

#include "events/qnt_events.h"
#include "events/qnt_types.h"
#include "flow/quenth_flow.h"
#include "support/chunked_vector.h"
#include "support/seeded_hash.h"

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
// Bounds: memory grows with the distinct lines only. A line keeps at most
// max_threads_per_line threads; the accesses of further threads count in one
// entry for all of them (other_threads), which takes part in the verdict as
// one more thread. A thread keeps at most max_sites_per_thread sites (byte
// range and pc); its further accesses count in its totals only.
// The tables are keyed through the seeded hash, so that crafted addresses or
// sample ids cannot make them slow.

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

// One byte range of a line touched by one thread from one pc: offset in the
// line, length (cut at the line's end) and the instruction. Its counts stop
// at max_site_count; later accesses of the site count in its thread's totals
// only.
struct line_site_t {
  qnt_address_t pc;
  uint64_t offset = 0;
  uint16_t length = 0;
  uint32_t accesses = 0;
  uint32_t reads = 0;
  uint32_t writes = 0;
};
const uint32_t max_site_count = 0xffffffffu;

// Sites a line holds itself for its first thread, which is all most lines
// need.
const unsigned line_own_sites = 2;

// One line, as every line has it: 128 bytes, so that counting an access
// touches two cache lines. While only one thread has touched the line, this
// record is complete: that thread is first_thread, its counts are the
// line's, and its sites are own_site_count entries of own_sites or, once
// there are more than line_own_sites of them, of the block own_block of
// cache_line_stats_t::sites. When a second thread comes (or the thread
// needs a site past max_sites_per_thread), the line gets a line_more_t
// (`more`), which lists every thread, first_thread among them, and holds the
// transfers; the own sites are then unused. line_counts() and
// for_each_line_thread() below read a line either way.
struct alignas(64) cache_line_t {
  qnt_address_t address;          // the first byte of the line
  qnt_line_size_t line_size = 0;  // bytes, never 0
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t pairs = 0;  // of consecutive accesses of a sample, both in this line
  qnt_thread_id_t first_thread;
  line_index_t more = no_index;  // in cache_line_stats_t::more
  line_index_t own_block = no_index;
  uint8_t own_site_count = 0;
  uint8_t own_site_capacity = line_own_sites;
  uint8_t verdict = verdict_private;  // a cache_line_verdict_t, set by result()
  line_site_t own_sites[line_own_sites];
};

// The rest of a line that two threads touched, or one at more sites than it
// keeps. Its threads are thread_count consecutive entries of
// cache_line_stats_t::threads from thread_block (a block of
// thread_capacity), first_thread and the other_threads entry among them.
struct line_more_t {
  line_index_t line = no_index;  // in cache_line_stats_t::lines
  transfer_counts_t transfers;
  // Distinct threads kept (at most max_threads_per_line; the other_threads
  // entry is not among them) and those of them that wrote (set by result()).
  uint32_t threads = 0;
  uint32_t writer_threads = 0;
  line_index_t thread_block = no_index;
  uint16_t thread_count = 0;
  uint16_t thread_capacity = 0;
};

// One thread of a line that has a line_more_t. Its sites (site_count
// entries of cache_line_stats_t::sites from index `sites`, a block of
// site_capacity) add up to the counts here until the thread reaches
// max_sites_per_thread sites (or a site its max_site_count); the accesses
// after that count here only. The bytes are two 64-bit words of granule
// bits (bit i of word w: granule 64 w + i; a granule is one byte in lines of
// up to 128 bytes).
struct line_thread_t {
  qnt_thread_id_t thread;      // 0 in the other_threads entry
  bool other_threads = false;  // the one entry for all threads past the bound; no sites
  uint8_t site_count = 0;
  uint8_t site_capacity = 0;
  line_index_t sites = no_index;
  uint64_t accesses = 0;
  uint64_t reads = 0;
  uint64_t writes = 0;
  uint64_t touched[2] = {0, 0};
  uint64_t written[2] = {0, 0};
  // A byte of a hash of each site's pc and bytes, so that finding a site
  // reads the sites that may match only.
  uint8_t site_tags[max_sites_per_thread] = {};
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

// The result: plain records in tables that grow block by block, linked by
// indices. lines are in the order of their first access. threads and sites
// also hold blocks that lines and threads gave up when they outgrew them,
// which nothing refers to.
struct cache_line_stats_t {
  qnt_line_size_t default_line_size = 64;
  cache_line_summary_t summary;
  chunked_vector_t<cache_line_t> lines;
  chunked_vector_t<line_more_t> more;
  chunked_vector_t<line_thread_t> threads;
  chunked_vector_t<line_site_t> sites;
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

// Calls f(const line_thread_view_t&) for every thread of the line (and its
// other_threads entry), in no particular order.
template <class F>
void for_each_line_thread(const cache_line_stats_t& stats, const cache_line_t& line, F f) {
  line_thread_view_t view;
  if (line.more == no_index) {
    view.thread = line.first_thread;
    view.accesses = line.accesses;
    view.reads = line.reads;
    view.writes = line.writes;
    view.sites = line.own_block == no_index ? line.own_sites : &stats.sites[line.own_block];
    view.site_count = line.own_site_count;
    f(view);
    return;
  }
  const line_more_t& more = stats.more[line.more];
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

  // Every handler answers flow_status_ok. Throws std::length_error when a
  // table would hold more than 2^32 - 2 entries.
  flow_status_t sample(const qnt_event_sample_t& event) override;
  flow_status_t sample_begin(const qnt_event_sample_begin_t& event) override;
  flow_status_t sample_end(const qnt_event_sample_end_t& event) override;

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
    uint32_t sample_id = 0;
    bool used = false;
    bool is_begin = false;
    qnt_access_type_t access_type = 0;
    uint16_t size = 0;
    qnt_thread_id_t thread;
    qnt_address_t pc;
    qnt_address_t addr;
    qnt_line_size_t line_size = 0;  // of a begin
  };

  // How addresses fall into the lines of one line size.
  struct geometry_t {
    qnt_line_size_t size;
    bool power_of_two;
    // Bytes per granule of the byte masks, and its logarithm when it is a
    // power of two.
    uint64_t granule;
    unsigned granule_shift;
  };
  static geometry_t geometry_for(qnt_line_size_t size);

  // Queues a sample (line_size 0 for none), counting the oldest one first
  // when the queue is full.
  void enqueue(qnt_line_size_t line_size, const qnt_sample_access_t& first,
               const qnt_sample_access_t* rest, size_t rest_count);
  void count_oldest();
  // Counts the accesses of one sample, in order; line_size 0 for none.
  void count_sample(qnt_line_size_t line_size, const qnt_sample_access_t& first,
                    const qnt_sample_access_t* rest, size_t rest_count);
  void count_access(const geometry_t& geometry, const qnt_sample_access_t& access,
                    previous_t* previous, bool has_previous);
  // A new line gets `thread` as its first thread.
  line_index_t find_or_add_line(qnt_line_size_t line_size, uint64_t address,
                                qnt_thread_id_t thread);
  // Gives the line its line_more_t, with its first thread as the one entry,
  // which takes over the own sites.
  void add_more(line_index_t index, cache_line_t& line, const geometry_t& geometry);
  line_thread_t& find_or_add_thread(line_more_t& more, qnt_thread_id_t thread);
  // Counts an access under its thread's entry of a line with a line_more_t:
  // counts, bytes and site.
  void count_thread_access(line_more_t& more, const geometry_t& geometry,
                           const qnt_sample_access_t& access, uint64_t offset, uint16_t length,
                           uint32_t reads, uint32_t writes);
  // The site among the `count` at `sites` with this pc and byte range, or
  // null.
  static line_site_t* find_site(line_site_t* sites, unsigned count, qnt_address_t pc,
                                uint64_t offset, uint16_t length) {
    for (unsigned i = 0; i < count; ++i) {
      if (sites[i].pc == pc && sites[i].offset == offset && sites[i].length == length) {
        return &sites[i];
      }
    }
    return nullptr;
  }
  // Counts an access at a site, unless the site is full.
  static void count_at(line_site_t& site, uint32_t reads, uint32_t writes) {
    if (site.accesses == max_site_count) return;
    ++site.accesses;
    site.reads += reads;
    site.writes += writes;
  }
  // Adds a site after the `*count` at `sites`, unless there are
  // max_sites_per_thread already. When they fill their `*capacity`, they
  // first move to a block twice the size, whose index and capacity are
  // stored (*block is no_index for sites in no block: a line's own).
  void add_site(line_site_t* sites, uint8_t* count, uint8_t* capacity, line_index_t* block,
                qnt_address_t pc, uint64_t offset, uint16_t length, uint32_t reads,
                uint32_t writes);
  // A block of `capacity` (a power of two from 2 to 512) consecutive entries
  // of the table, from the blocks given up (free, by capacity 2, 4, ...) or
  // new at its end; it never spans two chunks of the table.
  template <class T>
  line_index_t allocate_block(chunked_vector_t<T>& table, std::vector<line_index_t>* free,
                              unsigned capacity, const char* what);
  static unsigned size_class(unsigned capacity);
  void grow_lines_table();

  // Pending table: open addressing, linear probing, erase by backward shift.
  pending_t* find_pending(uint32_t sample_id);
  pending_t* insert_pending(uint32_t sample_id);
  void erase_pending(pending_t* slot);
  void grow_pending_table();
  void match(const pending_t& begin, const pending_t& end);

  cache_line_stats_t stats_;
  bool current_ = true;  // result() has nothing to bring up to date
  // The classes of every access type byte (none above 12), and the geometry
  // of the line size counted last.
  qnt_access_classes_t classes_[256];
  geometry_t geometry_;

  // Samples wait in a short queue before they are counted, so that the
  // memory that counting them will touch can be fetched while the samples
  // before them are counted: the slot of the line of the first access at
  // once, the line line_hint_age samples later, the block of its own sites
  // or its line_more_t site_hint_age samples later, and the first thread of
  // a shared line with its sites thread_hint_age samples later. These are
  // hints only: the counts are those of counting each sample as it comes.
  // result() counts what waits.
  struct queued_t {
    qnt_line_size_t line_size = 0;
    std::vector<qnt_sample_access_t> accesses;  // the begin, then the ends
    uint32_t tag = 0;
    line_index_t line_hint = no_index;
  };
  static const size_t queue_length = 16;
  static const size_t line_hint_age = 6;
  static const size_t site_hint_age = 10;
  static const size_t thread_hint_age = 13;
  queued_t queue_[queue_length];
  size_t queue_first_ = 0;
  size_t queue_count_ = 0;

  // Lines by (line size, address): each slot holds a line index + 1 (0:
  // empty) and the upper half of the key's seeded hash, the tag, whose top
  // line_bits_ bits are the slot where the search for the key starts. The
  // table has 2^line_bits_ slots, a third more than lines at least (up to
  // 2^32 slots; there are fewer lines).
  struct line_slot_t {
    uint32_t index_plus_one;
    uint32_t tag;
  };
  static uint32_t line_tag(qnt_line_size_t line_size, uint64_t address) {
    return static_cast<uint32_t>(seeded_hash64(address, line_size) >> 32);
  }
  size_t line_home(uint32_t tag) const { return tag >> (32 - line_bits_); }
  std::vector<line_slot_t> line_slots_;
  unsigned line_bits_;
  // The last line found, which the next access of a sample usually hits.
  line_index_t last_line_ = no_index;
  // Blocks given up, by capacity 2, 4, 8, ...
  std::vector<line_index_t> free_sites_[4];
  std::vector<line_index_t> free_threads_[9];

  std::vector<pending_t> pending_slots_;
  size_t pending_count_ = 0;
  uint64_t pending_begins_ = 0;
  uint64_t pending_ends_ = 0;
  uint64_t replaced_begins_ = 0;
  uint64_t replaced_ends_ = 0;
};

}}  // namespace velkor::library
#endif
