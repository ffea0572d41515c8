// Version-3 event streams built byte by byte, for tests that need records the
// library's writer would never write: wrong lengths, huge counts, crafted
// keys. Integers are big-endian, as in the files.
#ifndef TESTS_SUPPORT_RECORD_BYTES_H_
#define TESTS_SUPPORT_RECORD_BYTES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace velkor { namespace testkit {

// ---- Fields -------------------------------------------------------------------

std::string be(uint64_t value, int bytes);
inline std::string u8(uint64_t v) { return be(v, 1); }
inline std::string u16(uint64_t v) { return be(v, 2); }
inline std::string u32(uint64_t v) { return be(v, 4); }
inline std::string u64(uint64_t v) { return be(v, 8); }
// An address in 12 bytes: four reserved, then the 64-bit value.
inline std::string a12(uint64_t v) { return u32(0) + u64(v); }
// A text: 16-bit length with the terminating NUL, the bytes, the NUL.
std::string text(const std::string& s);
// A 35-byte sampled access: pc 0x1000, addr 0x2000, stack 0, size 8.
std::string access(uint64_t time, uint32_t thread, uint8_t type, uint64_t pc = 0x1000,
                   uint64_t addr = 0x2000);

// ---- Records ------------------------------------------------------------------

// A record with a 5-byte header: code, 32-bit length, payload.
std::string rec(int code, const std::string& payload);
// A raw container (product 255, no compression) holding a version-3 stream:
// the version record, then the records given.
std::string v3_file(const std::string& records);
// The same records as a deflated container.
std::string v3_deflated_file(const std::string& records);

// A sample begin (code 2) of thread 1, pc 0x1000, line size 64, and a sample
// end (code 3) of thread 2, pc 0x1010.
std::string begin(uint32_t id, uint64_t time, uint8_t type, uint64_t pc = 0x1000);
std::string end(uint32_t id, uint64_t time, uint8_t type);
// A complete sample (code 16) whose begin is thread 1 at the time, of line
// size 64, with the given accesses (access()) as ends.
std::string sample(uint64_t time, uint8_t type, const std::vector<std::string>& ends,
                   uint64_t pc = 0x1000, uint32_t thread = 1);
// An acquisition begin (code 6): time, architecture, then the text fields as
// given (the argv count, the texts, the user).
std::string acquisition(uint64_t time, uint32_t architecture, const std::string& texts);
std::string burst_begin(uint64_t real_time);
std::string burst_end(uint64_t real_time);

}}  // namespace velkor::testkit
#endif
