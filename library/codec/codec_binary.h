// The framing and versions of the binary event stream: the context that the
// decoder and the encoder keep (version, writer revision, flow parameter and
// the code table in force), the two code tables, and the translation of
// status codes between flows and stream stages.
#ifndef LIBRARY_CODEC_CODEC_BINARY_H_
#define LIBRARY_CODEC_CODEC_BINARY_H_

#include <cstdint>
#include <string>

#include <boost/shared_ptr.hpp>

#include "events/qnt_events.h"
#include "flow/quenth_flow.h"
#include "stream/stream.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

class qnt_decoder_binary_t;

// Reads the payload of one record (its length given) into an event that the
// decoder owns and hands to its flow, or into nothing (null) for the version
// record.
typedef const qnt_event_t* (qnt_decoder_binary_t::*codec_decode_t)(uint64_t length);

// One record code: the event kind it carries (-1 for the version record and
// the older sample layouts, which the writer never uses), its code on the
// wire, and how to read it. A table ends with (-1, 0xFFFFFFFF, none).
struct codec_event_entry_t {
  int kind;
  uint32_t code;
  codec_decode_t decode;
};

// Version 0 knows the codes 0 to 9; versions 1 to 3 all twenty codes.
extern const codec_event_entry_t events_v0[];
extern const codec_event_entry_t events_v1[];

// Searches from the start; the end entry when the table lacks the code/kind.
const codec_event_entry_t* codec_find_code(const codec_event_entry_t* table, uint32_t code);
const codec_event_entry_t* codec_find_kind(const codec_event_entry_t* table, int kind);
inline bool codec_entry_is_end(const codec_event_entry_t* entry) {
  return entry->code == 0xFFFFFFFFu && entry->kind == -1;
}

// Header size of a record: 3 bytes (code, 16-bit length) for versions 0 and
// 1, 5 bytes (code, 32-bit length) for 2 and 3.
inline unsigned codec_header_size(int version) { return version >= 2 ? 5 : 3; }

// The record code of the version record.
const uint32_t codec_version_code = 9;

class qnt_codec_binary_context_t {
 public:
  explicit qnt_codec_binary_context_t(boost::shared_ptr<warning_consumer_base_t> warnings);

  // Selects events_v0 for version 0 and events_v1 for 1 to 3, then stores the
  // values. Any other version throws "Unsupport sample file version." and
  // leaves the context unchanged.
  void set_version(int version, int minor_version, const std::string& writer_revision,
                   uint64_t flow_parameter);

  boost::shared_ptr<warning_consumer_base_t> warnings;
  int version;
  uint32_t minor_version;
  std::string writer_revision;
  uint64_t flow_parameter;
  const codec_event_entry_t* events;
};

// Value for value: ok, done (stop without failure), error.
stream_status_t flow_to_stream_status(flow_status_t status);
flow_status_t stream_to_flow_status(stream_status_t status);

}}  // namespace velkor::library
#endif
