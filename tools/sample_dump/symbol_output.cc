#include "symbol_output.h"

#include <algorithm>
#include <charconv>

#include "support/seeded_hash.h"
#include "symbols/symbol_options.h"
#include "symbols/symbol_render.h"

namespace velkor { namespace dump {

namespace po = boost::program_options;
using namespace library;

namespace {

template <class T>
const T& as(const qnt_event_t& event) {
  return static_cast<const T&>(event);
}

void append_number(uint64_t value, int base, std::string* out) {
  char digits[24];
  auto end = std::to_chars(digits, digits + sizeof(digits), value, base).ptr;
  out->append(digits, static_cast<size_t>(end - digits));
}

}  // namespace

// ---- Command line ----------------------------------------------------------

void add_symbol_options(po::options_description* options) {
  options->add_options()
      ("symbols",
       "Resolve addresses to modules, functions, source lines and inlined calls, and data "
       "addresses to global objects, against the mappings in force at each event: in the "
       "text form a line after each event per code address, in JSON a <name>_sym object "
       "after each address.")
      ("symfs", po::value<std::string>(),
       "With --symbols: look up the recorded modules and their debug files under this "
       "folder (DIR/usr/bin/app for /usr/bin/app).");
}

bool symbol_output_from_options(const po::variables_map& vm,
                                boost::shared_ptr<warning_consumer_base_t> warnings,
                                std::unique_ptr<symbol_output_t>* output, std::string* error) {
  output->reset();
  symbolizer_options_t options;
  if (!check_symbol_options(vm.count("symbols") > 0, vm.count("symfs") > 0,
                            vm.count("symfs") ? vm["symfs"].as<std::string>() : std::string(),
                            &options, error)) {
    return false;
  }
  if (vm.count("symbols")) output->reset(new symbol_output_t(options.root, warnings));
  return true;
}

// ---- The output ------------------------------------------------------------

symbol_output_t::symbol_output_t(const std::string& root,
                                 boost::shared_ptr<warning_consumer_base_t> warnings)
    : resolver_([&] {
        symbolizer_options_t options;
        options.root = root;
        return options;
      }(), warnings) {}

symbol_output_t::module_text_t& symbol_output_t::module_text(module_id_t module) {
  if (module >= modules_.size()) modules_.resize(module + 1);
  module_text_t& text = modules_[module];
  if (text.kind == module_unknown) {
    text.kind = resolver_.has_symbols(module) ? module_symbols : module_plain;
    const module_t& info = resolver_.space().module(module);
    if (form_ == form_json) {
      json_writer_t json;
      json.begin_object();
      json.member("module", info.path);
      json.key("offset");
      text.prefix = json.text();
    } else {
      text.prefix = "[" + module_display_name(info) + "+";
    }
  }
  return text;
}

std::string_view symbol_output_t::render_plain(const module_text_t& module, uint64_t offset) {
  scratch_ = module.prefix;
  if (form_ == form_json) {
    append_number(offset, 10, &scratch_);
    scratch_ += ",\"offset_hex\":\"0x";
    append_number(offset, 16, &scratch_);
    scratch_ += "\"}";
  } else {
    scratch_ += "0x";
    append_number(offset, 16, &scratch_);
    scratch_ += ']';
  }
  return scratch_;
}

symbol_output_t::slot_t* symbol_output_t::find_slot(uint64_t tag, uint64_t offset) {
  size_t mask = slots_.size() - 1;
  for (size_t i = static_cast<size_t>(seeded_hash64(tag, offset)) & mask;; i = (i + 1) & mask) {
    slot_t& slot = slots_[i];
    if (slot.tag == 0 || (slot.tag == tag && slot.offset == offset)) return &slot;
  }
}

void symbol_output_t::grow() {
  std::vector<slot_t> old;
  old.swap(slots_);
  slots_.resize(old.empty() ? 1024 : old.size() * 2);
  for (const slot_t& slot : old) {
    if (slot.tag != 0) *find_slot(slot.tag, slot.offset) = slot;
  }
}

std::string_view symbol_output_t::render(uint64_t address, address_role_t role) {
  const mapping_t* mapping = resolver_.space().find(address);
  if (mapping == nullptr) {
    if (unknown_.empty()) unknown_ = form_ == form_json ? "{}" : "[unknown]";
    return unknown_;
  }
  uint64_t offset = mapping_file_offset(*mapping, address);
  const module_text_t& module = module_text(mapping->module);
  if (module.kind == module_plain) return render_plain(module, offset);
  uint64_t tag = ((static_cast<uint64_t>(mapping->module) << 2) | role) + 1;
  if (slots_.empty()) grow();
  slot_t* slot = find_slot(tag, offset);
  if (slot->tag != 0) return std::string_view(arena_.data() + slot->start, slot->length);

  resolution_t resolution = resolver_.resolve_offset(mapping->module, offset, role);
  scratch_.clear();
  if (form_ == form_json) {
    json_writer_t json;
    json_resolution_object(resolution, &json);
    scratch_ = json.text();
  } else {
    append_resolution_text(resolution, &scratch_);
  }
  if (kept_ >= max_kept || arena_.size() + scratch_.size() > max_arena) {
    std::fill(slots_.begin(), slots_.end(), slot_t());
    arena_.clear();
    kept_ = 0;
    slot = find_slot(tag, offset);
  } else if ((kept_ + 1) * 2 > slots_.size()) {
    grow();
    slot = find_slot(tag, offset);
  }
  slot->tag = tag;
  slot->offset = offset;
  slot->start = static_cast<uint32_t>(arena_.size());
  slot->length = static_cast<uint32_t>(scratch_.size());
  arena_ += scratch_;
  ++kept_;
  return std::string_view(arena_.data() + slot->start, slot->length);
}

void symbol_output_t::code_address(const char* name, uint64_t address, json_writer_t* line) {
  line->key(name, "_sym");
  std::string_view text = render(address, role_code);
  line->raw_value(text.data(), text.size());
}

void symbol_output_t::data_address(const char* name, uint64_t address, json_writer_t* line) {
  line->key(name, "_sym");
  std::string_view text = render(address, role_data);
  line->raw_value(text.data(), text.size());
}

void symbol_output_t::return_addresses(const char* name, const std::vector<qnt_address_t>& addresses,
                                       json_writer_t* line) {
  line->key(name, "_sym");
  line->begin_array();
  for (qnt_address_t address : addresses) {
    std::string_view text = render(address, role_return);
    line->raw_value(text.data(), text.size());
  }
  line->end_array();
}

void symbol_output_t::write_text_line(const char* label, uint64_t address, address_role_t role,
                                      std::ostream& out) {
  std::string_view text = render(address, role);
  out << label;
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out << '\n';
}

void symbol_output_t::write_text(const qnt_event_t& event, std::ostream& out) {
  switch (event.get_kind()) {
    case kind_read: write_text_line("  at ", as<qnt_event_read_t>(event).pc, role_code, out); break;
    case kind_write: write_text_line("  at ", as<qnt_event_write_t>(event).pc, role_code, out); break;
    case kind_prefetch:
      write_text_line("  at ", as<qnt_event_prefetch_t>(event).pc, role_code, out);
      break;
    case kind_sample_begin:
      write_text_line("  at ", as<qnt_event_sample_begin_t>(event).pc, role_code, out);
      break;
    case kind_sample_end:
      write_text_line("  at ", as<qnt_event_sample_end_t>(event).pc, role_code, out);
      break;
    case kind_sample: {
      const qnt_event_sample_t& e = as<qnt_event_sample_t>(event);
      write_text_line("  at ", e.begin.pc, role_code, out);
      for (const qnt_sample_access_t& end : e.ends) write_text_line("  end at ", end.pc, role_code, out);
      break;
    }
    case kind_stack:
      for (qnt_address_t address : as<qnt_event_stack_t>(event).return_addresses) {
        write_text_line("  at ", address, role_return, out);
      }
      break;
    default:
      break;
  }
}

}}  // namespace velkor::dump
