// Fuzz target: the whole reading chain of sample_stats, from the container
// header to the report, the way its driver runs it. Standard output (the
// report) goes to /dev/null. The chain may end in a status or in an
// exception of the stream, codec or flow library; anything else, or any
// sanitizer report, is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <stdexcept>

#include <boost/make_shared.hpp>

#include "flow/flow_file_reader.h"
#include "sample_file_stats.h"
#include "stats_report.h"

using namespace velkor::library;
using namespace velkor::sample_stats;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (freopen("/dev/null", "w", stdout) == NULL) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* input = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (input == NULL) return 0;  // fmemopen refuses an empty buffer
  {
    sample_file_stats_t stats;
    try {
      flow_file_reader_t reader(input, &stats, boost::make_shared<warning_consumer_null_t>());
      if (reader.dispatch() != stream_status_error) {
        std::cout << reader.get_header();
        stats.count_all_danglings();
        print_stats_report(stats);
      }
    } catch (const stream_exception_t&) {
    } catch (const codec_exception_t&) {
    } catch (const flow_exception_t&) {
    }
  }
  fclose(input);
  return 0;
}
