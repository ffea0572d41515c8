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
  const char* p = data;
  const char* const end = data + length;
  bytes_in_ += length;
  // The stream offset of p.
  auto offset_of = [&](const char* q) { return bytes_in_ - static_cast<uint64_t>(end - q); };
  for (;;) {
    if (skipping_) {
      // A record of a code the version does not know goes by as it arrives.
      uint64_t n = std::min<uint64_t>(skip_left_, static_cast<uint64_t>(end - p));
      p += n;
      skip_left_ -= n;
      if (skip_left_ > 0) return stream_status_ok;
      skipping_ = false;
      expect_header = true;
    }
    if (expect_header) {
      const size_t header_size = codec_header_size(context.version);
      if (partial_.empty() && static_cast<size_t>(end - p) >= header_size) {
        start_record(p, offset_of(p));
        p += header_size;
      } else {
        // The header arrives in pieces.
        size_t take = std::min(header_size - partial_.size(), static_cast<size_t>(end - p));
        if (partial_.empty() && take > 0) header_offset_ = offset_of(p);
        keep(p, take, header_size);
        p += take;
        if (partial_.size() < header_size) return stream_status_ok;
        start_record(partial_.data(), header_offset_);
        partial_.clear();
      }
    }
    if (!flow_initialized && record_code != codec_version_code) initialize_flow();
    const codec_event_entry_t* entry = codec_find_code(context.events, record_code);
    if (codec_entry_is_end(entry)) {
      skipping_ = true;
      skip_left_ = record_length;
      continue;
    }
    if (partial_.empty() && static_cast<uint64_t>(end - p) >= record_length) {
      const char* payload = p;
      p += record_length;
      expect_header = true;
      stream_status_t status = finish_record(payload);
      if (status != stream_status_ok) return status;
      continue;
    }
    // The payload arrives in pieces.
    uint64_t missing = record_length - partial_.size();
    size_t take = static_cast<size_t>(std::min<uint64_t>(missing, static_cast<uint64_t>(end - p)));
    keep(p, take, record_length);
    p += take;
    if (partial_.size() < record_length) return stream_status_ok;
    expect_header = true;
    stream_status_t status = finish_record(partial_.data());
    partial_.clear();
    if (status != stream_status_ok) return status;
  }
}

void qnt_decoder_binary_t::keep(const char* data, size_t length, uint64_t whole) {
  if (partial_.capacity() - partial_.size() < length) {
    // Doubling, but never beyond the header or record being gathered.
    size_t want = std::max(partial_.size() + length, 2 * partial_.capacity());
    partial_.reserve(static_cast<size_t>(std::min<uint64_t>(want, whole)));
  }
  partial_.insert(partial_.end(), data, data + length);
}

void qnt_decoder_binary_t::start_record(const char* p, uint64_t offset) {
  // The record before read fewer bytes than its length says.
  if (short_read_) fail("Unexpected number of bytes read.");
  ++record_number_;
  record_offset_ = offset;
  record_code = static_cast<uint8_t>(*p);
  record_length = codec_header_size(context.version) == 5 ? codec_reader_t::load32(p + 1)
                                                          : codec_reader_t::load16(p + 1);
  if (record_length > qnt_decoder_max_record_length) {
    fail("Record of " + boost::lexical_cast<std::string>(record_length) +
         " bytes is longer than the longest accepted record (" +
         boost::lexical_cast<std::string>(qnt_decoder_max_record_length) + " bytes).");
  }
  expect_header = false;
}

stream_status_t qnt_decoder_binary_t::finish_record(const char* payload) {
  if (record_code == codec_version_code && flow_initialized) {
    fail("Version record after the first event record.");
  }
  const codec_event_entry_t* entry = codec_find_code(context.events, record_code);
  in_ = codec_reader_t(payload, static_cast<size_t>(record_length));
  const qnt_event_t* event;
  try {
    event = (this->*entry->decode)(record_length);
  } catch (codec_exception_t& e) {
    if (e.record_number == 0) e.set_record(record_number_, record_offset_, record_code);
    throw;
  }
  short_read_ = in_.left() != 0;
  if (event == NULL) return stream_status_ok;
  ++events_delivered_;
  return flow_to_stream_status(flow->process_event(*event));
}

void qnt_decoder_binary_t::fail(const std::string& message) const {
  codec_exception_t e(message, true);
  e.set_record(record_number_, record_offset_, record_code);
  throw e;
}

