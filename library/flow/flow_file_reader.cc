#include "flow/flow_file_reader.h"

#include <system_error>
#include <thread>
#include <utility>

namespace velkor { namespace library {

namespace {

// Bytes queued per item, and items of bytes in the queue at most: a few MiB
// in flight, and a block of the decoder's work per item.
const size_t ahead_buffer_size = 256 * 1024;
const size_t ahead_items = 4;

}  // namespace

flow_file_reader_t::ahead_t::ahead_t()
    : queue(ahead_items),
      writer(&queue, ahead_buffer_size),
      route(&writer),
      warnings(new read_ahead_warnings_t(&queue, &writer)) {}

std::unique_ptr<flow_file_reader_t::ahead_t> flow_file_reader_t::make_ahead(
    flow_read_mode_t mode) {
  if (mode != read_ahead) return nullptr;
  return std::unique_ptr<ahead_t>(new ahead_t);
}

flow_file_reader_t::flow_file_reader_t(const boost::filesystem::path& path, quenth_flow_t* flow,
                                       boost::shared_ptr<warning_consumer_base_t> warnings,
                                       flow_read_mode_t mode)
    : decoder(flow, warnings),
      warnings_(warnings),
      ahead_(make_ahead(mode)),
      container_reader(ahead_ ? static_cast<stream_t*>(&ahead_->route) : &decoder,
                       ahead_ ? ahead_->warnings : warnings),
      file_reader(path, &container_reader) {}

flow_file_reader_t::flow_file_reader_t(FILE* file, quenth_flow_t* flow,
                                       boost::shared_ptr<warning_consumer_base_t> warnings,
                                       flow_read_mode_t mode)
    : decoder(flow, warnings),
      warnings_(warnings),
      ahead_(make_ahead(file != NULL && fileno(file) >= 0 ? mode : read_in_caller)),
      container_reader(ahead_ ? static_cast<stream_t*>(&ahead_->route) : &decoder,
                       ahead_ ? ahead_->warnings : warnings),
      file_reader(file, &container_reader) {}

flow_file_reader_t::~flow_file_reader_t() = default;

stream_status_t flow_file_reader_t::dispatch() {
  if (!ahead_) return file_reader.dispatch();
  return dispatch_ahead();
}

void flow_file_reader_t::read_into_queue() {
  read_ahead_queue_t& queue = ahead_->queue;
  read_ahead_item_t end;
  end.kind = read_ahead_item_t::item_end;
  try {
    // While the input holds nothing new (a pipe), what has been read goes
    // to the decoder at once rather than when a queue item is full.
    end.status = file_reader.dispatch_until(queue.stop_flag(), queue.wake_fd(),
                                            [this] { ahead_->writer.push_pending(); });
    // Bytes a stage passed on before it failed are decoded before the
    // failure, as they would be in one thread.
    ahead_->writer.push_pending();
  } catch (...) {
    end.status = stream_status_error;
    end.exception = std::current_exception();
  }
  queue.push(std::move(end));
}

// The reading thread runs the file reader, the container reader and the
// inflate stage into the queue; this thread decodes what comes out of it,
// passes on the warnings where they came, and stops the reading thread when
// it wants no more.
stream_status_t flow_file_reader_t::dispatch_ahead() {
  read_ahead_queue_t& queue = ahead_->queue;
  std::thread reading;
  try {
    reading = std::thread(&flow_file_reader_t::read_into_queue, this);
  } catch (const std::system_error&) {
    // No thread to be had (a limit on threads or on memory): everything in
    // this one, as without reading ahead (the file reader reports progress
    // itself).
    ahead_->route.set_target(&decoder);
    ahead_->warnings->pass_on_to(warnings_.get());
    return file_reader.dispatch();
  }

  stream_status_t result = stream_status_ok;
  std::exception_ptr failure;
  try {
    for (bool done = false; !done;) {
      read_ahead_item_t item = queue.pop();
      switch (item.kind) {
        case read_ahead_item_t::item_data: {
          stream_status_t status = decoder.process_data(item.bytes.data(), item.bytes.size());
          queue.recycle(std::move(item.bytes));
          if (progress_) progress_(file_reader.bytes_read());
          if (status != stream_status_ok) {
            result = status;
            done = true;
          }
          break;
        }
        case read_ahead_item_t::item_warning: warnings_->warn(item.warning); break;
        case read_ahead_item_t::item_flush: result = decoder.flush(); break;
        case read_ahead_item_t::item_end:
          failure = item.exception;
          if (item.status != stream_status_ok) result = item.status;
          done = true;
          break;
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  queue.stop();
  reading.join();
  if (failure) std::rethrow_exception(failure);
  return result;
}

void flow_file_reader_t::set_progress(std::function<void(uint64_t)> progress) {
  progress_ = progress;
  file_reader.set_progress(std::move(progress));
}

std::string flow_file_reader_t::failure_reason() const {
  if (!file_reader.error_text().empty()) return file_reader.error_text() + ".";
  return container_reader.refusal();
}

}}  // namespace velkor::library
