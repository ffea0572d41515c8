// The decoder against byte streams built by hand from the record layouts, so
// that a mistake shared with the encoder cannot hide here.
#include "codec/decoder_binary.h"

#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "support/recording_flow.h"
#include "support/test_support.h"

using namespace velkor::library;
using velkor::testkit::feed;
using velkor::testkit::feed_random;
using velkor::testkit::hex;
using velkor::testkit::recording_flow_t;

namespace {

// ---- Big-endian field writers ----------------------------------------------

std::string be(uint64_t v, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}
std::string u8(uint64_t v) { return be(v, 1); }
std::string u16(uint64_t v) { return be(v, 2); }
std::string u32(uint64_t v) { return be(v, 4); }
std::string u64(uint64_t v) { return be(v, 8); }
std::string a12(uint64_t v) { return hex("ee ee ee ee") + u64(v); }  // reserved bytes ignored
std::string id64(uint32_t v) { return hex("ff ff ff ff") + u32(v); }  // upper half ignored
std::string text(const std::string& s) { return u16(s.size() + 1) + s + std::string(1, '\0'); }
std::string access(uint64_t pc, uint64_t addr, uint64_t time, uint32_t stack, uint32_t thread,
                   uint16_t size, uint8_t type) {
  return u64(pc) + u64(addr) + u64(time) + u32(stack) + u32(thread) + u16(size) + u8(type);
}

// Records framed for versions 0/1 (16-bit length) and 2/3 (32-bit length).
std::string rec16(int code, const std::string& payload) {
  return u8(code) + u16(payload.size()) + payload;
}
std::string rec32(int code, const std::string& payload) {
  return u8(code) + u32(payload.size()) + payload;
}

std::string version_record(uint32_t version, uint64_t parameter = 0) {
  return rec16(9, u32(version) + u32(1) + text("r1") + u64(parameter));
}
const std::string v3 = version_record(3);
const std::string v1 = version_record(1);

// ---- Payloads and their text forms -------------------------------------------

const std::string read_payload = a12(0x1000) + a12(0x2000) + u32(3) + u16(8);
const char* const read_text =
    "[event-read]     pc<0x0000000000001000>, addr<0x0000000000002000>, thread_id: 3, size: 8";

struct record_case_t {
  const char* name;
  int code;
  std::string payload;
  std::vector<std::string> texts;
};

std::vector<record_case_t> record_cases() {
  const std::string sample_begin_access = access(0x1000, 0x2000, 5, 2, 1, 8, 0);
  const std::string end_access_1 = access(0x1010, 0x2000, 9, 4, 2, 4, 1);
  const std::string end_access_2 = access(0x1020, 0x2008, 11, 4, 3, 2, 12);
  return {
      {"read", 0, read_payload, {read_text}},
      {"write", 1, read_payload,
       {"[event-write]    pc<0x0000000000001000>, addr<0x0000000000002000>, thread_id: 3, size: 8"}},
      {"prefetch", 5, read_payload,
       {"[event-prefetch] pc<0x0000000000001000>, addr<0x0000000000002000>, thread_id: 3, size: 8"}},
      {"sample begin", 2,
       a12(0x1000) + a12(0x2000) + u64(5) + u32(3) + id64(9) + u8(1) + u16(8) + u8(6) + a12(0x1004),
       {"[event-smpl-bgn] pc<0x0000000000001000>, pc+1<0x0000000000001004>, "
        "addr<0x0000000000002000>, thread_id: 3, sample_id: 9, time: 5, kind: WR, "
        "access_size: 8, line_size: 64"}},
      {"sample begin without line size", 2,
       a12(1) + a12(2) + u64(3) + u32(4) + id64(5) + u8(0) + u16(6) + u8(255) + a12(7),
       {"[event-smpl-bgn] pc<0x0000000000000001>, pc+1<0x0000000000000007>, "
        "addr<0x0000000000000002>, thread_id: 4, sample_id: 5, time: 3, kind: RD, "
        "access_size: 6, line_size: 0"}},
      {"sample end", 3,
       a12(0x1000) + a12(0x2000) + u64(6) + u32(3) + id64(9) + u8(0) + u16(4) + u64(77),
       {"[event-smpl-end] pc<0x0000000000001000>, addr<0x0000000000002000>, thread_id: 3, "
        "sample_id: 9, time: 6, kind:RD, access_size: 4, rdist: 77"}},
      {"sample period", 4, u32(10000), {"[event-smpl-rt]  sample_rate: 10000"}},
      {"acquisition begin", 6,
       u64(1700000000000000000ull) + u32(1) + u32(2) + text("ls") + text("-l") + text("bob") +
           u8(2) + u8(6) + u8(7),
       {"[acq-begin]      time: 1700000000000000000, user: bob, argv: ls -l, line sizes:  64 128"}},
      {"acquisition begin without line sizes", 6, u64(1) + u32(0) + u32(0) + text(""),
       {"[acq-begin]      time: 1, user: , argv:, line sizes: "}},
      {"acquisition end", 7, u64(99), {"[acq-end]        time: 99"}},
      {"mmap", 8,
       u64(0x400000) + u64(4096) + u32(5) + u64(2049) + u64(1234) + u64(0x1000) + text("/bin/ls") +
           u64(42),
       {"[mmap]           address: 0x0000000000400000, size: 4096, attr: 5, device: 2049, "
        "inode: 1234, time: 42, offset: 0x0000000000001000, filename: /bin/ls"}},
      {"mmap without time", 8,
       u64(0x400000) + u64(4096) + u32(5) + u64(2049) + u64(1234) + u64(0) + text("x"),
       {"[mmap]           address: 0x0000000000400000, size: 4096, attr: 5, device: 2049, "
        "inode: 1234, time: 0, offset: 0x0000000000000000, filename: x"}},
      {"stack", 10, u32(7) + u16(2) + u64(0x1000) + u64(0x1004),
       {"[stack]          id: 7, return addresses: 0x1000 0x1004"}},
      {"old sample, 83 bytes", 11,
       u64(0x2000) + u64(0x2008) + u64(5) + u64(9) + u64(0x1000) + u64(0x1004) + u64(0x1010) +
           u32(2) + u32(3) + u32(4) + u32(1) + u32(2) + u16(8) + u16(4) + u8(0) + u8(1) + u8(6),
       {"[sample] line_size: 64\n"
        "  begin: [time 5, thread: 1, pc 0x0000000000001000, stack 2, addr 0x0000000000002000, "
        "size 8, type RD]\n"
        "  pc1+: [pc 0x0000000000001004, stack: 3]\n"
        "  flags: 0\n"
        "  end: [time 9, thread: 2, pc 0x0000000000001010, stack 4, addr 0x0000000000002008, "
        "size 4, type WR]\n"}},
      {"old sample with three ends", 11,
       u64(0x2000) + u64(0x2008) + u64(5) + u64(9) + u64(0x1000) + u64(0x1004) + u64(0x1010) +
           u32(2) + u32(3) + u32(4) + u32(1) + u32(2) + u16(8) + u16(4) + u8(0) + u8(1) + u8(255) +
           u32(3) + end_access_1 + end_access_2,
       {"[sample] line_size: 0\n"
        "  begin: [time 5, thread: 1, pc 0x0000000000001000, stack 2, addr 0x0000000000002000, "
        "size 8, type RD]\n"
        "  pc1+: [pc 0x0000000000001004, stack: 3]\n"
        "  flags: 0\n"
        "  end: [time 9, thread: 2, pc 0x0000000000001010, stack 4, addr 0x0000000000002008, "
        "size 4, type WR]\n"
        "  end: [time 9, thread: 2, pc 0x0000000000001010, stack 4, addr 0x0000000000002000, "
        "size 4, type WR]\n"
        "  end: [time 11, thread: 3, pc 0x0000000000001020, stack 4, addr 0x0000000000002008, "
        "size 2, type NTA_WR]\n"}},
      {"old sample with a count of one", 11,
       u64(1) + u64(2) + u64(3) + u64(4) + u64(5) + u64(6) + u64(7) + u32(8) + u32(9) + u32(10) +
           u32(11) + u32(12) + u16(13) + u16(14) + u8(2) + u8(3) + u8(0) + u32(1),
       {"[sample] line_size: 1\n"
        "  begin: [time 3, thread: 11, pc 0x0000000000000005, stack 8, addr 0x0000000000000001, "
        "size 13, type PF]\n"
        "  pc1+: [pc 0x0000000000000006, stack: 9]\n"
        "  flags: 0\n"
        "  end: [time 4, thread: 12, pc 0x0000000000000007, stack 10, addr 0x0000000000000002, "
        "size 14, type RDWR]\n"}},
      {"old dangling sample", 12,
       u64(0x2000) + u64(5) + u64(0x1000) + u64(0x1004) + u32(2) + u32(3) + u32(1) + u16(8) +
           u8(10) + u8(7),
       {"[sample] line_size: 128\n"
        "  begin: [time 5, thread: 1, pc 0x0000000000001000, stack 2, addr 0x0000000000002000, "
        "size 8, type CLFLUSH]\n"
        "  pc1+: [pc 0x0000000000001004, stack: 3]\n"
        "  flags: 0\n"}},
      {"time mapping", 13, u16(2) + u64(10) + u32(1) + u64(20) + u32(2),
       {"[time_mapping]\n  time 10, tid 1\n  time 20, tid 2\n"}},
      {"burst begin", 14, u64(1000) + u64(5) + u64(0xaaaa) + u64(0xbbbb),
       {"[burst-begin]    real_time: 1000, time: 5"}},
      {"burst end", 15, u64(2000) + u64(6), {"[burst-end]      real_time: 2000, time: 6"}},
      {"sample", 16,
       sample_begin_access + u64(0x1004) + u32(3) + u8(6) + u8(3) + u32(2) + end_access_1 +
           end_access_2,
       {"[sample] line_size: 64\n"
        "  begin: [time 5, thread: 1, pc 0x0000000000001000, stack 2, addr 0x0000000000002000, "
        "size 8, type RD]\n"
        "  pc1+: [pc 0x0000000000001004, stack: 3]\n"
        "  flags: 3 Killed \n"
        "  end: [time 9, thread: 2, pc 0x0000000000001010, stack 4, addr 0x0000000000002000, "
        "size 4, type WR]\n"
        "  end: [time 11, thread: 3, pc 0x0000000000001020, stack 4, addr 0x0000000000002008, "
        "size 2, type NTA_WR]\n"}},
      {"sample without ends", 16, sample_begin_access + u64(0x1004) + u32(3) + u8(255) + u8(2) + u32(0),
       {"[sample] line_size: 0\n"
        "  begin: [time 5, thread: 1, pc 0x0000000000001000, stack 2, addr 0x0000000000002000, "
        "size 8, type RD]\n"
        "  pc1+: [pc 0x0000000000001004, stack: 3]\n"
        "  flags: 2\n"}},
      {"contexts", 17, u32(2) + u32(1) + u32(4000000000u), {"[contexts]      contexts: 1 4000000000"}},
      {"munmap", 18, u64(0x400000) + u64(4096) + u64(9),
       {"[munmap]         address: 0x0000000000400000, size: 4096, time: 9"}},
      {"local time", 19, u32(3) + u64(100) + u64(90),
       {"[local_time]     tid: 3, global time: 100, local time: 90\n"}},
      {"unknown code", 20, "whatever", {}},
      {"unknown code 255", 255, "", {}},
  };
}

struct run_t {
  stream_status_t status = stream_status_ok;
  std::string error;  // what() of a codec exception, empty without one
  std::string location;  // and where it says the fault is
  bool is_error = false;
  std::vector<uint64_t> inits;
  std::vector<std::string> texts;
  uint64_t pending = 0;
};

// Decodes the bytes in blocks of `block` bytes (0: random sizes) and flushes.
run_t decode(const std::string& bytes, size_t block, recording_flow_t* flow_in = NULL) {
  recording_flow_t local;
  recording_flow_t* flow = flow_in ? flow_in : &local;
  qnt_decoder_binary_t decoder(flow, boost::make_shared<warning_consumer_null_t>());
  run_t run;
  try {
    run.status = block == 0 ? feed_random(&decoder, bytes, 17, 64) : feed(&decoder, bytes, block);
  } catch (const codec_exception_t& e) {
    run.error = e.what();
    run.location = e.location();
    run.is_error = e.is_error;
  }
  run.inits = flow->inits;
  run.texts = flow->texts();
  run.pending = decoder.pending_bytes();
  return run;
}

// Whole, in one-byte blocks and in random blocks: the same result.
void expect_decodes(const std::string& bytes, const std::vector<std::string>& texts,
                    const std::vector<uint64_t>& inits, const std::string& error = "") {
  for (size_t block : {bytes.size() + 1, size_t(1), size_t(0), size_t(7)}) {
    SCOPED_TRACE("block size " + std::to_string(block));
    run_t run = decode(bytes, block);
    EXPECT_EQ(run.texts, texts);
    EXPECT_EQ(run.inits, inits);
    EXPECT_EQ(run.error, error);
  }
}

TEST(Decoder, WorkedExampleVersion3ThenRead) {
  std::string bytes = hex(
      "09 00 13  00 00 00 03  00 00 00 01  00 01 00  00 00 00 00 00 00 00 07"
      "00 00 00 00 1e") + read_payload;
  expect_decodes(bytes, {read_text}, {7});
}

TEST(Decoder, EveryRecordCodeInVersions1And3) {
  for (const record_case_t& c : record_cases()) {
    SCOPED_TRACE(c.name);
    expect_decodes(v1 + rec16(c.code, c.payload) + rec16(0, read_payload),
                   [&] { auto t = c.texts; t.push_back(read_text); return t; }(), {0});
    expect_decodes(v3 + rec32(c.code, c.payload) + rec32(0, read_payload),
                   [&] { auto t = c.texts; t.push_back(read_text); return t; }(), {0});
  }
}

TEST(Decoder, VersionZeroKnowsOnlyCodesUpToNine) {
  for (const record_case_t& c : record_cases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> texts = c.code <= 9 ? c.texts : std::vector<std::string>();
    texts.push_back(read_text);
    // Without a version record and with an explicit version-0 record.
    expect_decodes(rec16(c.code, c.payload) + rec16(0, read_payload), texts, {0});
    expect_decodes(version_record(0, 5) + rec16(c.code, c.payload) + rec16(0, read_payload), texts,
                   {5});
  }
}

TEST(Decoder, VersionRecordFields) {
  struct {
    const char* name;
    std::string payload;
    int version;
    uint32_t minor;
    std::string revision;
    uint64_t parameter;
  } cases[] = {
      {"version only", u32(2), 2, 0, "unknown", 0},
      {"with minor", u32(1) + u32(4), 1, 4, "unknown", 0},
      {"with revision", u32(1) + u32(4) + text("abc"), 1, 4, "abc", 0},
      {"without parameter", u32(3) + u32(1) + text(""), 3, 1, "", 0},
      {"all four with parameter", u32(3) + u32(1) + text("r") + u64(1ull << 40), 3, 1, "r",
       1ull << 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    recording_flow_t flow;
    qnt_decoder_binary_t decoder(&flow, boost::make_shared<warning_consumer_null_t>());
    std::string bytes = rec16(9, c.payload);
    EXPECT_EQ(feed(&decoder, bytes, 1), stream_status_ok);
    EXPECT_EQ(decoder.get_context().version, c.version);
    EXPECT_EQ(decoder.get_context().minor_version, c.minor);
    EXPECT_EQ(decoder.get_context().writer_revision, c.revision);
    EXPECT_EQ(decoder.get_context().flow_parameter, c.parameter);
    EXPECT_TRUE(flow.inits.empty());  // only version records: the flow never starts
  }
}

TEST(Decoder, HeaderSizeFollowsTheVersionInForce) {
  // After version 2 even a later version record has a 5-byte header.
  std::string bytes = version_record(2) + rec32(9, u32(1)) + rec16(0, read_payload);
  expect_decodes(bytes, {read_text}, {0});
  // Versions 0 and 1 keep 3-byte headers.
  expect_decodes(version_record(0) + v1 + rec16(0, read_payload), {read_text}, {0});
}

TEST(Decoder, MalformedStreams) {
  struct {
    const char* name;
    std::string bytes;
    std::vector<std::string> texts;
    std::string error;
  } cases[] = {
      {"unsupported version", version_record(4) + rec16(0, read_payload), {},
       "Unsupport sample file version."},
      {"negative version", rec16(9, u32(0xffffffffu)), {}, "Unsupport sample file version."},
      {"length one too large, then a record", rec16(0, read_payload + "x") + rec16(0, read_payload),
       {read_text}, "Unexpected number of bytes read."},
      // Fields that overrun the record fail at that record, whether or not
      // more bytes happen to be buffered behind it.
      {"length one too small, then a record",
       rec16(0, read_payload.substr(0, 29)) + rec16(0, read_payload) + rec16(0, read_payload), {},
       "Unexpected number of bytes read."},
      {"fixed fields beyond the end", rec16(7, u32(1)), {}, "Unexpected number of bytes read."},
      {"version record after an event", v3 + rec32(0, read_payload) + rec32(9, u32(3)),
       {read_text}, "Version record after the first event record."},
      {"argv count beyond the payload", v3 + rec32(6, u64(1) + u32(0) + u32(0x7fffffff) + text("")),
       {}, "Unexpected number of bytes read."},
      {"stack count beyond the payload", v3 + rec32(10, u32(1) + u16(3) + u64(1) + u64(2)), {},
       "Unexpected number of bytes read."},
      {"sample ends beyond the payload",
       v3 + rec32(16, access(1, 2, 3, 4, 5, 6, 0) + u64(1) + u32(2) + u8(0) + u8(0) +
                          u32(0xffffffffu)),
       {}, "Unexpected number of bytes read."},
      {"old sample ends beyond the payload",
       v3 + rec32(11, std::string(83, '\0') + u32(1000)), {}, "Unexpected number of bytes read."},
      {"time mapping beyond the payload", v3 + rec32(13, u16(0xffff)), {},
       "Unexpected number of bytes read."},
      {"contexts beyond the payload", v3 + rec32(17, u32(2) + u32(1)), {},
       "Unexpected number of bytes read."},
      {"line sizes beyond the payload", v3 + rec32(6, u64(1) + u32(0) + u32(0) + text("") + u8(3)),
       {}, "Unexpected number of bytes read."},
      {"text beyond the payload, record last", v3 + rec32(6, u64(1) + u32(0) + u32(1) + u16(100)),
       {}, "Unexpected number of bytes read."},
      {"text beyond the payload, more behind",
       v3 + rec32(6, u64(1) + u32(0) + u32(1) + u16(100)) + rec32(0, std::string(200, 'x')), {},
       "Unexpected number of bytes read."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Only a refused version record keeps the flow from starting.
    bool refused_version = c.error == "Unsupport sample file version.";
    expect_decodes(c.bytes, c.texts,
                   refused_version ? std::vector<uint64_t>() : std::vector<uint64_t>{0}, c.error);
  }
}

TEST(Decoder, IncompleteLastRecordIsDroppedAndCounted) {
  std::string whole = v3 + rec32(0, read_payload);
  struct {
    size_t cut;
    uint64_t pending;
    bool started;
  } cases[] = {{v3.size(), 0, false},
               {v3.size() + 3, 3, false},       // part of a header
               {v3.size() + 5, 5, true},        // header alone: the flow starts
               {v3.size() + 5 + 29, 34, true}};  // all but one payload byte
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cut);
    run_t run = decode(whole.substr(0, c.cut), 1);
    EXPECT_EQ(run.status, stream_status_ok);
    EXPECT_EQ(run.error, "");
    EXPECT_TRUE(run.texts.empty());
    EXPECT_EQ(run.pending, c.pending);
    EXPECT_EQ(run.inits.size(), c.started ? 1u : 0u);
  }
  EXPECT_EQ(decode(whole, 3).pending, 0u);
}

TEST(Decoder, RecordsLongerThanTheLimitAreRefusedAtTheirHeader) {
  // 64 MiB is accepted (and waits for its payload), one byte more is not.
  run_t at_limit = decode(v3 + u8(0) + u32(64u << 20) + "abc", 1);
  EXPECT_EQ(at_limit.error, "");
  EXPECT_EQ(at_limit.pending, 5u + 3u);
  run_t above = decode(v3 + u8(0) + u32((64u << 20) + 1) + "abc", 1);
  EXPECT_EQ(above.error,
            "Record of 67108865 bytes is longer than the longest accepted record (67108864 "
            "bytes).");
  EXPECT_TRUE(above.is_error);
}

TEST(Decoder, AnnouncedLengthAloneAllocatesNothing) {
  recording_flow_t flow;
  qnt_decoder_binary_t decoder(&flow, boost::make_shared<warning_consumer_null_t>());
  std::string bytes = v3 + hex("00 03 ff ff ff") + "a few payload bytes";
  EXPECT_EQ(feed(&decoder, bytes, 1, /*flush=*/true), stream_status_ok);
  EXPECT_LE(decoder.buffer_capacity(), 1024u);
  EXPECT_EQ(decoder.pending_bytes(), 5u + 19u);  // a 50 MiB record announced
}

TEST(Decoder, FlowStatuses) {
  std::string bytes = v3 + rec32(0, read_payload) + rec32(0, read_payload) + rec32(0, read_payload);
  for (flow_status_t status : {flow_status_done, flow_status_error}) {
    recording_flow_t flow;
    flow.answer_at_event = 0;
    flow.answer_status = status;
    run_t run = decode(bytes, bytes.size(), &flow);
    EXPECT_EQ(run.status, status == flow_status_done ? stream_status_done : stream_status_error);
    EXPECT_EQ(run.texts.size(), 1u);  // the events after it in the block are not delivered
  }
}

TEST(Decoder, FlowThatDeclinesToStart) {
  for (flow_status_t status : {flow_status_done, flow_status_error}) {
    recording_flow_t flow;
    flow.init_status = status;
    run_t run = decode(v3 + rec32(0, read_payload), 1, &flow);
    EXPECT_EQ(run.error, "Failed to initialize flow.");
    EXPECT_EQ(run.is_error, status == flow_status_error);
    EXPECT_TRUE(run.texts.empty());
  }
}

TEST(Decoder, EmptyAndVersionOnlyInputsNeverStartTheFlow) {
  expect_decodes("", {}, {});
  expect_decodes(v3, {}, {});
  expect_decodes(v3 + rec32(9, u32(1)), {}, {});
}

TEST(Decoder, LargeRecordAcrossManyBlocks) {
  // A stack of 8000 return addresses (64 kB) arrives in 4096-byte blocks.
  std::string payload = u32(1) + u16(8000);
  std::string expected = "[stack]          id: 1, return addresses:";
  for (int i = 0; i < 8000; ++i) {
    payload += u64(0x1000 + i);
    char buf[32];
    snprintf(buf, sizeof(buf), " 0x%x", 0x1000 + i);
    expected += buf;
  }
  expect_decodes(v3 + rec32(10, payload) + rec32(0, read_payload), {expected, read_text}, {0});
}

// A fault names the record it lies in: its number (version records count),
// code and the offset of its header. A record that reads fewer bytes than its
// length is found at the next header, and named, not the next one.
TEST(Decoder, FaultsNameTheirRecord) {
  const size_t read_record = 5 + read_payload.size();
  struct {
    const char* name;
    std::string bytes;
    std::string location;
  } cases[] = {
      {"unsupported version", version_record(4),
       "In record 1 (code 9) at byte 0 of the event stream."},
      {"length one too large, then a record",
       v3 + rec32(0, read_payload) + rec32(0, read_payload + "x") + rec32(0, read_payload),
       "In record 3 (code 0) at byte " + std::to_string(v3.size() + read_record) +
           " of the event stream."},
      {"fields beyond the end", v3 + rec32(0, read_payload) + rec32(7, u32(1)),
       "In record 3 (code 7) at byte " + std::to_string(v3.size() + read_record) +
           " of the event stream."},
      {"version record after an event", v3 + rec32(0, read_payload) + rec32(9, u32(3)),
       "In record 3 (code 9) at byte " + std::to_string(v3.size() + read_record) +
           " of the event stream."},
      {"record above the length limit", v3 + u8(0) + u32((64u << 20) + 1),
       "In record 2 (code 0) at byte " + std::to_string(v3.size()) + " of the event stream."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (size_t block : {size_t(1), c.bytes.size()}) {
      EXPECT_EQ(decode(c.bytes, block).location, c.location);
    }
  }
}

// A record of a code the version does not know goes by as it arrives: the
// decoder never holds it whole, and counts what it skipped of a cut one.
TEST(Decoder, UnknownRecordsAreSkippedAsTheyArrive) {
  const std::string big(1 << 20, 'x');
  const std::string bytes = v3 + rec32(40, big) + rec32(0, read_payload);
  recording_flow_t flow;
  qnt_decoder_binary_t decoder(&flow, boost::make_shared<warning_consumer_null_t>());
  EXPECT_EQ(feed(&decoder, bytes, 4096), stream_status_ok);
  EXPECT_EQ(flow.texts(), std::vector<std::string>{read_text});
  EXPECT_LE(decoder.buffer_capacity(), 16384u);

  run_t cut = decode(bytes.substr(0, v3.size() + 5 + 1000), 100);
  EXPECT_EQ(cut.error, "");
  EXPECT_EQ(cut.pending, 5u + 1000u);
}

// A record may decode into at most twice its payload plus 16 MiB: a million
// empty texts (two bytes each on the wire) would take 32 MiB of strings.
TEST(Decoder, RecordsThatWouldDecodeIntoTooMuchAreRefused) {
  const uint64_t count = 1000000;
  std::string payload = u64(1) + u32(1) + u32(count) + std::string(2 * count, '\0') + text("u");
  run_t run = decode(v3 + rec32(6, payload), 65536);
  EXPECT_EQ(run.error, "The record would take " + std::to_string(count * sizeof(std::string)) +
                           " bytes once decoded, more than the " +
                           std::to_string(2 * payload.size() + (16u << 20)) +
                           " bytes allowed for a record of " + std::to_string(payload.size()) +
                           " bytes.");
  EXPECT_EQ(run.location, "In record 2 (code 6) at byte " + std::to_string(v3.size()) +
                              " of the event stream.");
  // Half as many fit.
  std::string fits = u64(1) + u32(1) + u32(count / 2) + std::string(count, '\0') + text("u");
  EXPECT_EQ(decode(v3 + rec32(6, fits), 65536).error, "");
}

}  // namespace
