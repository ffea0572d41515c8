#include "codec/encoder_binary.h"

#include <boost/lexical_cast.hpp>

#include "support/version_info.h"

namespace velkor { namespace library {

namespace {

const uint64_t max_text_length = 65534;  // the data16 length counts the terminator

std::string number(uint64_t value) { return boost::lexical_cast<std::string>(value); }

std::string too_many(const char* what, uint64_t count, uint64_t limit) {
  return "Cannot encode " + std::string(what) + ": " + number(count) +
         " do not fit, at most " + number(limit) + ".";
}

// Writes a 32-bit sample id in the low half of a 64-bit field.
void encode_id64(codec_buffer_t* buffer, uint32_t id) { binary_encode_uint64(buffer, id); }

template <class T>
void encode_access_event(codec_buffer_t* buffer, const T& e) {
  binary_encode_address_v0(buffer, e.pc);
  binary_encode_address_v0(buffer, e.addr);
  binary_encode_uint32(buffer, e.thread_id);
  binary_encode_uint16(buffer, e.size);
}

}  // namespace

qnt_encoder_binary_t::qnt_encoder_binary_t(stream_t* target,
                                           boost::shared_ptr<warning_consumer_base_t> sink)
    : downstream(target), warnings(sink), context(sink) {}

flow_status_t qnt_encoder_binary_t::flow_init(uint64_t flow_parameter) {
  char revision[20];
  version_get_svnversion(revision, sizeof(revision));
  context.set_version(3, 1, revision, flow_parameter);
  version_select();
  write_event(codec_version_code);
  return flow_status_ok;
}

void qnt_encoder_binary_t::version_select() {
  binary_encode_uint32(&payload, static_cast<uint32_t>(context.version));
  binary_encode_uint32(&payload, context.minor_version);
  binary_encode_data16(&payload, context.writer_revision.c_str(),
                       context.writer_revision.size() + 1);
  binary_encode_uint64(&payload, context.flow_parameter);
}

bool qnt_encoder_binary_t::write_event(int code) {
  uint64_t n = payload.size();
  bool long_header = context.version >= 2 && code != static_cast<int>(codec_version_code);
  if (n > (long_header ? 0xFFFFFFFFull : 0xFFFFull)) return false;
  binary_encode_uint8(&output, static_cast<uint8_t>(code));
  if (long_header) {
    binary_encode_uint32(&output, static_cast<uint32_t>(n));
  } else {
    binary_encode_uint16(&output, static_cast<uint16_t>(n));
  }
  output.write(payload.read(n), n);
  return true;
}

flow_status_t qnt_encoder_binary_t::refuse(const std::string& why) {
  payload.read(payload.size());
  warnings->error(why);
  return flow_status_error;
}

bool qnt_encoder_binary_t::put_text(const std::string& text, const char* what) {
  if (text.size() > max_text_length) {
    refusal = "Cannot encode " + std::string(what) + ": a text of " + number(text.size()) +
              " bytes does not fit, at most " + number(max_text_length) + ".";
    return false;
  }
  binary_encode_data16(&payload, text.c_str(), text.size() + 1);
  return true;
}

flow_status_t qnt_encoder_binary_t::process_event(const qnt_event_t& event) {
  const codec_event_entry_t* entry =
      codec_find_kind(context.events, static_cast<int>(event.get_kind()));
  if (codec_entry_is_end(entry)) {
    warnings->error("Unknown Quenth event kind.");
    return flow_status_error;
  }
  refusal.clear();
  flow_status_t status = quenth_flow_by_type_t::process_event(event);
  if (status != flow_status_ok) return refuse(refusal);
  if (!write_event(static_cast<int>(entry->code))) {
    return refuse("Cannot encode record: a payload of " + number(payload.size()) +
                  " bytes does not fit its record header.");
  }
  size_t n = output.size();
  return stream_to_flow_status(downstream->process_data(output.read(n), n));
}

// ---- Payloads -----------------------------------------------------------------

flow_status_t qnt_encoder_binary_t::read(const qnt_event_read_t& e) {
  encode_access_event(&payload, e);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::write(const qnt_event_write_t& e) {
  encode_access_event(&payload, e);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::prefetch(const qnt_event_prefetch_t& e) {
  encode_access_event(&payload, e);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::sample_begin(const qnt_event_sample_begin_t& e) {
  binary_encode_address_v0(&payload, e.pc);
  binary_encode_address_v0(&payload, e.addr);
  binary_encode_uint64(&payload, e.time);
  binary_encode_uint32(&payload, e.thread_id);
  encode_id64(&payload, e.sample_id);
  binary_encode_uint8(&payload, e.access_type);
  binary_encode_uint16(&payload, e.access_size);
  binary_encode_line_size(&payload, e.line_size);
  binary_encode_address_v0(&payload, e.next_pc);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::sample_end(const qnt_event_sample_end_t& e) {
  binary_encode_address_v0(&payload, e.pc);
  binary_encode_address_v0(&payload, e.addr);
  binary_encode_uint64(&payload, e.time);
  binary_encode_uint32(&payload, e.thread_id);
  encode_id64(&payload, e.sample_id);
  binary_encode_uint8(&payload, e.access_type);
  binary_encode_uint16(&payload, e.access_size);
  binary_encode_uint64(&payload, e.rdist);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::sample_period(const qnt_event_sample_period_t& e) {
  if (e.sample_period > 0xFFFFFFFFull) {
    refusal = "Cannot encode sample period " + number(e.sample_period) +
              ": it does not fit, at most 4294967295.";
    return flow_status_error;
  }
  binary_encode_uint32(&payload, static_cast<uint32_t>(e.sample_period));
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::acquisition_begin(const qnt_event_acquisition_begin_t& e) {
  if (e.argv.size() > 0xFFFFFFFFull) {
    refusal = too_many("acquisition begin: command-line arguments", e.argv.size(), 0xFFFFFFFFull);
    return flow_status_error;
  }
  if (e.line_sizes.size() > 255) {
    refusal = too_many("acquisition begin: line sizes", e.line_sizes.size(), 255);
    return flow_status_error;
  }
  binary_encode_uint64(&payload, e.time);
  binary_encode_uint32(&payload, e.architecture);
  binary_encode_uint32(&payload, static_cast<uint32_t>(e.argv.size()));
  for (const std::string& arg : e.argv) {
    if (!put_text(arg, "acquisition begin: command-line argument")) return flow_status_error;
  }
  if (!put_text(e.user, "acquisition begin: user")) return flow_status_error;
  binary_encode_uint8(&payload, static_cast<uint8_t>(e.line_sizes.size()));
  if (!e.line_sizes.empty()) {
    payload.write(reinterpret_cast<const char*>(e.line_sizes.data()), e.line_sizes.size());
  }
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::acquisition_end(const qnt_event_acquisition_end_t& e) {
  binary_encode_uint64(&payload, e.time);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::mmap(const qnt_event_mmap_t& e) {
  binary_encode_uint64(&payload, e.address);
  binary_encode_uint64(&payload, e.size);
  binary_encode_uint32(&payload, e.attr);
  binary_encode_uint64(&payload, e.device);
  binary_encode_uint64(&payload, e.inode);
  binary_encode_uint64(&payload, e.offset);
  if (!put_text(e.filename, "mmap: file name")) return flow_status_error;
  binary_encode_uint64(&payload, e.time);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::munmap(const qnt_event_munmap_t& e) {
  binary_encode_uint64(&payload, e.address);
  binary_encode_uint64(&payload, e.size);
  binary_encode_uint64(&payload, e.time);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::stack(const qnt_event_stack_t& e) {
  if (e.return_addresses.size() > 0xFFFF) {
    refusal = too_many("stack: return addresses", e.return_addresses.size(), 0xFFFF);
    return flow_status_error;
  }
  binary_encode_uint32(&payload, e.id);
  binary_encode_uint16(&payload, static_cast<uint16_t>(e.return_addresses.size()));
  for (qnt_address_t a : e.return_addresses) binary_encode_uint64(&payload, a);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::sample(const qnt_event_sample_t& e) {
  if (e.ends.size() > 0xFFFFFFFFull) {
    refusal = too_many("sample: ends", e.ends.size(), 0xFFFFFFFFull);
    return flow_status_error;
  }
  binary_encode_access(&payload, e.begin);
  binary_encode_uint64(&payload, e.next_pc);
  binary_encode_uint32(&payload, e.stack);
  binary_encode_uint8(&payload, e.line_size);
  binary_encode_uint8(&payload, e.flags);
  binary_encode_uint32(&payload, static_cast<uint32_t>(e.ends.size()));
  for (const qnt_sample_access_t& end : e.ends) binary_encode_access(&payload, end);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::time_mapping(const qnt_event_time_mapping_t& e) {
  if (e.times.size() > 0xFFFF) {
    refusal = too_many("time mapping: entries", e.times.size(), 0xFFFF);
    return flow_status_error;
  }
  binary_encode_uint16(&payload, static_cast<uint16_t>(e.times.size()));
  for (const qnt_event_time_mapping_t::time_event_t& t : e.times) {
    binary_encode_uint64(&payload, t.time);
    binary_encode_uint32(&payload, t.tid);
  }
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::local_time(const qnt_event_local_time_t& e) {
  binary_encode_uint32(&payload, e.tid);
  binary_encode_uint64(&payload, e.global_time);
  binary_encode_uint64(&payload, e.local_time);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::burst_begin(const qnt_event_burst_begin_t& e) {
  binary_encode_uint64(&payload, e.real_time);
  binary_encode_uint64(&payload, e.time);
  binary_encode_uint64(&payload, e.opaque_1);
  binary_encode_uint64(&payload, e.opaque_2);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::burst_end(const qnt_event_burst_end_t& e) {
  binary_encode_uint64(&payload, e.real_time);
  binary_encode_uint64(&payload, e.time);
  return flow_status_ok;
}

flow_status_t qnt_encoder_binary_t::contexts(const qnt_event_contexts_t& e) {
  if (e.contexts.size() > 0xFFFFFFFFull) {
    refusal = too_many("contexts: thread ids", e.contexts.size(), 0xFFFFFFFFull);
    return flow_status_error;
  }
  binary_encode_uint32(&payload, static_cast<uint32_t>(e.contexts.size()));
  for (uint32_t tid : e.contexts) binary_encode_uint32(&payload, tid);
  return flow_status_ok;
}

}}  // namespace velkor::library
