#include "support/background_program.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace velkor { namespace testkit {

namespace {

using clock_type = std::chrono::steady_clock;

clock_type::time_point deadline_after(double seconds) {
  return clock_type::now() + std::chrono::duration_cast<clock_type::duration>(
                                 std::chrono::duration<double>(seconds));
}

int ms_left(clock_type::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Programs alive in this test process. While there is one, the process adopts
// orphans of its descendants, so that a killed group's grandchildren come back
// to it to be reaped instead of waiting for the system's first process.
int programs_alive = 0;

bool adopt_orphans(bool on) {
  return prctl(PR_SET_CHILD_SUBREAPER, on ? 1UL : 0UL, 0UL, 0UL, 0UL) == 0;
}

}  // namespace

std::vector<process_info_t> processes_in_group(pid_t group) {
  std::vector<process_info_t> found;
  DIR* proc = opendir("/proc");
  if (proc == NULL) throw std::runtime_error("cannot list /proc");
  while (struct dirent* entry = readdir(proc)) {
    char* end = NULL;
    long pid = strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    // "pid (name) state parent group ..."; the name may hold blanks and
    // parentheses, so the fields after it start at the last ')'.
    std::ifstream stat_file("/proc/" + std::string(entry->d_name) + "/stat");
    std::string stat;
    if (!std::getline(stat_file, stat)) continue;  // it ended meanwhile
    size_t open = stat.find('(');
    size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) continue;
    std::istringstream rest(stat.substr(close + 1));
    process_info_t info;
    long parent = 0, process_group = 0;
    if (!(rest >> info.state >> parent >> process_group)) continue;
    if (process_group != group) continue;
    info.pid = static_cast<pid_t>(pid);
    info.parent = static_cast<pid_t>(parent);
    info.name = stat.substr(open + 1, close - open - 1);
    found.push_back(info);
  }
  closedir(proc);
  std::sort(found.begin(), found.end(),
            [](const process_info_t& a, const process_info_t& b) { return a.pid < b.pid; });
  return found;
}

background_program_t::background_program_t(const std::vector<std::string>& argv,
                                           const std::map<std::string, std::string>& env) {
  if (argv.empty()) throw std::invalid_argument("background_program_t: no program");

  // Everything the child needs is prepared before fork: between fork and
  // exec it only makes system calls.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(NULL);
  std::vector<std::string> environment;
  for (char** e = environ; *e != NULL; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    if (env.count(name) == 0) environment.push_back(entry);
  }
  for (const auto& kv : env) {
    if (kv.second != "\x01unset") environment.push_back(kv.first + "=" + kv.second);
  }
  std::vector<char*> envp;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(NULL);

  if (programs_alive == 0 && !adopt_orphans(true)) {
    throw std::runtime_error("prctl(PR_SET_CHILD_SUBREAPER) failed");
  }
  int pipes[3][2];
  int made = 0;
  while (made < 3 && pipe2(pipes[made], O_CLOEXEC) == 0) ++made;
  if (made == 3) pid_ = fork();
  if (made < 3 || pid_ < 0) {
    for (int i = 0; i < made; ++i) {
      close(pipes[i][0]);
      close(pipes[i][1]);
    }
    if (programs_alive == 0) adopt_orphans(false);
    throw std::runtime_error(made < 3 ? "pipe failed" : "fork failed");
  }
  int (&in_pipe)[2] = pipes[0];
  int (&out_pipe)[2] = pipes[1];
  int (&err_pipe)[2] = pipes[2];
  if (pid_ == 0) {
    setpgid(0, 0);
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    // Handlers are reset by exec anyway; ignored signals are not.
    for (int sig = 1; sig < NSIG; ++sig) {
      struct sigaction old;
      if (sigaction(sig, NULL, &old) == 0 && old.sa_handler == SIG_IGN) {
        struct sigaction dfl;
        memset(&dfl, 0, sizeof(dfl));
        dfl.sa_handler = SIG_DFL;
        sigaction(sig, &dfl, NULL);
      }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, NULL);
    execve(args[0], args.data(), envp.data());
    const char msg[] = "background_program_t: exec failed\n";
    ssize_t ignored = write(2, msg, sizeof(msg) - 1);
    (void)ignored;
    _exit(127);
  }
  ++programs_alive;
  // Also here, so that the group exists before the test signals it.
  setpgid(pid_, pid_);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  in_fd_ = in_pipe[1];
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  fcntl(out_fd_, F_SETFL, fcntl(out_fd_, F_GETFL) | O_NONBLOCK);
  fcntl(err_fd_, F_SETFL, fcntl(err_fd_, F_GETFL) | O_NONBLOCK);
}

background_program_t::~background_program_t() {
  stop();
  close_stdin();
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

void background_program_t::collect(int wait_ms) {
  struct pollfd fds[2];
  int n = 0;
  if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
  if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
  int ready = poll(fds, static_cast<nfds_t>(n), wait_ms);
  if (ready <= 0) return;
  char buf[4096];
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    int& fd = fds[i].fd == out_fd_ ? out_fd_ : err_fd_;
    std::string& sink = fds[i].fd == out_fd_ ? out_ : err_;
    for (;;) {
      ssize_t r = read(fd, buf, sizeof(buf));
      if (r > 0) {
        sink.append(buf, static_cast<size_t>(r));
        continue;
      }
      if (r < 0 && errno == EINTR) continue;
      if (r == 0 || errno != EAGAIN) {
        close(fd);
        fd = -1;
      }
      break;
    }
  }
}

bool background_program_t::wait_for_err(const std::string& text, double timeout_seconds) {
  const auto deadline = deadline_after(timeout_seconds);
  for (;;) {
    if (err_.find(text) != std::string::npos) return true;
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    int left = ms_left(deadline);
    if (left == 0) return false;
    collect(left);
  }
}

bool background_program_t::ended() {
  if (stopped_) return true;
  siginfo_t info;
  memset(&info, 0, sizeof(info));
  // WNOWAIT leaves the program unreaped: its id cannot be reused before stop()
  // has signalled the group.
  if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return false;
  }
  if (info.si_pid != pid_) return false;
  if (info.si_code == CLD_EXITED) {
    exit_status_ = info.si_status;
  } else {
    signal_ = info.si_status;
  }
  return true;
}

bool background_program_t::wait_for_exit(double timeout_seconds) {
  const auto deadline = deadline_after(timeout_seconds);
  for (;;) {
    if (ended()) return true;
    int left = ms_left(deadline);
    if (left == 0) return false;
    collect(std::min(left, 10));
  }
}

void background_program_t::close_stdin() {
  if (in_fd_ >= 0) close(in_fd_);
  in_fd_ = -1;
}

void background_program_t::signal_program(int signal) {
  if (!stopped_) kill(pid_, signal);
}

void background_program_t::signal_group(int signal) {
  if (!stopped_) kill(-pid_, signal);
}

bool background_program_t::stop() {
  if (stopped_) return processes_in_group(pid_).empty();
  stopped_ = true;
  // The leader is not reaped yet, so the group id still names this group.
  kill(-pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  // Members whose parent died came to this process; reap them as they go.
  const auto deadline = deadline_after(5);
  bool gone = false;
  for (;;) {
    while (waitpid(-pid_, &status, WNOHANG) > 0) {
    }
    gone = processes_in_group(pid_).empty();
    if (gone || ms_left(deadline) == 0) break;
    usleep(5000);
  }
  if (--programs_alive == 0) adopt_orphans(false);
  return gone;
}

}}  // namespace velkor::testkit
