#include "support/record_bytes.h"

#include "support/test_support.h"
#include "support/zlib_reference.h"

namespace velkor { namespace testkit {

std::string be(uint64_t v, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  return out;
}

std::string text(const std::string& s) { return u16(s.size() + 1) + s + std::string(1, '\0'); }

std::string access(uint64_t time, uint32_t thread, uint8_t type, uint64_t pc, uint64_t addr) {
  return u64(pc) + u64(addr) + u64(time) + u32(0) + u32(thread) + u16(8) + u8(type);
}

std::string rec(int code, const std::string& payload) {
  return u8(code) + u32(payload.size()) + payload;
}

namespace {

std::string v3_stream(const std::string& records) {
  return u8(9) + u16(26) + u32(3) + u32(1) + text("unknown") + u64(0) + records;
}

}  // namespace

std::string v3_file(const std::string& records) {
  return "VELKOR" + hex("00 0c 01 ff 00 00") + v3_stream(records);
}

std::string v3_deflated_file(const std::string& records) {
  return "VELKOR" + hex("00 0c 01 ff 00 01") + zlib_deflate(v3_stream(records));
}

std::string begin(uint32_t id, uint64_t time, uint8_t type, uint64_t pc) {
  return rec(2, a12(pc) + a12(0x2000) + u64(time) + u32(1) + u64(id) + u8(type) + u16(8) +
                    u8(6) + a12(pc + 4));
}

std::string end(uint32_t id, uint64_t time, uint8_t type) {
  return rec(3, a12(0x1010) + a12(0x2000) + u64(time) + u32(2) + u64(id) + u8(type) + u16(8) +
                    u64(5));
}

std::string sample(uint64_t time, uint8_t type, const std::vector<std::string>& ends,
                   uint64_t pc, uint32_t thread) {
  std::string payload = access(time, thread, type, pc) + u64(pc + 4) + u32(0) + u8(6) + u8(0) +
                        u32(ends.size());
  for (const std::string& e : ends) payload += e;
  return rec(16, payload);
}

std::string acquisition(uint64_t time, uint32_t architecture, const std::string& texts) {
  return rec(6, u64(time) + u32(architecture) + texts);
}

std::string burst_begin(uint64_t t) { return rec(14, u64(t) + u64(0) + u64(0) + u64(0)); }
std::string burst_end(uint64_t t) { return rec(15, u64(t) + u64(0)); }

}}  // namespace velkor::testkit
