// Fuzz target: whatever the decoder accepts, written again by the encoder and
// decoded a second time, gives equal events and the same flow parameter.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>

#include <boost/make_shared.hpp>

#include "codec/decoder_binary.h"
#include "codec/encoder_binary.h"
#include "fuzz_flows.h"

using namespace velkor::library;
using velkor::fuzz::collecting_flow_t;

namespace {

// Collects the encoder's output.
class string_sink_t : public stream_t {
 public:
  stream_status_t process_data(const char* data, size_t length) override {
    bytes.append(data, length);
    return stream_status_ok;
  }
  stream_status_t flush() override { return stream_status_ok; }
  std::string bytes;
};

void decode(const std::string& bytes, collecting_flow_t* flow) {
  qnt_decoder_binary_t decoder(flow, boost::make_shared<warning_consumer_null_t>());
  try {
    decoder.process_data(bytes.data(), bytes.size());
    decoder.flush();
  } catch (const codec_exception_t&) {
  }
}

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "round trip: %s\n", what);
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  collecting_flow_t first;
  decode(std::string(reinterpret_cast<const char*>(data), size), &first);
  if (!first.initialized) return 0;

  string_sink_t written;
  auto warnings = boost::make_shared<warning_consumer_null_t>();
  {
    qnt_encoder_binary_t encoder(&written, warnings);
    encoder.flow_init(first.flow_parameter);
    for (const auto& e : first.events) {
      if (encoder.process_event(*e) != flow_status_ok) fail("the encoder refused a decoded event");
    }
  }

  // Without an event the encoder writes nothing at all, not even the version
  // record.
  if (first.events.empty()) {
    if (!written.bytes.empty()) fail("bytes written without an event");
    return 0;
  }
  collecting_flow_t second;
  decode(written.bytes, &second);
  if (!second.initialized) fail("the flow was not started again");
  if (second.flow_parameter != first.flow_parameter) fail("flow parameter changed");
  if (second.events.size() != first.events.size()) fail("number of events changed");
  for (size_t i = 0; i < first.events.size(); ++i) {
    if (!(*second.events[i] == *first.events[i])) fail("an event changed");
  }
  return 0;
}
