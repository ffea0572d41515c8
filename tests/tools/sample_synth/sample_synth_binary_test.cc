// sample_synth --binary end to end, against binutils: recordings of the demo
// program (a PIE executable) and of a non-PIE fixture, their mappings held to
// readelf's segments and ldd's libraries, every program counter and return
// address to nm's functions, and what sample_dump --symbols names at them to
// nm and addr2line; then the files it refuses and a library it cannot find.

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>
#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "flow/flow_file_reader.h"
#include "support/elf_oracle.h"
#include "support/recording_flow.h"
#include "support/test_support.h"

using namespace velkor::library;
using namespace velkor::testkit;

namespace {

std::string canonical(const std::string& path) {
  return boost::filesystem::canonical(path).string();
}

run_result_t synth(const std::vector<std::string>& args) {
  std::vector<std::string> argv{bin_path("sample_synth")};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv);
}

// The lines of sample_dump --symbols --format json that matter here, read
// by Python's json module, fields separated by tabs:
//   code PC FUNCTION FILE:LINE    for the pc of every access of a sample
//   data ADDR OBJECT              for its data address
//   next PC NEXT_PC               for the pc of a sample and its next pc
//   return ADDRESS FUNCTION       for every return address of a stack
// with "?" for what the resolution leaves out.
const char kResolutions[] = R"PY(
import json, sys
events = map(json.loads, sys.stdin)
next(events)
for e in events:
    if e['kind'] == 'sample':
        for a in [e['begin']] + e['ends']:
            s = a['pc_sym']
            print('code\t%d\t%s\t%s:%s' % (a['pc'], s.get('function', '?'), s.get('file', '?'),
                                           s.get('line', 0)))
            print('data\t%d\t%s' % (a['addr'], a['addr_sym'].get('object', '?')))
        print('next\t%d\t%d' % (e['begin']['pc'], e['next_pc']))
    elif e['kind'] == 'stack':
        for address, s in zip(e['return_addresses'], e['return_addresses_sym']):
            print('return\t%d\t%s' % (address, s.get('function', '?')))
)PY";

std::vector<std::vector<std::string>> resolutions(const std::string& recording) {
  run_result_t dumped = run_program(
      {bin_path("sample_dump"), "--symbols", "--format", "json", "-i", recording});
  EXPECT_EQ(dumped.exit_status, 0) << dumped.err;
  EXPECT_EQ(dumped.err, "");
  run_options_t options;
  options.stdin_data = dumped.out;
  run_result_t parsed = run_program({"/usr/bin/python3", "-c", kResolutions}, options);
  EXPECT_EQ(parsed.exit_status, 0) << parsed.err;
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(parsed.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, '\t')) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// nm's symbol of the given types that holds an address, or null.
const elf_symbol_t* holder(const std::vector<elf_symbol_t>& symbols, const std::string& types,
                           uint64_t address) {
  for (const elf_symbol_t& s : symbols) {
    if (types.find(s.type) != std::string::npos && s.size > 0 && address >= s.address &&
        address - s.address < s.size) {
      return &s;
    }
  }
  return nullptr;
}

// The mappings a file's segments get at base: one per loadable segment, in
// pages, over its memory size (zero fill included).
std::vector<elf_mapping_t> expected_mappings(const std::string& file, uint64_t base) {
  std::vector<elf_mapping_t> mappings;
  for (const elf_segment_t& s : elf_load_segments(file)) {
    elf_mapping_t m;
    uint64_t first = s.vaddr & ~uint64_t(0xfff);
    m.start = base + first;
    m.size = ((s.vaddr + s.memory_size + 0xfff) & ~uint64_t(0xfff)) - first;
    m.offset = s.offset & ~uint64_t(0xfff);
    mappings.push_back(m);
  }
  return mappings;
}

