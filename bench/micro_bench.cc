// Micro-benchmarks of the hot paths: the decoder (records per second from an
// in-memory stream cut into 4096-byte blocks, as the file reader delivers
// them), the statistics flow of sample_stats and the cache-line analysis of
// sample_lines (events per second).
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <boost/make_shared.hpp>

#include "analysis/cache_line_report.h"
#include "analysis/cache_lines.h"
#include "codec/decoder_binary.h"
#include "codec/encoder_binary.h"
#include "sample_file_stats.h"
#include "synth.h"

using namespace velkor::library;

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

// The binary event stream of a synthesized run (no container, no deflate).
const std::string& synthesized_stream() {
  static const std::string bytes = [] {
    velkor::synth::synth_options_t options;
    options.samples = 200000;
    options.line_sizes = {64, 128};
    string_sink_t sink;
    qnt_encoder_binary_t encoder(&sink, boost::make_shared<warning_consumer_null_t>());
    velkor::synth::synthesize(options, encoder);
    return sink.bytes;
  }();
  return bytes;
}

class counting_flow_t : public quenth_flow_t {
 public:
  flow_status_t flow_init(uint64_t) override { return flow_status_ok; }
  flow_status_t process_event(const qnt_event_t&) override {
    ++events;
    return flow_status_ok;
  }
  uint64_t events = 0;
};

template <class Flow>
uint64_t decode_into(const std::string& bytes, Flow* flow) {
  qnt_decoder_binary_t decoder(flow, boost::make_shared<warning_consumer_null_t>());
  for (size_t pos = 0; pos < bytes.size(); pos += 4096) {
    size_t n = std::min<size_t>(4096, bytes.size() - pos);
    decoder.process_data(bytes.data() + pos, n);
  }
  decoder.flush();
  return 0;
}

void BM_Decoder(benchmark::State& state) {
  const std::string& bytes = synthesized_stream();
  uint64_t events = 0;
  for (auto _ : state) {
    counting_flow_t flow;
    decode_into(bytes, &flow);
    events += flow.events;
  }
  state.counters["records/s"] = benchmark::Counter(static_cast<double>(events),
                                                   benchmark::Counter::kIsRate);
  state.SetBytesProcessed(static_cast<int64_t>(bytes.size() * state.iterations()));
}
BENCHMARK(BM_Decoder)->Unit(benchmark::kMillisecond);

// Events kept as copies so that only the statistics flow is measured.
class keeping_flow_t : public quenth_flow_t {
 public:
  flow_status_t flow_init(uint64_t) override { return flow_status_ok; }
  flow_status_t process_event(const qnt_event_t& event) override;
  std::vector<std::unique_ptr<qnt_event_t>> events;
};

flow_status_t keeping_flow_t::process_event(const qnt_event_t& e) {
  switch (e.get_kind()) {
    case kind_sample_begin:
    case kind_sample_end:
    case kind_sample:
    case kind_stack:
    case kind_burst_begin:
    case kind_burst_end: events.push_back(qnt_event_clone(e)); break;
    default: break;  // the kinds that print lines are left out
  }
  return flow_status_ok;
}

void BM_StatisticsFlow(benchmark::State& state) {
  keeping_flow_t kept;
  decode_into(synthesized_stream(), &kept);
  uint64_t events = 0;
  for (auto _ : state) {
    velkor::sample_stats::sample_file_stats_t stats;
    for (const auto& e : kept.events) stats.process_event(*e);
    stats.count_all_danglings();
    events += kept.events.size();
    benchmark::DoNotOptimize(stats.stack_count());
  }
  state.counters["events/s"] = benchmark::Counter(static_cast<double>(events),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StatisticsFlow)->Unit(benchmark::kMillisecond);

// The cache-line analysis on the same events, its result and the ranking.
void BM_CacheLinesFlow(benchmark::State& state) {
  keeping_flow_t kept;
  decode_into(synthesized_stream(), &kept);
  uint64_t events = 0;
  for (auto _ : state) {
    cache_lines_flow_t lines;
    for (const auto& e : kept.events) lines.process_event(*e);
    cache_line_report_t report =
        build_cache_line_report(lines.result(), cache_line_report_options_t());
    events += kept.events.size();
    benchmark::DoNotOptimize(report.lines.size());
  }
  state.counters["events/s"] = benchmark::Counter(static_cast<double>(events),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CacheLinesFlow)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
