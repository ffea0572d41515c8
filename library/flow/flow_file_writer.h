// Writes events to a sample file (or standard output): builds and owns the
// chain binary encoder -> container writer (-> deflate) -> file writer. The
// counterpart of flow_file_reader_t; used by sample_synth and by tests.
#ifndef LIBRARY_FLOW_FLOW_FILE_WRITER_H_
#define LIBRARY_FLOW_FLOW_FILE_WRITER_H_

#include <cstdint>
#include <cstdio>
#include <memory>

#include <boost/filesystem/path.hpp>
#include <boost/shared_ptr.hpp>

#include "codec/encoder_binary.h"
#include "flow/quenth_flow.h"
#include "stream/stream_container.h"
#include "stream/stream_file.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// Use: construct (the container header is written at once), flow().flow_init,
// any number of flow().process_event, then finish(). Refused events and write
// failures come back as statuses; the warning sink says why.
class flow_file_writer_t {
 public:
  // An empty path writes standard output (never closed). Throws
  // stream_exception_t when the file cannot be created or the header
  // cannot be written. deflate_level: as for stream_container_writer_t.
  flow_file_writer_t(const boost::filesystem::path& path, const stream_container_header_t& header,
                     boost::shared_ptr<warning_consumer_base_t> warnings, int deflate_level = -1);
  flow_file_writer_t(FILE* file, const stream_container_header_t& header,
                     boost::shared_ptr<warning_consumer_base_t> warnings, int deflate_level = -1);
  // Finishes the file if finish() was not called; failures are then ignored.
  ~flow_file_writer_t();

  // The encoder: the flow that receives the events.
  quenth_flow_t& flow() { return *encoder; }

  // Flushes the chain, completes the deflate stream, flushes the output and
  // reports whether every byte got out. Only the first call does anything.
  stream_status_t finish();

 private:
  flow_file_writer_t(const flow_file_writer_t&) = delete;
  flow_file_writer_t& operator=(const flow_file_writer_t&) = delete;

  void build(const stream_container_header_t& header,
             boost::shared_ptr<warning_consumer_base_t> warnings, int deflate_level);

  // Destroyed encoder first, file writer last.
  std::unique_ptr<stream_file_writer_t> file_writer;
  std::unique_ptr<stream_container_writer_t> container_writer;
  std::unique_ptr<qnt_encoder_binary_t> encoder;
  bool finished;
};

}}  // namespace velkor::library
#endif
