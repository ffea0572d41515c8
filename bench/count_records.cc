// Counts the records of a sample file by kind, through the library's reading
// chain, so that the benchmark can report records per second.
//   count_records FILE     prints "<events> <records>" (records include the
//                          version records, which deliver no event)
#include <cstdio>

#include <boost/make_shared.hpp>

#include "flow/flow_file_reader.h"

using namespace velkor::library;

namespace {

class counting_flow_t : public quenth_flow_t {
 public:
  flow_status_t flow_init(uint64_t) override { return flow_status_ok; }
  flow_status_t process_event(const qnt_event_t&) override {
    ++events;
    return flow_status_ok;
  }
  unsigned long long events = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: count_records FILE\n");
    return 1;
  }
  counting_flow_t flow;
  flow_file_reader_t reader(argv[1], &flow, boost::make_shared<warning_consumer_stderr_t>());
  if (reader.dispatch() != stream_status_ok) return 1;
  printf("%llu\n", flow.events);
  return 0;
}
