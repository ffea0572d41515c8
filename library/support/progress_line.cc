#include "support/progress_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

namespace velkor { namespace library {

namespace {

const std::chrono::milliseconds redraw_every(250);

std::string mebibytes(uint64_t bytes) {
  char text[32];
  snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

std::unique_ptr<progress_line_t> progress_line_for(const std::string& path, int fd) {
  uint64_t size = 0;
  const bool size_known = input_size(path, &size);
  if (!progress_wanted(fd, size_known, size)) return nullptr;
  return std::unique_ptr<progress_line_t>(new progress_line_t(fd, size_known ? size : 0));
}

void warning_consumer_progress_t::warn(const warning_const_ptr_t& w) {
  if (progress_ != nullptr) progress_->clear();
  next_->warn(w);
}

bool input_size(const std::string& path, uint64_t* size) {
  struct stat st;
  int result = path.empty() || path == "-" ? fstat(STDIN_FILENO, &st) : stat(path.c_str(), &st);
  if (result != 0 || !S_ISREG(st.st_mode)) return false;
  *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool progress_wanted(int fd, bool size_known, uint64_t size) {
  if (isatty(fd) != 1) return false;
  return !size_known || size >= progress_least_size;
}

progress_line_t::progress_line_t(int fd, uint64_t total)
    : fd_(fd), total_(total), start_(std::chrono::steady_clock::now()), last_draw_(start_) {}

progress_line_t::~progress_line_t() { clear(); }

std::string progress_line_t::text(uint64_t bytes, uint64_t total, double seconds) {
  std::string line = "Reading: " + mebibytes(bytes);
  const double rate = seconds > 0 ? static_cast<double>(bytes) / seconds : 0;
  if (total > 0) {
    char percent[16];
    snprintf(percent, sizeof(percent), " (%.0f %%)",
             100.0 * static_cast<double>(std::min(bytes, total)) / static_cast<double>(total));
    line += " of " + mebibytes(total) + percent;
  }
  if (rate > 0) {
    line += ", " + mebibytes(static_cast<uint64_t>(rate)) + "/s";
    if (total > bytes) {
      char left[32];
      snprintf(left, sizeof(left), ", %.0f s left",
               std::ceil(static_cast<double>(total - bytes) / rate));
      line += left;
    }
  }
  return line;
}

void progress_line_t::update(uint64_t bytes) {
  const auto now = std::chrono::steady_clock::now();
  if (drawn_once_ && now - last_draw_ < redraw_every) return;
  drawn_once_ = true;
  last_draw_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  write_all("\r" + text(bytes, total_, seconds) + "\033[K");
  shown_ = true;
}

void progress_line_t::clear() {
  if (!shown_) return;
  write_all("\r\033[K");
  shown_ = false;
  drawn_once_ = false;
}

void progress_line_t::write_all(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a terminal that takes nothing: no progress, no harm
    done += static_cast<size_t>(n);
  }
}

}}  // namespace velkor::library
