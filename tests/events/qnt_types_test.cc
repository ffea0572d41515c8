#include "events/qnt_types.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_set>

#include <gtest/gtest.h>

#include "events/quenth.h"

using namespace velkor::library;

namespace {

static_assert(sizeof(qnt_address_t) == 8 && std::is_trivially_copyable<qnt_address_t>::value,
              "addresses are one plain 64-bit value");
static_assert(sizeof(qnt_thread_id_t) == 4 && std::is_trivially_copyable<qnt_thread_id_t>::value,
              "thread ids are one plain 32-bit value");

// ---- Access types ------------------------------------------------------------

struct access_type_case_t {
  unsigned type;
  const char* name;
  unsigned classes;
  // is_read(false), is_read(true), is_write(false), is_write(true),
  // is_prefetch(), is_proper()
  const char* methods;
  // filters any, rd, wr, wr_wrnta, rw, pf applied to the classes
  const char* filters;
};

const access_type_case_t access_type_cases[] = {
    {0, "RD", 1, "110001", "110010"},
    {1, "WR", 2, "001101", "101110"},
    {2, "PF", 5, "010010", "100001"},
    {3, "RDWR", 3, "111101", "111110"},
    {4, "PF_AMD", 5, "010010", "100001"},
    {5, "PF_AMD_W", 6, "000110", "100001"},
    {6, "PF_Intel_NTA", 13, "010010", "100001"},
    {7, "PF_Intel_T0", 5, "010010", "100001"},
    {8, "PF_Intel_T1", 5, "010010", "100001"},
    {9, "PF_Intel_T2", 5, "010010", "100001"},
    {10, "CLFLUSH", 16, "000000", "100000"},
    {11, "NTA_RD", 9, "110001", "110010"},
    {12, "NTA_WR", 10, "001101", "100100"},
    // A damaged file can carry any byte: a placeholder name, no classes.
    {13, "UNKNOWN", 0, "000000", "100000"},
    {200, "UNKNOWN", 0, "000000", "100000"},
    {255, "UNKNOWN", 0, "000000", "100000"},
};

std::string bits(std::initializer_list<bool> values) {
  std::string s;
  for (bool v : values) s += v ? '1' : '0';
  return s;
}

TEST(AccessTypes, NamesClassesMethodsAndFilters) {
  for (const access_type_case_t& c : access_type_cases) {
    SCOPED_TRACE(c.type);
    qnt_access_type_t type = qnt_access_type_t(c.type);
    EXPECT_STREQ(get_access_type_str(type), c.name);
    qnt_access_classes_t classes = get_access_classes(type);
    EXPECT_EQ(unsigned(classes), c.classes);

    qnt_sample_access_t access;
    access.access_type = type;
    EXPECT_EQ(bits({access.is_read(false), access.is_read(true), access.is_write(false),
                    access.is_write(true), access.is_prefetch(), access.is_proper()}),
              c.methods);

    const qnt_access_filter_t filters[] = {qnt_access_filter_any, qnt_access_filter_rd,
                                           qnt_access_filter_wr, qnt_access_filter_wr_wrnta,
                                           qnt_access_filter_rw, qnt_access_filter_pf};
    std::string filter_bits;
    for (qnt_access_filter_t f : filters) filter_bits += f(classes) ? '1' : '0';
    EXPECT_EQ(filter_bits, c.filters);
  }
}

TEST(AccessTypes, NamedConstantsMatchTheTable) {
  EXPECT_STREQ(get_access_type_str(qnt_access_rd), "RD");
  EXPECT_STREQ(get_access_type_str(qnt_access_pf_amd_w), "PF_AMD_W");
  EXPECT_STREQ(get_access_type_str(qnt_access_clflush), "CLFLUSH");
  EXPECT_STREQ(get_access_type_str(qnt_access_nta_wr), "NTA_WR");
  EXPECT_EQ(qnt_access_type_count, 13u);
  EXPECT_EQ(access_class_read | access_class_write | access_class_prefetch | access_class_nta |
                access_class_flush,
            31);
}

// ---- Prefetch classes and line sizes -------------------------------------------

TEST(PrefetchClasses, ExactCaseSensitiveLookup) {
  const struct {
    const char* name;
    unsigned value;
  } cases[] = {
      {"prefetch", 2},    {"prefetchw", 4},   {"prefetchnta", 8}, {"prefetcht0", 16},
      {"prefetcht1", 32}, {"prefetcht2", 64}, {"PREFETCHT2", 0},  {"Prefetch", 0},
      {"prefetcht", 0},   {"prefetch ", 0},   {"prefetcht22", 0}, {"", 0},
      {nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(null)");
    EXPECT_EQ(qnt_prefetch_class_by_name(c.name), c.value);
  }
}

TEST(LineSizes, ConvertedFromStoredLogarithm) {
  const struct {
    unsigned log;
    uint64_t bytes;
  } cases[] = {
      {0, 1},   {6, 64}, {12, 4096}, {63, uint64_t(1) << 63}, {64, 1},
      {70, 64}, {254, uint64_t(1) << 62}, {255, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.log);
    EXPECT_EQ(qnt_line_size_from_log(uint8_t(c.log)), c.bytes);
  }
}

// ---- Sizes with units ------------------------------------------------------------

TEST(NumberStrings, Parse) {
  const struct {
    const char* text;
    uint64_t value;
  } cases[] = {
      {"4096", 4096},
      {"64k", 65536},
      {"64K", 65536},
      {"2M", 2097152},
      {"2m", 2097152},
      {"1G", 1073741824},
      {"1g", 1073741824},
      {"3T", uint64_t(3) << 40},
      {"7p", uint64_t(7) << 50},
      {"1.5K", 1},          // the point ends the digits and is no unit
      {"K", 0},
      {"", 0},
      {"12KB", 12288},      // nothing after the unit is examined
      {"-5", 0},
      {" 5", 0},            // no blank skipping
      {"5 K", 5},           // the blank is the first non-digit
      {"7X", 7},
      {"007", 7},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", 0},  // 2^64 wraps
      {"18446744073709551617", 1},
      {"16384P", 0},                // 2^14 shifted by 50: every bit shifted out
      {"16385p", uint64_t(1) << 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(qnt_parse_num_string(c.text), c.value);
  }
}

TEST(NumberStrings, Format) {
  const struct {
    uint64_t value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {1, "1 B"},
      {1000, "1000 B"},
      {1023, "1023 B"},
      {1024, "1 kB"},
      {1536, "1.5 kB"},
      {1048575, "1024 kB"},  // 1023.999 rounds at six significant digits
      {1048576, "1 MB"},
      {uint64_t(3) << 30, "3 GB"},
      {uint64_t(1) << 40, "1 TB"},
      {(uint64_t(5) << 50) / 4, "1.25 PB"},
      {uint64_t(1) << 60, "1 EB"},
      {UINT64_MAX, "16 EB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(qnt_format_num_string(c.value), c.text);
  }
}

// ---- Addresses and thread ids as values -------------------------------------------

TEST(ScalarTypes, OrderedHashedAndComparedByValue) {
  const qnt_address_t high = uint64_t(1) << 63;
  std::set<qnt_address_t> set = {qnt_address_t(0x2000), high, qnt_address_t(0x1000)};
  std::vector<uint64_t> order(set.begin(), set.end());
  EXPECT_EQ(order, (std::vector<uint64_t>{0x1000, 0x2000, uint64_t(1) << 63}));

  std::map<qnt_address_t, int> counts;
  ++counts[0x1000];
  ++counts[qnt_address_t(0x1000)];
  EXPECT_EQ(counts.size(), 1u);
  EXPECT_EQ(counts[0x1000], 2);

  std::unordered_set<qnt_address_t> hashed = {1, 2, 2};
  EXPECT_EQ(hashed.size(), 2u);
  std::unordered_set<qnt_thread_id_t> threads = {7, 7};
  EXPECT_EQ(threads.size(), 1u);

  qnt_address_t a;  // zero by default
  qnt_thread_id_t t;
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(t, 0u);
  EXPECT_TRUE(qnt_address_t(5) < qnt_address_t(6));
  EXPECT_EQ(qnt_address_t(0x1000) + 4, uint64_t(0x1004));
  EXPECT_EQ(qnt_thread_id_t(3), qnt_thread_id_t(3));
}

TEST(SampleAccess, DefaultIsZeroAndEveryFieldCounts) {
  const qnt_sample_access_t zero;
  EXPECT_EQ(zero.pc, 0u);
  EXPECT_EQ(zero.addr, 0u);
  EXPECT_EQ(zero.time, 0u);
  EXPECT_EQ(zero.stack, 0u);
  EXPECT_EQ(zero.thread, 0u);
  EXPECT_EQ(zero.size, 0u);
  EXPECT_EQ(zero.access_type, 0u);

  const std::function<void(qnt_sample_access_t&)> changes[] = {
      [](qnt_sample_access_t& a) { a.pc = 1; },
      [](qnt_sample_access_t& a) { a.addr = 1; },
      [](qnt_sample_access_t& a) { a.time = 1; },
      [](qnt_sample_access_t& a) { a.stack = 1; },
      [](qnt_sample_access_t& a) { a.thread = 1; },
      [](qnt_sample_access_t& a) { a.size = 1; },
      [](qnt_sample_access_t& a) { a.access_type = 1; },
  };
  for (size_t i = 0; i < sizeof(changes) / sizeof(changes[0]); ++i) {
    SCOPED_TRACE(i);
    qnt_sample_access_t changed;
    changes[i](changed);
    EXPECT_FALSE(changed == zero);
    EXPECT_FALSE(zero == changed);
    EXPECT_TRUE(changed != zero);
    qnt_sample_access_t copy = changed;
    EXPECT_TRUE(copy == changed);
  }
}

}  // namespace
