// Fuzz target: the binary decoder alone, the input cut into blocks whose sizes
// the fuzzer chooses. Every event is rendered and copied, as the programs do.
// Codec exceptions are the decoder's answer to malformed input; anything else
// that escapes, or any sanitizer report, is a fault.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>

#include <boost/make_shared.hpp>
#include <fuzzer/FuzzedDataProvider.h>

#include "codec/decoder_binary.h"
#include "fuzz_flows.h"

using namespace velkor::library;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // The first bytes choose how many blocks to read and of which sizes.
  uint8_t seed = input.ConsumeIntegral<uint8_t>();
  velkor::fuzz::rendering_flow_t flow;
  qnt_decoder_binary_t decoder(&flow, boost::make_shared<warning_consumer_null_t>());
  try {
    while (input.remaining_bytes() > 0) {
      size_t block = seed == 0 ? input.remaining_bytes()
                               : input.ConsumeIntegralInRange<size_t>(1, seed);
      std::string bytes = input.ConsumeBytesAsString(block);
      if (decoder.process_data(bytes.data(), bytes.size()) != stream_status_ok) break;
    }
    decoder.flush();
  } catch (const codec_exception_t&) {
  }
  decoder.pending_bytes();
  return 0;
}
