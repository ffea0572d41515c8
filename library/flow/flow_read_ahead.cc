#include "flow/flow_read_ahead.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <utility>

namespace velkor { namespace library {

// ---- The queue ------------------------------------------------------------------

read_ahead_queue_t::read_ahead_queue_t(size_t most_data_items)
    : most_data_items_(most_data_items), wake_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (wake_fd_ < 0) {
    throw stream_errno_exception_t("Failed to create the read-ahead's wake-up descriptor: ",
                                   errno);
  }
}

read_ahead_queue_t::~read_ahead_queue_t() { close(wake_fd_); }

bool read_ahead_queue_t::push(read_ahead_item_t item) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool data = item.kind == read_ahead_item_t::item_data;
  if (data) {
    changed_.wait(lock, [this] { return stopped() || data_items_ < most_data_items_; });
  }
  if (stopped()) return false;
  if (data) ++data_items_;
  items_.push_back(std::move(item));
  changed_.notify_all();
  return true;
}

std::vector<char> read_ahead_queue_t::spare_buffer() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spare_.empty()) return std::vector<char>();
  std::vector<char> bytes = std::move(spare_.back());
  spare_.pop_back();
  return bytes;
}

read_ahead_item_t read_ahead_queue_t::pop() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !items_.empty(); });
  read_ahead_item_t item = std::move(items_.front());
  items_.pop_front();
  if (item.kind == read_ahead_item_t::item_data) --data_items_;
  changed_.notify_all();
  return item;
}

void read_ahead_queue_t::recycle(std::vector<char> bytes) {
  bytes.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  if (spare_.size() < most_data_items_ + 1) spare_.push_back(std::move(bytes));
}

void read_ahead_queue_t::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_.store(true, std::memory_order_relaxed);
    items_.clear();
    data_items_ = 0;
    changed_.notify_all();
  }
  uint64_t one = 1;
  ssize_t written = write(wake_fd_, &one, sizeof(one));
  (void)written;  // the counter cannot overflow from a single stop
}

// ---- The reading thread's end of a chain -------------------------------------------

read_ahead_writer_t::read_ahead_writer_t(read_ahead_queue_t* queue, size_t buffer_size)
    : queue_(queue), buffer_size_(buffer_size) {}

stream_status_t read_ahead_writer_t::process_data(const char* data, size_t length) {
  if (queue_->stopped()) return stream_status_done;
  while (length > 0) {
    if (pending_.capacity() == 0) {
      pending_ = queue_->spare_buffer();
      pending_.reserve(buffer_size_);
    }
    size_t take = std::min(length, buffer_size_ - pending_.size());
    pending_.insert(pending_.end(), data, data + take);
    data += take;
    length -= take;
    if (pending_.size() == buffer_size_) push_pending();
  }
  return queue_->stopped() ? stream_status_done : stream_status_ok;
}

stream_status_t read_ahead_writer_t::flush() {
  push_pending();
  read_ahead_item_t mark;
  mark.kind = read_ahead_item_t::item_flush;
  return queue_->push(std::move(mark)) ? stream_status_ok : stream_status_done;
}

void read_ahead_writer_t::push_pending() {
  if (pending_.empty()) return;
  read_ahead_item_t item;
  item.kind = read_ahead_item_t::item_data;
  item.bytes = std::move(pending_);
  pending_ = std::vector<char>();
  queue_->push(std::move(item));
}

void read_ahead_warnings_t::warn(const warning_const_ptr_t& w) {
  if (direct_ != nullptr) {
    direct_->warn(w);
    return;
  }
  writer_->push_pending();
  read_ahead_item_t item;
  item.kind = read_ahead_item_t::item_warning;
  item.warning = w;
  queue_->push(std::move(item));
}

}}  // namespace velkor::library
