// Writes a recording of a real ELF module for the symbol benchmarks: the
// module mapped as a loader maps it (its loadable segments at a PIE base,
// or at their own addresses for a non-PIE executable), a heap and a stack,
// then samples whose pcs are drawn from a fixed number of distinct addresses
// spread over the module's executable segment, and whose data addresses lie
// in the heap and in the module's writable segment.
//   symbol_recording ELF SAMPLES DISTINCT_PCS OUT
#include <elf.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>

#include "events/qnt_events.h"
#include "flow/flow_file_writer.h"

using namespace velkor::library;

namespace {

struct segment_t {
  uint64_t offset, vaddr, file_size;
  bool executable, writable;
};

// The PT_LOAD headers of a 64-bit little-endian ELF file; exits when there are none.
std::vector<segment_t> load_segments(const std::string& bytes, uint16_t* type) {
  std::vector<segment_t> segments;
  Elf64_Ehdr header;
  if (bytes.size() < sizeof(header)) return segments;
  std::memcpy(&header, bytes.data(), sizeof(header));
  if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
    return segments;
  }
  *type = header.e_type;
  for (unsigned i = 0; i < header.e_phnum; ++i) {
    uint64_t at = header.e_phoff + uint64_t(i) * sizeof(Elf64_Phdr);
    if (at + sizeof(Elf64_Phdr) > bytes.size()) break;
    Elf64_Phdr phdr;
    std::memcpy(&phdr, bytes.data() + at, sizeof(phdr));
    if (phdr.p_type != PT_LOAD) continue;
    segments.push_back({phdr.p_offset, phdr.p_vaddr, phdr.p_filesz, (phdr.p_flags & PF_X) != 0,
                        (phdr.p_flags & PF_W) != 0});
  }
  return segments;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "Usage: symbol_recording ELF SAMPLES DISTINCT_PCS OUT" << std::endl;
    return 1;
  }
  std::string module = argv[1];
  uint64_t samples = std::strtoull(argv[2], nullptr, 10);
  uint64_t distinct = std::strtoull(argv[3], nullptr, 10);
  std::ifstream in(module, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  uint16_t type = 0;
  std::vector<segment_t> segments = load_segments(bytes, &type);
  const segment_t* text = nullptr;
  const segment_t* data = nullptr;
  for (const segment_t& s : segments) {
    if (s.executable && text == nullptr) text = &s;
    if (s.writable && data == nullptr) data = &s;
  }
  if (text == nullptr || distinct == 0) {
    std::cerr << "symbol_recording: " << module << " has no executable segment" << std::endl;
    return 1;
  }
  const uint64_t base = type == ET_DYN ? 0x555555554000 : 0;
  const uint64_t page = 4096;

  stream_container_header_t header;
  header.product = product_keldo_internal;
  auto warnings = boost::make_shared<warning_consumer_stderr_t>();
  flow_file_writer_t writer(argv[4], header, warnings);
  quenth_flow_t& flow = writer.flow();
  if (flow.flow_init(0) != flow_status_ok) return 1;

  qnt_event_acquisition_begin_t begin;
  begin.architecture = 1;
  begin.argv = {module};
  begin.user = "bench";
  begin.line_sizes = {6};
  flow.process_event(begin);
  for (const segment_t& s : segments) {
    qnt_event_mmap_t mmap;
    mmap.address = base + (s.vaddr & ~(page - 1));
    mmap.size = ((s.vaddr + s.file_size + page - 1) & ~(page - 1)) - (s.vaddr & ~(page - 1));
    mmap.offset = s.offset & ~(page - 1);
    mmap.attr = s.executable ? 5 : 3;
    mmap.filename = module;
    flow.process_event(mmap);
  }
  const uint64_t heap = 0x5555a0000000;
  const uint64_t heap_size = 64 << 20;
  qnt_event_mmap_t mmap;
  mmap.address = heap;
  mmap.size = heap_size;
  mmap.attr = 3;
  mmap.filename = "[heap]";
  flow.process_event(mmap);
  mmap.address = 0x7ffffff00000;
  mmap.size = 1 << 20;
  mmap.filename = "[stack]";
  flow.process_event(mmap);

  // The distinct pcs, evenly over the executable segment.
  std::vector<uint64_t> pcs;
  for (uint64_t i = 0; i < distinct; ++i) {
    pcs.push_back(base + text->vaddr + text->file_size * i / distinct);
  }
  std::mt19937_64 random(2012);
  qnt_event_stack_t stack;
  stack.id = 1;
  for (int i = 0; i < 4; ++i) stack.return_addresses.push_back(pcs[random() % pcs.size()] + 5);
  flow.process_event(stack);
  qnt_event_sample_t sample;
  sample.ends.resize(1);
  sample.line_size = 6;
  sample.stack = 1;
  for (uint64_t n = 0; n < samples; ++n) {
    uint64_t r = random();
    qnt_sample_access_t& a = sample.begin;
    a.pc = pcs[r % pcs.size()];
    a.addr = (data != nullptr && (r >> 40) % 4 == 0)
                 ? base + data->vaddr + (r >> 20) % (data->file_size + 1)
                 : heap + ((r >> 16) % heap_size & ~uint64_t(7));
    a.time = n * 16;
    a.stack = 1;
    a.thread = 1000 + static_cast<uint32_t>(r % 4);
    a.size = 8;
    a.access_type = qnt_access_rd;
    sample.ends[0] = a;
    sample.ends[0].pc = pcs[(r >> 8) % pcs.size()];
    sample.ends[0].addr = a.addr + 8;
    sample.ends[0].time = a.time + 7;
    sample.next_pc = a.pc + 4;
    if (flow.process_event(sample) != flow_status_ok) return 1;
  }
  qnt_event_acquisition_end_t end;
  flow.process_event(end);
  return writer.finish() == stream_status_ok ? 0 : 1;
}
