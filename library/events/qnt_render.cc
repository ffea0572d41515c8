// Every text form of the event model. Addresses are formatted apart from the
// stream, so neither the target stream's number base nor any locale grouping
// reaches them; all other numbers go through the stream's own integer
// output, except where that output is known to be plain decimal (see
// text_out_t), where they are written with std::to_chars: the same bytes
// without a stream call per field. Nothing here changes the stream's
// settings.
#include "events/qnt_render.h"

#include <charconv>
#include <cstring>
#include <locale>
#include <string>
#include <type_traits>

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

// An address as text, held in place: "0x" and lower-case hexadecimal digits,
// written with std::to_chars, so that neither the target stream's number base
// nor any locale reaches it (and no allocation is made per address).
struct address_text_t {
  char text[2 + 16];
  size_t length;
};

std::ostream& operator<<(std::ostream& os, const address_text_t& address) {
  return os.write(address.text, static_cast<std::streamsize>(address.length));
}

// "0x%x".
address_text_t hex(qnt_address_t address) {
  address_text_t out;
  out.text[0] = '0';
  out.text[1] = 'x';
  char* end = std::to_chars(out.text + 2, out.text + sizeof(out.text), address.value, 16).ptr;
  out.length = static_cast<size_t>(end - out.text);
  return out;
}

// "0x%016x".
address_text_t hex16(qnt_address_t address) {
  static const char digits[] = "0123456789abcdef";
  address_text_t out;
  out.text[0] = '0';
  out.text[1] = 'x';
  uint64_t v = address.value;
  for (int i = 17; i >= 2; --i) {
    out.text[i] = digits[v & 15];
    v >>= 4;
  }
  out.length = sizeof(out.text);
  return out;
}

// Small integers through the stream's unsigned output, never as characters.
unsigned dec(uint8_t value) { return value; }
unsigned dec(uint16_t value) { return value; }

// Ends a line of a multi-line event: a newline and a flush, as std::endl.
struct line_end_t {};
const line_end_t line_end{};

// Where one event's text goes. When the stream writes integers in plain
// decimal (no other base, no sign, no width, the classic locale), the text is
// gathered in a small buffer, numbers by std::to_chars, and handed to the
// stream in a few writes; otherwise every piece goes to the stream as it
// comes, numbers through its own integer output. Either way the bytes are
// those of writing each piece with <<.
class text_out_t {
 public:
  explicit text_out_t(std::ostream& os) : os_(os), plain_(writes_plain_decimal(os)) {}
  text_out_t(const text_out_t&) = delete;
  text_out_t& operator=(const text_out_t&) = delete;
  ~text_out_t() { drain(); }

  text_out_t& operator<<(const char* text) {
    if (!plain_) {
      os_ << text;
    } else {
      append(text, std::strlen(text));
    }
    return *this;
  }

  text_out_t& operator<<(char c) {
    if (!plain_) {
      os_ << c;
    } else {
      if (used_ == sizeof(buffer_)) drain();
      buffer_[used_++] = c;
    }
    return *this;
  }

  // Integers wider than a character (the narrow ones go through dec()).
  template <typename T>
  typename std::enable_if<std::is_integral<T>::value && (sizeof(T) > 1), text_out_t&>::type
  operator<<(T value) {
    if (!plain_) {
      os_ << value;
    } else {
      if (sizeof(buffer_) - used_ < 24) drain();
      char* end = std::to_chars(buffer_ + used_, buffer_ + sizeof(buffer_), value).ptr;
      used_ = static_cast<size_t>(end - buffer_);
    }
    return *this;
  }

  text_out_t& operator<<(qnt_thread_id_t thread) { return *this << thread.value; }

  text_out_t& operator<<(const address_text_t& address) {
    if (!plain_) {
      os_ << address;
    } else {
      append(address.text, address.length);
    }
    return *this;
  }

  // Texts from the file are rare: they go through the stream's own rendering.
  text_out_t& operator<<(const text_t& text) {
    drain();
    os_ << text;
    return *this;
  }

  text_out_t& operator<<(line_end_t) {
    *this << '\n';
    drain();
    os_.flush();
    return *this;
  }

 private:
  static bool writes_plain_decimal(std::ostream& os) {
    const std::ios_base::fmtflags f = os.flags();
    const std::ios_base::fmtflags basefield = f & std::ios_base::basefield;
    if (basefield != std::ios_base::dec && basefield != std::ios_base::fmtflags(0)) return false;
    if ((f & std::ios_base::showpos) || os.width() != 0) return false;
    return os.getloc() == std::locale::classic();
  }

  void append(const char* text, size_t length) {
    if (sizeof(buffer_) - used_ < length) {
      drain();
      if (length > sizeof(buffer_)) {
        os_.write(text, static_cast<std::streamsize>(length));
        return;
      }
    }
    std::memcpy(buffer_ + used_, text, length);
    used_ += length;
  }

