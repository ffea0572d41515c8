#include "support/warning_consumer.h"

#include <string>
#include <vector>

#include <boost/make_shared.hpp>
#include <gtest/gtest.h>

using namespace velkor::library;

namespace {

struct severity_case_t {
  void (warning_consumer_base_t::*emit)(const std::string&);
  const char* expected;
};

const severity_case_t severity_cases[] = {
    {&warning_consumer_base_t::none, "x\n"},
    {&warning_consumer_base_t::info, "Info: x\n"},
    {&warning_consumer_base_t::warning, "Warning: x\n"},
    {&warning_consumer_base_t::error, "Error: x\n"},
};

TEST(WarningSinks, StderrPrefixesEachSeverity) {
  for (const severity_case_t& c : severity_cases) {
    SCOPED_TRACE(c.expected);
    warning_consumer_stderr_t sink;
    ::testing::internal::CaptureStderr();
    (sink.*c.emit)("x");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected);
  }
}

TEST(WarningSinks, StringSinkCollectsUntilTaken) {
  warning_consumer_string_t sink;
  for (const severity_case_t& c : severity_cases) (sink.*c.emit)("x");
  EXPECT_EQ(sink.get_messages(), "x\nInfo: x\nWarning: x\nError: x\n");
  EXPECT_EQ(sink.get_messages(), "");
  sink.warning("a");
  sink.warning("b");
  EXPECT_EQ(sink.get_messages(), "Warning: a\nWarning: b\n");
}

std::vector<std::string> callback_texts;
void record_callback(const char* text) { callback_texts.push_back(text); }

TEST(WarningSinks, CallbackGetsPrefixWithoutNewline) {
  callback_texts.clear();
  warning_consumer_callback_t sink(&record_callback);
  sink.error("disk on fire");
  sink.none("plain");
  ASSERT_EQ(callback_texts.size(), 2u);
  EXPECT_EQ(callback_texts[0], "Error: disk on fire");
  EXPECT_EQ(callback_texts[1], "plain");
}

// Records how many times it was called and when it was destroyed.
class counting_warning_t : public warning_base_t {
 public:
  explicit counting_warning_t(bool* destroyed) : destroyed_(destroyed) {}
  ~counting_warning_t() override { *destroyed_ = true; }
  std::string what() const override { return "counted"; }

 private:
  bool* destroyed_;
};

TEST(WarningSinks, RawPointerWarningIsOwnedAndDestroyed) {
  bool destroyed = false;
  warning_consumer_stderr_t sink;
  ::testing::internal::CaptureStderr();
  sink.warn(new counting_warning_t(&destroyed));
  // The base class's severity() is warning.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Warning: counted\n");
  EXPECT_TRUE(destroyed);
}

TEST(WarningSinks, SplitterDeliversOncePerSinkAndRemoves) {
  boost::shared_ptr<warning_consumer_string_t> a = boost::make_shared<warning_consumer_string_t>();
  boost::shared_ptr<warning_consumer_string_t> b = boost::make_shared<warning_consumer_string_t>();
  boost::shared_ptr<warning_consumer_base_t> a_again = a;  // same owner, other type
  warning_consumer_splitter_t splitter;
  splitter.add_warning_consumer(a);
  splitter.add_warning_consumer(a_again);
  splitter.add_warning_consumer(b);
  splitter.info("one");
  EXPECT_EQ(a->get_messages(), "Info: one\n");
  EXPECT_EQ(b->get_messages(), "Info: one\n");

  splitter.remove_warning_consumer(a);
  splitter.info("two");
  EXPECT_EQ(a->get_messages(), "");
  EXPECT_EQ(b->get_messages(), "Info: two\n");
  splitter.remove_warning_consumer(a);  // absent: nothing happens
}

class throwing_sink_t : public warning_consumer_base_t {
 public:
  void warn(const warning_const_ptr_t&) override { throw std::runtime_error("inner"); }
  using warning_consumer_base_t::warn;
};

TEST(WarningSinks, LockedSinkForwardsAndReleasesOnThrow) {
  boost::shared_ptr<warning_consumer_string_t> inner =
      boost::make_shared<warning_consumer_string_t>();
  warning_consumer_locked_t locked(inner);
  locked.error("e");
  EXPECT_EQ(inner->get_messages(), "Error: e\n");

  warning_consumer_locked_t locked_throwing(boost::make_shared<throwing_sink_t>());
  EXPECT_THROW(locked_throwing.error("a"), std::runtime_error);
  // The mutex was released: a second call reaches the inner sink again.
  EXPECT_THROW(locked_throwing.error("b"), std::runtime_error);
}

TEST(WarningSinks, SyslogTakesTextVerbatim) {
  // A text full of conversions must be sent as data, not used as a format.
  warning_consumer_syslog_t sink;
  sink.error("100% %s %n %x");
  sink.none("plain");
}

TEST(WarningSinks, NullSinkDropsEverything) {
  warning_consumer_null_t sink;
  ::testing::internal::CaptureStderr();
  sink.error("gone");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
