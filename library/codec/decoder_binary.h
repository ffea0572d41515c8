// The binary event decoder: the last stage of a reading chain. It takes the
// event stream in blocks cut anywhere, reassembles complete records, turns
// each into an event and hands it to a flow. Built by the flow file reader.
#ifndef LIBRARY_CODEC_DECODER_BINARY_H_
#define LIBRARY_CODEC_DECODER_BINARY_H_

#include <cstdint>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "codec/codec_binary.h"
#include "codec/codec_utils.h"
#include "events/qnt_events.h"
#include "flow/quenth_flow.h"
#include "stream/stream.h"
#include "support/warning_consumer.h"

namespace velkor { namespace library {

// The longest record payload the decoder accepts (64 MiB). Real records are
// far shorter (the longest lists hold at most a few hundred kilobytes); a
// longer length is refused as soon as its header is read, before any of it
// is buffered, so that a small compressed file cannot make the decoder hold
// gigabytes.
const uint64_t qnt_decoder_max_record_length = uint64_t(64) << 20;

// What a record may take once decoded: twice its payload plus 16 MiB.
// Every list element but a text takes at most a little more memory than its
// bytes on the wire; a record of millions of empty texts (two bytes each on
// the wire, a string object each in memory) is refused instead of taking
// gigabytes.
const uint64_t qnt_decoder_decoded_factor = 2;
const uint64_t qnt_decoder_decoded_allowance = uint64_t(16) << 20;

// Starts the flow (flow_init with the stream's flow parameter) on the header
// of the first record that is not a version record, then delivers one event
// per record. Malformed input throws codec_exception_t out of process_data,
// with the number, code and offset of the faulty record set in it; a flow's
// done or error status is returned as the stream status. A record of a code
// the stream's version does not know is skipped as its bytes arrive, never
// held whole.
class qnt_decoder_binary_t : public stream_t {
 public:
  // flow is not owned and must outlive the decoder.
  qnt_decoder_binary_t(quenth_flow_t* flow, boost::shared_ptr<warning_consumer_base_t> warnings);

  stream_status_t process_data(const char* data, size_t length) override;
  // Does nothing: the bytes of an incomplete last record stay unreported.
  stream_status_t flush() override;

  // Bytes of an incomplete record still held or skipped (its header
  // included), so that a caller can tell a stream that ended inside a record.
  uint64_t pending_bytes() const;
  // Events handed to the flow so far.
  uint64_t events_delivered() const { return events_delivered_; }

  const qnt_codec_binary_context_t& get_context() const { return context; }
  // Storage held for the bytes of a record that arrived in pieces; it grows
  // with the bytes that arrive, never with a length that a record header
  // announces. Records that arrive whole are read where they are.
  uint64_t buffer_capacity() const { return partial_.capacity(); }

  // ---- Record readers, one per code; each reads the payload of the given
  // length into the decoder's event of its kind and returns it (the table in
  // codec_binary refers to them). The event is valid until the next record
  // is read: one object per kind is filled again and again, so that decoding
  // allocates nothing per record once the lists inside have grown.
  const qnt_event_t* event_read(uint64_t length);
  const qnt_event_t* event_write(uint64_t length);
  const qnt_event_t* event_prefetch(uint64_t length);
  const qnt_event_t* event_sample_begin(uint64_t length);
  const qnt_event_t* event_sample_end(uint64_t length);
  const qnt_event_t* event_sample_period(uint64_t length);
  const qnt_event_t* event_acquisition_begin(uint64_t length);
  const qnt_event_t* event_acquisition_end(uint64_t length);
  const qnt_event_t* event_mmap(uint64_t length);
  const qnt_event_t* event_version_select(uint64_t length);  // no event: null
  const qnt_event_t* event_stack(uint64_t length);
  const qnt_event_t* event_sample_deprecated(uint64_t length);    // code 11
  const qnt_event_t* event_dangling_deprecated(uint64_t length);  // code 12
  const qnt_event_t* event_time_mapping(uint64_t length);
  const qnt_event_t* event_local_time(uint64_t length);
  const qnt_event_t* event_burst_begin(uint64_t length);
  const qnt_event_t* event_burst_end(uint64_t length);
  const qnt_event_t* event_sample(uint64_t length);
  const qnt_event_t* event_contexts(uint64_t length);
  const qnt_event_t* event_munmap(uint64_t length);

 private:
  qnt_decoder_binary_t(const qnt_decoder_binary_t&) = delete;
  qnt_decoder_binary_t& operator=(const qnt_decoder_binary_t&) = delete;

  void initialize_flow();
  // Reads the version record and applies it to the context.
  void version_select(uint64_t length);
  // Bytes of the current payload not read yet.
  uint64_t payload_left(uint64_t length) const;
  // Reads a record header at p (header_size bytes): its code and length.
  // Throws for a record the one before did not read exactly, and for a
  // length above the limit.
  void start_record(const char* p, uint64_t offset);
  // Decodes the record whose payload is at p and hands the event on. Returns
  // the flow's status as a stream status.
  stream_status_t finish_record(const char* p);
  // Appends to partial_ without reserving beyond what the record needs.
  void keep(const char* data, size_t length, uint64_t whole);
  // Storage to reserve for `count` elements of at least `min_size` bytes
  // each on the wire and `element_size` bytes in memory; a count the rest of
  // the payload cannot hold is malformed, one that would decode into more
  // than the record's allowance is refused.
  size_t checked_count(uint64_t count, uint64_t min_size, uint64_t element_size,
                       uint64_t length) const;
  // Throws `message` as the fault of the current record.
  [[noreturn]] void fail(const std::string& message) const;

  qnt_codec_binary_context_t context;
  // The bytes of a header or a record that began in an earlier block.
  std::vector<char> partial_;
  // The fields of the record being decoded.
  codec_reader_t in_;
  quenth_flow_t* flow;
  boost::shared_ptr<warning_consumer_base_t> warnings;
  bool flow_initialized;
  bool expect_header;
  uint8_t record_code;
  uint64_t record_length;
  // Where the current record is: its number and the stream offset of its
  // header; bytes received in all.
  uint64_t record_number_ = 0;
  uint64_t record_offset_ = 0;
  uint64_t bytes_in_ = 0;
  // The record before read fewer bytes than its length: the fault is
  // reported when the next header has arrived.
  bool short_read_ = false;
  // Where a header that arrives in pieces starts.
  uint64_t header_offset_ = 0;
  // A record of an unknown code being skipped: its bytes still to come.
  bool skipping_ = false;
  uint64_t skip_left_ = 0;
  uint64_t events_delivered_ = 0;

  // The events that the record readers fill, one per kind.
  qnt_event_read_t read_event;
  qnt_event_write_t write_event;
  qnt_event_prefetch_t prefetch_event;
  qnt_event_sample_begin_t sample_begin_event;
  qnt_event_sample_end_t sample_end_event;
  qnt_event_sample_period_t sample_period_event;
  qnt_event_acquisition_begin_t acquisition_begin_event;
  qnt_event_acquisition_end_t acquisition_end_event;
  qnt_event_mmap_t mmap_event;
  qnt_event_munmap_t munmap_event;
  qnt_event_stack_t stack_event;
  qnt_event_sample_t sample_event;
  qnt_event_time_mapping_t time_mapping_event;
  qnt_event_local_time_t local_time_event;
  qnt_event_burst_begin_t burst_begin_event;
  qnt_event_burst_end_t burst_end_event;
  qnt_event_contexts_t contexts_event;
};

}}  // namespace velkor::library
#endif
