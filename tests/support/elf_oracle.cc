#include "support/elf_oracle.h"

#include <elf.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velkor { namespace testkit {

namespace {

// The whole standard output of a binutils program, which must succeed.
std::string binutils(const std::vector<std::string>& argv, const std::string& input = "") {
  run_options_t options;
  options.stdin_data = input;
  run_result_t result = run_program(argv, options);
  EXPECT_EQ(result.exit_status, 0) << argv[0] << " " << argv.back() << ": " << result.err;
  return result.out;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> all;
  std::string word;
  while (in >> word) all.push_back(word);
  return all;
}

bool is_hex_word(const std::string& word) {
  if (word.empty()) return false;
  for (char c : word) {
    if (!isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

uint64_t parse_hex(const std::string& text) { return std::strtoull(text.c_str(), nullptr, 16); }

}  // namespace

std::string symbol_fixture(const std::string& name) {
  return std::string(VK_SYMBOL_FIXTURE_DIR) + "/" + name;
}

std::vector<elf_segment_t> elf_load_segments(const std::string& file) {
  std::vector<elf_segment_t> segments;
  std::istringstream out(binutils({"/usr/bin/readelf", "-lW", file}));
  std::string line;
  while (std::getline(out, line)) {
    std::vector<std::string> w = words(line);
    // LOAD Offset VirtAddr PhysAddr FileSiz MemSiz Flags... Align
    if (w.size() < 8 || w[0] != "LOAD") continue;
    elf_segment_t s;
    s.offset = parse_hex(w[1]);
    s.vaddr = parse_hex(w[2]);
    s.file_size = parse_hex(w[4]);
    s.memory_size = parse_hex(w[5]);
    for (size_t i = 6; i + 1 < w.size(); ++i) {
      if (w[i].find('E') != std::string::npos) {
        s.executable = true;
        s.flags |= PF_X;
      }
      if (w[i].find('W') != std::string::npos) s.flags |= PF_W;
      if (w[i].find('R') != std::string::npos) s.flags |= PF_R;
    }
    segments.push_back(s);
  }
  EXPECT_FALSE(segments.empty()) << "no PT_LOAD in " << file;
  return segments;
}

std::vector<elf_symbol_t> elf_symbols(const std::string& file) {
  std::vector<elf_symbol_t> symbols;
  std::istringstream out(binutils({"/usr/bin/nm", "-C", "-S", "--defined-only", file}));
  std::string line;
  while (std::getline(out, line)) {
    // address size type name, the name possibly with blanks
    // or, without size, address type name.
    std::vector<std::string> w = words(line);
    if (w.size() < 3 || !is_hex_word(w[0])) continue;
    bool sized = w.size() >= 4 && is_hex_word(w[1]) && w[2].size() == 1;
    const std::string& type = sized ? w[2] : w[1];
    if (type.size() != 1) continue;
    elf_symbol_t s;
    s.address = parse_hex(w[0]);
    s.size = sized ? parse_hex(w[1]) : 0;
    s.type = type[0];
    size_t name_at = line.find(" " + type + " ", w[0].size() + (sized ? w[1].size() : 0));
    s.name = line.substr(name_at + 3);
    symbols.push_back(s);
  }
  return symbols;
}

elf_symbol_t elf_symbol(const std::string& file, const std::string& name) {
  for (const elf_symbol_t& s : elf_symbols(file)) {
    if (s.name == name) return s;
  }
  ADD_FAILURE() << "no symbol " << name << " in " << file;
  return elf_symbol_t();
}

std::string elf_build_id(const std::string& file) {
  std::istringstream out(binutils({"/usr/bin/readelf", "-n", file}));
  std::string line;
  while (std::getline(out, line)) {
    size_t at = line.find("Build ID: ");
    if (at != std::string::npos) return words(line.substr(at + 10))[0];
  }
  return "";
}

namespace {

std::vector<std::string> split_colons(const std::string& text) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  std::string part;
  while (std::getline(in, part, ':')) {
    if (!part.empty()) parts.push_back(part);
  }
  return parts;
}

// The text between the first '[' after `at` and the next ']'.
std::string bracketed(const std::string& line, size_t at) {
  size_t open = line.find('[', at);
  size_t close = line.find(']', open);
  return open == std::string::npos || close == std::string::npos
             ? ""
             : line.substr(open + 1, close - open - 1);
}

std::string resolved(const std::string& path) {
  std::unique_ptr<char, void (*)(void*)> real(realpath(path.c_str(), nullptr), std::free);
  return real ? std::string(real.get()) : path;
}

}  // namespace

elf_dynamic_t elf_dynamic(const std::string& file) {
  elf_dynamic_t dynamic;
  std::istringstream segments(binutils({"/usr/bin/readelf", "-lW", file}));
  std::string line;
  while (std::getline(segments, line)) {
    size_t at = line.find("[Requesting program interpreter: ");
    if (at != std::string::npos) dynamic.interpreter = line.substr(at + 33, line.rfind(']') - at - 33);
  }
  std::istringstream entries(binutils({"/usr/bin/readelf", "-dW", file}));
  while (std::getline(entries, line)) {
    if (line.find("(NEEDED)") != std::string::npos) {
      dynamic.needed.push_back(bracketed(line, line.find("(NEEDED)")));
    } else if (line.find("(RPATH)") != std::string::npos) {
      dynamic.rpath = split_colons(bracketed(line, line.find("(RPATH)")));
    } else if (line.find("(RUNPATH)") != std::string::npos) {
      dynamic.runpath = split_colons(bracketed(line, line.find("(RUNPATH)")));
    }
  }
  return dynamic;
}

std::vector<std::string> ldd_files(const std::string& file) {
  run_options_t options;
  options.env["LD_LIBRARY_PATH"] = "\x01unset";
  run_result_t result = run_program({"/usr/bin/ldd", file}, options);
  EXPECT_EQ(result.exit_status, 0) << "ldd " << file << ": " << result.err;
  std::vector<std::string> files;
  std::istringstream out(result.out);
  std::string line;
  while (std::getline(out, line)) {
    std::vector<std::string> w = words(line);
    if (w.empty() || w[0].compare(0, 10, "linux-vdso") == 0) continue;
    if (w.size() >= 3 && w[1] == "=>") {
      files.push_back(w[2] == "not" ? w[0] + " => not found" : resolved(w[2]));
    } else if (w[0][0] == '/') {
      files.push_back(resolved(w[0]));
    }
  }
  return files;
}

uint64_t elf_file_offset(const std::vector<elf_segment_t>& segments, uint64_t vaddr) {
  for (const elf_segment_t& s : segments) {
    if (vaddr >= s.vaddr && vaddr - s.vaddr < s.file_size) return vaddr - s.vaddr + s.offset;
  }
  ADD_FAILURE() << "address 0x" << std::hex << vaddr << " is in no loadable segment";
  return 0;
}

std::vector<elf_mapping_t> loader_mappings(const std::vector<elf_segment_t>& segments,
                                           uint64_t base) {
  const uint64_t page = 4096;
  std::vector<elf_mapping_t> mappings;
  for (const elf_segment_t& s : segments) {
    elf_mapping_t m;
    uint64_t first = s.vaddr & ~(page - 1);
    uint64_t last = (s.vaddr + s.file_size + page - 1) & ~(page - 1);
    m.start = base + first;
    m.size = last - first;
    m.offset = s.offset & ~(page - 1);
    mappings.push_back(m);
  }
  return mappings;
}

std::vector<std::vector<oracle_frame_t>> addr2line(const std::string& file,
                                                   const std::vector<uint64_t>& vaddrs) {
  std::ostringstream input;
  for (uint64_t a : vaddrs) input << "0x" << std::hex << a << "\n";
  std::istringstream out(
      binutils({"/usr/bin/addr2line", "-a", "-f", "-i", "-C", "-e", file}, input.str()));
  std::vector<std::vector<oracle_frame_t>> all;
  std::string line;
  while (std::getline(out, line)) {
    // Each address comes first, as 0x and 16 digits; then function and
    // file:line per frame.
    if (line.size() == 18 && line.compare(0, 2, "0x") == 0 && is_hex_word(line.substr(2))) {
      all.emplace_back();
      continue;
    }
    if (all.empty()) break;
    oracle_frame_t frame;
    frame.function = line;
    if (!std::getline(out, line)) break;
    size_t discriminator = line.find(" (discriminator");
    if (discriminator != std::string::npos) line.erase(discriminator);
    size_t colon = line.rfind(':');
    frame.file = line.substr(0, colon);
    if (colon != std::string::npos) {
      frame.line = static_cast<uint32_t>(std::strtoul(line.c_str() + colon + 1, nullptr, 10));
    }
    all.back().push_back(frame);
  }
  EXPECT_EQ(all.size(), vaddrs.size()) << "addr2line answered for fewer addresses";
  return all;
}

}}  // namespace velkor::testkit
