// Reading ahead: the stages from the file to the inflate stage run on a
// thread of their own and hand what they produce, and the warnings they
// report, in order, through a small bounded queue to the thread that decodes,
// so that inflating and decoding overlap. Used by the flow file reader when it
// is asked to read ahead.
#ifndef LIBRARY_FLOW_FLOW_READ_AHEAD_H_
#define LIBRARY_FLOW_FLOW_READ_AHEAD_H_

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <vector>

#include "stream/stream.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// ---- The queue ------------------------------------------------------------------

// What the reading thread hands on, one item at a time, in the order it
// happened.
struct read_ahead_item_t {
  enum kind_t {
    item_data,     // bytes for the decoder
    item_warning,  // a warning a stage reported
    item_flush,    // the end of the input reached the last stage
    item_end,      // the reading thread is done: its status, or what it threw
  };
  kind_t kind = item_data;
  std::vector<char> bytes;
  warning_const_ptr_t warning;
  stream_status_t status = stream_status_ok;
  std::exception_ptr exception;
};

// A bounded queue between one reading and one decoding thread. At most
// `most_data_items` items of bytes wait in it; the reading thread waits for
// room. Once stopped, by the decoding thread when it wants nothing more, items
// are dropped and no one waits.
class read_ahead_queue_t {
 public:
  explicit read_ahead_queue_t(size_t most_data_items);
  ~read_ahead_queue_t();

  // ---- Reading side ----
  // Queues the item; false, and the item dropped, once stopped.
  bool push(read_ahead_item_t item);
  // An empty buffer to fill, with the capacity of one that came back.
  std::vector<char> spare_buffer();
  bool stopped() const { return stopped_.load(std::memory_order_relaxed); }
  const std::atomic<bool>& stop_flag() const { return stopped_; }
  // A descriptor that becomes readable when the queue is stopped, so that a
  // thread waiting for input can wait for it too.
  int wake_fd() const { return wake_fd_; }

  // ---- Decoding side ----
  // The next item; waits for it.
  read_ahead_item_t pop();
  // Gives a decoded buffer back for reuse.
  void recycle(std::vector<char> bytes);
  void stop();

 private:
  read_ahead_queue_t(const read_ahead_queue_t&) = delete;
  read_ahead_queue_t& operator=(const read_ahead_queue_t&) = delete;

  const size_t most_data_items_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<read_ahead_item_t> items_;
  size_t data_items_ = 0;
  std::vector<std::vector<char>> spare_;
  std::atomic<bool> stopped_{false};
  int wake_fd_;
};

// ---- The reading thread's end of a chain -------------------------------------------

// The last stage on the reading thread: gathers the bytes it receives into
// buffers of about `buffer_size` bytes and queues each when full; a flush
// queues what it holds, then a flush mark. Answers stream_status_done once
// the queue is stopped, so that the reading ends.
class read_ahead_writer_t : public stream_t {
 public:
  read_ahead_writer_t(read_ahead_queue_t* queue, size_t buffer_size);

  stream_status_t process_data(const char* data, size_t length) override;
  stream_status_t flush() override;

  // Queues the bytes gathered so far, if any.
  void push_pending();

 private:
  read_ahead_queue_t* queue_;
  const size_t buffer_size_;
  std::vector<char> pending_;
};

// The warning sink of the stages on the reading thread: each warning is
// queued after the bytes that came before it, or, once told to pass them on
// directly (no reading thread after all), handed to that sink.
class read_ahead_warnings_t : public warning_consumer_base_t {
 public:
  read_ahead_warnings_t(read_ahead_queue_t* queue, read_ahead_writer_t* writer)
      : queue_(queue), writer_(writer), direct_(nullptr) {}

  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;

  void pass_on_to(warning_consumer_base_t* sink) { direct_ = sink; }

 private:
  read_ahead_queue_t* queue_;
  read_ahead_writer_t* writer_;
  warning_consumer_base_t* direct_;
};

// Forwards everything to a target that may be changed before the first
// block: the queue, or the decoder itself when no reading thread could be
// started.
class read_ahead_route_t : public stream_t {
 public:
  explicit read_ahead_route_t(stream_t* target) : target_(target) {}
  void set_target(stream_t* target) { target_ = target; }
  stream_status_t process_data(const char* data, size_t length) override {
    return target_->process_data(data, length);
  }
  stream_status_t flush() override { return target_->flush(); }

 private:
  stream_t* target_;
};

}}  // namespace velkor::library
#endif
