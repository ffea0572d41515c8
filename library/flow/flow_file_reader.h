// Reads a sample file (or standard input) into a flow with one call: builds
// and owns the chain file reader -> container reader (-> inflate) -> binary
// decoder, and gives access to the container header it found. The way
// sample_stats, sample_dump and sample_lines read their input.
#ifndef LIBRARY_FLOW_FLOW_FILE_READER_H_
#define LIBRARY_FLOW_FLOW_FILE_READER_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>

#include "codec/decoder_binary.h"
#include "flow/flow_read_ahead.h"
#include "flow/quenth_flow.h"
#include "stream/stream_container.h"
#include "stream/stream_file.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// Where reading and inflating happen.
enum flow_read_mode_t {
  read_in_caller,  // everything on the thread that calls dispatch()
  // Reading and inflating on a thread of their own, decoding and the flow on
  // the caller's: both run at once. The flow sees the same events, and the
  // sink the same warnings in the same order among them, as in the caller's
  // thread alone. The file's descriptor is read directly: an adopted stream
  // must not have been read from. A stream without a descriptor is read in
  // the caller's thread, and so is everything when no thread can be
  // started. After a flow stopped early the reading thread may have read
  // further than one thread would have: trailing_bytes() and
  // failure_reason() then describe that.
  read_ahead,
};

// Used once: construct, dispatch(), read the header, destroy (before the
// flow). The flow and the sink are the caller's; the stages are the reader's.
// Flow and sink are only ever called from the thread that calls dispatch().
class flow_file_reader_t {
 public:
  // An empty path reads standard input (never closed). Throws
  // stream_errno_exception_t when the file cannot be opened.
  flow_file_reader_t(const boost::filesystem::path& path, quenth_flow_t* flow,
                     boost::shared_ptr<warning_consumer_base_t> warnings,
                     flow_read_mode_t mode = read_in_caller);
  // Reads an open stream that it does not close.
  flow_file_reader_t(FILE* file, quenth_flow_t* flow,
                     boost::shared_ptr<warning_consumer_base_t> warnings,
                     flow_read_mode_t mode = read_in_caller);
  ~flow_file_reader_t();

  // Reads the whole input through the chain. Returns the first nonzero status
  // of a stage (a flow's done or error among them: the rest is not read),
  // stream_status_error for a read error, else the status of the final flush.
  // Codec and flow exceptions leave it uncaught.
  stream_status_t dispatch();

  // The container header as the container reader holds it.
  const stream_container_header_t& get_header() const { return container_reader.get_header(); }

  // Bytes of an incomplete last record that the decoder dropped at the end.
  uint64_t pending_bytes() const { return decoder.pending_bytes(); }
  // Bytes after the end of a compressed stream, which were not read.
  uint64_t trailing_bytes() const { return container_reader.trailing_bytes(); }
  // Events handed to the flow.
  uint64_t events_delivered() const { return decoder.events_delivered(); }

  // After dispatch() answered stream_status_error: why, when a stage did not
  // report it on the sink itself (a read error of the file, a container
  // header refused); else empty.
  std::string failure_reason() const;

  // Called on the caller's thread while dispatch() runs, with the bytes of
  // the file read so far: after every block, or with reading ahead after
  // every piece the decoder takes. Set before dispatch().
  void set_progress(std::function<void(uint64_t)> progress);

 private:
  // The reading thread's queue and its end of the chain.
  struct ahead_t {
    ahead_t();
    read_ahead_queue_t queue;
    read_ahead_writer_t writer;
    read_ahead_route_t route;  // the container reader's next
    boost::shared_ptr<read_ahead_warnings_t> warnings;
  };

  flow_file_reader_t(const flow_file_reader_t&) = delete;
  flow_file_reader_t& operator=(const flow_file_reader_t&) = delete;

  static std::unique_ptr<ahead_t> make_ahead(flow_read_mode_t mode);
  stream_status_t dispatch_ahead();
  // The reading thread: the file reader, the container reader and the
  // inflate stage into the queue, then the end item.
  void read_into_queue();

  // Constructed in this order, destroyed source first.
  qnt_decoder_binary_t decoder;
  boost::shared_ptr<warning_consumer_base_t> warnings_;
  std::unique_ptr<ahead_t> ahead_;  // null when reading in the caller's thread
  std::function<void(uint64_t)> progress_;
  stream_container_reader_t container_reader;
  stream_file_reader_t file_reader;
};

}}  // namespace velkor::library
#endif
