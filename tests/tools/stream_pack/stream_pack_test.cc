// Runs the built stream_pack and compares its whole output and diagnostics.

#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "support/zlib_reference.h"

using velkor::testkit::bin_path;
using velkor::testkit::hex;
using velkor::testkit::read_file;
using velkor::testkit::run_options_t;
using velkor::testkit::run_program;
using velkor::testkit::run_result_t;
using velkor::testkit::temp_dir_t;
using velkor::testkit::to_hex;
using velkor::testkit::write_file;
using velkor::testkit::zlib_inflate;

namespace {

// ---- Fixtures ------------------------------------------------------------------

const std::string program = bin_path("stream_pack");

run_result_t pack(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  run_options_t options;
  options.stdin_data = input;
  return run_program(argv, options);
}

// "VELKOR", header length 12, version 1, then product, data type 0 and
// compression.
std::string header(const char* product_and_compression) {
  return "VELKOR" + hex("00 0c 01") + hex(product_and_compression);
}

// The inflated bytes of exactly one complete zlib stream.
std::string inflate_whole(const std::string& bytes) {
  bool complete = false;
  size_t used = 0;
  std::string out = zlib_inflate(bytes, &complete, &used);
  EXPECT_TRUE(complete);
  EXPECT_EQ(used, bytes.size());
  return out;
}

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  return bytes;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

const std::string options_text =
    "Allowed options:\n"
    "  -h [ --help ]            produce help message\n"
    "  -i [ --input-file ] arg  input file, (default: stdin)\n"
    "  -o [ --output-file ] arg output file when dumping data (default: stdout)\n"
    "  -l [ --legacy ]          Create a headerless legacy file. Forces compression \n"
    "                           to deflate.\n"
    "  -c [ --compression ] arg Compression method to use (default: none)\n"
    "  -p [ --product ] arg     Product ID to use, see source for available product \n"
    "                           IDs (default: internal)\n";

const std::string products_text =
    "Error: illegal product specified.\n"
    "Available products are:\n"
    "  orca      - Velkor Orca\n"
    "  orcamp    - Velkor Orca MP\n"
    "  tansy   - Velkor Tansy\n"
    "  pm12     - Velkor Pacemark 1.2\n"
    "  internal - For internal use only\n";

const std::string compressions_text =
    "Error: illegal compression specified.\n"
    "Available compressions are:\n"
    "  none    - No compression\n"
    "  deflate - Zlib deflate\n";

const std::string legacy_warning =
    "Warning: Legacy specified, but compression is not 'deflate', \n"
    "output file will will not be a valid Quenth file.\n";

// ---- Packing -------------------------------------------------------------------

TEST(StreamPack, PacksStandardInputToStandardOutput) {
  const std::string input = "sample bytes\n" + random_bytes(10000, 1);
  struct {
    const char* name;
    std::vector<std::string> args;
    std::string header;  // what precedes the payload
    bool deflated;
    std::string err;
  } cases[] = {
      {"no options", {}, header("ff 00 00"), false, ""},
      {"dashes name the standard streams", {"-", "-"}, header("ff 00 00"), false, ""},
      {"dashes as options", {"-i", "-", "-o", "-"}, header("ff 00 00"), false, ""},
      {"none", {"-c", "none"}, header("ff 00 00"), false, ""},
      {"deflate and orcamp", {"-c", "deflate", "-p", "orcamp"}, header("01 00 01"), true, ""},
      {"orca", {"--product", "orca"}, header("00 00 00"), false, ""},
      {"tansy", {"-p", "tansy"}, header("02 00 00"), false, ""},
      {"pm12", {"-p", "pm12", "--compression", "deflate"}, header("03 00 01"), true, ""},
      {"internal", {"-p", "internal"}, header("ff 00 00"), false, ""},
      {"legacy", {"--legacy"}, "", true, ""},
      {"legacy with deflate", {"-l", "-c", "deflate", "-p", "orca"}, "", true, ""},
      {"legacy with none still deflates", {"-l", "-c", "none"}, "", true, legacy_warning},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_result_t r = pack(c.args, input);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, c.err);
    ASSERT_EQ(to_hex(r.out.substr(0, c.header.size())), to_hex(c.header));
    std::string body = r.out.substr(c.header.size());
    EXPECT_EQ(c.deflated ? inflate_whole(body) : body, input);
  }
}