TEST(SampleSynthBinary, RecordingOfARealProgramAsBinutilsSeeIt) {
  const struct {
    const char* name;
    std::string program;
    uint64_t base;
    std::vector<std::string> args;
    std::vector<std::string> objects;  // data symbols the accesses must reach
  } cases[] = {
      {"demo program, PIE", bin_path("demo_program"), 0x555555554000,
       {"--threads", "4", "--false-sharing"},
       {"demo::grid_current", "demo::grid_next", "demo::residual", "demo::residual_lock",
        "demo::cells_done"}},
      {"many pcs, flat", bin_path("demo_program"), 0x555555554000,
       {"--threads", "8", "--pcs", "150", "--pc-skew", "0", "--end-trail", "100000"},
       {"demo::grid_current", "demo::grid_next"}},
      {"fixture, non-PIE", symbol_fixture("fixture_nopie"), 0, {"--threads", "2"},
       {"fx::counters"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    temp_dir_t tmp;
    const std::string program = canonical(c.program);
    std::vector<std::string> args{"--binary", c.program, "--samples", "4000", "--line-size",
                                  "64", "--compression", "none"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.insert(args.end(), {"-o", tmp.file("r.smp")});
    run_result_t run = synth(args);
    ASSERT_EQ(run.exit_status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    args.back() = tmp.file("again.smp");
    ASSERT_EQ(synth(args).exit_status, 0);
    EXPECT_EQ(read_file(tmp.file("again.smp")), read_file(tmp.file("r.smp")));

    // The mappings: the program's segments at its base, then each library
    // that ldd names, its segments at a base of its own.
    recording_flow_t events;
    {
      flow_file_reader_t reader(tmp.file("r.smp"), &events,
                                boost::make_shared<warning_consumer_null_t>());
      ASSERT_EQ(reader.dispatch(), stream_status_ok);
    }
    std::map<std::string, std::vector<elf_mapping_t>> mapped;
    for (const auto& e : events.events) {
      if (e->get_kind() == kind_acquisition_begin) {
        EXPECT_EQ(static_cast<const qnt_event_acquisition_begin_t&>(*e).argv,
                  std::vector<std::string>{program});
      }
      if (e->get_kind() != kind_mmap) continue;
      const auto& m = static_cast<const qnt_event_mmap_t&>(*e);
      elf_mapping_t mapping;
      mapping.start = m.address;
      mapping.size = m.size;
      mapping.offset = m.offset;
      mapped[m.filename].push_back(mapping);
    }
    ASSERT_TRUE(mapped.count(program));
    std::vector<elf_mapping_t> expected = expected_mappings(program, c.base);
    ASSERT_EQ(mapped[program].size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(mapped[program][i].start, expected[i].start) << i;
      EXPECT_EQ(mapped[program][i].size, expected[i].size) << i;
      EXPECT_EQ(mapped[program][i].offset, expected[i].offset) << i;
    }
    std::set<std::string> libraries;
    for (const auto& m : mapped) {
      if (m.first == program) continue;
      libraries.insert(m.first);
      std::vector<elf_mapping_t> own = expected_mappings(m.first, 0);
      ASSERT_EQ(m.second.size(), own.size()) << m.first;
      for (size_t i = 0; i < own.size(); ++i) {
        EXPECT_EQ(m.second[i].start - m.second[0].start, own[i].start - own[0].start);
        EXPECT_EQ(m.second[i].size, own[i].size);
        EXPECT_EQ(m.second[i].offset, own[i].offset);
      }
    }
    std::vector<std::string> ldd = ldd_files(program);
    EXPECT_EQ(libraries, std::set<std::string>(ldd.begin(), ldd.end()));

    // Every pc in a function of the program; the next pc in the same one;
    // return addresses just after a call in one; sample_dump names each as
    // nm does, with the place addr2line gives; data in the program's objects
    // named as nm names them.
    std::vector<elf_symbol_t> symbols = elf_symbols(program);
    const std::string code_types = "TtWw", data_types = "BbDdVv";
    std::vector<std::vector<std::string>> rows = resolutions(tmp.file("r.smp"));
    ASSERT_FALSE(rows.empty());
    std::set<std::string> functions, objects;
    std::vector<uint64_t> code_addresses;
    std::vector<std::string> places;
    std::vector<bool> own_code;  // a function of the program's source file
    for (const std::vector<std::string>& row : rows) {
      SCOPED_TRACE(row[0] + " " + row[1]);
      ASSERT_EQ(row.size(), row[0] == "code" ? 4u : 3u);
      const uint64_t address = std::stoull(row[1]);
      if (row[0] == "data") {
        const elf_symbol_t* object = holder(symbols, data_types, address - c.base);
        EXPECT_EQ(row[2], object != nullptr ? object->name : "?");
        objects.insert(row[2]);
        continue;
      }
      const uint64_t at = address - c.base - (row[0] == "return" ? 1 : 0);
      const elf_symbol_t* function = holder(symbols, code_types, at);
      ASSERT_NE(function, nullptr) << "no function of the program holds it";
      if (row[0] == "next") {
        EXPECT_EQ(holder(symbols, code_types, std::stoull(row[2]) - c.base), function);
        EXPECT_GT(std::stoull(row[2]), address);
        continue;
      }
      EXPECT_EQ(row[2], function->name);
      functions.insert(row[2]);
      if (row[0] == "code") {
        code_addresses.push_back(at);
        places.push_back(row[3]);
        own_code.push_back(function->name == "main" || function->name.rfind("demo::", 0) == 0 ||
                           function->name.rfind("fx::", 0) == 0);
      }
    }
    EXPECT_GE(functions.size(), 3u);
    for (const std::string& object : c.objects) EXPECT_TRUE(objects.count(object)) << object;
    std::vector<std::vector<oracle_frame_t>> oracle = addr2line(program, code_addresses);
    ASSERT_EQ(oracle.size(), code_addresses.size());
    // addr2line (2.40) gives the code of functions defined in headers (here
    // std::thread's) the file of the unit that holds them, where the line
    // table and sample_dump name the header: for them, the line alone.
    for (size_t i = 0; i < oracle.size(); ++i) {
      ASSERT_FALSE(oracle[i].empty());
      const std::string line = ":" + std::to_string(oracle[i].back().line);
      if (own_code[i]) {
        EXPECT_EQ(places[i], oracle[i].back().file + line) << std::hex << code_addresses[i];
      } else {
        EXPECT_EQ(places[i].substr(places[i].rfind(':')), line) << std::hex << code_addresses[i];
      }
    }
  }
}

TEST(SampleSynthBinary, FilesItCannotRecordAreRefused) {
  temp_dir_t tmp;
  const std::string demo = read_file(bin_path("demo_program"));
  write_file(tmp.file("text"), "#!/bin/sh\n");
  write_file(tmp.file("cut"), demo.substr(0, 200));
  run_result_t strip = run_program({"/usr/bin/objcopy", "--strip-all", bin_path("demo_program"),
                                    tmp.file("stripped")});
  ASSERT_EQ(strip.exit_status, 0) << strip.err;
  const std::string dir = canonical(tmp.path());
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string err;  // the whole message, or its start when it ends in "..."
  } cases[] = {
      {"missing", {"--binary", tmp.file("missing")},
       "Error: cannot read " + tmp.file("missing") + ": No such file or directory.\n"},
      {"a folder", {"--binary", tmp.path()},
       "Error: cannot read " + dir + ": not a regular file.\n"},
      {"no ELF file", {"--binary", tmp.file("text")},
       "Error: cannot use " + dir + "/text: not an ELF file.\n"},
      {"cut short", {"--binary", tmp.file("cut")}, "Error: cannot use " + dir + "/cut: ..."},
      {"without symbols", {"--binary", tmp.file("stripped")},
       "Error: " + dir + "/stripped has no function to take program counters from (its symbol "
       "table lists none).\n"},
      {"more pcs than places", {"--binary", bin_path("demo_program"), "--pcs", "16384"},
       "Error: the number of program counters must not exceed the ..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", tmp.file("never.smp")});
    run_result_t run = synth(args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, "");
    if (c.err.size() > 3 && c.err.compare(c.err.size() - 3, 3, "...") == 0) {
      EXPECT_EQ(run.err.substr(0, c.err.size() - 3), c.err.substr(0, c.err.size() - 3));
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    } else {
      EXPECT_EQ(run.err, c.err);
    }
    EXPECT_FALSE(boost::filesystem::exists(tmp.file("never.smp")));
  }
}

TEST(SampleSynthBinary, ALibraryNotFoundIsWarnedAboutAndLeftOut) {
  temp_dir_t tmp;
  write_file(tmp.file("app"), read_file(symbol_fixture("fixture_runpath")));
  const std::string app = canonical(tmp.file("app"));
  run_result_t run = synth({"--binary", app, "--samples", "100", "-o", tmp.file("r.smp")});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.err, "Warning: The library libfixture_lib.so (needed by " + app +
                         ") was not found; the recording does not map it.\n");
  run_result_t stats = run_program({bin_path("sample_stats"), "-i", tmp.file("r.smp")});
  ASSERT_EQ(stats.exit_status, 0) << stats.err;
  EXPECT_NE(stats.out.find(" " + app + "\n"), std::string::npos);
  EXPECT_EQ(stats.out.find("libfixture_lib.so"), std::string::npos);
  EXPECT_NE(stats.out.find("/libc.so.6\n"), std::string::npos);
}

}  // namespace
