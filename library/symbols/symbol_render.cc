#include "symbols/symbol_render.h"

#include <charconv>

#include "support/printable_text.h"

namespace velkor { namespace library {

namespace {

std::string last_component(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return path;
  return path.substr(slash + 1);
}

void append_hex(uint64_t value, std::string* out) {
  char digits[16];
  auto end = std::to_chars(digits, digits + sizeof(digits), value, 16).ptr;
  *out += "0x";
  out->append(digits, static_cast<size_t>(end - digits));
}

void append_line(const symbol_info_t& symbol, std::string* out) {
  if (symbol.file.empty()) return;
  *out += " (";
  *out += printable_text(last_component(symbol.file));
  if (symbol.line != 0) {
    *out += ':';
    *out += std::to_string(symbol.line);
  }
  *out += ')';
}

void json_frame(const inline_frame_t& frame, json_writer_t* json) {
  json->begin_object();
  if (!frame.function.empty()) json->member("function", frame.function);
  if (!frame.file.empty()) json->member("file", frame.file);
  if (frame.line != 0) json->member("line", frame.line);
  json->end_object();
}

}  // namespace

std::string module_display_name(const module_t& module) {
  const std::string& path = module.path;
  if (path.empty()) return "anon";
  if (path.size() >= 2 && path.front() == '[' && path.back() == ']') {
    return path.substr(1, path.size() - 2);
  }
  if (!module.openable) return path;
  return last_component(path);
}

void append_resolution_text(const resolution_t& r, std::string* out) {
  if (!r.mapped) {
    *out += "[unknown]";
    return;
  }
  std::string module = printable_text(module_display_name(*r.module_info));
  if (r.symbol != nullptr && !r.symbol->name.empty()) {
    *out += printable_text(r.symbol->name);
    *out += '+';
    append_hex(r.symbol_offset, out);
    append_line(*r.symbol, out);
    *out += " [";
    *out += module;
    *out += ']';
    return;
  }
  *out += '[';
  *out += module;
  *out += '+';
  append_hex(r.offset, out);
  *out += ']';
  if (r.symbol != nullptr) append_line(*r.symbol, out);
}

std::string resolution_text(const resolution_t& r) {
  std::string text;
  append_resolution_text(r, &text);
  return text;
}

void json_resolution_object(const resolution_t& r, json_writer_t* json) {
  json->begin_object();
  if (r.mapped) {
    json->member("module", r.module_info->path);
    json->address_member("offset", r.offset);
    const symbol_info_t* symbol = r.symbol;
    if (symbol != nullptr) {
      bool data = r.role == role_data;
      if (!symbol->name.empty()) {
        json->member(data ? "object" : "function", symbol->name);
        json->member(data ? "object_offset" : "function_offset", r.symbol_offset);
      }
      if (!symbol->file.empty()) json->member("file", symbol->file);
      if (symbol->line != 0) json->member("line", symbol->line);
      if (!symbol->inlined.empty()) {
        json->key("inlined");
        json->begin_array();
        for (const inline_frame_t& frame : symbol->inlined) json_frame(frame, json);
        json->end_array();
      }
    }
  }
  json->end_object();
}

}}  // namespace velkor::library
