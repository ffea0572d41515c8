#include "codec/decoder_binary.h"

#include <algorithm>
#include <string>

#include <boost/lexical_cast.hpp>
#include <boost/shared_ptr.hpp>

namespace velkor { namespace library {

qnt_decoder_binary_t::qnt_decoder_binary_t(quenth_flow_t* target,
                                           boost::shared_ptr<warning_consumer_base_t> sink)
    : context(sink),
      flow(target),
      warnings(sink),
      flow_initialized(false),
      expect_header(true),
      record_code(0),
      record_length(0) {}

stream_status_t qnt_decoder_binary_t::process_data(const char* data, size_t length) {
  buffer.write(data, length);
  bytes_in_ += length;
  for (;;) {
    if (expect_header) {
      unsigned header_size = codec_header_size(context.version);
      if (buffer.size() < header_size) return stream_status_ok;
      // The record before read fewer bytes than its length says.
      if (!buffer.unit_done()) fail("Unexpected number of bytes read.");
      ++record_number_;
      record_offset_ = bytes_in_ - buffer.size();
      buffer.assert_read(header_size);
      record_code = binary_decode_uint8(&buffer);
      record_length =
          header_size == 5 ? binary_decode_uint32(&buffer) : binary_decode_uint16(&buffer);
      if (record_length > qnt_decoder_max_record_length) {
        fail("Record of " + boost::lexical_cast<std::string>(record_length) +
             " bytes is longer than the longest accepted record (" +
             boost::lexical_cast<std::string>(qnt_decoder_max_record_length) + " bytes).");
      }
      expect_header = false;
    }
    if (!flow_initialized && record_code != codec_version_code) initialize_flow();
    const codec_event_entry_t* entry = codec_find_code(context.events, record_code);
    if (codec_entry_is_end(entry)) {
      // A code this version does not know.
      if (!skip_record()) return stream_status_ok;
      continue;
    }
    if (buffer.size() < record_length) return stream_status_ok;

    expect_header = true;
    buffer.assert_read(record_length);
    if (record_code == codec_version_code && flow_initialized) {
      fail("Version record after the first event record.");
    }
    const qnt_event_t* event;
    try {
      event = (this->*entry->decode)(record_length);
    } catch (codec_exception_t& e) {
      if (e.record_number == 0) e.set_record(record_number_, record_offset_, record_code);
      throw;
    }
    if (event == NULL) continue;
    ++events_delivered_;
    flow_status_t status = flow->process_event(*event);
    if (status != flow_status_ok) return flow_to_stream_status(status);
  }
}

bool qnt_decoder_binary_t::skip_record() {
  if (!skipping_) {
    buffer.assert_read(record_length);
    skipping_ = true;
    skip_left_ = record_length;
  }
  uint64_t n = std::min<uint64_t>(skip_left_, buffer.size());
  buffer.read(static_cast<size_t>(n));
  skip_left_ -= n;
  if (skip_left_ > 0) return false;
  skipping_ = false;
  expect_header = true;
  return true;
}

void qnt_decoder_binary_t::fail(const std::string& message) const {
  codec_exception_t e(message, true);
  e.set_record(record_number_, record_offset_, record_code);
  throw e;
}

stream_status_t qnt_decoder_binary_t::flush() { return stream_status_ok; }

uint64_t qnt_decoder_binary_t::pending_bytes() const {
  if (expect_header) return buffer.size();
  uint64_t skipped = skipping_ ? record_length - skip_left_ : 0;
  return codec_header_size(context.version) + skipped + buffer.size();
}

void qnt_decoder_binary_t::initialize_flow() {
  flow_status_t status = flow->flow_init(context.flow_parameter);
  if (status != flow_status_ok) {
    throw codec_exception_t("Failed to initialize flow.", status == flow_status_error);
  }
  flow_initialized = true;
}

uint64_t qnt_decoder_binary_t::payload_left(uint64_t length) const {
  uint64_t consumed = buffer.unit_consumed(length);
  return consumed < length ? length - consumed : 0;
}

size_t qnt_decoder_binary_t::checked_count(uint64_t count, uint64_t min_size,
                                           uint64_t element_size, uint64_t length) const {
  if (count > payload_left(length) / min_size) {
    throw codec_exception_t("Unexpected number of bytes read.", true);
  }
  // count is below 2^32, element_size small: the product cannot overflow.
  const uint64_t decoded = count * element_size;
  const uint64_t allowed = qnt_decoder_decoded_factor * length + qnt_decoder_decoded_allowance;
  if (decoded > allowed) {
    throw codec_exception_t("The record would take " + std::to_string(decoded) +
                                " bytes once decoded, more than the " + std::to_string(allowed) +
                                " bytes allowed for a record of " + std::to_string(length) +
                                " bytes.",
                            true);
  }
  return static_cast<size_t>(count);
}

void qnt_decoder_binary_t::version_select(uint64_t length) {
  int version = static_cast<int>(binary_decode_uint32(&buffer));
  uint32_t minor_version = 0;
  std::string writer_revision = "unknown";
  uint64_t flow_parameter = 0;
  if (payload_left(length) > 0) minor_version = binary_decode_uint32(&buffer);
  if (payload_left(length) > 0) binary_decode_data16(&buffer, writer_revision);
  if (payload_left(length) > 0) flow_parameter = binary_decode_uint64(&buffer);
  context.set_version(version, static_cast<int>(minor_version), writer_revision, flow_parameter);
}

const qnt_event_t* qnt_decoder_binary_t::event_version_select(uint64_t length) {
  version_select(length);
  return NULL;
}

namespace {

template <class T>
const T* read_access_event(codec_buffer_t* buffer, T* e) {
  e->pc = binary_decode_address_v0(buffer);
  e->addr = binary_decode_address_v0(buffer);
  e->thread_id = binary_decode_uint32(buffer);
  e->size = binary_decode_uint16(buffer);
  return e;
}

// A sample id: a 32-bit value in the low half of a 64-bit field.
uint32_t decode_id64(codec_buffer_t* buffer) {
  return static_cast<uint32_t>(binary_decode_uint64(buffer));
}

}  // namespace

// Every reader sets every field of its event, so that nothing of an earlier
// record shows through.

const qnt_event_t* qnt_decoder_binary_t::event_read(uint64_t) {
  return read_access_event(&buffer, &read_event);
}

const qnt_event_t* qnt_decoder_binary_t::event_write(uint64_t) {
  return read_access_event(&buffer, &write_event);
}

const qnt_event_t* qnt_decoder_binary_t::event_prefetch(uint64_t) {
  return read_access_event(&buffer, &prefetch_event);
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_begin(uint64_t) {
  qnt_event_sample_begin_t* e = &sample_begin_event;
  e->pc = binary_decode_address_v0(&buffer);
  e->addr = binary_decode_address_v0(&buffer);
  e->time = binary_decode_uint64(&buffer);
  e->thread_id = binary_decode_uint32(&buffer);
  e->sample_id = decode_id64(&buffer);
  e->access_type = binary_decode_uint8(&buffer);
  e->access_size = binary_decode_uint16(&buffer);
  e->line_size = binary_decode_line_size(&buffer);
  e->next_pc = binary_decode_address_v0(&buffer);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_end(uint64_t) {
  qnt_event_sample_end_t* e = &sample_end_event;
  e->pc = binary_decode_address_v0(&buffer);
  e->addr = binary_decode_address_v0(&buffer);
  e->time = binary_decode_uint64(&buffer);
  e->thread_id = binary_decode_uint32(&buffer);
  e->sample_id = decode_id64(&buffer);
  e->access_type = binary_decode_uint8(&buffer);
  e->access_size = binary_decode_uint16(&buffer);
  e->rdist = binary_decode_uint64(&buffer);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_period(uint64_t) {
  sample_period_event.sample_period = binary_decode_uint32(&buffer);
  return &sample_period_event;
}

const qnt_event_t* qnt_decoder_binary_t::event_acquisition_begin(uint64_t length) {
  qnt_event_acquisition_begin_t* e = &acquisition_begin_event;
  e->time = binary_decode_uint64(&buffer);
  e->architecture = binary_decode_uint32(&buffer);
  size_t argc = checked_count(binary_decode_uint32(&buffer), 2, sizeof(std::string), length);
  e->argv.resize(argc);
  for (size_t i = 0; i < argc; ++i) binary_decode_data16(&buffer, e->argv[i]);
  binary_decode_data16(&buffer, e->user);
  e->line_sizes.clear();
  if (payload_left(length) > 0) {
    size_t count = checked_count(binary_decode_uint8(&buffer), 1, 1, length);
    const char* bytes = buffer.read(count);
    e->line_sizes.assign(bytes, bytes + count);
  }
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_acquisition_end(uint64_t) {
  acquisition_end_event.time = binary_decode_uint64(&buffer);
  return &acquisition_end_event;
}

const qnt_event_t* qnt_decoder_binary_t::event_mmap(uint64_t length) {
  qnt_event_mmap_t* e = &mmap_event;
  e->address = binary_decode_uint64(&buffer);
  e->size = binary_decode_uint64(&buffer);
  e->attr = binary_decode_uint32(&buffer);
  e->device = binary_decode_uint64(&buffer);
  e->inode = binary_decode_uint64(&buffer);
  e->offset = binary_decode_uint64(&buffer);
  binary_decode_data16(&buffer, e->filename);
  e->time = payload_left(length) > 0 ? binary_decode_uint64(&buffer) : 0;
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_stack(uint64_t length) {
  qnt_event_stack_t* e = &stack_event;
  e->id = binary_decode_uint32(&buffer);
  size_t count = checked_count(binary_decode_uint16(&buffer), 8, sizeof(qnt_address_t), length);
  e->return_addresses.resize(count);
  for (size_t i = 0; i < count; ++i) e->return_addresses[i] = binary_decode_uint64(&buffer);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_deprecated(uint64_t length) {
  qnt_event_sample_t* e = &sample_event;
  qnt_sample_access_t& begin = e->begin;
  e->ends.resize(1);
  qnt_sample_access_t& end = e->ends[0];
  begin.addr = binary_decode_uint64(&buffer);
  end.addr = binary_decode_uint64(&buffer);
  begin.time = binary_decode_uint64(&buffer);
  end.time = binary_decode_uint64(&buffer);
  begin.pc = binary_decode_uint64(&buffer);
  e->next_pc = binary_decode_uint64(&buffer);
  end.pc = binary_decode_uint64(&buffer);
  begin.stack = binary_decode_uint32(&buffer);
  e->stack = binary_decode_uint32(&buffer);
  end.stack = binary_decode_uint32(&buffer);
  begin.thread = binary_decode_uint32(&buffer);
  end.thread = binary_decode_uint32(&buffer);
  begin.size = binary_decode_uint16(&buffer);
  end.size = binary_decode_uint16(&buffer);
  begin.access_type = binary_decode_uint8(&buffer);
  end.access_type = binary_decode_uint8(&buffer);
  e->line_size = binary_decode_uint8(&buffer);
  e->flags = 0;
  if (payload_left(length) > 0) {
    uint32_t count = binary_decode_uint32(&buffer);
    if (count > 1) {
      size_t further = checked_count(count - 1u, 35, sizeof(qnt_sample_access_t), length);
      e->ends.resize(1 + further);
      for (size_t i = 1; i <= further; ++i) binary_decode_access(&buffer, e->ends[i]);
    }
  }
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_dangling_deprecated(uint64_t) {
  qnt_event_sample_t* e = &sample_event;
  e->begin.addr = binary_decode_uint64(&buffer);
  e->begin.time = binary_decode_uint64(&buffer);
  e->begin.pc = binary_decode_uint64(&buffer);
  e->next_pc = binary_decode_uint64(&buffer);
  e->begin.stack = binary_decode_uint32(&buffer);
  e->stack = binary_decode_uint32(&buffer);
  e->begin.thread = binary_decode_uint32(&buffer);
  e->begin.size = binary_decode_uint16(&buffer);
  e->begin.access_type = binary_decode_uint8(&buffer);
  e->line_size = binary_decode_uint8(&buffer);
  e->flags = 0;
  e->ends.clear();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_time_mapping(uint64_t length) {
  qnt_event_time_mapping_t* e = &time_mapping_event;
  size_t count = checked_count(binary_decode_uint16(&buffer), 12, sizeof(qnt_event_time_mapping_t::time_event_t), length);
  e->times.resize(count);
  for (size_t i = 0; i < count; ++i) {
    e->times[i].time = binary_decode_uint64(&buffer);
    e->times[i].tid = binary_decode_uint32(&buffer);
  }
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_local_time(uint64_t) {
  qnt_event_local_time_t* e = &local_time_event;
  e->tid = binary_decode_uint32(&buffer);
  e->global_time = binary_decode_uint64(&buffer);
  e->local_time = binary_decode_uint64(&buffer);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_burst_begin(uint64_t) {
  qnt_event_burst_begin_t* e = &burst_begin_event;
  e->real_time = binary_decode_uint64(&buffer);
  e->time = binary_decode_uint64(&buffer);
  e->opaque_1 = binary_decode_uint64(&buffer);
  e->opaque_2 = binary_decode_uint64(&buffer);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_burst_end(uint64_t) {
  qnt_event_burst_end_t* e = &burst_end_event;
  e->real_time = binary_decode_uint64(&buffer);
  e->time = binary_decode_uint64(&buffer);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample(uint64_t length) {
  qnt_event_sample_t* e = &sample_event;
  binary_decode_access(&buffer, e->begin);
  e->next_pc = binary_decode_uint64(&buffer);
  e->stack = binary_decode_uint32(&buffer);
  e->line_size = binary_decode_uint8(&buffer);
  e->flags = binary_decode_uint8(&buffer);
  size_t count = checked_count(binary_decode_uint32(&buffer), 35, sizeof(qnt_sample_access_t), length);
  e->ends.resize(count);
  for (size_t i = 0; i < count; ++i) binary_decode_access(&buffer, e->ends[i]);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_contexts(uint64_t length) {
  qnt_event_contexts_t* e = &contexts_event;
  size_t count = checked_count(binary_decode_uint32(&buffer), 4, sizeof(qnt_thread_id_t), length);
  e->contexts.resize(count);
  for (size_t i = 0; i < count; ++i) e->contexts[i] = binary_decode_uint32(&buffer);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_munmap(uint64_t) {
  qnt_event_munmap_t* e = &munmap_event;
  e->address = binary_decode_uint64(&buffer);
  e->size = binary_decode_uint64(&buffer);
  e->time = binary_decode_uint64(&buffer);
  return e;
}

}}  // namespace velkor::library
