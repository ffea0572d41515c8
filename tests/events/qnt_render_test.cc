#include "events/qnt_render.h"

#include <cstdint>
#include <locale>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace velkor::library;

namespace {

// Keeps everything written and marks every flush with "<F>", so that the
// expected texts show where a newline is followed by a flush.
class flush_marking_buf_t : public std::streambuf {
 public:
  std::string text;

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) text += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    text.append(s, size_t(n));
    return n;
  }
  int sync() override {
    text += "<F>";
    return 0;
  }
};

// The text form, with flush markers, on a stream prepared by `setup`.
template <typename T>
std::string render(const T& value, void (*setup)(std::ostream&) = nullptr) {
  flush_marking_buf_t buf;
  std::ostream os(&buf);
  if (setup) setup(os);
  os << value;
  return buf.text;
}

qnt_sample_access_t access(uint64_t time, uint32_t thread, uint64_t pc, uint32_t stack,
                           uint64_t addr, uint16_t size, qnt_access_type_t type) {
  qnt_sample_access_t a;
  a.time = time;
  a.thread = thread;
  a.pc = pc;
  a.stack = stack;
  a.addr = addr;
  a.size = size;
  a.access_type = type;
  return a;
}

const std::string zeros16 = "0x0000000000000000";

struct render_case_t {
  const char* name;
  std::shared_ptr<qnt_event_t> event;
  std::string text;
};

template <typename Event, typename Fill>
std::shared_ptr<qnt_event_t> make(Fill fill) {
  auto e = std::make_shared<Event>();
  fill(*e);
  return e;
}

