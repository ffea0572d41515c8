#include "events/event_json.h"

#include <cassert>

#include "events/quenth.h"

namespace velkor { namespace library {

namespace {

template <class T>
const T& as(const qnt_event_t& event) {
  return static_cast<const T&>(event);
}

void access_type(qnt_access_type_t type, json_writer_t* line) {
  line->member("access_type", type);
  line->member("access_type_name", get_access_type_str(type));
}

void code_member(const char* name, qnt_address_t address, json_writer_t* line,
                 json_address_annotator_t* annotator) {
  line->address_member(name, address);
  if (annotator != nullptr) annotator->code_address(name, address, line);
}

void data_member(const char* name, qnt_address_t address, json_writer_t* line,
                 json_address_annotator_t* annotator) {
  line->address_member(name, address);
  if (annotator != nullptr) annotator->data_address(name, address, line);
}

// read, write and prefetch share one layout.
template <class T>
void memory_access(const T& e, json_writer_t* line, json_address_annotator_t* annotator) {
  code_member("pc", e.pc, line, annotator);
  data_member("addr", e.addr, line, annotator);
  line->member("thread_id", e.thread_id);
  line->member("size", e.size);
}

void sample_access(const qnt_sample_access_t& a, json_writer_t* line,
                   json_address_annotator_t* annotator) {
  line->begin_object();
  code_member("pc", a.pc, line, annotator);
  data_member("addr", a.addr, line, annotator);
  line->member("time", a.time);
  line->member("stack", a.stack);
  line->member("thread", a.thread);
  line->member("size", a.size);
  access_type(a.access_type, line);
  line->end_object();
}

void fields(const qnt_event_sample_begin_t& e, json_writer_t* line,
            json_address_annotator_t* annotator) {
  line->member("time", e.time);
  line->member("thread_id", e.thread_id);
  line->member("sample_id", e.sample_id);
  code_member("pc", e.pc, line, annotator);
  code_member("next_pc", e.next_pc, line, annotator);
  data_member("addr", e.addr, line, annotator);
  access_type(e.access_type, line);
  line->member("access_size", e.access_size);
  line->member("line_size", e.line_size);
}

void fields(const qnt_event_sample_end_t& e, json_writer_t* line,
            json_address_annotator_t* annotator) {
  line->member("time", e.time);
  line->member("thread_id", e.thread_id);
  line->member("sample_id", e.sample_id);
  code_member("pc", e.pc, line, annotator);
  data_member("addr", e.addr, line, annotator);
  access_type(e.access_type, line);
  line->member("access_size", e.access_size);
  line->member("rdist", e.rdist);
}

void fields(const qnt_event_acquisition_begin_t& e, json_writer_t* line) {
  line->member("time", e.time);
  line->member("architecture", e.architecture);
  line->member("architecture_name", architecture_name(e.architecture));
  line->key("argv");
  line->begin_array();
  for (const std::string& arg : e.argv) line->string(arg);
  line->end_array();
  line->member("user", e.user);
  line->key("line_sizes");
  line->begin_array();
  for (uint8_t log : e.line_sizes) line->number(qnt_line_size_from_log(log));
  line->end_array();
}

void fields(const qnt_event_mmap_t& e, json_writer_t* line) {
  line->address_member("address", e.address);
  line->member("size", e.size);
  line->member("attr", e.attr);
  line->member("device", e.device);
  line->member("inode", e.inode);
  line->member("filename", e.filename);
  line->address_member("offset", e.offset);
  line->member("time", e.time);
}

void fields(const qnt_event_stack_t& e, json_writer_t* line,
            json_address_annotator_t* annotator) {
  line->member("id", e.id);
  line->key("return_addresses");
  line->begin_array();
  for (qnt_address_t address : e.return_addresses) line->number(address);
  line->end_array();
  line->key("return_addresses_hex");
  line->begin_array();
  for (qnt_address_t address : e.return_addresses) line->hex_string(address);
  line->end_array();
  if (annotator != nullptr) annotator->return_addresses("return_addresses", e.return_addresses, line);
}

void fields(const qnt_event_sample_t& e, json_writer_t* line,
            json_address_annotator_t* annotator) {
  line->key("begin");
  sample_access(e.begin, line, annotator);
  line->key("ends");
  line->begin_array();
  for (const qnt_sample_access_t& end : e.ends) sample_access(end, line, annotator);
  line->end_array();
  code_member("next_pc", e.next_pc, line, annotator);
  line->member("stack", e.stack);
  line->member("line_size", qnt_line_size_from_log(e.line_size));
  line->member("flags", e.flags);
  line->key("killed");
  line->boolean((e.flags & qnt_event_sample_t::flag_killed) != 0);
}

void fields(const qnt_event_time_mapping_t& e, json_writer_t* line) {
  line->key("times");
  line->begin_array();
  for (const auto& entry : e.times) {
    line->begin_object();
    line->member("time", entry.time);
    line->member("tid", entry.tid);
    line->end_object();
  }
  line->end_array();
}

}  // namespace

const char* architecture_name(uint32_t architecture) {
  switch (architecture) {
    case 0: return "i386";
    case 1: return "x86_64";
    default: return "unknown";
  }
}


void json_container_object(const stream_container_header_t& header, json_writer_t* line) {
  line->begin_object();
  line->member("version", header.version);
  line->key("product");
  line->signed_number(header.product);
  line->member("product_name", stream_container_product_name(header.product));
  line->key("data_type");
  line->signed_number(header.data_type);
  line->member("data_type_name", stream_container_data_type_name(header.data_type));
  line->key("compression");
  line->signed_number(header.compression);
  line->member("compression_name", stream_container_compression_name(header.compression));
  line->end_object();
}

void json_event_object(const qnt_event_t& event, json_writer_t* line,
                       json_address_annotator_t* annotator) {
  qnt_event_kind_t kind = event.get_kind();
  line->begin_object();
  line->member("kind", kind_name(kind));
  switch (kind) {
    case kind_read: memory_access(as<qnt_event_read_t>(event), line, annotator); break;
    case kind_write: memory_access(as<qnt_event_write_t>(event), line, annotator); break;
    case kind_prefetch: memory_access(as<qnt_event_prefetch_t>(event), line, annotator); break;
    case kind_sample_begin: fields(as<qnt_event_sample_begin_t>(event), line, annotator); break;
    case kind_sample_end: fields(as<qnt_event_sample_end_t>(event), line, annotator); break;
    case kind_sample_period:
      line->member("sample_period", as<qnt_event_sample_period_t>(event).sample_period);
      break;
    case kind_acquisition_begin: fields(as<qnt_event_acquisition_begin_t>(event), line); break;
    case kind_acquisition_end:
      line->member("time", as<qnt_event_acquisition_end_t>(event).time);
      break;
    case kind_mmap: fields(as<qnt_event_mmap_t>(event), line); break;
    case kind_munmap: {
      const qnt_event_munmap_t& e = as<qnt_event_munmap_t>(event);
      line->address_member("address", e.address);
      line->member("size", e.size);
      line->member("time", e.time);
      break;
    }
    case kind_stack: fields(as<qnt_event_stack_t>(event), line, annotator); break;
    case kind_sample: fields(as<qnt_event_sample_t>(event), line, annotator); break;
    case kind_time_mapping: fields(as<qnt_event_time_mapping_t>(event), line); break;
    case kind_local_time: {
      const qnt_event_local_time_t& e = as<qnt_event_local_time_t>(event);
      line->member("tid", e.tid);
      line->member("global_time", e.global_time);
      line->member("local_time", e.local_time);
      break;
    }
    case kind_burst_begin: {
      const qnt_event_burst_begin_t& e = as<qnt_event_burst_begin_t>(event);
      line->member("real_time", e.real_time);
      line->member("time", e.time);
      line->member("opaque_1", e.opaque_1);
      line->member("opaque_2", e.opaque_2);
      break;
    }
    case kind_burst_end: {
      const qnt_event_burst_end_t& e = as<qnt_event_burst_end_t>(event);
      line->member("real_time", e.real_time);
      line->member("time", e.time);
      break;
    }
    case kind_contexts:
      line->key("contexts");
      line->begin_array();
      for (uint32_t thread : as<qnt_event_contexts_t>(event).contexts) line->number(thread);
      line->end_array();
      break;
  }
  line->end_object();
}

}}  // namespace velkor::library