stream_status_t qnt_decoder_binary_t::flush() { return stream_status_ok; }

uint64_t qnt_decoder_binary_t::pending_bytes() const {
  if (expect_header && !skipping_) return partial_.size();
  uint64_t received = skipping_ ? record_length - skip_left_ : partial_.size();
  return codec_header_size(context.version) + received;
}

void qnt_decoder_binary_t::initialize_flow() {
  flow_status_t status = flow->flow_init(context.flow_parameter);
  if (status != flow_status_ok) {
    throw codec_exception_t("Failed to initialize flow.", status == flow_status_error);
  }
  flow_initialized = true;
}

uint64_t qnt_decoder_binary_t::payload_left(uint64_t) const { return in_.left(); }

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
  int version = static_cast<int>(in_.u32());
  uint32_t minor_version = 0;
  std::string writer_revision = "unknown";
  uint64_t flow_parameter = 0;
  if (payload_left(length) > 0) minor_version = in_.u32();
  if (payload_left(length) > 0) in_.data16(writer_revision);
  if (payload_left(length) > 0) flow_parameter = in_.u64();
  context.set_version(version, static_cast<int>(minor_version), writer_revision, flow_parameter);
}

const qnt_event_t* qnt_decoder_binary_t::event_version_select(uint64_t length) {
  version_select(length);
  return NULL;
}

namespace {

template <class T>
const T* read_access_event(codec_reader_t* in, T* e) {
  e->pc = in->address_v0();
  e->addr = in->address_v0();
  e->thread_id = in->u32();
  e->size = in->u16();
  return e;
}

// A sample id: a 32-bit value in the low half of a 64-bit field.
uint32_t decode_id64(codec_reader_t* in) { return static_cast<uint32_t>(in->u64()); }

}  // namespace

// Every reader sets every field of its event, so that nothing of an earlier
// record shows through.

const qnt_event_t* qnt_decoder_binary_t::event_read(uint64_t) {
  return read_access_event(&in_, &read_event);
}

const qnt_event_t* qnt_decoder_binary_t::event_write(uint64_t) {
  return read_access_event(&in_, &write_event);
}

