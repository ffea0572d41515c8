// The progress line of sample_stats, sample_lines and sample_dump, through a
// pseudo-terminal: shown for an input of unknown size (a pipe) or of 64 MiB
// or more, with percent and time left when the size is known, erased when
// reading is done, out of the way of warnings; not shown with --no-progress,
// for a small file, or when standard error is no terminal. The report is the
// same in every case.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/record_bytes.h"
#include "support/test_support.h"

using namespace velkor::testkit;

namespace {

const char erase[] = "\r\033[K";

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A raw recording of n samples, 58 bytes each.
std::string recording(size_t n) {
  std::string records;
  records.reserve(n * 58);
  for (size_t i = 0; i < n; ++i) records += sample(i, 0, {}, 0x400000 + 4 * (i % 1000));
  return v3_file(records);
}

TEST(Progress, ShownOnATerminalForLargeOrPipedInputs) {
  temp_dir_t tmp;
  write_file(tmp.file("small.smp"), recording(1000));
  write_file(tmp.file("large.smp"), recording(1200000));  // about 70 MB
  write_file(tmp.file("cut.smp"), recording(1000).substr(0, 30000));
  const std::string stats = bin_path("sample_stats");
  run_options_t utc;
  utc.env["TZ"] = "UTC";
  const std::string small_report = run_program({stats, "-i", tmp.file("small.smp")}, utc).out;

  // Piped: the size is unknown.
  run_result_t piped = run_with_terminal_stderr(
      {"/bin/sh", "-c", "cat \"$1\" | exec \"$0\"", stats, tmp.file("small.smp")}, utc);
  EXPECT_EQ(piped.exit_status, 0);
  EXPECT_EQ(piped.out, small_report);
  EXPECT_NE(piped.err.find("\rReading: "), std::string::npos) << piped.err;
  EXPECT_EQ(piped.err.find(" of "), std::string::npos) << piped.err;
  EXPECT_TRUE(ends_with(piped.err, erase)) << piped.err;

  // A large file: the share and the time left.
  run_result_t large = run_with_terminal_stderr({stats, "-i", tmp.file("large.smp")}, utc);
  EXPECT_EQ(large.exit_status, 0);
  EXPECT_NE(large.err.find("\rReading: "), std::string::npos) << large.err;
  EXPECT_NE(large.err.find(" MiB of "), std::string::npos) << large.err;
  EXPECT_NE(large.err.find(" %)"), std::string::npos) << large.err;
  EXPECT_TRUE(ends_with(large.err, erase)) << large.err;

  // A warning makes the line go first.
  run_result_t cut = run_with_terminal_stderr(
      {"/bin/sh", "-c", "cat \"$1\" | exec \"$0\"", stats, tmp.file("cut.smp")}, utc);
  EXPECT_EQ(cut.exit_status, 0);
  EXPECT_NE(cut.err.find(std::string(erase) + "Warning: The input ended inside a record"),
            std::string::npos)
      << cut.err;

  // Not shown: a small file, --no-progress, and standard error no terminal.
  EXPECT_EQ(run_with_terminal_stderr({stats, "-i", tmp.file("small.smp")}, utc).err, "");
  EXPECT_EQ(run_with_terminal_stderr({stats, "--no-progress", "-i", tmp.file("large.smp")}, utc).err,
            "");
  run_options_t piped_input = utc;
  piped_input.stdin_data = read_file(tmp.file("small.smp"));
  EXPECT_EQ(run_program({stats}, piped_input).err, "");

  // sample_lines the same way, its warnings too.
  const std::string lines = bin_path("sample_lines");
  const std::string lines_report = run_program({lines, "-i", tmp.file("large.smp")}).out;
  run_result_t lines_large = run_with_terminal_stderr({lines, "-i", tmp.file("large.smp")});
  EXPECT_EQ(lines_large.exit_status, 0);
  EXPECT_EQ(lines_large.out, lines_report);
  EXPECT_NE(lines_large.err.find(" MiB of "), std::string::npos) << lines_large.err;
  EXPECT_TRUE(ends_with(lines_large.err, erase)) << lines_large.err;
  run_result_t lines_cut = run_with_terminal_stderr(
      {"/bin/sh", "-c", "cat \"$1\" | exec \"$0\"", lines, tmp.file("cut.smp")});
  EXPECT_EQ(lines_cut.exit_status, 0);
  EXPECT_NE(lines_cut.err.find(std::string(erase) + "Warning: The input ended inside a record"),
            std::string::npos)
      << lines_cut.err;
  EXPECT_EQ(run_with_terminal_stderr({lines, "--no-progress", "-i", tmp.file("large.smp")}).err,
            "");

  // sample_dump shows it when its output goes elsewhere.
  run_result_t dump = run_with_terminal_stderr(
      {bin_path("sample_dump"), "--kind", "acquisition_begin", "-i", tmp.file("large.smp")});
  EXPECT_EQ(dump.exit_status, 0);
  EXPECT_NE(dump.err.find("\rReading: "), std::string::npos) << dump.err;
  EXPECT_TRUE(ends_with(dump.err, erase)) << dump.err;
  EXPECT_EQ(run_with_terminal_stderr({bin_path("sample_dump"), "--no-progress", "--kind",
                                      "acquisition_begin", "-i", tmp.file("large.smp")})
                .err,
            "");
}

}  // namespace