TEST(StreamPack, FilesByNameOrPosition) {
  temp_dir_t tmp;
  const std::string input = random_bytes(3 * 4096 + 17, 2);
  write_file(tmp.file("in"), input);
  write_file(tmp.file("out"), std::string(50000, 'x'));  // truncated, not appended to
  const std::vector<std::vector<std::string>> command_lines = {
      {tmp.file("in"), tmp.file("out")},
      {"-i", tmp.file("in"), "-o", tmp.file("out")},
      {"-o", tmp.file("out"), tmp.file("in")},
  };
  for (const auto& args : command_lines) {
    SCOPED_TRACE(args[0]);
    run_result_t r = pack(args);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(tmp.file("out")), header("ff 00 00") + input);
  }
}

TEST(StreamPack, EmptyInput) {
  temp_dir_t tmp;
  write_file(tmp.file("empty"), "");
  run_result_t raw = pack({tmp.file("empty")});
  EXPECT_EQ(raw.exit_status, 0);
  EXPECT_EQ(to_hex(raw.out), to_hex(header("ff 00 00")));
  run_result_t legacy = pack({"-l", tmp.file("empty")});
  EXPECT_EQ(legacy.exit_status, 0);
  EXPECT_EQ(inflate_whole(legacy.out), "");
}

TEST(StreamPack, HelpWinsOverEverythingElse) {
  temp_dir_t tmp;
  const std::string usage = "Usage: " + program +
                            " [OPTION]... [IN FILE] [OUT FILE]\n"
                            "\n"
                            "Encapsulates data inside an Keldo stream container.\n"
                            "\n" +
                            options_text + "\n";
  const std::vector<std::vector<std::string>> command_lines = {
      {"--help"},
      {"-h"},
      {"-c", "bogus", "-p", "BOGUS", "-l", "--help", tmp.file("missing"), tmp.file("out")},
  };
  for (const auto& args : command_lines) {
    SCOPED_TRACE(args[0]);
    run_result_t r = pack(args, "input");
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, usage);
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(exists(tmp.file("out")));
}

// A hidden option: the help text above does not list it.
TEST(StreamPack, VersionGoesToStandardOutput) {
  temp_dir_t tmp;
  // Nothing is packed, no other value is looked at.
  run_result_t r = pack({"--version", "-c", "bogus", tmp.file("missing"), tmp.file("out")});
  EXPECT_EQ(r.exit_status, 0);
  std::string why;
  EXPECT_TRUE(velkor::testkit::is_version_line(r.out, "stream_pack", &why)) << why;
  EXPECT_EQ(r.err, "");
  EXPECT_FALSE(exists(tmp.file("out")));
}

// ---- Errors --------------------------------------------------------------------

// Refused command lines: nothing on standard output, no output file.
TEST(StreamPack, RefusedCommandLines) {
  temp_dir_t tmp;
  const std::string out = tmp.file("out");
  struct {
    const char* name;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"product in capitals", {"-p", "INTERNAL", "-o", out}, products_text},
      {"unknown product", {"-p", "orca2", "-o", out}, products_text},
      {"empty product", {"-p", "", "-o", out}, products_text},
      {"compression in capitals", {"-c", "Deflate", "-o", out}, compressions_text},
      {"unknown compression", {"-l", "-c", "bzip2", "-o", out}, compressions_text},
      {"bad compression is named before a bad product",
       {"-p", "x", "-c", "x", "-o", out},
       compressions_text},
      {"unknown option",
       {"--level", "9", "-o", out},
       "Error: unrecognised option '--level'\n" + options_text},
      {"missing value",
       {"-o", out, "-c"},
       "Error: the required argument for option '--compression' is missing\n" + options_text},
      {"third positional argument",
       {"in", out, "extra"},
       "Error: too many positional options have been specified on the command line\n" +
           options_text},
      {"option given twice",
       {"-p", "orca", "--product", "orca", "-o", out},
       "Error: option '--product' cannot be specified more than once\n" + options_text},
      {"switch given twice",
       {"-l", "-l", "-o", out},
       "Error: option '--legacy' cannot be specified more than once\n" + options_text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_result_t r = pack(c.args, "input");
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_FALSE(exists(out));
  }
}