std::vector<render_case_t> render_cases() {
  return {
      {"read, worked example", make<qnt_event_read_t>([](qnt_event_read_t& e) {
         e.pc = 4096;
         e.addr = 8192;
         e.thread_id = 3;
         e.size = 8;
       }),
       "[event-read]     pc<0x0000000000001000>, addr<0x0000000000002000>, thread_id: 3, "
       "size: 8"},
      {"write", make<qnt_event_write_t>([](qnt_event_write_t& e) {
         e.pc = UINT64_MAX;
         e.addr = 0xabcdef;
         e.thread_id = UINT32_MAX;
         e.size = 65535;
       }),
       "[event-write]    pc<0xffffffffffffffff>, addr<0x0000000000abcdef>, "
       "thread_id: 4294967295, size: 65535"},
      {"prefetch, default", std::make_shared<qnt_event_prefetch_t>(),
       "[event-prefetch] pc<" + zeros16 + ">, addr<" + zeros16 + ">, thread_id: 0, size: 0"},
      {"sample begin", make<qnt_event_sample_begin_t>([](qnt_event_sample_begin_t& e) {
         e.time = 100;
         e.thread_id = 2;
         e.sample_id = 77;
         e.pc = 0x400000;
         e.next_pc = 0x400004;
         e.addr = 0x7fff0000;
         e.access_type = qnt_access_pf_amd_w;
         e.access_size = 4;
         e.line_size = 64;
       }),
       "[event-smpl-bgn] pc<0x0000000000400000>, pc+1<0x0000000000400004>, "
       "addr<0x000000007fff0000>, thread_id: 2, sample_id: 77, time: 100, kind: PF_AMD_W, "
       "access_size: 4, line_size: 64"},
      {"sample end, no blank after kind:",
       make<qnt_event_sample_end_t>([](qnt_event_sample_end_t& e) {
         e.time = 250;
         e.thread_id = 5;
         e.sample_id = 77;
         e.pc = 0x400100;
         e.addr = 0x7fff0008;
         e.access_type = qnt_access_wr;
         e.access_size = 8;
         e.rdist = 150;
       }),
       "[event-smpl-end] pc<0x0000000000400100>, addr<0x000000007fff0008>, thread_id: 5, "
       "sample_id: 77, time: 250, kind:WR, access_size: 8, rdist: 150"},
      {"sample end, unknown access type",
       make<qnt_event_sample_end_t>([](qnt_event_sample_end_t& e) { e.access_type = 200; }),
       "[event-smpl-end] pc<" + zeros16 + ">, addr<" + zeros16 +
           ">, thread_id: 0, sample_id: 0, time: 0, kind:UNKNOWN, access_size: 0, rdist: 0"},
      {"sample period", make<qnt_event_sample_period_t>([](qnt_event_sample_period_t& e) {
         e.sample_period = 10007;
       }),
       "[event-smpl-rt]  sample_rate: 10007"},
      {"acquisition begin",
       make<qnt_event_acquisition_begin_t>([](qnt_event_acquisition_begin_t& e) {
         e.time = 1700000000000000000ull;
         e.architecture = 1;
         e.argv = {"./a.out", "-n", "3"};
         e.user = "jo doe";
         e.line_sizes = {6, 255, 12};
       }),
       "[acq-begin]      time: 1700000000000000000, user: jo doe, argv: ./a.out -n 3, "
       "line sizes:  64 0 4096"},
      {"acquisition begin, empty lists",
       std::make_shared<qnt_event_acquisition_begin_t>(),
       "[acq-begin]      time: 0, user: , argv:, line sizes: "},
      {"acquisition end", make<qnt_event_acquisition_end_t>([](qnt_event_acquisition_end_t& e) {
         e.time = 42;
       }),
       "[acq-end]        time: 42"},
      {"mmap", make<qnt_event_mmap_t>([](qnt_event_mmap_t& e) {
         e.address = 0x400000;
         e.size = 8192;
         e.attr = 5;
         e.device = 2049;
         e.inode = 131;
         e.filename = "/usr/lib/libc.so.6";
         e.offset = 0x1000;
         e.time = 9;
       }),
       "[mmap]           address: 0x0000000000400000, size: 8192, attr: 5, device: 2049, "
       "inode: 131, time: 9, offset: 0x0000000000001000, filename: /usr/lib/libc.so.6"},
      {"munmap", make<qnt_event_munmap_t>([](qnt_event_munmap_t& e) {
         e.address = 0x400000;
         e.size = 4096;
         e.time = 11;
       }),
       "[munmap]         address: 0x0000000000400000, size: 4096, time: 11"},
      {"stack, worked example", make<qnt_event_stack_t>([](qnt_event_stack_t& e) {
         e.id = 7;
         e.return_addresses = {4096, 4100};
       }),
       "[stack]          id: 7, return addresses: 0x1000 0x1004"},
      {"stack, empty", make<qnt_event_stack_t>([](qnt_event_stack_t& e) { e.id = 8; }),
       "[stack]          id: 8, return addresses:"},
      {"burst begin hides opaque values",
       make<qnt_event_burst_begin_t>([](qnt_event_burst_begin_t& e) {
         e.real_time = 1000;
         e.time = 20;
         e.opaque_1 = 31;
         e.opaque_2 = 32;
       }),
       "[burst-begin]    real_time: 1000, time: 20"},
      {"burst end", make<qnt_event_burst_end_t>([](qnt_event_burst_end_t& e) {
         e.real_time = 1500;
         e.time = 21;
       }),
       "[burst-end]      real_time: 1500, time: 21"},
      {"contexts", make<qnt_event_contexts_t>([](qnt_event_contexts_t& e) {
         e.contexts = {1, 4294967295u, 0};
       }),
       "[contexts]      contexts: 1 4294967295 0"},
      {"contexts, empty", std::make_shared<qnt_event_contexts_t>(), "[contexts]      contexts:"},
      {"local time", make<qnt_event_local_time_t>([](qnt_event_local_time_t& e) {
         e.tid = 3;
         e.global_time = 500;
         e.local_time = 480;
       }),
       "[local_time]     tid: 3, global time: 500, local time: 480\n<F>"},
      {"time mapping", make<qnt_event_time_mapping_t>([](qnt_event_time_mapping_t& e) {
         e.times.resize(2);
         e.times[0].time = 10;
         e.times[0].tid = 1;
         e.times[1].time = 20;
         e.times[1].tid = 2;
       }),
       "[time_mapping]\n<F>  time 10, tid 1\n<F>  time 20, tid 2\n<F>"},
      {"time mapping, empty", std::make_shared<qnt_event_time_mapping_t>(),
       "[time_mapping]\n<F>"},
      {"sample, killed with two ends", make<qnt_event_sample_t>([](qnt_event_sample_t& e) {
         e.begin = access(100, 1, 0x401000, 3, 0x601040, 8, qnt_access_rd);
         e.ends = {access(150, 2, 0x402000, 4, 0x601048, 4, qnt_access_wr),
                   access(160, 1, 0x403000, 0, 0x601040, 1, qnt_access_nta_rd)};
         e.next_pc = 0x401005;
         e.stack = 3;
         e.line_size = 6;
         e.flags = 3;
       }),
       "[sample] line_size: 64\n<F>"
       "  begin: [time 100, thread: 1, pc 0x0000000000401000, stack 3, "
       "addr 0x0000000000601040, size 8, type RD]\n<F>"
       "  pc1+: [pc 0x0000000000401005, stack: 3]\n<F>"
       "  flags: 3 Killed \n<F>"
       "  end: [time 150, thread: 2, pc 0x0000000000402000, stack 4, "
       "addr 0x0000000000601048, size 4, type WR]\n<F>"
       "  end: [time 160, thread: 1, pc 0x0000000000403000, stack 0, "
       "addr 0x0000000000601040, size 1, type NTA_RD]\n<F>"},
      {"sample, flags 2, no line size, no ends",
       make<qnt_event_sample_t>([](qnt_event_sample_t& e) {
         e.begin = access(7, 9, 0x10, 1, 0x20, 2, qnt_access_clflush);
         e.line_size = 255;
         e.flags = 2;
       }),
       "[sample] line_size: 0\n<F>"
       "  begin: [time 7, thread: 9, pc 0x0000000000000010, stack 1, "
       "addr 0x0000000000000020, size 2, type CLFLUSH]\n<F>"
       "  pc1+: [pc " + zeros16 + ", stack: 0]\n<F>"
       "  flags: 2\n<F>"},
  };
}

