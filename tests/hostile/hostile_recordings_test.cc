// Recordings crafted against the programs: keys chosen to collide in their
// tables, records that announce millions of elements or are too long to
// buffer, a sample with two million ends, lines crowded with threads. Each
// must cost about what an ordinary file of the same size costs, in time and
// in memory.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "support/record_bytes.h"
#include "support/test_support.h"

using namespace velkor::testkit;

namespace {

// The programs run on files rather than on standard input, so that feeding
// the pipe does not count as their time.
run_result_t run_on(const std::string& program, const std::vector<std::string>& args,
                    const std::string& path) {
  std::vector<std::string> argv{bin_path(program)};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.insert(argv.end(), {"-i", path});
  run_options_t options;
  options.timeout_seconds = 600;
  options.env["TZ"] = "UTC";
  return run_program(argv, options);
}

// ---- Keys chosen to collide ----------------------------------------------------------

// The inverse of an odd number modulo 2^64 (Newton's iteration).
uint64_t inverse(uint64_t odd) {
  uint64_t x = odd;
  for (int i = 0; i < 6; ++i) x *= 2 - odd * x;
  return x;
}

// The bucket count a standard hash table of integers has after n insertions.
size_t bucket_count_after(size_t n) {
  std::unordered_map<uint64_t, int> table;
  for (size_t i = 0; i < n; ++i) table[i] = 0;
  return table.bucket_count();
}

struct flood_case_t {
  const char* name;
  std::string ordinary;
  std::string crafted;
};

// A complete sample whose begin, of thread 1 at pc, touches addr, with the
// given ends (access()).
std::string sample_at(uint64_t time, uint64_t pc, uint64_t addr,
                      const std::vector<std::string>& ends = {}) {
  std::string payload = access(time, 1, 1, pc, addr) + u64(pc + 4) + u32(0) + u8(6) + u8(0) +
                        u32(ends.size());
  for (const std::string& e : ends) payload += e;
  return rec(16, payload);
}

std::vector<flood_case_t> flood_cases() {
  std::vector<flood_case_t> cases;
  // Program counters that are multiples of the bucket count of a table of
  // 196000 (196613): an unseeded hash puts them all in one bucket.
  {
    std::string ordinary, crafted;
    for (uint64_t i = 1; i <= 196000; ++i) {
      ordinary += sample(i, 0, {}, 0x400000 + 4 * i);
      crafted += sample(i, 0, {}, i * 196613);
    }
    cases.push_back({"program counters", v3_file(ordinary), v3_file(crafted)});
  }
  // 40000 sample ids that are multiples of the bucket count of a table of
  // 40000 (42043), each begun six times and never ended.
  {
    std::string ordinary, crafted;
    for (int round = 0; round < 6; ++round) {
      for (uint32_t i = 1; i <= 40000; ++i) {
        ordinary += begin(i, i, 0);
        crafted += begin(i * 42043u, i, 0);
      }
    }
    cases.push_back({"sample ids", v3_file(ordinary), v3_file(crafted)});
  }
  // Thread pairs whose packed value, times the multiplier that an unseeded
  // hash of the pairs used, is a multiple of the table's bucket count.
  {
    const size_t n = 120000;
    const uint64_t bucket = bucket_count_after(n);
    const uint64_t unmultiply = inverse(0x9e3779b97f4a7c15ull);
    std::string ordinary, crafted;
    for (uint64_t i = 1; i <= n; ++i) {
      ordinary += sample(i, 0, {access(i + 1, static_cast<uint32_t>(i), 0)}, 0x1000, 1);
      uint64_t threads = i * bucket * unmultiply;
      crafted += sample(i, 0, {access(i + 1, static_cast<uint32_t>(threads), 0)}, 0x1000,
                        static_cast<uint32_t>(threads >> 32));
    }
    cases.push_back({"thread pairs", v3_file(ordinary), v3_file(crafted)});
  }
  // Line addresses that are multiples of 2^32, all in one bucket of a table
  // that takes the low bits of the line's number, and the pcs and byte
  // ranges of their sites alike.
  {
    std::string ordinary, crafted;
    for (uint64_t i = 1; i <= 196000; ++i) {
      ordinary += sample_at(i, 0x400000 + 4 * (i % 64), 0x10000000 + 64 * i);
      crafted += sample_at(i, i << 32, (i << 32) + 8 * (i % 8));
    }
    cases.push_back({"line addresses", v3_file(ordinary), v3_file(crafted)});
  }
  return cases;
}

// A table that crafted keys defeat takes time that grows with the square of
// the file (tens of seconds here); a seeded one takes what ordinary keys take.
// The margin is wide, so that a loaded machine cannot make the test fail.
TEST(HostileRecordings, CraftedKeysCostWhatOrdinaryKeysCost) {
  temp_dir_t tmp;
  for (const flood_case_t& c : flood_cases()) {
    write_file(tmp.file("ordinary"), c.ordinary);
    write_file(tmp.file("crafted"), c.crafted);
    for (const char* program : {"sample_stats", "sample_lines"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + program);
      run_result_t ordinary = run_on(program, {}, tmp.file("ordinary"));
      run_result_t crafted = run_on(program, {}, tmp.file("crafted"));
      EXPECT_EQ(ordinary.exit_status, 0) << ordinary.err;
      EXPECT_EQ(crafted.exit_status, 0) << crafted.err;
      EXPECT_LT(crafted.seconds, 4 * ordinary.seconds + 2.0)
          << "ordinary: " << ordinary.seconds << " s, crafted: " << crafted.seconds << " s";
    }
  }
}

// ---- Memory ------------------------------------------------------------------------

const uint64_t MiB = 1 << 20;

// The bound the README and the manual pages state: a fixed allowance plus a
// small multiple of the decompressed event stream. A program's peak starts
// from what this process holds when it starts the program, so the tests
// below let go of their large inputs before they run one.
void expect_within_bound(const run_result_t& r, uint64_t stream_bytes) {
#ifndef VK_SANITIZED
  const uint64_t bound_kb = (48 * MiB + 3 * stream_bytes) / 1024;
  EXPECT_LE(static_cast<uint64_t>(r.max_rss_kb), bound_kb);
#else
  (void)r;
  (void)stream_bytes;
#endif
}

// Records near the longest accepted (64 MiB), deflated into small files.
TEST(HostileRecordings, LargeRecordsStayWithinTheMemoryBound) {
  temp_dir_t tmp;
  const uint64_t longest = 64 * MiB;
  const std::vector<std::vector<std::string>> readers = {
      {"sample_stats"}, {"sample_dump"}, {"sample_dump", "--format", "json"}, {"sample_lines"},
      {"sample_lines", "--format", "json"}};

  // One acquisition begin that announces 33.5 million empty texts: two bytes
  // each on the wire, a string object each once decoded. Refused, with the
  // record's place.
  {
    {
      const uint64_t count = (longest - 30) / 2;
      std::string texts = u32(count);
      texts.append(2 * count, '\0');
      texts += text("u");
      write_file(tmp.file("f"), v3_deflated_file(acquisition(1, 1, texts)));
    }
    for (const auto& reader : readers) {
      SCOPED_TRACE("empty texts, " + reader.back());
      run_result_t r = run_on(reader[0], {reader.begin() + 1, reader.end()}, tmp.file("f"));
      EXPECT_EQ(r.exit_status, 1);
      EXPECT_NE(r.err.find("bytes once decoded, more than the"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("Error: In record 2 (code 6) at byte 29 of the event stream.\n"),
                std::string::npos)
          << r.err;
      expect_within_bound(r, longest);
    }
  }
  // Four records of an unknown code, 64 MiB each: skipped as they stream by.
  {
    {
      std::string records;
      for (int i = 0; i < 4; ++i) records += rec(200, std::string(longest - 16, '\0'));
      records += sample(1, 0, {});
      write_file(tmp.file("f"), v3_deflated_file(records));
    }
    for (const auto& reader : readers) {
      SCOPED_TRACE("unknown records, " + reader.back());
      run_result_t r = run_on(reader[0], {reader.begin() + 1, reader.end()}, tmp.file("f"));
      EXPECT_EQ(r.exit_status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      expect_within_bound(r, 0);
    }
  }
  // One sample with 1.9 million ends, dumped as text and as one JSON line.
  {
    const size_t ends = 1900000;
    uint64_t record_size;
    {
      const std::string one_end = access(5, 2, 1);
      std::string record = sample(1, 0, {one_end});
      for (size_t i = 1; i < ends; ++i) record += one_end;
      record.replace(1, 4, u32(record.size() - 5));  // the record's length
      record.replace(5 + 49, 4, u32(ends));          // the number of ends
      record_size = record.size();
      write_file(tmp.file("f"), v3_deflated_file(record));
    }
    for (const auto& reader : readers) {
      SCOPED_TRACE("a sample with 1.9 million ends, " + reader.back());
      run_result_t r = run_on(reader[0], {reader.begin() + 1, reader.end()}, tmp.file("f"));
      EXPECT_EQ(r.exit_status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      expect_within_bound(r, record_size);
    }
  }
}

// The counters of sample_stats grow with the distinct pcs: a million, one a
// sample, stay within the bound.
TEST(HostileRecordings, DistinctPcsStayWithinTheMemoryBound) {
  temp_dir_t tmp;
  uint64_t stream_bytes;
  {
    std::string records;
    for (uint64_t i = 1; i <= 1000000; ++i) records += sample(i, 0, {}, 0x400000 + 4 * i);
    stream_bytes = records.size();
    write_file(tmp.file("f"), v3_deflated_file(records));
  }
  run_result_t r = run_on("sample_stats", {}, tmp.file("f"));
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  expect_within_bound(r, stream_bytes);
}

// sample_lines keeps tables that grow with the distinct lines, and per line
// a detail bounded by threads and sites: on lines crowded with threads and
// pcs, and on a fresh line shared by two threads in every sample, it stays
// within 48 MiB and six times the event stream.
TEST(HostileRecordings, CrowdedLinesStayWithinTheirBound) {
  temp_dir_t tmp;
  const struct {
    const char* name;
    uint64_t lines;
    unsigned threads;  // per line, every access from its own pc
  } cases[] = {{"257 threads a line", 4000, 257}, {"two threads a line", 600000, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint64_t stream_bytes;
    {
      std::string records;
      for (uint64_t i = 0; i < c.lines; ++i) {
        const uint64_t line = 0x10000000 + 64 * i;
        std::vector<std::string> ends;
        for (unsigned t = 1; t < c.threads; ++t) {
          ends.push_back(access(i, 1 + t, 2, 0x100000 + 300 * i + t, line + 8 * (t % 8)));
        }
        records += sample_at(i, 0x100000 + 300 * i, line, ends);
      }
      stream_bytes = records.size();
      write_file(tmp.file("f"), v3_deflated_file(records));
    }
    run_result_t r = run_on("sample_lines", {}, tmp.file("f"));
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
#ifndef VK_SANITIZED
    EXPECT_LE(static_cast<uint64_t>(r.max_rss_kb), (48 * MiB + 6 * stream_bytes) / 1024);
#else
    (void)stream_bytes;
#endif
  }
}

// A program that runs out of memory says so in plain words, and fails.
TEST(HostileRecordings, RunningOutOfMemorySaysSo) {
#ifdef VK_SANITIZED
  GTEST_SKIP() << "a sanitizer build cannot run under an address-space limit";
#endif
  temp_dir_t tmp;
  {
    std::string records;
    for (uint64_t i = 1; i <= 500000; ++i) records += sample(i, 0, {}, 0x400000 + 4 * i);
    write_file(tmp.file("f"), v3_file(records));
  }
  run_result_t r = run_program({"/bin/sh", "-c", "ulimit -v 16384; exec \"$0\" -i \"$1\"",
                                bin_path("sample_stats"), tmp.file("f")});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Error: out of memory\n");
}

}  // namespace