// The output is created before the input is opened; it is left complete: the
// header, and a finished deflate stream when compressing.
TEST(StreamPack, MissingInputLeavesCompleteOutput) {
  temp_dir_t tmp;
  const std::string missing = tmp.file("missing.dat");
  const std::string report = "Caught stream exception:\nFailed to open file " + missing +
                             ":  error 2, " + strerror(2) + ".\n";
  struct {
    const char* name;
    std::vector<std::string> options;
    std::string header;
    bool deflated;
  } cases[] = {
      {"raw", {}, header("ff 00 00"), false},
      {"deflate", {"-c", "deflate"}, header("ff 00 01"), true},
      {"legacy", {"-l"}, "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.options;
    args.push_back(missing);
    args.push_back(tmp.file("out"));
    run_result_t r = pack(args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, report);
    std::string written = read_file(tmp.file("out"));
    ASSERT_EQ(to_hex(written.substr(0, c.header.size())), to_hex(c.header));
    if (c.deflated) {
      EXPECT_EQ(inflate_whole(written.substr(c.header.size())), "");
    } else {
      EXPECT_EQ(written.size(), c.header.size());
    }
  }
}

TEST(StreamPack, OutputCannotBeCreated) {
  temp_dir_t tmp;
  const std::string out = tmp.file("no/such/dir/out");
  run_result_t r = pack({"-", out}, "input");
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Caught stream exception:\nFailed to open file " + out + ":  error 2, " +
                       strerror(2) + ".\n");
}

// Read and write failures end the chain with an error status that no stage
// reports; the program says so and fails.
TEST(StreamPack, ChainErrorIsAFailure) {
  temp_dir_t tmp;
  run_result_t unreadable = pack({tmp.path(), tmp.file("out")});  // a directory
  EXPECT_EQ(unreadable.exit_status, 1);
  EXPECT_EQ(unreadable.err, "Error: Failed to read " + tmp.path() +
                                ": Is a directory.\nError: the input could not be packed.\n");
  EXPECT_EQ(to_hex(read_file(tmp.file("out"))), to_hex(header("ff 00 00")));

  for (const char* compression : {"none", "deflate"}) {
    SCOPED_TRACE(compression);
    run_result_t full = pack({"-c", compression, "-", "/dev/full"}, "input");
    EXPECT_EQ(full.exit_status, 1);
    EXPECT_EQ(full.out, "");
    EXPECT_EQ(full.err,
              "Error: Failed to write /dev/full: No space left on device.\n"
              "Error: the input could not be packed.\n");
  }
}

// The end of a deflate stream is written while the chain is taken down, after
// the input's last flush went through; failing to write it is a failure too.
TEST(StreamPack, FailureToWriteTheStreamEndIsAFailure) {
  temp_dir_t tmp;
  // Incompressible input makes the output grow by a fixed 18 bytes: header 2,
  // stored block 5, sync flush 5, and at the end final block 2 and checksum 4.
  // With a 1024-byte file size limit, all but the last 6 bytes fit.
  const std::string input = random_bytes(1010, 4);
  write_file(tmp.file("in"), input);
  const std::vector<std::string> limited = {
      "/bin/sh",      "-c", "trap '' XFSZ; ulimit -f 2; exec \"$0\" \"$@\"",
      program,        "-l", tmp.file("in"),
      tmp.file("out")};
  run_result_t r = run_program(limited);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "Error: Failed to write " + tmp.file("out") +
                       ": File too large.\nError: the input could not be packed.\n");
  EXPECT_EQ(read_file(tmp.file("out")).size(), 1024u);

  // Without the limit, the same command line succeeds with 6 more bytes.
  run_result_t unlimited = pack({"-l", tmp.file("in"), tmp.file("out")});
  EXPECT_EQ(unlimited.exit_status, 0);
  EXPECT_EQ(read_file(tmp.file("out")).size(), 1028u);
  EXPECT_EQ(inflate_whole(read_file(tmp.file("out"))), input);
}

}  // namespace