TEST(EventText, EveryKind) {
  for (const render_case_t& c : render_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(render(*c.event), c.text);
    // stream_put is what operator<< calls, and it returns the same stream.
    std::ostringstream os;
    EXPECT_EQ(&c.event->stream_put(os), &os);
  }
}

// Addresses keep their "0x" forms whatever the stream's base and flags; every
// other number follows the stream, which is left as it was found.
TEST(EventText, HexStreamChangesOnlyDecimalFields) {
  auto hex_stream = [](std::ostream& os) { os << std::hex << std::showbase << std::uppercase; };
  qnt_event_sample_begin_t begin;
  begin.time = 255;
  begin.thread_id = 26;
  begin.sample_id = 16;
  begin.pc = 0xabc;
  begin.next_pc = 0xabd;
  begin.addr = 0xdef0;
  begin.access_type = qnt_access_rdwr;
  begin.access_size = 10;
  begin.line_size = 64;
  EXPECT_EQ(render(begin, hex_stream),
            "[event-smpl-bgn] pc<0x0000000000000abc>, pc+1<0x0000000000000abd>, "
            "addr<0x000000000000def0>, thread_id: 0X1A, sample_id: 0X10, time: 0XFF, "
            "kind: RDWR, access_size: 0XA, line_size: 0X40");

  qnt_event_stack_t stack;
  stack.id = 31;
  stack.return_addresses = {0xbeef};
  EXPECT_EQ(render(stack, hex_stream), "[stack]          id: 0X1F, return addresses: 0xbeef");

  qnt_event_sample_t sample;
  sample.begin = access(17, 18, 0xa, 19, 0xb, 20, qnt_access_wr);
  sample.line_size = 4;
  sample.flags = 11;
  EXPECT_EQ(render(sample, hex_stream),
            "[sample] line_size: 0X10\n<F>"
            "  begin: [time 0X11, thread: 0X12, pc 0x000000000000000a, stack 0X13, "
            "addr 0x000000000000000b, size 0X14, type WR]\n<F>"
            "  pc1+: [pc " + zeros16 + ", stack: 0]\n<F>"
            "  flags: 0XB Killed \n<F>");

  std::ostringstream os;
  os << std::hex << std::uppercase;
  const std::ios_base::fmtflags before = os.flags();
  os << sample << begin << stack << qnt_address_t(1) << pad(qnt_address_t(2));
  EXPECT_EQ(os.flags(), before);
  EXPECT_EQ(os.fill(), ' ');
}

