// Every text form of the event model. Addresses are formatted by Boost.Format
// in the classic locale, so neither the target stream's number base nor any
// locale grouping reaches them; all other numbers go through the stream's own
// integer output. Nothing here changes the stream's settings.
#include "events/qnt_render.h"

#include <locale>
#include <string>

#include <boost/format.hpp>

#include "events/quenth.h"
#include "support/printable_text.h"

namespace velkor { namespace library {

namespace {

// The stream's slot for the escape_texts switch.
int escape_texts_slot() {
  static const int slot = std::ios_base::xalloc();
  return slot;
}

// A text of the event, escaped when the stream asks for it.
struct text_t {
  const std::string& bytes;
};

std::ostream& operator<<(std::ostream& os, const text_t& text) {
  if (texts_escaped(os)) {
    write_printable_text(os, text.bytes);
  } else {
    os << text.bytes;
  }
  return os;
}

// The value is passed as a plain integer: an address object would come back
// through its own stream operator.
std::string format_address(const char* directive, uint64_t value) {
  return (boost::format(directive, std::locale::classic()) % value).str();
}

std::string hex(qnt_address_t address) { return format_address("0x%x", address.value); }
std::string hex16(qnt_address_t address) { return format_address("0x%016x", address.value); }

// Small integers through the stream's unsigned output, never as characters.
unsigned dec(uint8_t value) { return value; }
unsigned dec(uint16_t value) { return value; }

template <typename Container>
std::ostream& put_addresses(std::ostream& os, const Container& addresses, bool padded) {
  os << '(';
  bool first = true;
  for (const qnt_address_t& a : addresses) {
    if (!first) os << ',';
    first = false;
    os << (padded ? hex16(a) : hex(a));
  }
  return os << ')';
}

// The single-line form shared by read, write and prefetch; the label is
// already padded to 17 characters.
template <typename Event>
std::ostream& put_access_event(std::ostream& os, const char* label, const Event& e) {
  return os << label << "pc<" << hex16(e.pc) << ">, addr<" << hex16(e.addr)
            << ">, thread_id: " << e.thread_id << ", size: " << dec(e.size);
}

}  // namespace

std::ios_base& escape_texts(std::ios_base& stream) {
  stream.iword(escape_texts_slot()) = 1;
  return stream;
}

bool texts_escaped(std::ios_base& stream) { return stream.iword(escape_texts_slot()) != 0; }

// ---- Scalars and containers --------------------------------------------------

std::ostream& operator<<(std::ostream& os, const qnt_address_t& address) {
  return os << hex(address);
}

std::ostream& operator<<(std::ostream& os, const qnt_thread_id_t& thread) {
  return os << thread.value;
}

std::ostream& operator<<(std::ostream& os, const pad_t<qnt_address_t>& address) {
  return os << hex16(address.value);
}

std::ostream& operator<<(std::ostream& os, const std::set<qnt_address_t>& addresses) {
  return put_addresses(os, addresses, false);
}

std::ostream& operator<<(std::ostream& os, const std::vector<qnt_address_t>& addresses) {
  return put_addresses(os, addresses, false);
}

std::ostream& operator<<(std::ostream& os, const pad_t<std::set<qnt_address_t> >& addresses) {
  return put_addresses(os, addresses.value, true);
}

std::ostream& operator<<(std::ostream& os,
                         const pad_t<std::vector<qnt_address_t> >& addresses) {
  return put_addresses(os, addresses.value, true);
}

std::ostream& operator<<(std::ostream& os, const qnt_sample_access_t& a) {
  return os << "time " << a.time << ", thread: " << a.thread << ", pc " << hex16(a.pc)
            << ", stack " << a.stack << ", addr " << hex16(a.addr) << ", size " << dec(a.size)
            << ", type " << get_access_type_str(a.access_type);
}

// ---- Single-line events ------------------------------------------------------

std::ostream& qnt_event_read_t::stream_put(std::ostream& os) const {
  return put_access_event(os, "[event-read]     ", *this);
}

std::ostream& qnt_event_write_t::stream_put(std::ostream& os) const {
  return put_access_event(os, "[event-write]    ", *this);
}

std::ostream& qnt_event_prefetch_t::stream_put(std::ostream& os) const {
  return put_access_event(os, "[event-prefetch] ", *this);
}

std::ostream& qnt_event_sample_begin_t::stream_put(std::ostream& os) const {
  return os << "[event-smpl-bgn] pc<" << hex16(pc) << ">, pc+1<" << hex16(next_pc) << ">, addr<"
            << hex16(addr) << ">, thread_id: " << thread_id << ", sample_id: " << sample_id
            << ", time: " << time << ", kind: " << get_access_type_str(access_type)
            << ", access_size: " << dec(access_size) << ", line_size: " << line_size;
}

// No blank after "kind:" here, unlike the begin.
std::ostream& qnt_event_sample_end_t::stream_put(std::ostream& os) const {
  return os << "[event-smpl-end] pc<" << hex16(pc) << ">, addr<" << hex16(addr)
            << ">, thread_id: " << thread_id << ", sample_id: " << sample_id
            << ", time: " << time << ", kind:" << get_access_type_str(access_type)
            << ", access_size: " << dec(access_size) << ", rdist: " << rdist;
}

std::ostream& qnt_event_sample_period_t::stream_put(std::ostream& os) const {
  return os << "[event-smpl-rt]  sample_rate: " << sample_period;
}

// Line sizes are shown in bytes after two blanks; the architecture is not shown.
std::ostream& qnt_event_acquisition_begin_t::stream_put(std::ostream& os) const {
  os << "[acq-begin]      time: " << time << ", user: " << text_t{user} << ", argv:";
  for (const std::string& arg : argv) os << ' ' << text_t{arg};
  os << ", line sizes: ";
  for (uint8_t log : line_sizes) os << ' ' << qnt_line_size_from_log(log);
  return os;
}

std::ostream& qnt_event_acquisition_end_t::stream_put(std::ostream& os) const {
  return os << "[acq-end]        time: " << time;
}

std::ostream& qnt_event_mmap_t::stream_put(std::ostream& os) const {
  return os << "[mmap]           address: " << hex16(address) << ", size: " << size
            << ", attr: " << attr << ", device: " << device << ", inode: " << inode
            << ", time: " << time << ", offset: " << hex16(offset) << ", filename: " << text_t{filename};
}

std::ostream& qnt_event_munmap_t::stream_put(std::ostream& os) const {
  return os << "[munmap]         address: " << hex16(address) << ", size: " << size
            << ", time: " << time;
}

std::ostream& qnt_event_stack_t::stream_put(std::ostream& os) const {
  os << "[stack]          id: " << id << ", return addresses:";
  for (const qnt_address_t& a : return_addresses) os << ' ' << hex(a);
  return os;
}

std::ostream& qnt_event_burst_begin_t::stream_put(std::ostream& os) const {
  return os << "[burst-begin]    real_time: " << real_time << ", time: " << time;
}

std::ostream& qnt_event_burst_end_t::stream_put(std::ostream& os) const {
  return os << "[burst-end]      real_time: " << real_time << ", time: " << time;
}

// One blank fewer in the label than the others, and none after the colon.
std::ostream& qnt_event_contexts_t::stream_put(std::ostream& os) const {
  os << "[contexts]      contexts:";
  for (uint32_t tid : contexts) os << ' ' << qnt_thread_id_t(tid);
  return os;
}

// ---- Multi-line events (each line ends with a newline and a flush) ----------

std::ostream& qnt_event_local_time_t::stream_put(std::ostream& os) const {
  return os << "[local_time]     tid: " << tid << ", global time: " << global_time
            << ", local time: " << local_time << std::endl;
}

std::ostream& qnt_event_time_mapping_t::stream_put(std::ostream& os) const {
  os << "[time_mapping]" << std::endl;
  for (const time_event_t& t : times) {
    os << "  time " << t.time << ", tid " << t.tid << std::endl;
  }
  return os;
}

std::ostream& qnt_event_sample_t::stream_put(std::ostream& os) const {
  os << "[sample] line_size: " << qnt_line_size_from_log(line_size) << std::endl;
  os << "  begin: [" << begin << "]" << std::endl;
  os << "  pc1+: [pc " << hex16(next_pc) << ", stack: " << stack << "]" << std::endl;
  os << "  flags: " << dec(flags);
  if (flags & flag_killed) os << " Killed ";
  os << std::endl;
  for (const qnt_sample_access_t& end : ends) os << "  end: [" << end << "]" << std::endl;
  return os;
}

}}  // namespace velkor::library
