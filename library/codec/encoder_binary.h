// The binary event encoder: a flow that writes the events it receives as a
// version-3 binary event stream into a chain of stream stages (typically a
// container writer with deflate and a file writer). The inverse of the
// decoder; used by sample_synth and by tests that need sample files.
#ifndef LIBRARY_CODEC_ENCODER_BINARY_H_
#define LIBRARY_CODEC_ENCODER_BINARY_H_

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include "codec/codec_binary.h"
#include "codec/codec_utils.h"
#include "flow/quenth_flow.h"
#include "stream/stream.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// flow_init prepares the version record (version 3, minor 1, the writer
// revision from the identification strings, the flow parameter); each event
// then becomes one record, and everything framed so far goes downstream in one
// process_data call. An event the format cannot hold (a kind without a record
// code, a count or text too long for its field, a record too long for its
// header) is refused whole: one error on the warning sink, flow_status_error,
// nothing written, so the stream written so far stays valid. The destructor
// sends nothing: the owner flushes the chain after the last event.
class qnt_encoder_binary_t : public quenth_flow_by_type_t {
 public:
  // downstream is not owned and must outlive the encoder.
  qnt_encoder_binary_t(stream_t* downstream, boost::shared_ptr<warning_consumer_base_t> warnings);

  flow_status_t flow_init(uint64_t flow_parameter) override;
  flow_status_t process_event(const qnt_event_t& event) override;

  // Append the payload of their kind; reached through process_event only.
  flow_status_t read(const qnt_event_read_t& event) override;
  flow_status_t write(const qnt_event_write_t& event) override;
  flow_status_t prefetch(const qnt_event_prefetch_t& event) override;
  flow_status_t sample_begin(const qnt_event_sample_begin_t& event) override;
  flow_status_t sample_end(const qnt_event_sample_end_t& event) override;
  flow_status_t sample_period(const qnt_event_sample_period_t& event) override;
  flow_status_t acquisition_begin(const qnt_event_acquisition_begin_t& event) override;
  flow_status_t acquisition_end(const qnt_event_acquisition_end_t& event) override;
  flow_status_t mmap(const qnt_event_mmap_t& event) override;
  flow_status_t munmap(const qnt_event_munmap_t& event) override;
  flow_status_t stack(const qnt_event_stack_t& event) override;
  flow_status_t sample(const qnt_event_sample_t& event) override;
  flow_status_t time_mapping(const qnt_event_time_mapping_t& event) override;
  flow_status_t local_time(const qnt_event_local_time_t& event) override;
  flow_status_t burst_begin(const qnt_event_burst_begin_t& event) override;
  flow_status_t burst_end(const qnt_event_burst_end_t& event) override;
  flow_status_t contexts(const qnt_event_contexts_t& event) override;

  // Frames the payload as a record with the given code and moves it to the
  // output; false (and nothing moved) when the payload is too long for the
  // record header in force.
  bool write_event(int code);
  // Appends the version record's payload for the context's settings.
  void version_select();

  const qnt_codec_binary_context_t& get_context() const { return context; }

 private:
  qnt_encoder_binary_t(const qnt_encoder_binary_t&) = delete;
  qnt_encoder_binary_t& operator=(const qnt_encoder_binary_t&) = delete;

  // Refuses the event being encoded: reports why, drops its partial payload.
  flow_status_t refuse(const std::string& why);
  // Appends a text as data16 (with its terminator); false when it is too long.
  bool put_text(const std::string& text, const char* what);

  stream_t* downstream;
  boost::shared_ptr<warning_consumer_base_t> warnings;
  codec_buffer_t output;
  codec_buffer_t payload;
  qnt_codec_binary_context_t context;
  std::string refusal;  // why the event being encoded cannot be written
};

}}  // namespace velkor::library
#endif
