#include "flow/flow_file_reader.h"

namespace velkor { namespace library {

flow_file_reader_t::flow_file_reader_t(const boost::filesystem::path& path, quenth_flow_t* flow,
                                       boost::shared_ptr<warning_consumer_base_t> warnings)
    : decoder(flow, warnings),
      container_reader(&decoder, warnings),
      file_reader(path, &container_reader) {}

flow_file_reader_t::flow_file_reader_t(FILE* file, quenth_flow_t* flow,
                                       boost::shared_ptr<warning_consumer_base_t> warnings)
    : decoder(flow, warnings),
      container_reader(&decoder, warnings),
      file_reader(file, &container_reader) {}

stream_status_t flow_file_reader_t::dispatch() { return file_reader.dispatch(); }

std::string flow_file_reader_t::failure_reason() const {
  if (!file_reader.error_text().empty()) return file_reader.error_text() + ".";
  return container_reader.refusal();
}

}}  // namespace velkor::library
