#include "lines_text.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "symbols/symbol_render.h"

namespace velkor { namespace sample_lines {

using namespace library;

namespace {

std::string number(uint64_t value) { return std::to_string(value); }

std::string hex(uint64_t value) {
  char text[24];
  snprintf(text, sizeof(text), "0x%" PRIx64, value);
  return text;
}

// The text form of a kept resolution.
std::string symbol_text(const cache_line_report_t& report, uint32_t symbol) {
  return resolution_text(report.symbols[symbol].view());
}

std::string percent(double value) {
  char text[32];
  snprintf(text, sizeof(text), "%.2f%%", value);
  return text;
}


// ---- The summary -------------------------------------------------------------------

void render_summary(const cache_line_report_t& report, std::ostream& out) {
  const cache_line_summary_t& s = report.summary;
  const uint64_t* v = s.lines_by_verdict;
  out << "Cache lines: " << s.lines << " touched, " << s.shared_lines
      << " shared by several threads (" << v[verdict_false_sharing] << " false-sharing, "
      << v[verdict_true_sharing] << " true-sharing, " << v[verdict_read_shared]
      << " read-shared), " << v[verdict_private] << " private\n";
  out << "Accesses: " << s.accesses << " (" << s.reads << " reads, " << s.writes
      << " writes) in " << s.samples << " samples and " << s.matched_pairs
      << " separate begin/end pairs\n";
  const transfer_counts_t& t = s.transfers;
  out << "Transfers between threads: " << t.transfers << " of " << s.pairs
      << " pairs of consecutive accesses\n";
  out << "  involving a write: " << t.with_write() << " (write->read " << t.write_read
      << ", write->write " << t.write_write << ", read->write " << t.read_write << ")\n";
  out << "  read->read: " << t.read_read << "\n";

  // What the counts above do not say; only when it happened.
  if (s.samples_without_line_size != 0) {
    out << "Samples without a line size, counted in " << report.default_line_size
        << "-byte lines: " << s.samples_without_line_size << "\n";
  }
  if (s.straddling_accesses != 0) {
    out << "Accesses running past the end of their line, cut there: " << s.straddling_accesses
        << "\n";
  }
  if (s.unknown_type_accesses != 0) {
    out << "Accesses of an unknown type, neither reads nor writes: " << s.unknown_type_accesses
        << "\n";
  }
  if (s.pairs_across_lines != 0) {
    out << "Pairs of accesses in two different lines, counted in none: " << s.pairs_across_lines
        << "\n";
  }
  if (s.unmatched_begins != 0 || s.unmatched_ends != 0) {
    out << "Separate sample begins that met no end: " << s.unmatched_begins
        << "; ends that met no begin: " << s.unmatched_ends << "\n";
  }
}

// ---- Tables --------------------------------------------------------------------------

// Columns as wide as their widest cell, two blanks apart, after the indent;
// text columns aligned to the left, numbers to the right. No blanks end a row.
void print_table(const std::vector<std::vector<std::string> >& rows,
                 const std::vector<bool>& left, const char* indent, std::ostream& out) {
  std::vector<size_t> widths(left.size(), 0);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string text = indent;
    for (size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - row[c].size(), ' ');
      if (c != 0) text += "  ";
      text += left[c] ? row[c] + pad : pad + row[c];
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out << text << "\n";
  }
}

// ---- The ranking ----------------------------------------------------------------------

// The threads of a line, with a "+" when more than the line keeps touched it.
std::string threads_cell(const report_line_t& entry) {
  const bool others = !entry.threads.empty() && entry.threads.back().other_threads;
  return number(entry.line.threads) + (others ? "+" : "");
}

std::vector<std::string> ranking_row(size_t rank, const report_line_t& entry) {
  const cache_line_counts_t& line = entry.line;
  const transfer_counts_t& t = line.transfers;
  return {number(rank),           hex(line.address),       number(line.line_size),
          number(line.accesses),  number(line.reads),      number(line.writes),
          threads_cell(entry),    number(line.writer_threads), number(t.transfers),
          number(t.with_write()), number(t.write_read),    number(t.write_write),
          number(t.read_write),   number(t.read_read),     percent(entry.write_transfer_percent),
          cache_line_verdict_name(line.verdict)};
}

void render_ranking(const cache_line_report_t& report, std::ostream& out) {
  const cache_line_report_options_t& options = report.options;
  static const char* const rankings[] = {"transfers involving a write", "accesses", "transfers",
                                         "writes", "threads"};
  out << "\nLines by " << rankings[options.sort];
  if (options.min_percent > 0) {
    out << ", those with at least " << options.min_percent
        << "% of the transfers involving a write";
  }
  if (options.top != 0) out << ", the first " << options.top;
  out << ":\n";

  if (report.lines.empty()) {
    out << "  none\n";
  } else {
    std::vector<std::vector<std::string> > rows{
        {"#", "address", "size", "accesses", "reads", "writes", "threads", "writers",
         "transfers", "with-write", "w->r", "w->w", "r->w", "r->r", "share", "verdict"}};
    std::vector<bool> left(rows[0].size(), false);
    left[1] = left[15] = true;
    for (size_t i = 0; i < report.lines.size(); ++i) {
      rows.push_back(ranking_row(i + 1, report.lines[i]));
    }
    print_table(rows, left, "  ", out);
  }

  if (report.lines_below_threshold != 0) {
    out << report.lines_below_threshold
        << (report.lines_below_threshold == 1 ? " line" : " lines") << " under "
        << options.min_percent << "% of the transfers involving a write left out ("
        << report.write_transfers_below_threshold << " such transfers)\n";
  }
  if (report.lines_beyond_top != 0) {
    out << report.lines_beyond_top << (report.lines_beyond_top == 1 ? " more line" : " more lines")
        << " not listed (--top " << options.top << ")\n";
  }
}

// ---- The lines ------------------------------------------------------------------------

// One row per pc of each byte range of each thread; a thread and a range are
// named on their first row only. With symbols the line's data object follows
// its address, and each pc its resolution.
void render_line(const cache_line_report_t& report, size_t rank, const report_line_t& entry,
                 std::ostream& out) {
  const cache_line_counts_t& line = entry.line;
  out << "\nLine " << rank << ": " << hex(line.address);
  if (entry.symbol != no_symbol) out << " (" << symbol_text(report, entry.symbol) << ")";
  out << ", " << line.line_size << " bytes, " << cache_line_verdict_name(line.verdict) << ", "
      << threads_cell(entry) << (line.threads == 1 ? " thread" : " threads") << ", "
      << line.writer_threads << (line.writer_threads == 1 ? " writer" : " writers") << "\n";

  std::vector<std::vector<std::string> > rows{
      {"thread", "bytes", "accesses", "reads", "writes", "pc"}};
  const std::vector<bool> left{false, true, false, false, false, true};
  for (const report_thread_t& thread : entry.threads) {
    if (thread.other_threads) {
      rows.push_back({"others", "-", number(thread.accesses), number(thread.reads),
                      number(thread.writes),
                      "(threads past " + number(max_threads_per_line) + " in the line)"});
      continue;
    }
    std::string thread_cell = number(thread.thread);
    for (const report_range_t& range : thread.ranges) {
      std::string bytes_cell =
          number(range.offset) + "-" + number(range.offset + range.length - 1);
      for (const report_pc_t& pc : range.pcs) {
        std::string pc_cell = hex(pc.pc);
        if (pc.symbol != no_symbol) pc_cell += "  " + symbol_text(report, pc.symbol);
        rows.push_back({thread_cell, bytes_cell, number(pc.accesses), number(pc.reads),
                        number(pc.writes), pc_cell});
        thread_cell.clear();
        bytes_cell.clear();
      }
    }
    if (thread.unlisted_accesses != 0) {
      rows.push_back({thread_cell, "other", number(thread.unlisted_accesses),
                      number(thread.unlisted_reads), number(thread.unlisted_writes),
                      "(past " + number(max_sites_per_thread) + " ranges and pcs)"});
    }
  }
  print_table(rows, left, "  ", out);
}

}  // namespace

void render_lines_text(const cache_line_report_t& report, std::ostream& out) {
  render_summary(report, out);
  render_ranking(report, out);
  for (size_t i = 0; i < report.lines.size(); ++i) render_line(report, i + 1, report.lines[i], out);
}

}}  // namespace velkor::sample_lines
