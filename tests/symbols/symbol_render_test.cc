// The text and JSON forms of resolutions, from hand-built records.

#include <string>

#include <gtest/gtest.h>

#include "support/json_writer.h"
#include "symbols/symbol_render.h"

using namespace velkor::library;

namespace {

struct render_case_t {
  const char* name;
  resolution_t resolution;
  std::string text;
  std::string json;
};

TEST(SymbolRender, TextAndJsonForms) {
  module_t app;
  app.path = "/opt/heat3d/bin/heat3d";
  app.openable = true;
  module_t heap;
  heap.path = "[heap]";
  module_t anonymous;
  module_t deleted;
  deleted.path = "/tmp/jit (deleted)";
  module_t forged;
  forged.path = "/tmp/a\n[mmap] x\x1b[2J";
  forged.openable = true;
  symbol_info_t control;
  control.name = "f\r\x7f";
  control.file = "/src/\tx.c";
  control.line = 3;

  symbol_info_t inlined;
  inlined.name = "fx::work(int)";
  inlined.name_offset = 0x1c;
  inlined.file = "/src/heat/work.cc";
  inlined.line = 31;
  inlined.inlined = {{"fx::twice(int)", "/src/heat/inline.h", 20},
                     {"fx::square_plus(int)", "/src/heat/inline.h", 24}};
  symbol_info_t no_line;
  no_line.name = "memcpy";
  no_line.name_offset = 0x40;
  symbol_info_t object;
  object.name = "grid";
  object.name_offset = 0x18;
  symbol_info_t line_only;
  line_only.file = "/src/asm.S";
  line_only.line = 7;
  symbol_info_t unknown_frame;
  unknown_frame.name = "f";
  unknown_frame.inlined = {{"", "", 0}};

  auto at = [](const module_t& m, uint64_t offset, const symbol_info_t* s, uint64_t symbol_offset,
               address_role_t role = role_code) {
    resolution_t r;
    r.role = role;
    r.mapped = true;
    r.module_info = &m;
    r.offset = offset;
    r.symbol = s;
    r.symbol_offset = symbol_offset;
    return r;
  };
  const render_case_t cases[] = {
      {"outside every mapping", resolution_t(), "[unknown]", "{}"},
      {"function, line and inlined calls", at(app, 0x11bc, &inlined, 0x1c),
       "fx::work(int)+0x1c (work.cc:31) [heat3d]",
       R"J({"module":"/opt/heat3d/bin/heat3d","offset":4540,"offset_hex":"0x11bc",)J"
       R"J("function":"fx::work(int)","function_offset":28,"file":"/src/heat/work.cc","line":31,)J"
       R"J("inlined":[{"function":"fx::twice(int)","file":"/src/heat/inline.h","line":20},)J"
       R"J({"function":"fx::square_plus(int)","file":"/src/heat/inline.h","line":24}]})J"},
      {"function without line", at(app, 0x2a1f4, &no_line, 0x40), "memcpy+0x40 [heat3d]",
       R"J({"module":"/opt/heat3d/bin/heat3d","offset":172532,"offset_hex":"0x2a1f4",)J"
       R"J("function":"memcpy","function_offset":64})J"},
      {"a return address: the offset given", at(app, 0x2a1f4, &no_line, 0x41, role_return),
       "memcpy+0x41 [heat3d]",
       R"J({"module":"/opt/heat3d/bin/heat3d","offset":172532,"offset_hex":"0x2a1f4",)J"
       R"J("function":"memcpy","function_offset":65})J"},
      {"global object", at(app, 0x4018, &object, 0x18, role_data), "grid+0x18 [heat3d]",
       R"J({"module":"/opt/heat3d/bin/heat3d","offset":16408,"offset_hex":"0x4018",)J"
       R"J("object":"grid","object_offset":24})J"},
      {"no symbol", at(app, 0x2a1f4, nullptr, 0), "[heat3d+0x2a1f4]",
       R"J({"module":"/opt/heat3d/bin/heat3d","offset":172532,"offset_hex":"0x2a1f4"})J"},
      {"a line without function", at(app, 0x10, &line_only, 0), "[heat3d+0x10] (asm.S:7)",
       R"J({"module":"/opt/heat3d/bin/heat3d","offset":16,"offset_hex":"0x10",)J"
       R"J("file":"/src/asm.S","line":7})J"},
      {"an inlined frame the debug data do not name", at(app, 0x10, &unknown_frame, 0),
       "f+0x0 [heat3d]",
       R"J({"module":"/opt/heat3d/bin/heat3d","offset":16,"offset_hex":"0x10",)J"
       R"J("function":"f","function_offset":0,"inlined":[{}]})J"},
      {"heap", at(heap, 0x1000, nullptr, 0, role_data), "[heap+0x1000]",
       R"J({"module":"[heap]","offset":4096,"offset_hex":"0x1000"})J"},
      {"anonymous", at(anonymous, 0, nullptr, 0), "[anon+0x0]",
       R"J({"module":"","offset":0,"offset_hex":"0x0"})J"},
      {"deleted file", at(deleted, 0x20, nullptr, 0), "[/tmp/jit (deleted)+0x20]",
       R"J({"module":"/tmp/jit (deleted)","offset":32,"offset_hex":"0x20"})J"},
      {"control characters: shown as \\xNN in text, escaped in JSON",
       at(forged, 0x20, &control, 1), "f\\x0d\\x7f+0x1 (\\x09x.c:3) [a\\x0a[mmap] x\\x1b[2J]",
       R"J({"module":"/tmp/a\n[mmap] x\u001b[2J","offset":32,"offset_hex":"0x20",)J"
       R"J("function":"f\r)J" "\x7f" R"J(","function_offset":1,"file":"/src/\tx.c","line":3})J"},
      {"control characters without symbol", at(forged, 0x20, nullptr, 0),
       "[a\\x0a[mmap] x\\x1b[2J+0x20]",
       R"J({"module":"/tmp/a\n[mmap] x\u001b[2J","offset":32,"offset_hex":"0x20"})J"},
  };
  for (const render_case_t& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(resolution_text(c.resolution), c.text);
    json_writer_t json;
    json_resolution_object(c.resolution, &json);
    EXPECT_EQ(json.text(), c.json);
  }
}

}  // namespace
