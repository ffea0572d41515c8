#include "stream/stream_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace velkor::library;
using velkor::testkit::recording_stage_t;
using velkor::testkit::temp_dir_t;

namespace {

TEST(FileReader, BlocksAndSingleFlush) {
  struct {
    size_t input;
    std::vector<size_t> blocks;
  } cases[] = {{0, {}}, {1, {1}}, {4096, {4096}}, {4097, {4096, 1}}, {10000, {4096, 4096, 1808}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    temp_dir_t tmp;
    std::string bytes(c.input, 'a');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    velkor::testkit::write_file(tmp.file("in"), bytes);
    recording_stage_t stage;
    stage.flush_status = stream_status_done;  // the flush's status is returned
    stream_file_reader_t reader(tmp.file("in"), &stage);
    EXPECT_EQ(reader.dispatch(), stream_status_done);
    std::vector<size_t> sizes;
    for (const std::string& b : stage.blocks) sizes.push_back(b.size());
    EXPECT_EQ(sizes, c.blocks);
    EXPECT_EQ(stage.joined(), bytes);
    EXPECT_EQ(stage.flushes, 1);
  }
}

TEST(FileReader, NonzeroStatusStopsWithoutFlush) {
  for (stream_status_t status : {stream_status_done, stream_status_error}) {
    temp_dir_t tmp;
    velkor::testkit::write_file(tmp.file("in"), std::string(3 * 4096, 'x'));
    recording_stage_t stage;
    stage.fail_at_block = 0;
    stage.status_for_block = status;
    stream_file_reader_t reader(tmp.file("in"), &stage);
    EXPECT_EQ(reader.dispatch(), status);
    EXPECT_EQ(stage.blocks.size(), 1u);
    EXPECT_EQ(stage.flushes, 0);
  }
}

TEST(FileReader, ReadErrorReturnsErrorWithoutFlush) {
  // Reading a directory fails with EISDIR on the first read.
  FILE* dir = fopen("/", "rb");
  ASSERT_NE(dir, (FILE*)NULL);
  recording_stage_t stage;
  {
    stream_file_reader_t reader(dir, &stage);
    EXPECT_EQ(reader.dispatch(), stream_status_error);
  }
  EXPECT_EQ(stage.flushes, 0);
  fclose(dir);
}

TEST(FileReader, MissingFileText) {
  recording_stage_t stage;
  try {
    stream_file_reader_t reader(std::string("no/such/in.dat"), &stage);
    FAIL() << "expected stream_errno_exception_t";
  } catch (const stream_errno_exception_t& e) {
    EXPECT_EQ(std::string(e.what()), std::string("Failed to open file no/such/in.dat:  error 2, ") +
                                         strerror(2) + ".");
  }
}

TEST(FileReader, NullStreamThrows) {
  recording_stage_t stage;
  EXPECT_THROW(stream_file_reader_t reader(static_cast<FILE*>(NULL), &stage),
               stream_errno_exception_t);
  EXPECT_THROW(stream_file_writer_t writer(static_cast<FILE*>(NULL)), stream_errno_exception_t);
}

TEST(ErrnoException, NegativeAndUnknownValues) {
  stream_errno_exception_t e("m", -3);
  EXPECT_EQ(std::string(e.what()).substr(0, 12), "m error -3, ");
  EXPECT_EQ(e.error_number(), -3);
}

TEST(FileWriter, WritesCreatesAndTruncates) {
  temp_dir_t tmp;
  velkor::testkit::write_file(tmp.file("out"), "old contents that are longer");
  {
    stream_file_writer_t writer(tmp.file("out"));
    EXPECT_EQ(writer.process_data("abc", 3), stream_status_ok);
    EXPECT_EQ(writer.process_data("", 0), stream_status_ok);
    EXPECT_EQ(writer.flush(), stream_status_ok);
    EXPECT_EQ(writer.process_data("de", 2), stream_status_ok);
  }
  EXPECT_EQ(velkor::testkit::read_file(tmp.file("out")), "abcde");
}

TEST(FileWriter, ErrorIndicatorTurnsIntoError) {
  // A stream opened for reading only cannot be written: the first write sets
  // the error indicator; afterwards even a zero-length block reports it.
  temp_dir_t tmp;
  velkor::testkit::write_file(tmp.file("ro"), "");
  FILE* ro = fopen(tmp.file("ro").c_str(), "rb");
  ASSERT_NE(ro, (FILE*)NULL);
  {
    stream_file_writer_t writer(ro);
    EXPECT_EQ(writer.process_data("", 0), stream_status_ok);
    EXPECT_EQ(writer.process_data("abc", 3), stream_status_error);
    EXPECT_EQ(writer.process_data("", 0), stream_status_error);
  }
  // The writer did not own the stream: it is still open.
  EXPECT_EQ(fclose(ro), 0);
}

TEST(FileWriter, FullDeviceFailsOnFlush) {
  FILE* full = fopen("/dev/full", "wb");
  if (full == NULL) GTEST_SKIP() << "/dev/full not available";
  stream_file_writer_t writer(full);
  EXPECT_EQ(writer.process_data("abc", 3), stream_status_ok);  // buffered
  EXPECT_EQ(writer.flush(), stream_status_error);
  fclose(full);
}

TEST(FileEndpoints, EmptyPathMeansStandardStreamsNeverClosed) {
  {
    recording_stage_t stage;
    stream_file_reader_t reader(boost::filesystem::path(), &stage);
    stream_file_writer_t writer{boost::filesystem::path()};
  }
  // Both standard streams are still usable.
  EXPECT_NE(fcntl(fileno(stdin), F_GETFD), -1);
  EXPECT_NE(fcntl(fileno(stdout), F_GETFD), -1);
  EXPECT_EQ(fflush(stdout), 0);
}

}  // namespace
