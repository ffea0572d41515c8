#include "support/sample_files.h"

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "flow/flow_file_writer.h"
#include "support/test_support.h"

namespace velkor { namespace testkit {

using namespace library;

std::string sample_file(const event_list_t& events, stream_container_compression_t compression) {
  temp_dir_t tmp;
  stream_container_header_t header;
  header.product = product_keldo_internal;
  header.compression = compression;
  {
    flow_file_writer_t writer(tmp.file("f"), header, boost::make_shared<warning_consumer_null_t>());
    EXPECT_EQ(writer.flow().flow_init(0), flow_status_ok);
    for (const auto& e : events) EXPECT_EQ(writer.flow().process_event(*e), flow_status_ok);
    EXPECT_EQ(writer.finish(), stream_status_ok);
  }
  return read_file(tmp.file("f"));
}

}}  // namespace velkor::testkit