const qnt_event_t* qnt_decoder_binary_t::event_prefetch(uint64_t) {
  return read_access_event(&in_, &prefetch_event);
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_begin(uint64_t) {
  qnt_event_sample_begin_t* e = &sample_begin_event;
  e->pc = in_.address_v0();
  e->addr = in_.address_v0();
  e->time = in_.u64();
  e->thread_id = in_.u32();
  e->sample_id = decode_id64(&in_);
  e->access_type = in_.u8();
  e->access_size = in_.u16();
  e->line_size = in_.line_size();
  e->next_pc = in_.address_v0();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_end(uint64_t) {
  qnt_event_sample_end_t* e = &sample_end_event;
  e->pc = in_.address_v0();
  e->addr = in_.address_v0();
  e->time = in_.u64();
  e->thread_id = in_.u32();
  e->sample_id = decode_id64(&in_);
  e->access_type = in_.u8();
  e->access_size = in_.u16();
  e->rdist = in_.u64();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_period(uint64_t) {
  sample_period_event.sample_period = in_.u32();
  return &sample_period_event;
}

const qnt_event_t* qnt_decoder_binary_t::event_acquisition_begin(uint64_t length) {
  qnt_event_acquisition_begin_t* e = &acquisition_begin_event;
  e->time = in_.u64();
  e->architecture = in_.u32();
  size_t argc = checked_count(in_.u32(), 2, sizeof(std::string), length);
  e->argv.resize(argc);
  for (size_t i = 0; i < argc; ++i) in_.data16(e->argv[i]);
  in_.data16(e->user);
  e->line_sizes.clear();
  if (payload_left(length) > 0) {
    size_t count = checked_count(in_.u8(), 1, 1, length);
    const char* bytes = in_.read(count);
    e->line_sizes.assign(bytes, bytes + count);
  }
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_acquisition_end(uint64_t) {
  acquisition_end_event.time = in_.u64();
  return &acquisition_end_event;
}

const qnt_event_t* qnt_decoder_binary_t::event_mmap(uint64_t length) {
  qnt_event_mmap_t* e = &mmap_event;
  e->address = in_.u64();
  e->size = in_.u64();
  e->attr = in_.u32();
  e->device = in_.u64();
  e->inode = in_.u64();
  e->offset = in_.u64();
  in_.data16(e->filename);
  e->time = payload_left(length) > 0 ? in_.u64() : 0;
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_stack(uint64_t length) {
  qnt_event_stack_t* e = &stack_event;
  e->id = in_.u32();
  size_t count = checked_count(in_.u16(), 8, sizeof(qnt_address_t), length);
  e->return_addresses.resize(count);
  for (size_t i = 0; i < count; ++i) e->return_addresses[i] = in_.u64();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample_deprecated(uint64_t length) {
  qnt_event_sample_t* e = &sample_event;
  qnt_sample_access_t& begin = e->begin;
  e->ends.resize(1);
  qnt_sample_access_t& end = e->ends[0];
  begin.addr = in_.u64();
  end.addr = in_.u64();
  begin.time = in_.u64();
  end.time = in_.u64();
  begin.pc = in_.u64();
  e->next_pc = in_.u64();
  end.pc = in_.u64();
  begin.stack = in_.u32();
  e->stack = in_.u32();
  end.stack = in_.u32();
  begin.thread = in_.u32();
  end.thread = in_.u32();
  begin.size = in_.u16();
  end.size = in_.u16();
  begin.access_type = in_.u8();
  end.access_type = in_.u8();
  e->line_size = in_.u8();
  e->flags = 0;
  if (payload_left(length) > 0) {
    uint32_t count = in_.u32();
    if (count > 1) {
      size_t further = checked_count(count - 1u, 35, sizeof(qnt_sample_access_t), length);
      e->ends.resize(1 + further);
      for (size_t i = 1; i <= further; ++i) in_.access(e->ends[i]);
    }
  }
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_dangling_deprecated(uint64_t) {
  qnt_event_sample_t* e = &sample_event;
  e->begin.addr = in_.u64();
  e->begin.time = in_.u64();
  e->begin.pc = in_.u64();
  e->next_pc = in_.u64();
  e->begin.stack = in_.u32();
  e->stack = in_.u32();
  e->begin.thread = in_.u32();
  e->begin.size = in_.u16();
  e->begin.access_type = in_.u8();
  e->line_size = in_.u8();
  e->flags = 0;
  e->ends.clear();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_time_mapping(uint64_t length) {
  qnt_event_time_mapping_t* e = &time_mapping_event;
  size_t count = checked_count(in_.u16(), 12, sizeof(qnt_event_time_mapping_t::time_event_t), length);
  e->times.resize(count);
  for (size_t i = 0; i < count; ++i) {
    e->times[i].time = in_.u64();
    e->times[i].tid = in_.u32();
  }
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_local_time(uint64_t) {
  qnt_event_local_time_t* e = &local_time_event;
  e->tid = in_.u32();
  e->global_time = in_.u64();
  e->local_time = in_.u64();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_burst_begin(uint64_t) {
  qnt_event_burst_begin_t* e = &burst_begin_event;
  e->real_time = in_.u64();
  e->time = in_.u64();
  e->opaque_1 = in_.u64();
  e->opaque_2 = in_.u64();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_burst_end(uint64_t) {
  qnt_event_burst_end_t* e = &burst_end_event;
  e->real_time = in_.u64();
  e->time = in_.u64();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_sample(uint64_t length) {
  qnt_event_sample_t* e = &sample_event;
  in_.access(e->begin);
  e->next_pc = in_.u64();
  e->stack = in_.u32();
  e->line_size = in_.u8();
  e->flags = in_.u8();
  size_t count = checked_count(in_.u32(), 35, sizeof(qnt_sample_access_t), length);
  e->ends.resize(count);
  for (size_t i = 0; i < count; ++i) in_.access(e->ends[i]);
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_contexts(uint64_t length) {
  qnt_event_contexts_t* e = &contexts_event;
  size_t count = checked_count(in_.u32(), 4, sizeof(qnt_thread_id_t), length);
  e->contexts.resize(count);
  for (size_t i = 0; i < count; ++i) e->contexts[i] = in_.u32();
  return e;
}

const qnt_event_t* qnt_decoder_binary_t::event_munmap(uint64_t) {
  qnt_event_munmap_t* e = &munmap_event;
  e->address = in_.u64();
  e->size = in_.u64();
  e->time = in_.u64();
  return e;
}

}}  // namespace velkor::library
