#include "support/exe_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace fs = boost::filesystem;
using namespace velkor;

namespace {

TEST(ExePath, InstallationLayouts) {
  testkit::temp_dir_t tmp;
  fs::path prefix = tmp.path();
  fs::create_directories(prefix / "bin");
  fs::create_directories(prefix / "lib" / "loomview");
  fs::create_directories(prefix / "tools");
  fs::create_directories(prefix / "other");

  EXPECT_EQ(exe_path::installation_directory_of(prefix / "bin" / "tool"), prefix);
  EXPECT_EQ(exe_path::installation_directory_of(prefix / "lib" / "loomview" / "tool"), prefix);
  EXPECT_EQ(exe_path::installation_directory_of(prefix / "tools" / "tool"), fs::path());
  // Case matters.
  EXPECT_EQ(exe_path::installation_directory_of(prefix / "BIN" / "tool"), fs::path());

  fs::create_directories(prefix / "share");
  EXPECT_EQ(exe_path::installation_directory_of(prefix / "tools" / "tool"), prefix);
  // A plain file named share does not count.
  testkit::write_file((prefix / "other" / "share").string(), "");
  EXPECT_EQ(exe_path::installation_directory_of(prefix / "other" / "x" / "tool"), fs::path());
}

TEST(ExePath, ExecutableIsThisProgram) {
  fs::path exe = exe_path::get_executable_filename();
  EXPECT_TRUE(fs::equivalent(exe, "/proc/self/exe"));
  exe_path::get_installation_directory();  // must not throw for this layout
}

TEST(ExePath, TempPathFollowsEnvironment) {
  const char* saved = getenv("LOOMVIEW_TMPDIR");
  std::string saved_value = saved ? saved : "";
  setenv("LOOMVIEW_TMPDIR", "/does/not/exist", 1);
  EXPECT_EQ(exe_path::get_temp_path(), fs::path("/does/not/exist"));
  setenv("LOOMVIEW_TMPDIR", "", 1);
  EXPECT_EQ(exe_path::get_temp_path(), fs::path());
  unsetenv("LOOMVIEW_TMPDIR");
  EXPECT_EQ(exe_path::get_temp_path(), fs::temp_directory_path());
  if (saved) setenv("LOOMVIEW_TMPDIR", saved_value.c_str(), 1);
}

TEST(ExePath, CreateFileExclusively) {
  testkit::temp_dir_t tmp;
  std::string path = tmp.file("lock");
  EXPECT_TRUE(exe_path::create_file_fail_if_exists(path));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);
  testkit::write_file(path, "keep");
  EXPECT_FALSE(exe_path::create_file_fail_if_exists(path));
  EXPECT_EQ(testkit::read_file(path), "keep");
  try {
    exe_path::create_file_fail_if_exists(tmp.file("missing/dir/file"));
    FAIL() << "expected a filesystem_error";
  } catch (const fs::filesystem_error& e) {
    EXPECT_NE(std::string(e.what()).find("creat"), std::string::npos) << e.what();
    EXPECT_EQ(e.code().value(), ENOENT);
  }
}

TEST(ExePath, FopenReportsThroughErrno) {
  errno = 0;
  EXPECT_EQ(exe_path::fopen("/does/not/exist", "rb"), (FILE*)NULL);
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
