#include "flow/flow_file_writer.h"

#include <cstdio>
#include <string>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "support/zlib_reference.h"

using namespace velkor::library;
using velkor::testkit::hex;
using velkor::testkit::read_file;
using velkor::testkit::temp_dir_t;
using velkor::testkit::zlib_inflate;

namespace {

TEST(FlowFileWriter, WritesHeaderThenOneCompleteDeflateStream) {
  temp_dir_t tmp;
  stream_container_header_t header;
  header.product = product_loomview;
  {
    flow_file_writer_t writer(tmp.file("f"), header, boost::make_shared<warning_consumer_null_t>());
    EXPECT_EQ(writer.flow().flow_init(0), flow_status_ok);
    qnt_event_acquisition_end_t end;
    end.time = 5;
    EXPECT_EQ(writer.flow().process_event(end), flow_status_ok);
    EXPECT_EQ(writer.finish(), stream_status_ok);
    EXPECT_EQ(writer.finish(), stream_status_ok);  // only the first call works
  }
  std::string bytes = read_file(tmp.file("f"));
  ASSERT_GT(bytes.size(), 12u);
  EXPECT_EQ(bytes.substr(0, 12), "VELKOR" + hex("00 0c 01 01 00 01"));
  bool complete = false;
  std::string payload = zlib_inflate(bytes.substr(12), &complete);
  EXPECT_TRUE(complete);
  EXPECT_EQ(payload.substr(payload.size() - 13), hex("07 00 00 00 08 00 00 00 00 00 00 00 05"));
}

TEST(FlowFileWriter, WithoutFinishTheDestructorCompletesTheFile) {
  temp_dir_t tmp;
  {
    flow_file_writer_t writer(tmp.file("f"), stream_container_header_t(),
                              boost::make_shared<warning_consumer_null_t>());
  }
  bool complete = false;
  EXPECT_EQ(zlib_inflate(read_file(tmp.file("f")).substr(12), &complete), "");
  EXPECT_TRUE(complete);
}

TEST(FlowFileWriter, FullDeviceIsReportedByFinish) {
  FILE* full = fopen("/dev/full", "wb");
  if (full == NULL) GTEST_SKIP() << "/dev/full not available";
  {
    flow_file_writer_t writer(full, stream_container_header_t(),
                              boost::make_shared<warning_consumer_null_t>());
    writer.flow().flow_init(0);
    writer.flow().process_event(qnt_event_acquisition_end_t());
    EXPECT_EQ(writer.finish(), stream_status_error);
  }
  fclose(full);
}

TEST(FlowFileWriter, DeflateLevelReachesZlib) {
  // zlib records the level class in the second byte of its stream header.
  const struct {
    int level;
    const char* zlib_header;
  } cases[] = {{-1, "78 9c"}, {1, "78 01"}, {9, "78 da"}};
  std::string payloads[3];
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(cases[i].level);
    temp_dir_t tmp;
    {
      flow_file_writer_t writer(tmp.file("f"), stream_container_header_t(),
                                boost::make_shared<warning_consumer_null_t>(), cases[i].level);
      writer.flow().flow_init(0);
      for (uint64_t t = 0; t < 100; ++t) {
        qnt_event_acquisition_end_t end;
        end.time = t * t;
        writer.flow().process_event(end);
      }
      EXPECT_EQ(writer.finish(), stream_status_ok);
    }
    std::string bytes = read_file(tmp.file("f"));
    EXPECT_EQ(bytes.substr(12, 2), hex(cases[i].zlib_header));
    bool complete = false;
    payloads[i] = zlib_inflate(bytes.substr(12), &complete);
    EXPECT_TRUE(complete);
  }
  EXPECT_EQ(payloads[1], payloads[0]);
  EXPECT_EQ(payloads[2], payloads[0]);

  EXPECT_THROW(flow_file_writer_t(temp_dir_t().file("f"), stream_container_header_t(),
                                  boost::make_shared<warning_consumer_null_t>(), 10),
               stream_exception_t);
}

TEST(FlowFileWriter, MissingDirectoryThrows) {
  EXPECT_THROW(flow_file_writer_t("/does/not/exist/f", stream_container_header_t(),
                                  boost::make_shared<warning_consumer_null_t>()),
               stream_errno_exception_t);
}

}  // namespace
