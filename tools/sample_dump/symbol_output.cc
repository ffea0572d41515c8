#include "symbol_output.h"

#include <charconv>

#include <boost/filesystem.hpp>

#include "support/seeded_hash.h"
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
  std::string root;
  if (vm.count("symfs")) {
    root = vm["symfs"].as<std::string>();
    if (!vm.count("symbols")) {
      *error = "--symfs needs --symbols.";
      return false;
    }
    boost::system::error_code ignored;
    if (!root.empty() && !boost::filesystem::is_directory(root, ignored)) {
      *error = "the --symfs folder '" + root + "' does not exist or is no folder.";
      return false;
    }
  }
  if (vm.count("symbols")) output->reset(new symbol_output_t(root, warnings));
  return true;
}

// ---- The output ------------------------------------------------------------

size_t symbol_output_t::key_hash_t::operator()(const key_t& key) const {
  return static_cast<size_t>(
      seeded_hash64((static_cast<uint64_t>(key.module) << 2) | key.role, key.offset));
}

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

const std::string& symbol_output_t::render_plain(const module_text_t& module, uint64_t offset) {
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

const std::string& symbol_output_t::render(uint64_t address, address_role_t role) {
  const mapping_t* mapping = resolver_.space().find(address);
  if (mapping == nullptr) {
    if (unknown_.empty()) unknown_ = form_ == form_json ? "{}" : "[unknown]";
    return unknown_;
  }
  uint64_t offset = mapping_file_offset(*mapping, address);
  const module_text_t& module = module_text(mapping->module);
  if (module.kind == module_plain) return render_plain(module, offset);
  key_t key = {mapping->module, role, offset};
  auto kept = kept_.find(key);
  if (kept != kept_.end()) return kept->second;
  resolution_t resolution = resolver_.resolve_offset(mapping->module, offset, role);
  std::string text;
  if (form_ == form_json) {
    json_writer_t json;
    json_resolution_object(resolution, &json);
    text = json.text();
  } else {
    append_resolution_text(resolution, &text);
  }
  if (kept_.size() >= max_kept) kept_.clear();
  return kept_.emplace(key, std::move(text)).first->second;
}

void symbol_output_t::code_address(const char* name, uint64_t address, json_writer_t* line) {
  line->key(name, "_sym");
  line->raw_value(render(address, role_code));
}

void symbol_output_t::data_address(const char* name, uint64_t address, json_writer_t* line) {
  line->key(name, "_sym");
  line->raw_value(render(address, role_data));
}

void symbol_output_t::return_addresses(const char* name, const std::vector<qnt_address_t>& addresses,
                                       json_writer_t* line) {
  line->key(name, "_sym");
  line->begin_array();
  for (qnt_address_t address : addresses) line->raw_value(render(address, role_return));
  line->end_array();
}

void symbol_output_t::write_text_line(const char* label, uint64_t address, address_role_t role,
                                      std::ostream& out) {
  const std::string& text = render(address, role);
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
