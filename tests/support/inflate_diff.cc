#include "support/inflate_diff.h"

#include <algorithm>
#include <memory>
#include <random>

#include <sanitizer/asan_interface.h>

#include <boost/make_shared.hpp>

#include "support/warning_consumer.h"

namespace velkor { namespace testkit {

using library::stream_status_t;

namespace {

const size_t piece_size = 16384;

// Gathers what one call hands on: the bytes in one string (few allocations,
// which dominate a sanitized fuzz run) and the size of every piece.
class piece_recorder_t : public library::stream_t {
 public:
  stream_status_t process_data(const char* data, size_t length) override {
    call.bytes.append(data, length);
    call.pieces.push_back(length);
    return library::stream_status_ok;
  }
  stream_status_t flush() override { return library::stream_status_ok; }
  inflate_call_t call;
};

size_t call_bytes(const inflate_call_t& call) { return call.bytes.size(); }

std::string describe(const char* what, size_t call) {
  return std::string(what) + " (call " + std::to_string(call) + ")";
}

// Every piece but the last of a call is full; none is empty or too long.
std::string check_pieces(const inflate_run_t& run, const char* engine, size_t from) {
  for (size_t k = from; k < run.calls.size(); ++k) {
    const std::vector<size_t>& pieces = run.calls[k].pieces;
    for (size_t i = 0; i < pieces.size(); ++i) {
      bool last = i + 1 == pieces.size();
      if (pieces[i] == 0 || pieces[i] > piece_size || (!last && pieces[i] != piece_size)) {
        return describe((std::string(engine) + ": piece of " + std::to_string(pieces[i]) +
                         " bytes").c_str(), k);
      }
    }
  }
  return "";
}

// Statuses are ok until the first error and errors from then on, each error
// call reporting the same single text. Returns that text, or "" when none.
std::string error_text(const inflate_run_t& run, std::string* problem) {
  std::string text;
  for (size_t k = 0; k < run.calls.size(); ++k) {
    const inflate_call_t& call = run.calls[k];
    if (call.status == library::stream_status_error) {
      if (text.empty()) text = call.warnings;
      if (call.warnings != text || text.empty()) *problem = describe("error text changes", k);
    } else if (!text.empty()) {
      *problem = describe("status after an error", k);
    } else if (!call.warnings.empty()) {
      *problem = describe("warning without an error", k);
    }
  }
  return text;
}

}  // namespace

std::string inflate_run_t::joined() const {
  std::string all;
  size_t size = 0;
  for (const inflate_call_t& call : calls) size += call.bytes.size();
  all.reserve(size);
  for (const inflate_call_t& call : calls) {
    all += call.bytes;
  }
  return all;
}

bool inflate_run_t::damaged() const {
  for (const inflate_call_t& call : calls) {
    if (call.status == library::stream_status_error) return true;
  }
  return false;
}

inflate_run_t run_inflate(library::inflate_engine_t engine, const std::vector<std::string>& blocks) {
  auto warnings = boost::make_shared<library::warning_consumer_string_t>();
  piece_recorder_t sink;
  library::stream_gz_decompress_t gunzip(&sink, warnings, engine);
  inflate_run_t run;
  run.calls.reserve(blocks.size());
  // Every block is handed over from one buffer that is off limits between
  // calls, so that a stage that reads a block after its call shows up under
  // AddressSanitizer (without a fresh allocation per call, which would cost
  // more than the call).
  size_t largest = 1;
  for (const std::string& block : blocks) largest = std::max(largest, block.size());
  std::unique_ptr<char[]> buffer(new char[largest]);
  ASAN_POISON_MEMORY_REGION(buffer.get(), largest);
  for (const std::string& block : blocks) {
    ASAN_UNPOISON_MEMORY_REGION(buffer.get(), block.size());
    block.copy(buffer.get(), block.size());
    sink.call = inflate_call_t();
    sink.call.status = gunzip.process_data(buffer.get(), block.size());
    ASAN_POISON_MEMORY_REGION(buffer.get(), largest);
    sink.call.warnings = warnings->get_messages();
    run.calls.push_back(std::move(sink.call));
  }
  ASAN_UNPOISON_MEMORY_REGION(buffer.get(), largest);
  gunzip.flush();
  run.flush_warnings = warnings->get_messages();
  run.trailing = gunzip.trailing_bytes();
  return run;
}

std::vector<std::string> cut_blocks(const std::string& bytes, uint32_t seed, size_t max_block) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<size_t> size(1, max_block < 1 ? 1 : max_block);
  std::vector<std::string> blocks;
  for (size_t at = 0; at < bytes.size();) {
    size_t n = std::min(size(gen), bytes.size() - at);
    blocks.push_back(bytes.substr(at, n));
    at += n;
  }
  return blocks;
}

std::string compare_inflate_runs(const inflate_run_t& zlib, const inflate_run_t& isal) {
  if (zlib.calls.size() != isal.calls.size()) return "different numbers of calls";
  const size_t calls = zlib.calls.size();

  // The opening: identical.
  size_t opening = calls;
  size_t total = 0;
  for (size_t k = 0; k < calls; ++k) {
    total += call_bytes(zlib.calls[k]);
    if (total >= inflate_opening_size) {
      opening = k + 1;
      break;
    }
  }
  for (size_t k = 0; k < opening; ++k) {
    const inflate_call_t& z = zlib.calls[k];
    const inflate_call_t& i = isal.calls[k];
    if (z.pieces != i.pieces || z.bytes != i.bytes) {
      return describe("pieces differ in the opening", k);
    }
    if (z.status != i.status) return describe("statuses differ in the opening", k);
    if (z.warnings != i.warnings) return describe("warnings differ in the opening", k);
  }
  if (opening == calls) {
    if (zlib.flush_warnings != isal.flush_warnings) return "flush warnings differ";
    return zlib.trailing == isal.trailing ? "" : "different counts of bytes after the end";
  }

  std::string problem = check_pieces(zlib, "zlib", opening);
  if (problem.empty()) problem = check_pieces(isal, "ISA-L", opening);
  if (!problem.empty()) return problem;

  if (!zlib.damaged() && !isal.damaged()) {
    const std::string z_bytes = zlib.joined(), i_bytes = isal.joined();
    size_t z_out = 0, i_out = 0;  // handed on after each call
    size_t checked = 0;           // bytes known to agree
    for (size_t k = 0; k < calls; ++k) {
      const inflate_call_t& z = zlib.calls[k];
      const inflate_call_t& i = isal.calls[k];
      if (z.status != i.status) return describe("statuses differ", k);
      if (z.warnings != i.warnings) return describe("warnings differ", k);
      z_out += z.bytes.size();
      i_out += i.bytes.size();
      if (i_out > z_out || z_out - i_out > inflate_isal_owed_bytes ||
          z_bytes.compare(checked, i_out - checked, i_bytes, checked, i_out - checked) != 0) {
        return describe("output is not zlib's less at most two bytes", k);
      }
      checked = i_out;
    }
    if (zlib.flush_warnings != isal.flush_warnings) return "flush warnings differ";
    if (zlib.flush_warnings.empty() && z_bytes != i_bytes) return "complete stream, bytes differ";
    if (zlib.trailing != isal.trailing) return "different counts of bytes after the end";
    return "";
  }

  std::string z_bytes = zlib.joined(), i_bytes = isal.joined();
  size_t common = std::min(z_bytes.size(), i_bytes.size());
  if (z_bytes.compare(0, common, i_bytes, 0, common) != 0) return "outputs contradict each other";
  std::string z_text = error_text(zlib, &problem);
  if (!problem.empty()) return "zlib: " + problem;
  std::string i_text = error_text(isal, &problem);
  if (!problem.empty()) return "ISA-L: " + problem;
  if (!z_text.empty() && !i_text.empty() && z_text != i_text) return "error texts differ";
  if (z_text.empty() && zlib.flush_warnings.empty()) {
    return "ISA-L finds damage in a stream zlib inflates completely";
  }
  if (i_text.empty() && isal.flush_warnings.empty()) {
    return "ISA-L inflates completely a stream zlib finds damaged";
  }
  return "";
}

}}  // namespace velkor::testkit
