#include "codec/codec_utils.h"

#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace velkor::library;
using velkor::testkit::hex;
using velkor::testkit::to_hex;

namespace {

std::string unread(codec_buffer_t& b) { return std::string(b.read(b.size()), b.size()); }

TEST(CodecBuffer, GrowthKeepsCapacityAPowerOfTwoTimes1024) {
  struct {
    size_t first, second;
    uint64_t capacity;
  } cases[] = {{1, 0, 1024}, {600, 0, 2048}, {512, 0, 1024}, {513, 0, 2048}, {100, 5000, 16384}};
  for (const auto& c : cases) {
    codec_buffer_t b;
    EXPECT_EQ(b.capacity(), 0u);
    b.write(std::string(c.first, 'a').data(), c.first);
    b.write(std::string(c.second, 'b').data(), c.second);
    EXPECT_EQ(b.capacity(), c.capacity) << c.first << "+" << c.second;
    EXPECT_EQ(unread(b), std::string(c.first, 'a') + std::string(c.second, 'b'));
  }
}

TEST(CodecBuffer, CompactsWithoutReallocatingAndKeepsUnits) {
  codec_buffer_t b;
  std::string full(1024, 'x');
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<char>(i);
  b.write(full.data(), 512);
  b.write(full.data() + 512, 512);
  ASSERT_EQ(b.capacity(), 1024u);
  b.assert_read(1014);
  b.read(1014);
  b.assert_read(10);  // the unit spans the compaction below
  b.write(std::string(100, 'y').data(), 100);
  EXPECT_EQ(b.capacity(), 1024u);
  EXPECT_EQ(std::string(b.read(10), 10), full.substr(1014));
  b.assert_read(100);  // the previous unit was consumed exactly
  EXPECT_EQ(std::string(b.read(100), 100), std::string(100, 'y'));
}

TEST(CodecBuffer, ReadAndUnitErrors) {
  codec_buffer_t b;
  b.read(0);
  try {
    b.read(1);
    FAIL();
  } catch (const codec_exception_t& e) {
    EXPECT_STREQ(e.what(), "Read beyond end of buffer.");
    EXPECT_TRUE(e.is_error);
  }
  b.write("abcdefgh", 8);
  b.assert_read(3);
  b.read(3);
  b.assert_read(5);  // exact
  b.read(2);         // short by 3
  try {
    b.assert_read(1);
    FAIL();
  } catch (const codec_exception_t& e) {
    EXPECT_STREQ(e.what(), "Unexpected number of bytes read.");
    EXPECT_TRUE(e.is_error);
  }
  EXPECT_THROW(b.read(4), codec_exception_t);
  EXPECT_EQ(b.size(), 3u);  // nothing consumed by the failed read
}

TEST(CodecBuffer, ReadsStayInsideTheOpenUnit) {
  codec_buffer_t b;
  b.write("abcdefgh", 8);
  b.assert_read(3);
  b.read(2);
  try {
    b.read(2);  // the bytes are there, but beyond the unit
    FAIL();
  } catch (const codec_exception_t& e) {
    EXPECT_STREQ(e.what(), "Unexpected number of bytes read.");
  }
  EXPECT_EQ(b.size(), 6u);
  b.read(1);
  b.assert_read(5);
  EXPECT_EQ(std::string(b.read(5), 5), "defgh");
}

TEST(CodecPrimitives, WireForms) {
  codec_buffer_t b;
  binary_encode_uint8(&b, 0xab);
  binary_encode_uint16(&b, 0x0102);
  binary_encode_uint32(&b, 0x01020304);
  binary_encode_uint64(&b, 0x0102030405060708ull);
  binary_encode_address_v0(&b, qnt_address_t(0xfedcba9876543210ull));
  binary_encode_data16(&b, "ab", 3);
  binary_encode_data16(&b, "", 1);
  EXPECT_EQ(to_hex(unread(b)),
            "ab 01 02 01 02 03 04 01 02 03 04 05 06 07 08 "
            "00 00 00 00 fe dc ba 98 76 54 32 10 "
            "00 03 61 62 00 00 01 00");
}

TEST(CodecPrimitives, DecodeIgnoresReservedBytesAndReadsTexts) {
  codec_buffer_t b;
  std::string bytes = hex("ff ff ff ff 00 00 00 00 00 00 10 00  00 03 61 62 00  00 00  00 01 00");
  b.write(bytes.data(), bytes.size());
  EXPECT_EQ(static_cast<uint64_t>(binary_decode_address_v0(&b)), 0x1000u);
  EXPECT_EQ(binary_decode_data16(&b), "ab");
  EXPECT_EQ(binary_decode_data16(&b), "");  // length 0: no terminator, empty text
  EXPECT_EQ(binary_decode_data16(&b), "");
  EXPECT_EQ(b.size(), 0u);
}

TEST(CodecPrimitives, LineSizeByte) {
  struct {
    uint64_t size;
    uint8_t log;
  } writes[] = {{64, 6}, {1, 0}, {0, 255}, {100, 6}, {1ull << 63, 63}, {~0ull, 63}};
  for (const auto& c : writes) EXPECT_EQ(line_size_to_log(c.size), c.log) << c.size;

  struct {
    uint8_t byte;
    uint64_t size;
  } reads[] = {{255, 0}, {6, 64}, {70, 64}, {0, 1}, {63, 1ull << 63}, {254, 1ull << 62}};
  for (const auto& c : reads) {
    codec_buffer_t b;
    binary_encode_uint8(&b, c.byte);
    EXPECT_EQ(static_cast<uint64_t>(binary_decode_line_size(&b)), c.size) << int(c.byte);
  }
}

TEST(CodecPrimitives, AccessRecordRoundTrip) {
  qnt_sample_access_t a;
  a.pc = qnt_address_t(0x0102030405060708ull);
  a.addr = qnt_address_t(0x1112131415161718ull);
  a.time = 0x2122232425262728ull;
  a.stack = 0x31323334;
  a.thread = qnt_thread_id_t(0x41424344);
  a.size = 0x5152;
  a.access_type = 12;
  codec_buffer_t b;
  binary_encode_access(&b, a);
  ASSERT_EQ(b.size(), 35u);
  std::string bytes(b.read(35), 35);
  EXPECT_EQ(to_hex(bytes),
            "01 02 03 04 05 06 07 08 11 12 13 14 15 16 17 18 21 22 23 24 25 26 27 28 "
            "31 32 33 34 41 42 43 44 51 52 0c");
  b.write(bytes.data(), bytes.size());
  qnt_sample_access_t back;
  binary_decode_access(&b, back);
  EXPECT_TRUE(back == a);
}

TEST(CodecPrimitives, Ones32) {
  EXPECT_EQ(ones32(0), 0u);
  EXPECT_EQ(ones32(1), 1u);
  EXPECT_EQ(ones32(0xffffffffu), 32u);
  EXPECT_EQ(ones32(0x80000001u), 2u);
  EXPECT_EQ(ones32(0x0f0f0f0fu), 16u);
}

TEST(CodecPrimitivesDeathTest, Data16RejectsProgrammingErrors) {
  codec_buffer_t b;
  EXPECT_DEATH(binary_encode_data16(&b, NULL, 1), "data != __null");
  std::string big(65536, 'x');
  EXPECT_DEATH(binary_encode_data16(&b, big.data(), big.size()), "data_length <= \\(65535\\)");
}

}  // namespace