// A global locale with digit grouping must not reach the address forms.
struct grouping_t : std::numpunct<char> {
  char do_thousands_sep() const override { return '\''; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(EventText, AddressesIgnoreLocaleGrouping) {
  const std::locale saved = std::locale::global(std::locale(std::locale::classic(),
                                                            new grouping_t));
  const std::string padded = render(pad(qnt_address_t(0x123456789)));
  const std::string plain = render(qnt_address_t(0x123456789));
  const std::string size = qnt_format_num_string(1048575);
  std::locale::global(saved);
  EXPECT_EQ(padded, "0x0000000123456789");
  EXPECT_EQ(plain, "0x123456789");
  EXPECT_EQ(size, "1024 kB");
}

// The decimal fields follow a locale or a width the stream itself was given,
// as its own integer output would; the addresses still do not.
TEST(EventText, DecimalFieldsFollowTheStreamsLocaleAndWidth) {
  qnt_event_burst_begin_t burst;
  burst.real_time = 1234567;
  burst.time = 89;
  EXPECT_EQ(render(burst, [](std::ostream& os) {
              os.imbue(std::locale(std::locale::classic(), new grouping_t));
            }),
            "[burst-begin]    real_time: 1'234'567, time: 89");

  qnt_event_sample_t sample;
  sample.begin = access(1000, 2, 0x1000, 3, 0x2000, 4, qnt_access_rd);
  sample.line_size = 6;
  EXPECT_EQ(render(sample, [](std::ostream& os) {
              os.imbue(std::locale(std::locale::classic(), new grouping_t));
            }),
            "[sample] line_size: 64\n<F>"
            "  begin: [time 1'000, thread: 2, pc 0x0000000000001000, stack 3, "
            "addr 0x0000000000002000, size 4, type RD]\n<F>"
            "  pc1+: [pc " + zeros16 + ", stack: 0]\n<F>"
            "  flags: 0\n<F>");

  // A width applies to the first piece written, the label with its blanks.
  EXPECT_EQ(render(burst, [](std::ostream& os) { os.width(40); }),
            std::string(12, ' ') + "[burst-begin]    real_time: 1234567, time: 89");
}

TEST(ScalarText, AddressesThreadsAndContainers) {
  const qnt_address_t max = UINT64_MAX;
  const struct {
    std::string got;
    std::string expected;
  } cases[] = {
      {render(qnt_address_t(0)), "0x0"},
      {render(pad(qnt_address_t(0))), "0x0000000000000000"},
      {render(max), "0xffffffffffffffff"},
      {render(pad(max)), "0xffffffffffffffff"},
      {render(qnt_address_t(0xabc)), "0xabc"},
      {render(qnt_thread_id_t(4294967295u)), "4294967295"},
      // Plain integers keep their ordinary output.
      {render(uint64_t(4096)), "4096"},
      {render(uint32_t(7)), "7"},
      {render(std::set<qnt_address_t>{}), "()"},
      {render(std::vector<qnt_address_t>{}), "()"},
      {render(pad(std::set<qnt_address_t>{})), "()"},
      {render(std::set<qnt_address_t>{0x30, 0x10, 0x20}), "(0x10,0x20,0x30)"},
      {render(std::vector<qnt_address_t>{0x30, 0x10}), "(0x30,0x10)"},
      {render(pad(std::set<qnt_address_t>{2, 1})), "(0x0000000000000001,0x0000000000000002)"},
      {render(pad(std::vector<qnt_address_t>{max, 0})), "(0xffffffffffffffff," + zeros16 + ")"},
      {render(access(1, 2, 3, 4, 5, 6, qnt_access_nta_wr)),
       "time 1, thread: 2, pc 0x0000000000000003, stack 4, addr 0x0000000000000005, size 6, "
       "type NTA_WR"},
      {render(access(0, 0, 0, 0, 0, 0, 13)),
       "time 0, thread: 0, pc " + zeros16 + ", stack 0, addr " + zeros16 +
           ", size 0, type UNKNOWN"},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cases[i].got, cases[i].expected);
  }
}

}  // namespace
