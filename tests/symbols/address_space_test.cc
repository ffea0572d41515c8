// The address space: mappings replaced in part or whole by later ones,
// removed by munmap, split where a change falls inside; lookups at the
// current point of the stream; special names; the limits.

#include <sstream>
#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "events/qnt_events.h"
#include "support/warning_consumer.h"
#include "symbols/address_space.h"

using namespace velkor::library;

namespace {

// "start-end module+offset" per mapping, in address order, hexadecimal.
std::string layout(const address_space_t& space) {
  std::ostringstream text;
  for (const mapping_t& m : space.mappings()) {
    text << std::hex << m.start << "-" << m.end << " " << space.module(m.module).path << "+"
         << m.file_offset << "; ";
  }
  return text.str();
}

struct change_t {
  bool map;  // else unmap
  uint64_t start;
  uint64_t size;
  uint64_t offset;
  const char* path;
};

struct layout_case_t {
  const char* name;
  std::vector<change_t> changes;
  std::string layout;
};

TEST(AddressSpace, LaterChangesReplaceWhatTheyCover) {
  const change_t app = {true, 0x1000, 0x3000, 0x100000, "/bin/app"};
  const layout_case_t cases[] = {
      {"one mapping", {app}, "1000-4000 /bin/app+100000; "},
      {"size 0 changes nothing", {app, {true, 0x2000, 0, 0, "/x"}, {false, 0x2000, 0, 0, ""}},
       "1000-4000 /bin/app+100000; "},
      {"the same range again replaces it", {app, {true, 0x1000, 0x3000, 0, "/lib/b"}},
       "1000-4000 /lib/b+0; "},
      {"a larger one swallows it", {app, {true, 0x800, 0x4000, 0, "/lib/b"}},
       "800-4800 /lib/b+0; "},
      {"inside: split in two, the upper part keeps its file offsets",
       {app, {true, 0x2000, 0x1000, 0, "/lib/b"}},
       "1000-2000 /bin/app+100000; 2000-3000 /lib/b+0; 3000-4000 /bin/app+102000; "},
      {"over the lower end", {app, {true, 0x0, 0x2000, 0x40, "/lib/b"}},
       "0-2000 /lib/b+40; 2000-4000 /bin/app+101000; "},
      {"over the upper end", {app, {true, 0x3000, 0x2000, 0, "/lib/b"}},
       "1000-3000 /bin/app+100000; 3000-5000 /lib/b+0; "},
      {"across two", {app, {true, 0x5000, 0x2000, 0, "/lib/c"}, {true, 0x3800, 0x2000, 0, "/lib/b"}},
       "1000-3800 /bin/app+100000; 3800-5800 /lib/b+0; 5800-7000 /lib/c+800; "},
      {"touching neighbours stay", {app, {true, 0x4000, 0x1000, 0, "/lib/b"}, {true, 0, 0x1000, 0, "/lib/c"}},
       "0-1000 /lib/c+0; 1000-4000 /bin/app+100000; 4000-5000 /lib/b+0; "},
      {"munmap of all", {app, {false, 0x1000, 0x3000, 0, nullptr}}, ""},
      {"munmap of the middle", {app, {false, 0x2000, 0x1000, 0, nullptr}},
       "1000-2000 /bin/app+100000; 3000-4000 /bin/app+102000; "},
      {"munmap over the ends of two",
       {app, {true, 0x4000, 0x2000, 0, "/lib/b"}, {false, 0x3000, 0x2000, 0, nullptr}},
       "1000-3000 /bin/app+100000; 5000-6000 /lib/b+1000; "},
      {"munmap where nothing is", {app, {false, 0x8000, 0x1000, 0, nullptr}},
       "1000-4000 /bin/app+100000; "},
      {"an end past 2^64 stops at 2^64-1", {{true, 0xfffffffffffff000, 0x2000, 0, "/x"}},
       "fffffffffffff000-ffffffffffffffff /x+0; "},
      {"munmap past 2^64", {app, {false, 0x2000, UINT64_MAX, 0, nullptr}},
       "1000-2000 /bin/app+100000; "},
  };
  for (const layout_case_t& c : cases) {
    SCOPED_TRACE(c.name);
    address_space_t space;
    for (const change_t& change : c.changes) {
      if (change.map) {
        space.map(change.start, change.size, change.offset, change.path);
      } else {
        space.unmap(change.start, change.size);
      }
    }
    EXPECT_EQ(layout(space), c.layout);
  }
}

// Lookups follow the stream: a pc in a mapping replaced mid-stream belongs to
// the new module from then on, to none after munmap. The cached last hit
// must not outlive a change.
TEST(AddressSpace, LookupsSeeTheMappingsInForceNow) {
  address_space_t space;
  qnt_event_mmap_t mmap;
  mmap.address = 0x400000;
  mmap.size = 0x10000;
  mmap.offset = 0x2000;
  mmap.filename = "/bin/app";
  EXPECT_TRUE(space.observe(mmap));
  qnt_event_sample_period_t other;
  EXPECT_FALSE(space.observe(other));

  const mapping_t* m = space.find(0x401234);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(space.module(m->module).path, "/bin/app");
  EXPECT_EQ(mapping_file_offset(*m, 0x401234), 0x3234u);
  EXPECT_EQ(space.find(0x3fffff), nullptr);
  EXPECT_EQ(space.find(0x410000), nullptr);
  EXPECT_NE(space.find(0x40ffff), nullptr);

  uint64_t generation = space.generation();
  mmap.address = 0x401000;
  mmap.size = 0x1000;
  mmap.offset = 0;
  mmap.filename = "/lib/jit.so";
  space.observe(mmap);
  EXPECT_GT(space.generation(), generation);
  m = space.find(0x401234);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(space.module(m->module).path, "/lib/jit.so");
  EXPECT_EQ(mapping_file_offset(*m, 0x401234), 0x234u);
  m = space.find(0x402000);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(space.module(m->module).path, "/bin/app");
  EXPECT_EQ(mapping_file_offset(*m, 0x402000), 0x4000u);

  qnt_event_munmap_t munmap;
  munmap.address = 0x400000;
  munmap.size = 0x10000;
  EXPECT_TRUE(space.observe(munmap));
  EXPECT_EQ(space.find(0x402000), nullptr);
  EXPECT_EQ(space.find(0x401234), nullptr);
  EXPECT_EQ(space.mapping_count(), 0u);
  // Modules keep their ids after their mappings are gone.
  EXPECT_EQ(space.module_count(), 2u);
  module_id_t id;
  ASSERT_TRUE(space.intern("/lib/jit.so", &id));
  EXPECT_EQ(space.module(id).path, "/lib/jit.so");
}

TEST(AddressSpace, SpecialNamesAreNeverOpened) {
  const struct {
    const char* path;
    bool openable;
  } cases[] = {
      {"/usr/lib/x86_64-linux-gnu/libc.so.6", true},
      {"/opt/app/bin/app", true},
      {"[heap]", false},
      {"[stack]", false},
      {"[vdso]", false},
      {"[vsyscall]", false},
      {"[anon:libc_malloc]", false},
      {"", false},
      {"//anon", false},
      {"/anon_hugepage (deleted)", false},
      {"/dev/zero (deleted)", false},
      {"/dev/dri/card0", false},
      {"/memfd:wayland-shm (deleted)", false},
      {"/SYSV00000000 (deleted)", false},
      {"/tmp/app (deleted)", false},
      {"anon_inode:[perf_event]", false},
      {"app", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(is_openable_module_path(c.path), c.openable);
    address_space_t space;
    space.map(0x1000, 0x1000, 0, c.path);
    const mapping_t* m = space.find(0x1800);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(space.module(m->module).path, c.path);
    EXPECT_EQ(space.module(m->module).openable, c.openable);
  }
}

// Past either limit a new mapping only clears its range (its addresses then
// lie outside every mapping, never in an older module), with one warning.
TEST(AddressSpace, LimitsBoundMemory) {
  auto warnings = boost::make_shared<warning_consumer_string_t>();
  address_space_t space(warnings, /*max_mappings=*/3, /*max_modules=*/2);
  space.map(0x1000, 0x1000, 0, "/a");
  space.map(0x2000, 0x1000, 0, "/b");
  space.map(0x3000, 0x1000, 0, "/c");  // a third name
  EXPECT_EQ(space.find(0x3000), nullptr);
  space.map(0x3000, 0x1000, 0, "/a");
  space.map(0x4000, 0x1000, 0, "/a");  // a fourth mapping
  EXPECT_EQ(space.find(0x4000), nullptr);
  space.map(0x1000, 0x1000, 0, "/c");  // replaces one, and its name is refused
  EXPECT_EQ(space.find(0x1000), nullptr);
  EXPECT_EQ(layout(space), "2000-3000 /b+0; 3000-4000 /a+0; ");
  space.map(0x1000, 0x1000, 0, "/b");
  space.unmap(0x2400, 0x100);  // a split would need a fourth
  EXPECT_EQ(layout(space), "1000-2000 /b+0; 2000-2400 /b+0; 3000-4000 /a+0; ");
  EXPECT_EQ(warnings->get_messages(),
            "Warning: The recording maps more than 2 distinct module names; addresses in the "
            "mappings past that are shown as outside every mapping.\n");
}

}  // namespace
