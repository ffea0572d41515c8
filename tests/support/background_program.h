// Runs a built program in the background, for programs that do not end by
// themselves (the launcher sleeps until killed). The program gets its own
// process group and pipes for its standard streams; a test waits for texts on
// its standard error with a time limit and ends the whole group by its id.
// Whatever happens in the test, the destructor kills and reaps every process
// of the group, so none is left behind.
#ifndef TESTS_SUPPORT_BACKGROUND_PROGRAM_H_
#define TESTS_SUPPORT_BACKGROUND_PROGRAM_H_

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace velkor { namespace testkit {

// One process as /proc shows it.
struct process_info_t {
  pid_t pid = 0;
  pid_t parent = 0;
  char state = '?';  // 'R', 'S', 'Z' (ended, not yet reaped), ...
  std::string name;  // the executable's name, as the kernel keeps it
};

// Every process whose process group is `group`.
std::vector<process_info_t> processes_in_group(pid_t group);

class background_program_t {
 public:
  // Starts argv[0] (a path) with the rest as arguments, in a new process group
  // led by it. `env` changes the environment it inherits: a value of
  // "\x01unset" removes the variable (as for run_program). Every signal starts
  // with its default disposition and unblocked, whatever the test runner had.
  // While one is alive, this test process adopts the group's orphans, so that
  // it can reap them too.
  explicit background_program_t(const std::vector<std::string>& argv,
                                const std::map<std::string, std::string>& env = {});
  ~background_program_t();  // stop()

  // The program's process id, which is also the id of its process group.
  pid_t pid() const { return pid_; }

  // Collects standard output and error until standard error contains `text`,
  // both streams have ended, or `timeout_seconds` have passed. True when the
  // text arrived.
  bool wait_for_err(const std::string& text, double timeout_seconds);
  // Collects output until the program has ended by itself or the time limit
  // has passed; true when it ended. The program is not reaped here, so its id
  // stays reserved until stop().
  bool wait_for_exit(double timeout_seconds);
  // Closes the write end of the program's standard input.
  void close_stdin();

  // Sends `signal` to the program alone (not to its group).
  void signal_program(int signal);
  // Sends `signal` to every process of the group, as a terminal does.
  void signal_group(int signal);

  // Kills every process of the group, reaps them and waits a little until
  // /proc shows none of them; true when none is left. Idempotent.
  bool stop();

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  // How the program ended, once wait_for_exit() said it has: its exit code
  // (else -1) or the signal that ended it (else 0).
  int exit_status() const { return exit_status_; }
  int signal() const { return signal_; }

 private:
  background_program_t(const background_program_t&) = delete;
  background_program_t& operator=(const background_program_t&) = delete;

  // Reads whatever the program has written, waiting at most `wait_ms`.
  void collect(int wait_ms);
  bool ended();

  pid_t pid_ = -1;
  bool stopped_ = false;
  int in_fd_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string out_;
  std::string err_;
  int exit_status_ = -1;
  int signal_ = 0;
};

}}  // namespace velkor::testkit
#endif
