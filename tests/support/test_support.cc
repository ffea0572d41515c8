#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <atomic>
#include <algorithm>

#include <boost/filesystem.hpp>

namespace velkor { namespace testkit {

using library::stream_status_t;

std::string hex(const std::string& text) {
  std::string out;
  int pending = -1;
  for (char c : text) {
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else if (c == ' ' || c == '\n' || c == '|' || c == '\t') continue;
    else throw std::invalid_argument(std::string("hex: bad character ") + c);
    if (pending < 0) {
      pending = v;
    } else {
      out += static_cast<char>(pending * 16 + v);
      pending = -1;
    }
  }
  if (pending >= 0) throw std::invalid_argument("hex: odd number of digits");
  return out;
}

std::string to_hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (i) out += ' ';
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

stream_status_t recording_stage_t::process_data(const char* data, size_t length) {
  int index = static_cast<int>(blocks.size());
  blocks.push_back(std::string(data, length));
  if (fail_at_block >= 0 && index >= fail_at_block) return status_for_block;
  return library::stream_status_ok;
}

stream_status_t recording_stage_t::flush() {
  ++flushes;
  return flush_status;
}

std::string recording_stage_t::joined() const {
  std::string all;
  for (const std::string& b : blocks) all += b;
  return all;
}

stream_status_t feed(library::stream_t* stage, const std::string& bytes, size_t block,
                     bool flush) {
  for (size_t pos = 0; pos < bytes.size(); pos += block) {
    size_t n = std::min(block, bytes.size() - pos);
    stream_status_t s = stage->process_data(bytes.data() + pos, n);
    if (s != library::stream_status_ok) return s;
  }
  return flush ? stage->flush() : library::stream_status_ok;
}

stream_status_t feed_random(library::stream_t* stage, const std::string& bytes, unsigned seed,
                            size_t max_block, bool flush) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<size_t> size(1, max_block);
  for (size_t pos = 0; pos < bytes.size();) {
    size_t n = std::min(size(gen), bytes.size() - pos);
    stream_status_t s = stage->process_data(bytes.data() + pos, n);
    if (s != library::stream_status_ok) return s;
    pos += n;
  }
  return flush ? stage->flush() : library::stream_status_ok;
}

temp_dir_t::temp_dir_t() {
  std::string pattern =
      (boost::filesystem::temp_directory_path() / "vk-test-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (mkdtemp(name.data()) == NULL) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

temp_dir_t::~temp_dir_t() {
  boost::system::error_code ec;
  boost::filesystem::remove_all(path_, ec);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::string bin_path(const std::string& name) { return std::string(VK_BIN_DIR) + "/" + name; }

std::string data_path(const std::string& name) {
  return std::string(VK_TEST_DATA_DIR) + "/" + name;
}

namespace {

double now_seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

run_result_t run_program(const std::vector<std::string>& argv, const run_options_t& options) {
  // Writing to a child that has gone must not kill the test: the write fails
  // with EPIPE instead. Set once for the whole test program, which may run
  // programs from several threads.
  static const bool pipe_ignored = [] {
    struct sigaction ignore_pipe;
    memset(&ignore_pipe, 0, sizeof(ignore_pipe));
    ignore_pipe.sa_handler = SIG_IGN;
    return sigaction(SIGPIPE, &ignore_pipe, NULL) == 0;
  }();
  (void)pipe_ignored;
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe2(in_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0 ||
      pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(NULL);
  // The child's environment is built here: between fork and exec only
  // async-signal-safe calls are made, since other threads may be running.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != NULL; ++e) {
    std::string entry(*e);
    std::string name = entry.substr(0, entry.find('='));
    if (options.env.count(name) == 0) env_strings.push_back(entry);
  }
  for (const auto& kv : options.env) {
    if (kv.second != "\x01unset") env_strings.push_back(kv.first + "=" + kv.second);
  }
  std::vector<char*> envp;
  for (std::string& e : env_strings) envp.push_back(&e[0]);
  envp.push_back(NULL);
  struct sigaction default_pipe;
  memset(&default_pipe, 0, sizeof(default_pipe));
  default_pipe.sa_handler = SIG_DFL;

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    setpgid(0, 0);
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0) {
      _exit(126);
    }
    sigaction(SIGPIPE, &default_pipe, NULL);
    execve(args[0], args.data(), envp.data());
    const char msg[] = "run_program: exec failed\n";
    ssize_t ignored = write(2, msg, sizeof(msg) - 1);
    (void)ignored;
    _exit(127);
  }
  setpgid(pid, pid);
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  set_nonblocking(in_pipe[1]);
  set_nonblocking(out_pipe[0]);
  set_nonblocking(err_pipe[0]);


  run_result_t result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (options.stdin_data.empty()) {
    close(in_fd);
    in_fd = -1;
  }
  int out_fd = out_pipe[0], err_fd = err_pipe[0];
  const double started = now_seconds();
  const double deadline = started + options.timeout_seconds;
  char buf[65536];
  while (out_fd >= 0 || err_fd >= 0) {
    double left = deadline - now_seconds();
    if (left <= 0) {
      result.timed_out = true;
      break;
    }
    struct pollfd fds[3];
    int n = 0;
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
    if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
    int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(left * 1000) + 1);
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in_fd) {
        ssize_t w = write(in_fd, options.stdin_data.data() + written,
                          options.stdin_data.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 && errno != EAGAIN) written = options.stdin_data.size();
        if (written == options.stdin_data.size()) {
          close(in_fd);
          in_fd = -1;
        }
      } else {
        int& fd = fds[i].fd == out_fd ? out_fd : err_fd;
        std::string& sink = fds[i].fd == out_fd ? result.out : result.err;
        ssize_t r = read(fd, buf, sizeof(buf));
        if (r > 0) {
          sink.append(buf, static_cast<size_t>(r));
        } else if (r == 0 || errno != EAGAIN) {
          close(fd);
          fd = -1;
        }
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  if (out_fd >= 0) close(out_fd);
  if (err_fd >= 0) close(err_fd);

  int status = 0;
  struct rusage usage;
  memset(&usage, 0, sizeof(usage));
  if (result.timed_out) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    wait4(pid, &status, 0, &usage);
  } else {
    // The output is closed; give the program the rest of its time to exit.
    for (;;) {
      pid_t r = wait4(pid, &status, WNOHANG, &usage);
      if (r == pid) break;
      if (now_seconds() > deadline) {
        result.timed_out = true;
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        break;
      }
      usleep(2000);
    }
  }
  result.max_rss_kb = usage.ru_maxrss;
  result.seconds = now_seconds() - started;
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}}  // namespace velkor::testkit

namespace velkor { namespace testkit {

std::vector<run_result_t> run_programs(const std::vector<program_run_t>& runs, unsigned jobs) {
  std::vector<run_result_t> results(runs.size());
  std::atomic<size_t> next(0);
  std::vector<std::thread> workers;
  for (unsigned j = 0; j < std::max(1u, jobs); ++j) {
    workers.emplace_back([&] {
      for (size_t i = next++; i < runs.size(); i = next++) {
        results[i] = run_program(runs[i].argv, runs[i].options);
      }
    });
  }
  for (std::thread& w : workers) w.join();
  return results;
}

}}  // namespace velkor::testkit

namespace velkor { namespace testkit {

bool is_version_line(const std::string& out, const std::string& program, std::string* why) {
  const std::string source = std::string(VK_TEST_DATA_DIR) + "/../..";
  run_result_t git =
      run_program({"/bin/sh", "-c", "git -C \"$0\" rev-parse --short=12 HEAD 2>/dev/null", source});
  std::string revision = git.exit_status == 0 ? git.out.substr(0, git.out.find('\n')) : "";
  const std::string plain = program + " 2012.1.1\n";
  if (revision.empty()) {
    if (out == plain) return true;
  } else {
    const std::string with = program + " 2012.1.1 (revision " + revision;
    if (out == with + ")\n" || out == with + "-modified)\n") return true;
  }
  *why = "'" + out + "' is not the version line of " + program + " at revision '" + revision + "'";
  return false;
}

}}  // namespace velkor::testkit

namespace velkor { namespace testkit {

run_result_t run_with_terminal_stderr(const std::vector<std::string>& argv,
                                      const run_options_t& options) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, NULL, NULL, NULL) != 0) throw std::runtime_error("openpty failed");
  // The program's stderr is the terminal: run it through a shell that puts
  // the terminal there and reads the rest as run_program does.
  std::vector<std::string> shell = {"/bin/sh", "-c", "exec \"$@\" 2>&" + std::to_string(slave),
                                    "sh"};
  shell.insert(shell.end(), argv.begin(), argv.end());
  run_result_t result;
  std::string terminal;
  std::thread reader([&terminal, master] {
    char buf[4096];
    for (;;) {
      ssize_t n = read(master, buf, sizeof(buf));
      if (n <= 0) break;  // EIO once every holder of the terminal has gone
      terminal.append(buf, static_cast<size_t>(n));
    }
  });
  // The slave must stay open across exec for the shell; the child inherits
  // it (it is not close-on-exec), this process lets go of it after the run.
  result = run_program(shell, options);
  close(slave);
  reader.join();
  close(master);
  result.err = terminal;
  return result;
}

}}  // namespace velkor::testkit