  void drain() {
    if (used_ == 0) return;
    os_.write(buffer_, static_cast<std::streamsize>(used_));
    used_ = 0;
  }

  std::ostream& os_;
  const bool plain_;
  size_t used_ = 0;
  char buffer_[512];
};

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
  text_out_t out(os);
  out << label << "pc<" << hex16(e.pc) << ">, addr<" << hex16(e.addr)
      << ">, thread_id: " << e.thread_id << ", size: " << dec(e.size);
  return os;
}

text_out_t& operator<<(text_out_t& out, const qnt_sample_access_t& a) {
  return out << "time " << a.time << ", thread: " << a.thread << ", pc " << hex16(a.pc)
             << ", stack " << a.stack << ", addr " << hex16(a.addr) << ", size " << dec(a.size)
             << ", type " << get_access_type_str(a.access_type);
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
  text_out_t out(os);
  out << a;
  return os;
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
  text_out_t out(os);
  out << "[event-smpl-bgn] pc<" << hex16(pc) << ">, pc+1<" << hex16(next_pc) << ">, addr<"
      << hex16(addr) << ">, thread_id: " << thread_id << ", sample_id: " << sample_id
      << ", time: " << time << ", kind: " << get_access_type_str(access_type)
      << ", access_size: " << dec(access_size) << ", line_size: " << line_size;
  return os;
}

// No blank after "kind:" here, unlike the begin.
std::ostream& qnt_event_sample_end_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[event-smpl-end] pc<" << hex16(pc) << ">, addr<" << hex16(addr)
      << ">, thread_id: " << thread_id << ", sample_id: " << sample_id << ", time: " << time
      << ", kind:" << get_access_type_str(access_type) << ", access_size: " << dec(access_size)
      << ", rdist: " << rdist;
  return os;
}

std::ostream& qnt_event_sample_period_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[event-smpl-rt]  sample_rate: " << sample_period;
  return os;
}

// Line sizes are shown in bytes after two blanks; the architecture is not shown.
std::ostream& qnt_event_acquisition_begin_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[acq-begin]      time: " << time << ", user: " << text_t{user} << ", argv:";
  for (const std::string& arg : argv) out << ' ' << text_t{arg};
  out << ", line sizes: ";
  for (uint8_t log : line_sizes) out << ' ' << qnt_line_size_from_log(log);
  return os;
}

std::ostream& qnt_event_acquisition_end_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[acq-end]        time: " << time;
  return os;
}

std::ostream& qnt_event_mmap_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[mmap]           address: " << hex16(address) << ", size: " << size << ", attr: " << attr
      << ", device: " << device << ", inode: " << inode << ", time: " << time
      << ", offset: " << hex16(offset) << ", filename: " << text_t{filename};
  return os;
}

std::ostream& qnt_event_munmap_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[munmap]         address: " << hex16(address) << ", size: " << size << ", time: " << time;
  return os;
}

std::ostream& qnt_event_stack_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[stack]          id: " << id << ", return addresses:";
  for (const qnt_address_t& a : return_addresses) out << ' ' << hex(a);
  return os;
}

std::ostream& qnt_event_burst_begin_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[burst-begin]    real_time: " << real_time << ", time: " << time;
  return os;
}

std::ostream& qnt_event_burst_end_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[burst-end]      real_time: " << real_time << ", time: " << time;
  return os;
}

// One blank fewer in the label than the others, and none after the colon.
std::ostream& qnt_event_contexts_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[contexts]      contexts:";
  for (uint32_t tid : contexts) out << ' ' << qnt_thread_id_t(tid);
  return os;
}

// ---- Multi-line events (each line ends with a newline and a flush) ----------

std::ostream& qnt_event_local_time_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[local_time]     tid: " << tid << ", global time: " << global_time
      << ", local time: " << local_time << line_end;
  return os;
}

std::ostream& qnt_event_time_mapping_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[time_mapping]" << line_end;
  for (const time_event_t& t : times) out << "  time " << t.time << ", tid " << t.tid << line_end;
  return os;
}

std::ostream& qnt_event_sample_t::stream_put(std::ostream& os) const {
  text_out_t out(os);
  out << "[sample] line_size: " << qnt_line_size_from_log(line_size) << line_end;
  out << "  begin: [" << begin << "]" << line_end;
  out << "  pc1+: [pc " << hex16(next_pc) << ", stack: " << stack << "]" << line_end;
  out << "  flags: " << dec(flags);
  if (flags & flag_killed) out << " Killed ";
  out << line_end;
  for (const qnt_sample_access_t& end : ends) out << "  end: [" << end << "]" << line_end;
  return os;
}

}}  // namespace velkor::library
