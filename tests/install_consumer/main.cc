// count_events: reads a sample file into a flow and prints how many events it
// holds, "<n> events". Built against an installed copy of the library.

#include <exception>
#include <iostream>

#include <boost/shared_ptr.hpp>

#include "flow/flow_file_reader.h"
#include "flow/quenth_flow.h"
#include "support/warning_consumer.h"

using namespace velkor::library;

namespace {

class counting_flow_t : public quenth_flow_t {
 public:
  flow_status_t flow_init(uint64_t) override { return flow_status_ok; }
  flow_status_t process_event(const qnt_event_t&) override {
    ++events;
    return flow_status_ok;
  }
  unsigned long events = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Usage: count_events FILE" << std::endl;
    return 1;
  }
  boost::shared_ptr<warning_consumer_base_t> warnings(new warning_consumer_stderr_t);
  counting_flow_t flow;
  try {
    flow_file_reader_t reader(argv[1], &flow, warnings);
    if (reader.dispatch() != stream_status_ok) {
      std::cerr << "Failed to read input file." << std::endl;
      return 1;
    }
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << std::endl;
    return 1;
  }
  std::cout << flow.events << " events" << std::endl;
  return 0;
}
