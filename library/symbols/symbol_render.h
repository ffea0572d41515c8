// The text and JSON forms of a resolved address (symbol_resolver.h), the
// same for every program that shows symbols (sample_dump, sample_stats).
//
// Text, one line without newline:
//   function+0x1c (heat.c:42) [heat3d]   a function, with its line
//   function+0x1c [libc.so.6]            a function without line information
//   grid+0x40 [heat3d]                   a global object (data addresses)
//   [libc.so.6+0x2a1f4]                  no symbol: the module and file offset
//   [heap+0x1000]                        a special mapping ([heap] -> heap)
//   [unknown]                            outside every mapping
// Modules and source files are shown by their last path component, and
// control characters in any name as \xNN (support/printable_text.h), so that
// a name from a file cannot break or forge lines; the JSON form carries the
// whole paths and names as they are.
//
// JSON, one object: "module" (the path as recorded), "offset" and
// "offset_hex" (in the file), then for code "function", "function_offset",
// "file", "line" and "inlined" (the inlined functions, innermost first, each
// an object with "function", "file" and "line"), for data "object" and
// "object_offset". Keys are left out when unknown ("inlined" when nothing
// is inlined there); an address outside every mapping gives {}.
#ifndef LIBRARY_SYMBOLS_SYMBOL_RENDER_H_
#define LIBRARY_SYMBOLS_SYMBOL_RENDER_H_

#include <string>

#include "support/json_writer.h"
#include "symbols/address_space.h"
#include "symbols/symbol_resolver.h"

namespace velkor { namespace library {

// The name a text form gives a module: a file's last path component, the
// inside of a name in brackets, "anon" for the empty name of an anonymous
// mapping, any other special name as it is.
std::string module_display_name(const module_t& module);

// Appends the text form to out.
void append_resolution_text(const resolution_t& r, std::string* out);
std::string resolution_text(const resolution_t& r);

// Writes the JSON object as one value (after a key, or in an array).
void json_resolution_object(const resolution_t& r, json_writer_t* json);

}}  // namespace velkor::library
#endif
