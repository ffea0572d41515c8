#include "codec/codec_binary.h"

#include <cassert>

#include "codec/codec_utils.h"
#include "codec/decoder_binary.h"

namespace velkor { namespace library {

typedef qnt_decoder_binary_t decoder;

const codec_event_entry_t events_v0[] = {
    {kind_read, 0, &decoder::event_read},
    {kind_write, 1, &decoder::event_write},
    {kind_prefetch, 5, &decoder::event_prefetch},
    {kind_sample_begin, 2, &decoder::event_sample_begin},
    {kind_sample_end, 3, &decoder::event_sample_end},
    {kind_sample_period, 4, &decoder::event_sample_period},
    {kind_acquisition_begin, 6, &decoder::event_acquisition_begin},
    {kind_acquisition_end, 7, &decoder::event_acquisition_end},
    {kind_mmap, 8, &decoder::event_mmap},
    {-1, 9, &decoder::event_version_select},
    {-1, 0xFFFFFFFFu, NULL},
};

const codec_event_entry_t events_v1[] = {
    {kind_read, 0, &decoder::event_read},
    {kind_write, 1, &decoder::event_write},
    {kind_prefetch, 5, &decoder::event_prefetch},
    {kind_sample_begin, 2, &decoder::event_sample_begin},
    {kind_sample_end, 3, &decoder::event_sample_end},
    {kind_sample_period, 4, &decoder::event_sample_period},
    {kind_acquisition_begin, 6, &decoder::event_acquisition_begin},
    {kind_acquisition_end, 7, &decoder::event_acquisition_end},
    {kind_mmap, 8, &decoder::event_mmap},
    {-1, 9, &decoder::event_version_select},
    {kind_stack, 10, &decoder::event_stack},
    {-1, 11, &decoder::event_sample_deprecated},
    {-1, 12, &decoder::event_dangling_deprecated},
    {kind_time_mapping, 13, &decoder::event_time_mapping},
    {kind_local_time, 19, &decoder::event_local_time},
    {kind_burst_begin, 14, &decoder::event_burst_begin},
    {kind_burst_end, 15, &decoder::event_burst_end},
    {kind_sample, 16, &decoder::event_sample},
    {kind_contexts, 17, &decoder::event_contexts},
    {kind_munmap, 18, &decoder::event_munmap},
    {-1, 0xFFFFFFFFu, NULL},
};

namespace {

const codec_event_entry_t* search_code(const codec_event_entry_t* table, uint32_t code) {
  const codec_event_entry_t* entry = table;
  while (!codec_entry_is_end(entry) && entry->code != code) ++entry;
  return entry;
}

// The search above done once for every one-byte code of a table.
struct code_index_t {
  explicit code_index_t(const codec_event_entry_t* table) {
    for (uint32_t code = 0; code < 256; ++code) entries[code] = search_code(table, code);
  }
  const codec_event_entry_t* entries[256];
};

}  // namespace

const codec_event_entry_t* codec_find_code(const codec_event_entry_t* table, uint32_t code) {
  // Record codes on the wire are single bytes; the decoder asks once per record.
  static const code_index_t v0(events_v0);
  static const code_index_t v1(events_v1);
  if (code < 256 && table == events_v0) return v0.entries[code];
  if (code < 256 && table == events_v1) return v1.entries[code];
  return search_code(table, code);
}

const codec_event_entry_t* codec_find_kind(const codec_event_entry_t* table, int kind) {
  const codec_event_entry_t* entry = table;
  while (!codec_entry_is_end(entry) && (entry->kind != kind || kind < 0)) ++entry;
  return entry;
}

qnt_codec_binary_context_t::qnt_codec_binary_context_t(
    boost::shared_ptr<warning_consumer_base_t> sink)
    : warnings(sink), version(0), minor_version(0), flow_parameter(0), events(events_v0) {}

void qnt_codec_binary_context_t::set_version(int new_version, int new_minor_version,
                                             const std::string& new_writer_revision,
                                             uint64_t new_flow_parameter) {
  const codec_event_entry_t* table;
  switch (new_version) {
    case 0: table = events_v0; break;
    case 1:
    case 2:
    case 3: table = events_v1; break;
    default: throw codec_exception_t("Unsupport sample file version.", true);
  }
  events = table;
  version = new_version;
  minor_version = static_cast<uint32_t>(new_minor_version);
  writer_revision = new_writer_revision;
  flow_parameter = new_flow_parameter;
}

stream_status_t flow_to_stream_status(flow_status_t status) {
  switch (status) {
    case flow_status_ok: return stream_status_ok;
    case flow_status_done: return stream_status_done;
    case flow_status_error: return stream_status_error;
  }
  assert(0);
  return stream_status_error;
}

flow_status_t stream_to_flow_status(stream_status_t status) {
  switch (status) {
    case stream_status_ok: return flow_status_ok;
    case stream_status_done: return flow_status_done;
    case stream_status_error: return flow_status_error;
  }
  assert(0);
  return flow_status_error;
}

}}  // namespace velkor::library
