// The JSON writer: separators, numbers at their limits, reals, strings of any
// bytes (escapes, UTF-8 kept, other bytes as \udcXX) and the streaming form.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/json_writer.h"
#include "support/test_support.h"

using velkor::library::json_writer_t;
using velkor::testkit::hex;

namespace {

std::string quoted(const std::string& bytes) {
  json_writer_t line;
  line.string(bytes);
  return line.text();
}

TEST(JsonWriter, StringsOfAnyBytes) {
  const struct {
    const char* name;
    std::string bytes;
    std::string json;
  } cases[] = {
      {"empty", "", R"("")"},
      {"plain", "/usr/bin/app -n 4", R"("/usr/bin/app -n 4")"},
      {"quote and backslash", "a\"b\\c", R"("a\"b\\c")"},
      {"short escapes", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {"other control characters", hex("00 01 1f 7f"), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"NUL inside", std::string("a\0b", 3), R"("a\u0000b")"},
      {"two-byte UTF-8", "caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"three-byte UTF-8", "\xe2\x82\xac", "\"\xe2\x82\xac\""},
      {"four-byte UTF-8, highest", "\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},
      {"latin-1 byte", "caf\xe9", R"("caf\udce9")"},
      {"stray continuation", "\x80x\xbf", R"("\udc80x\udcbf")"},
      {"overlong two bytes", "\xc0\xaf\xc1\xbf", R"("\udcc0\udcaf\udcc1\udcbf")"},
      {"overlong three bytes", "\xe0\x80\xaf", R"("\udce0\udc80\udcaf")"},
      {"overlong four bytes", "\xf0\x8f\xbf\xbf", R"("\udcf0\udc8f\udcbf\udcbf")"},
      {"encoded surrogate", "\xed\xa0\x80", R"("\udced\udca0\udc80")"},
      {"above U+10FFFF", "\xf4\x90\x80\x80\xf5", R"("\udcf4\udc90\udc80\udc80\udcf5")"},
      {"cut short, then valid", "\xe2\x82\xe2\x82\xac", "\"\\udce2\\udc82\xe2\x82\xac\""},
      {"cut short at the end", "ab\xf0\x9f\x98", R"("ab\udcf0\udc9f\udc98")"},
      {"0xfe and 0xff", "\xfe\xff", R"("\udcfe\udcff")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(quoted(c.bytes), c.json);
  }
}

TEST(JsonWriter, SeparatorsAndNumbers) {
  json_writer_t line;
  line.begin_object();
  line.member("max", UINT64_MAX);
  line.key("min");
  line.signed_number(INT64_MIN);
  line.address_member("pc", 0x1000);
  line.address_member("zero", 0);
  line.key("list");
  line.begin_array();
  line.begin_object();
  line.end_object();
  line.begin_array();
  line.end_array();
  line.number(0);
  line.hex_string(UINT64_MAX);
  line.boolean(true);
  line.boolean(false);
  line.null();
  line.end_array();
  line.member("name", "x");
  line.end_object();
  EXPECT_EQ(line.text(),
            R"({"max":18446744073709551615,"min":-9223372036854775808,"pc":4096,)"
            R"("pc_hex":"0x1000","zero":0,"zero_hex":"0x0",)"
            R"("list":[{},[],0,"0xffffffffffffffff",true,false,null],"name":"x"})");

  line.clear();
  line.begin_array();
  line.number(1);
  line.end_array();
  EXPECT_EQ(line.text(), "[1]");
}

// Names past the length that members are composed in one piece for take
// the long way, with the same text.
TEST(JsonWriter, LongNamesAndKeptValues) {
  const std::string name32(32, 'a');
  const std::string name33(33, 'b');
  json_writer_t line;
  line.begin_object();
  line.address_member(name32.c_str(), UINT64_MAX);
  line.address_member(name33.c_str(), 1);
  line.member(name33.c_str(), UINT64_MAX);
  line.key(name33.c_str(), name32.c_str());
  line.number(2);
  line.end_object();
  EXPECT_EQ(line.text(), "{\"" + name32 + "\":18446744073709551615,\"" + name32 +
                             "_hex\":\"0xffffffffffffffff\",\"" + name33 + "\":1,\"" + name33 +
                             "_hex\":\"0x1\",\"" + name33 + "\":18446744073709551615,\"" + name33 +
                             name32 + "\":2}");

  // A value kept from another writer goes in with the commas around it.
  json_writer_t kept;
  kept.begin_object();
  kept.member("module", "[heap]");
  kept.end_object();
  line.clear();
  line.begin_array();
  line.raw_value(kept.text());
  line.raw_value(kept.text());
  line.begin_object();
  line.key("pc_sym");
  line.raw_value(kept.text());
  line.member("n", 1);
  line.end_object();
  line.end_array();
  EXPECT_EQ(line.text(),
            R"([{"module":"[heap]"},{"module":"[heap]"},{"pc_sym":{"module":"[heap]"},"n":1}])");
}

TEST(JsonWriter, RealsReadBackExactly) {
  const struct {
    double value;
    const char* json;
  } cases[] = {
      {0.0, "0.0"},        {2.5, "2.5"},        {50.0, "50.0"},
      {-0.125, "-0.125"},  {100.0 / 3.0, "33.333333333333336"},
      {1e300, "1e+300"},   {std::numeric_limits<double>::infinity(), "null"},
      {std::nan(""), "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    json_writer_t line;
    line.real(c.value);
    EXPECT_EQ(line.text(), c.json);
  }
}

// A streaming writer hands its text on in pieces while a value of any size
// is written, and never holds more than a spill's worth plus one token.
TEST(JsonWriter, StreamsLongLinesWithoutHoldingThem) {
  std::ostringstream out;
  json_writer_t json(&out);
  size_t most_held = 0;
  json.begin_object();
  json.key("list");
  json.begin_array();
  for (uint64_t i = 0; i < 100000; ++i) {
    json.number(i);
    most_held = std::max(most_held, json.text().size());
  }
  json.end_array();
  json.end_object();
  json.end_line();
  json.begin_array();
  json.end_array();
  json.end_line();
  EXPECT_TRUE(json.text().empty());
  EXPECT_LE(most_held, 65 * 1024u);

  std::string expected = "{\"list\":[";
  for (uint64_t i = 0; i < 100000; ++i) expected += (i ? "," : "") + std::to_string(i);
  expected += "]}\n[]\n";
  EXPECT_EQ(out.str(), expected);
}

}  // namespace
