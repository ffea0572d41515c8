// Reads a sample file (or standard input) into a flow with one call: builds
// and owns the chain file reader -> container reader (-> inflate) -> binary
// decoder, and gives access to the container header it found. The way
// sample_stats and sample_dump read their input.
#ifndef LIBRARY_FLOW_FLOW_FILE_READER_H_
#define LIBRARY_FLOW_FLOW_FILE_READER_H_

#include <cstdint>
#include <cstdio>
#include <string>

#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>

#include "codec/decoder_binary.h"
#include "flow/quenth_flow.h"
#include "stream/stream_container.h"
#include "stream/stream_file.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// Used once: construct, dispatch(), read the header, destroy (before the
// flow). The flow and the sink are the caller's; the stages are the reader's.
class flow_file_reader_t {
 public:
  // An empty path reads standard input (never closed). Throws
  // stream_errno_exception_t when the file cannot be opened.
  flow_file_reader_t(const boost::filesystem::path& path, quenth_flow_t* flow,
                     boost::shared_ptr<warning_consumer_base_t> warnings);
  // Reads an open stream that it does not close.
  flow_file_reader_t(FILE* file, quenth_flow_t* flow,
                     boost::shared_ptr<warning_consumer_base_t> warnings);

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

 private:
  flow_file_reader_t(const flow_file_reader_t&) = delete;
  flow_file_reader_t& operator=(const flow_file_reader_t&) = delete;

  // Constructed in this order, destroyed source first.
  qnt_decoder_binary_t decoder;
  stream_container_reader_t container_reader;
  stream_file_reader_t file_reader;
};

}}  // namespace velkor::library
#endif
