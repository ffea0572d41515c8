// The renderers of sample_lines fed a report built here by hand: the whole
// text and the whole JSON document, including what --symbols adds (a pc's
// resolution, a line's data object), the entry of the threads past the
// bound and the accesses past a thread's sites.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "analysis/cache_line_report.h"
#include "lines_json.h"
#include "lines_text.h"

namespace {

using namespace velkor::library;

report_pc_t pc(uint64_t address, uint64_t accesses, uint64_t reads, uint64_t writes,
               uint32_t symbol = no_symbol) {
  report_pc_t p;
  p.pc = address;
  p.accesses = accesses;
  p.reads = reads;
  p.writes = writes;
  p.symbol = symbol;
  return p;
}

// A resolution in a module, of a function with its line or of an object.
report_symbol_t symbol(address_role_t role, const std::string& module, uint64_t offset,
                       const std::string& name, uint64_t name_offset, const std::string& file = "",
                       uint32_t line = 0) {
  report_symbol_t s;
  s.role = role;
  s.mapped = true;
  s.module.path = module;
  s.module.openable = true;
  s.offset = offset;
  s.has_symbol = true;
  s.symbol.name = name;
  s.symbol.file = file;
  s.symbol.line = line;
  s.symbol_offset = name_offset;
  return s;
}

report_range_t range(uint64_t offset, uint32_t length, std::vector<report_pc_t> pcs) {
  report_range_t r;
  r.offset = offset;
  r.length = length;
  for (const report_pc_t& p : pcs) {
    r.accesses += p.accesses;
    r.reads += p.reads;
    r.writes += p.writes;
  }
  r.pcs = pcs;
  return r;
}

report_thread_t thread(uint32_t id, uint64_t accesses, uint64_t reads, uint64_t writes,
                       std::vector<report_range_t> ranges) {
  report_thread_t t;
  t.thread = id;
  t.accesses = accesses;
  t.reads = reads;
  t.writes = writes;
  t.ranges = ranges;
  for (const report_range_t& r : ranges) {
    accesses -= r.accesses;
    reads -= r.reads;
    writes -= r.writes;
  }
  t.unlisted_accesses = accesses;
  t.unlisted_reads = reads;
  t.unlisted_writes = writes;
  return t;
}

cache_line_report_t hand_built_report() {
  cache_line_report_t report;
  cache_line_summary_t& s = report.summary;
  s.lines = 3;
  s.shared_lines = 2;
  s.lines_by_verdict[verdict_false_sharing] = 1;
  s.lines_by_verdict[verdict_true_sharing] = 1;
  s.lines_by_verdict[verdict_private] = 1;
  s.accesses = 10;
  s.reads = 6;
  s.writes = 5;
  s.pairs = 6;
  s.transfers.transfers = 4;
  s.transfers.write_read = 1;
  s.transfers.write_write = 2;
  s.transfers.read_write = 1;
  s.samples = 3;
  s.matched_pairs = 1;
  s.unmatched_begins = 2;
  s.samples_without_line_size = 1;
  s.straddling_accesses = 1;

  report_line_t first;
  cache_line_counts_t& a = first.line;
  a.address = 0x601040;
  a.line_size = 64;
  a.accesses = 6;
  a.reads = 2;
  a.writes = 5;
  a.pairs = 4;
  a.transfers.transfers = 3;
  a.transfers.write_read = 1;
  a.transfers.write_write = 2;
  a.threads = 2;
  a.writer_threads = 2;
  a.verdict = verdict_false_sharing;
  first.write_transfer_percent = 75;
  report.symbols = {symbol(role_data, "/usr/bin/tally", 0x1040, "counters", 0),
                    symbol(role_code, "/usr/bin/tally", 0x1136, "tally", 6, "/src/tally.c", 12)};
  first.symbol = 0;
  first.threads = {
      thread(23817, 3, 1, 3,
             {range(0, 8, {pc(0x401136, 2, 0, 2, 1), pc(0x40113a, 1, 1, 1)})}),
      thread(23818, 3, 1, 2, {range(8, 8, {pc(0x401136, 2, 0, 2)})}),
  };

  report_line_t second;
  cache_line_counts_t& b = second.line;
  b.address = 0x7f00;
  b.line_size = 128;
  b.accesses = 4;
  b.reads = 4;
  b.writes = 1;
  b.pairs = 2;
  b.transfers.transfers = 1;
  b.transfers.read_write = 1;
  b.threads = 256;
  b.writer_threads = 1;
  b.verdict = verdict_true_sharing;
  second.write_transfer_percent = 25;
  report_thread_t others;
  others.other_threads = true;
  others.accesses = 3;
  others.reads = 3;
  others.unlisted_accesses = 3;
  others.unlisted_reads = 3;
  second.threads = {thread(5, 1, 1, 1, {range(0, 4, {pc(0x402000, 1, 1, 1)})}), others};

  report.lines = {first, second};
  report.lines_below_threshold = 1;
  return report;
}

TEST(LinesRender, TextShowsSummaryRankingAndLines) {
  std::ostringstream out;
  velkor::sample_lines::render_lines_text(hand_built_report(), out);
  EXPECT_EQ(out.str(),
            "Cache lines: 3 touched, 2 shared by several threads (1 false-sharing, 1 "
            "true-sharing, 0 read-shared), 1 private\n"
            "Accesses: 10 (6 reads, 5 writes) in 3 samples and 1 separate begin/end pairs\n"
            "Transfers between threads: 4 of 6 pairs of consecutive accesses\n"
            "  involving a write: 4 (write->read 1, write->write 2, read->write 1)\n"
            "  read->read: 0\n"
            "Samples without a line size, counted in 64-byte lines: 1\n"
            "Accesses running past the end of their line, cut there: 1\n"
            "Separate sample begins that met no end: 2; ends that met no begin: 0\n"
            "\n"
            "Lines by transfers involving a write, those with at least 0.1% of the transfers "
            "involving a write, the first 20:\n"
            "  #  address   size  accesses  reads  writes  threads  writers  transfers  "
            "with-write  w->r  w->w  r->w  r->r   share  verdict\n"
            "  1  0x601040    64         6      2       5        2        2          3  "
            "         3     1     2     0     0  75.00%  false-sharing\n"
            "  2  0x7f00     128         4      4       1     256+        1          1  "
            "         1     0     0     1     0  25.00%  true-sharing\n"
            "1 line under 0.1% of the transfers involving a write left out (0 such "
            "transfers)\n"
            "\n"
            "Line 1: 0x601040 (counters+0x0 [tally]), 64 bytes, false-sharing, 2 threads, 2 "
            "writers\n"
            "  thread  bytes  accesses  reads  writes  pc\n"
            "   23817  0-7           2      0       2  0x401136  tally+0x6 (tally.c:12) [tally]\n"
            "                        1      1       1  0x40113a\n"
            "   23818  8-15          2      0       2  0x401136\n"
            "          other         1      1       0  (past 16 ranges and pcs)\n"
            "\n"
            "Line 2: 0x7f00, 128 bytes, true-sharing, 256+ threads, 1 writer\n"
            "  thread  bytes  accesses  reads  writes  pc\n"
            "       5  0-3           1      1       1  0x402000\n"
            "  others  -             3      3       0  (threads past 256 in the line)\n");
}

TEST(LinesRender, TextSaysWhenNoLineIsListed) {
  cache_line_report_t report;
  report.options.top = 0;
  report.options.min_percent = 0;
  report.lines_beyond_top = 0;
  std::ostringstream out;
  velkor::sample_lines::render_lines_text(report, out);
  EXPECT_EQ(out.str(),
            "Cache lines: 0 touched, 0 shared by several threads (0 false-sharing, 0 "
            "true-sharing, 0 read-shared), 0 private\n"
            "Accesses: 0 (0 reads, 0 writes) in 0 samples and 0 separate begin/end pairs\n"
            "Transfers between threads: 0 of 0 pairs of consecutive accesses\n"
            "  involving a write: 0 (write->read 0, write->write 0, read->write 0)\n"
            "  read->read: 0\n"
            "\n"
            "Lines by transfers involving a write:\n"
            "  none\n");
}

TEST(LinesRender, JsonHoldsEveryCountUnderItsName) {
  std::ostringstream out;
  velkor::sample_lines::render_lines_json(hand_built_report(), out);
  EXPECT_EQ(
      out.str(),
      "{\"format\":\"sample_lines-json\",\"format_version\":1,\"sort\":\"write-transfers\","
      "\"top\":20,\"min_percent\":0.1,\"default_line_size\":64,"
      "\"summary\":{\"lines\":3,\"shared_lines\":2,\"false_sharing_lines\":1,"
      "\"true_sharing_lines\":1,\"read_shared_lines\":0,\"private_lines\":1,\"accesses\":10,"
      "\"reads\":6,\"writes\":5,\"pairs\":6,\"transfers\":4,\"transfers_with_write\":4,"
      "\"transfers_write_read\":1,\"transfers_write_write\":2,\"transfers_read_write\":1,"
      "\"transfers_read_read\":0,\"samples\":3,\"matched_pairs\":1,\"unmatched_begins\":2,"
      "\"unmatched_ends\":0,\"samples_without_line_size\":1,\"straddling_accesses\":1,"
      "\"unknown_type_accesses\":0,\"pairs_across_lines\":0},"
      "\"lines\":["
      "{\"rank\":1,\"address\":6295616,\"address_hex\":\"0x601040\","
      "\"address_sym\":{\"module\":\"/usr/bin/tally\",\"offset\":4160,\"offset_hex\":\"0x1040\","
      "\"object\":\"counters\",\"object_offset\":0},\"line_size\":64,\"accesses\":6,\"reads\":2,\"writes\":5,\"threads\":2,"
      "\"writer_threads\":2,\"pairs\":4,\"transfers\":3,\"transfers_with_write\":3,"
      "\"transfers_write_read\":1,\"transfers_write_write\":2,\"transfers_read_write\":0,"
      "\"transfers_read_read\":0,\"write_transfer_percent\":75.0,\"verdict\":\"false-sharing\","
      "\"by_thread\":[{\"thread\":23817,\"accesses\":3,\"reads\":1,\"writes\":3,"
      "\"unlisted_accesses\":0,\"unlisted_reads\":0,\"unlisted_writes\":0},"
      "{\"thread\":23818,\"accesses\":3,\"reads\":1,\"writes\":2,\"unlisted_accesses\":1,"
      "\"unlisted_reads\":1,\"unlisted_writes\":0}],"
      "\"other_threads\":null,"
      "\"offsets\":[{\"thread\":23817,\"offset\":0,\"length\":8,\"accesses\":3,\"reads\":1,"
      "\"writes\":3,\"pcs\":[{\"pc\":4198710,\"pc_hex\":\"0x401136\","
      "\"pc_sym\":{\"module\":\"/usr/bin/tally\",\"offset\":4406,\"offset_hex\":\"0x1136\","
      "\"function\":\"tally\",\"function_offset\":6,\"file\":\"/src/tally.c\",\"line\":12},"
      "\"accesses\":2,\"reads\":0,\"writes\":2},"
      "{\"pc\":4198714,\"pc_hex\":\"0x40113a\",\"accesses\":1,\"reads\":1,\"writes\":1}]},"
      "{\"thread\":23818,\"offset\":8,\"length\":8,\"accesses\":2,\"reads\":0,\"writes\":2,"
      "\"pcs\":[{\"pc\":4198710,\"pc_hex\":\"0x401136\",\"accesses\":2,\"reads\":0,"
      "\"writes\":2}]}]},"
      "{\"rank\":2,\"address\":32512,\"address_hex\":\"0x7f00\",\"line_size\":128,"
      "\"accesses\":4,\"reads\":4,\"writes\":1,\"threads\":256,\"writer_threads\":1,"
      "\"pairs\":2,\"transfers\":1,\"transfers_with_write\":1,\"transfers_write_read\":0,"
      "\"transfers_write_write\":0,\"transfers_read_write\":1,\"transfers_read_read\":0,"
      "\"write_transfer_percent\":25.0,\"verdict\":\"true-sharing\","
      "\"by_thread\":[{\"thread\":5,\"accesses\":1,\"reads\":1,\"writes\":1,"
      "\"unlisted_accesses\":0,\"unlisted_reads\":0,\"unlisted_writes\":0}],"
      "\"other_threads\":{\"accesses\":3,\"reads\":3,\"writes\":0},"
      "\"offsets\":[{\"thread\":5,\"offset\":0,\"length\":4,\"accesses\":1,\"reads\":1,"
      "\"writes\":1,\"pcs\":[{\"pc\":4202496,\"pc_hex\":\"0x402000\",\"accesses\":1,"
      "\"reads\":1,\"writes\":1}]}]}],"
      "\"lines_below_threshold\":1,\"write_transfers_below_threshold\":0,"
      "\"lines_beyond_top\":0}\n");
}

}  // namespace
