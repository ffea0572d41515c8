// Fuzz target: the whole reading chain of sample_lines, from the container
// header through the cache-line analysis to both renderings of a report
// that lists every line, into a stream that drops everything. The chain may
// end in a status or in an exception of the stream, codec or flow library;
// anything else, or any sanitizer report, is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <stdexcept>

#include <boost/make_shared.hpp>

#include "analysis/cache_line_report.h"
#include "analysis/cache_lines.h"
#include "flow/flow_file_reader.h"
#include "fuzz_flows.h"
#include "lines_json.h"
#include "lines_text.h"

using namespace velkor::library;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* input = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (input == NULL) return 0;  // fmemopen refuses an empty buffer
  {
    // The first byte, when there is one, picks the line size of samples
    // without one; the whole input is read.
    cache_lines_flow_t flow(qnt_line_size_t(1) << (size == 0 ? 6 : data[0] % 16));
    try {
      flow_file_reader_t reader(input, &flow, boost::make_shared<warning_consumer_null_t>());
      reader.dispatch();
    } catch (const stream_exception_t&) {
    } catch (const codec_exception_t&) {
    } catch (const flow_exception_t&) {
    }
    cache_line_report_options_t options;
    options.top = 0;
    options.min_percent = 0;
    const cache_line_report_t report = build_cache_line_report(flow.result(), options);
    velkor::fuzz::null_buffer_t buffer;
    std::ostream out(&buffer);
    velkor::sample_lines::render_lines_text(report, out);
    velkor::sample_lines::render_lines_json(report, out);
  }
  fclose(input);
  return 0;
}
