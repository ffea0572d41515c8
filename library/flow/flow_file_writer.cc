#include "flow/flow_file_writer.h"

namespace velkor { namespace library {

flow_file_writer_t::flow_file_writer_t(const boost::filesystem::path& path,
                                       const stream_container_header_t& header,
                                       boost::shared_ptr<warning_consumer_base_t> warnings,
                                       int deflate_level)
    : file_writer(new stream_file_writer_t(path)), finished(false) {
  build(header, warnings, deflate_level);
}

flow_file_writer_t::flow_file_writer_t(FILE* file, const stream_container_header_t& header,
                                       boost::shared_ptr<warning_consumer_base_t> warnings,
                                       int deflate_level)
    : file_writer(new stream_file_writer_t(file)), finished(false) {
  build(header, warnings, deflate_level);
}

void flow_file_writer_t::build(const stream_container_header_t& header,
                               boost::shared_ptr<warning_consumer_base_t> warnings,
                               int deflate_level) {
  container_writer.reset(
      new stream_container_writer_t(header, file_writer.get(), warnings, deflate_level));
  encoder.reset(new qnt_encoder_binary_t(container_writer.get(), warnings));
}

flow_file_writer_t::~flow_file_writer_t() { finish(); }

stream_status_t flow_file_writer_t::finish() {
  if (finished) return stream_status_ok;
  finished = true;
  stream_status_t status = container_writer->flush();
  // The deflate stage writes the end of its stream while it is destroyed.
  encoder.reset();
  container_writer.reset();
  stream_status_t output = file_writer->flush();
  if (status == stream_status_ok) status = output;
  // A zero-length block reports an error left on the output stream by any
  // earlier write, those of the deflate stage's destructor included.
  if (status == stream_status_ok) status = file_writer->process_data("", 0);
  return status;
}

}}  // namespace velkor::library
