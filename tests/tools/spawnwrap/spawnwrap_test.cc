// Runs the built launcher with real children (small shell scripts) and looks
// at what they see and at what the launcher reports. The launcher never ends
// by itself: every test waits for its last message with a time limit and then
// kills its whole process group.
#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/background_program.h"
#include "support/test_support.h"

namespace {

using velkor::testkit::background_program_t;
using velkor::testkit::bin_path;
using velkor::testkit::process_info_t;
using velkor::testkit::processes_in_group;

const char kFinal[] = "You may now close the xterm.\n";
const double kLimit = 20;  // seconds; generous for loaded sanitizer runs

std::vector<std::string> launcher(const std::vector<std::string>& args) {
  std::vector<std::string> argv{bin_path("spawnwrap")};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

// The launcher's children, as /proc shows them.
std::vector<process_info_t> children_of(const background_program_t& program) {
  std::vector<process_info_t> children;
  for (const process_info_t& p : processes_in_group(program.pid())) {
    if (p.parent == program.pid()) children.push_back(p);
  }
  return children;
}

TEST(Spawnwrap, ReportsHowTheChildEnded) {
  struct {
    const char* name;
    std::vector<std::string> args;
    std::string err;  // before the final message
  } cases[] = {
      {"exit status", {"/lib", "sh", "-c", "exit 3"}, "sh exited with status 3.\n"},
      {"no child arguments", {"/lib", "true"}, "true exited with status 0.\n"},
      {"highest exit status, program named as given",
       {"/lib", "/bin/sh", "-c", "exit 255"},
       "/bin/sh exited with status 255.\n"},
      {"killed by a signal", {"/lib", "sh", "-c", "kill -9 $$"},
       "sh caught an unhandled signal: 9.\n"},
      // The child's argument vector is the launcher's from position 2 on,
      // blanks and empty arguments included.
      {"argument vector",
       {"/lib", "sh", "-c", "tr '\\0' '|' < /proc/$$/cmdline >&2", "zero", "a b", ""},
       "sh|-c|tr '\\0' '|' < /proc/$$/cmdline >&2|zero|a b||sh exited with status 0.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    background_program_t program(launcher(c.args));
    ASSERT_TRUE(program.wait_for_err(kFinal, kLimit)) << program.err();
    // Still there after the final message, and with nothing more to say.
    EXPECT_FALSE(program.wait_for_exit(0.2));
    EXPECT_EQ(program.err(), c.err + kFinal);
    EXPECT_EQ(program.out(), "");
    EXPECT_TRUE(children_of(program).empty());
    EXPECT_TRUE(program.stop());
  }
}

TEST(Spawnwrap, SetsOrRemovesLibraryPathOfChild) {
  const char* kUnset = "\x01unset";
  struct {
    const char* inherited;  // the launcher's own LD_LIBRARY_PATH
    const char* argument;
    const char* seen;  // by the child
  } cases[] = {
      {"/preset/lib", "(null)", "unset"},
      {kUnset, "(null)", "unset"},
      {"/preset/lib", "(null", "[(null]"},
      {"/preset/lib", "(null)/lib", "[(null)/lib]"},
      {"/preset/lib", "(NULL)", "[(NULL)]"},
      {"/preset/lib", "", "[]"},
      {kUnset, "", "[]"},
      {"/preset/lib", "/opt/a/lib:/opt/b/lib", "[/opt/a/lib:/opt/b/lib]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("argument '") + c.argument + "'");
    background_program_t program(
        launcher({c.argument, "sh", "-c",
                  "if [ \"${LD_LIBRARY_PATH+set}\" ]; then printf '[%s]' \"$LD_LIBRARY_PATH\";"
                  " else printf unset; fi >&2"}),
        {{"LD_LIBRARY_PATH", c.inherited}});
    ASSERT_TRUE(program.wait_for_err(kFinal, kLimit)) << program.err();
    EXPECT_EQ(program.err(), std::string(c.seen) + "sh exited with status 0.\n" + kFinal);
  }
}

// The child reports the failed exec itself and then behaves like the launcher
// after a run: final message, endless sleep. The launcher keeps waiting for it.
TEST(Spawnwrap, UnexecutableProgramLeavesLauncherAndChildUntilKilled) {
  struct {
    const char* program;
    const char* error;
  } cases[] = {
      {"vk-no-such-program", "No such file or directory"},  // looked up along PATH
      {"/nonexistent/program", "No such file or directory"},
      {"/", "Permission denied"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.program);
    background_program_t program(launcher({"/lib", c.program, "an argument"}));
    ASSERT_TRUE(program.wait_for_err(kFinal, kLimit)) << program.err();
    EXPECT_FALSE(program.wait_for_exit(0.2));
    EXPECT_EQ(program.err(), std::string("spawnwrap: failed to execute '") + c.program + "', " +
                                 c.error + "\n" + kFinal);
    EXPECT_EQ(program.out(), "");

    std::vector<process_info_t> group = processes_in_group(program.pid());
    ASSERT_EQ(group.size(), 2u);
    EXPECT_EQ(group[0].pid, program.pid());
    EXPECT_EQ(group[1].parent, program.pid());
    for (const process_info_t& p : group) {
      EXPECT_EQ(p.name, "spawnwrap");
      EXPECT_NE(p.state, 'Z') << p.pid;
    }
    EXPECT_TRUE(program.stop());
    EXPECT_TRUE(processes_in_group(program.pid()).empty());
  }
}

// An interrupt from the terminal goes to the whole group: it ends the child
// (which starts with the launcher's own default disposition) but not the
// launcher, which reports it. Once the report is out, an interrupt ends the
// launcher again.
TEST(Spawnwrap, InterruptEndsTheChildButNotTheLauncher) {
  background_program_t program(launcher({"/lib", "sleep", "60"}));
  bool sleeping = false;
  for (int i = 0; i < 2000 && !sleeping; ++i) {
    for (const process_info_t& p : children_of(program)) sleeping |= p.name == "sleep";
    if (!sleeping) program.wait_for_exit(0.01);
  }
  ASSERT_TRUE(sleeping) << program.err();

  program.signal_group(SIGINT);
  ASSERT_TRUE(program.wait_for_err(kFinal, kLimit)) << program.err();
  EXPECT_EQ(program.err(), std::string("sleep caught an unhandled signal: 2.\n") + kFinal);

  program.signal_program(SIGINT);
  ASSERT_TRUE(program.wait_for_exit(kLimit));
  EXPECT_EQ(program.signal(), SIGINT);
}

TEST(Spawnwrap, TooFewArgumentsExitWithOne) {
  const std::vector<std::vector<std::string>> cases = {{}, {"/lib"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(args.size());
    velkor::testkit::run_options_t options;
    options.timeout_seconds = kLimit;
    velkor::testkit::run_result_t result = velkor::testkit::run_program(launcher(args), options);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.err, "spawnwrap: too few arguments\n");
    EXPECT_EQ(result.out, "");
  }
}

// Alone, "--version" could only be the library path with no program to run.
TEST(Spawnwrap, VersionAloneGoesToStandardOutput) {
  velkor::testkit::run_options_t options;
  options.timeout_seconds = kLimit;
  velkor::testkit::run_result_t result =
      velkor::testkit::run_program(launcher({"--version"}), options);
  EXPECT_EQ(result.exit_status, 0);
  std::string why;
  EXPECT_TRUE(velkor::testkit::is_version_line(result.out, "spawnwrap", &why)) << why;
  EXPECT_EQ(result.err, "");
}

TEST(Spawnwrap, CarriesIdentificationStrings) {
  const std::string binary = velkor::testkit::read_file(bin_path("spawnwrap"));
  for (const char* id : {"$Id: unknown path $", "$Id: unknown version $",
                         "$Id: loomview 2012.1.1 $"}) {
    EXPECT_NE(binary.find(id), std::string::npos) << id;
  }
}

TEST(Spawnwrap, LinksOnlyTheCLibrary) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "sanitizer builds link their runtimes";
#else
  velkor::testkit::run_result_t ldd =
      velkor::testkit::run_program({"/usr/bin/ldd", bin_path("spawnwrap")});
  ASSERT_EQ(ldd.exit_status, 0) << ldd.err;
  std::istringstream lines(ldd.out);
  std::string library;
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    std::istringstream(line) >> library;
    library = library.substr(library.rfind('/') + 1);
    EXPECT_TRUE(library.rfind("linux-vdso.so.", 0) == 0 || library.rfind("libc.so.", 0) == 0 ||
                library.rfind("ld-linux-", 0) == 0)
        << line;
    ++count;
  }
  EXPECT_GT(count, 0);
#endif
}

}  // namespace
