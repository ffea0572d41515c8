#include "support/vk_alloc.h"
#include "support/version_info.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

// Under AddressSanitizer an impossible allocation must come back as null, as it
// does in a normal build, so that the wrappers' own failure path runs.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

TEST(Allocation, StrndupCopiesAtMostN) {
  struct {
    const char* s;
    size_t n;
    const char* expected;
  } cases[] = {{"abcdef", 3, "abc"}, {"abcdef", 10, "abcdef"}, {"abcdef", 0, ""},
               {"ab\0cd", 5, "ab"}};
  for (const auto& c : cases) {
    char* copy = vk_strndup(c.s, c.n);
    EXPECT_STREQ(copy, c.expected);
    vk_free(copy);
  }
  // The source need not be terminated within n bytes.
  const char unterminated[3] = {'x', 'y', 'z'};
  char* copy = vk_strndup(unterminated, 3);
  EXPECT_STREQ(copy, "xyz");
  vk_free(copy);
}

TEST(Allocation, SuccessfulCallsReturnUsableMemory) {
  char* p = static_cast<char*>(vk_malloc(16));
  strcpy(p, "hello");
  p = static_cast<char*>(vk_realloc(p, 4096));
  EXPECT_STREQ(p, "hello");
  char* d = vk_strdup(p);
  EXPECT_STREQ(d, "hello");
  vk_free(d);
  vk_free(p);
  vk_free(NULL);
}

TEST(AllocationDeathTest, FailureWritesMessageAndExitsWithOne) {
  volatile size_t huge = SIZE_MAX - 16;
  EXPECT_EXIT(vk_malloc(huge), ::testing::ExitedWithCode(1),
              "Error: malloc failed, exiting\n$");
  EXPECT_EXIT(vk_realloc(NULL, huge), ::testing::ExitedWithCode(1),
              "Error: realloc failed, exiting\n$");
}

TEST(Allocation, ReallocToZeroNeverReports) {
  ::testing::internal::CaptureStderr();
  void* p = vk_realloc(vk_malloc(8), 0);
  vk_free(p);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(VersionInfo, DeliveredStrings) {
  EXPECT_STREQ(version_id_path, "$Id: unknown path $");
  EXPECT_STREQ(version_id_version, "$Id: unknown version $");
  EXPECT_STREQ(version_id_product, "$Id: loomview 2012.1.1 $");
}

TEST(VersionInfo, WordsCutToBufferLength) {
  struct {
    void (*get)(char*, int);
    int len;
    const char* expected;
  } cases[] = {
      {version_get_svnversion, 20, "unknown"},
      {version_get_svnversion, 4, "unk"},
      {version_get_svnversion, 1, ""},
      {version_get_svnpath, 20, "unknown"},
      {version_get_svnpath_last_component, 20, "unknown"},
      {version_get_svnpath_last_component, 4, "unk"},
  };
  for (const auto& c : cases) {
    char buf[32];
    memset(buf, 'x', sizeof(buf));
    c.get(buf, c.len);
    EXPECT_STREQ(buf, c.expected) << "len " << c.len;
  }
}

TEST(VersionInfo, OtherIdTexts) {
  const char* saved_version = version_id_version;
  const char* saved_path = version_id_path;
  version_id_version = "$Id: 4711 $";
  version_id_path = "$Id: trunk/tools/sample_stats $";
  char buf[20];
  version_get_svnversion(buf, sizeof(buf));
  EXPECT_STREQ(buf, "4711");
  version_get_svnpath(buf, sizeof(buf));
  EXPECT_STREQ(buf, "trunk/tools/sample_");  // cut to 19 characters
  version_get_svnpath_last_component(buf, sizeof(buf));
  EXPECT_STREQ(buf, "sample_stats");
  version_id_version = saved_version;
  version_id_path = saved_path;
}

}  // namespace
