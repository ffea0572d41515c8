// sample_dump --symbols [--symfs DIR]: follows the recording's mappings and
// adds to each event the resolution of its addresses, through the library's
// symbol resolver and renderers (symbols/symbol_resolver.h,
// symbols/symbol_render.h).
//
// Text: after an event's own text, one line per code address:
//   "  at <resolution>"       the pc of an access, sample begin or end, the
//                             begin of a sample, each return address of a
//                             stack (in its order)
//   "  end at <resolution>"   the pc of each end of a sample
// JSON: after "<name>" and "<name>_hex" of every code address (pc, next_pc)
// and data address (addr), "<name>_sym" with the resolution's object; after
// "return_addresses_hex" of a stack, "return_addresses_sym", an array of
// them. Addresses are resolved against the mappings in force at the event.
//
// The rendered text of each (module, offset) is kept, so that a dump of
// millions of samples pays once for each distinct address.
#ifndef TOOLS_SAMPLE_DUMP_SYMBOL_OUTPUT_H_
#define TOOLS_SAMPLE_DUMP_SYMBOL_OUTPUT_H_

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <boost/program_options.hpp>
#include <boost/shared_ptr.hpp>

#include "events/qnt_events.h"
#include "events/event_json.h"
#include "support/json_writer.h"
#include "support/warning_consumer.h"
#include "symbols/symbol_resolver.h"

namespace velkor { namespace dump {

class symbol_output_t;

// ---- Command line ----------------------------------------------------------

// Adds --symbols and --symfs.
void add_symbol_options(boost::program_options::options_description* options);

// The output that the options ask for: true with *output null without
// --symbols; false, with the reason, for --symfs without --symbols or a
// --symfs that is no folder. warnings receive what the symbolizer has to
// say about modules and debug files.
bool symbol_output_from_options(const boost::program_options::variables_map& vm,
                                boost::shared_ptr<library::warning_consumer_base_t> warnings,
                                std::unique_ptr<symbol_output_t>* output, std::string* error);

// ---- The output ------------------------------------------------------------

class symbol_output_t : public library::json_address_annotator_t {
 public:
  enum form_t { form_text, form_json };

  // root: the --symfs folder ("" for /).
  symbol_output_t(const std::string& root,
                  boost::shared_ptr<library::warning_consumer_base_t> warnings);

  // Chooses the form of the kept renderings; set before the first event.
  void set_form(form_t form) { form_ = form; }

  // Every event of the stream, in order, before it is printed or filtered.
  void observe(const library::qnt_event_t& event) { resolver_.observe(event); }

  // The text lines for the code addresses of an event, after its own text.
  void write_text(const library::qnt_event_t& event, std::ostream& out);

  // json_address_annotator_t
  void code_address(const char* name, uint64_t address, library::json_writer_t* line) override;
  void data_address(const char* name, uint64_t address, library::json_writer_t* line) override;
  void return_addresses(const char* name, const std::vector<library::qnt_address_t>& addresses,
                        library::json_writer_t* line) override;

 private:
  // What is known of a module of the address space.
  enum module_kind_t { module_unknown, module_symbols, module_plain };
  struct module_text_t {
    module_kind_t kind = module_unknown;
    std::string prefix;  // text: "[name+"; JSON: {"module":"...","offset":
  };
  // A kept rendering: open addressing with linear probing over a power of
  // two of slots, the texts one after the other in one arena.
  struct slot_t {
    uint64_t tag = 0;  // (module << 2 | role) + 1; 0: an empty slot
    uint64_t offset = 0;
    uint32_t start = 0;
    uint32_t length = 0;
  };
  // Kept at most; past either the table starts afresh.
  static const size_t max_kept = size_t(1) << 18;
  static const size_t max_arena = size_t(64) << 20;

  // The rendering of an address in the chosen form, valid until the next call.
  std::string_view render(uint64_t address, library::address_role_t role);
  // The same for an address that no module name resolves: built from the
  // module's kept prefix, not kept itself (heaps hold millions of them).
  std::string_view render_plain(const module_text_t& module, uint64_t offset);
  module_text_t& module_text(library::module_id_t module);
  slot_t* find_slot(uint64_t tag, uint64_t offset);
  void grow();
  void write_text_line(const char* label, uint64_t address, library::address_role_t role,
                       std::ostream& out);

  library::symbol_resolver_t resolver_;
  form_t form_ = form_text;
  std::vector<slot_t> slots_;
  size_t kept_ = 0;
  std::string arena_;
  std::vector<module_text_t> modules_;
  std::string scratch_;
  std::string unknown_;
};

}}  // namespace velkor::dump
#endif
