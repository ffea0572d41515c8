// Warnings and the sinks that receive them. Every stage of the library reports
// problems that do not stop its work to a sink it shares with the rest of its
// chain; the programs choose the sink (sample_stats and stream_pack use stderr).
#ifndef LIBRARY_SUPPORT_WARNING_CONSUMER_H_
#define LIBRARY_SUPPORT_WARNING_CONSUMER_H_

#include <set>
#include <string>

#include <boost/shared_ptr.hpp>
#include <boost/smart_ptr/owner_less.hpp>
#include <boost/thread/mutex.hpp>

namespace velkor { namespace library {

// ---- Warning records -------------------------------------------------------

class warning_base_t {
 public:
  enum severity_t {
    severity_none = 0,
    severity_info = 1,
    severity_warning = 2,
    severity_error = 3,
  };

  virtual ~warning_base_t() {}
  virtual std::string what() const = 0;
  virtual severity_t severity() const { return severity_warning; }
};

typedef boost::shared_ptr<const warning_base_t> warning_const_ptr_t;

class generic_warning_t : public warning_base_t {
 public:
  generic_warning_t(const std::string& message, severity_t severity);
  std::string what() const override;
  severity_t severity() const override;

 private:
  std::string message_;
  severity_t severity_;
};

// The text that text sinks put before a warning of the given severity:
// "", "Info: ", "Warning: " or "Error: ". Any other value is a programming error.
const char* warning_severity_prefix(warning_base_t::severity_t severity);

// ---- Sink interface --------------------------------------------------------

class warning_consumer_base_t {
 public:
  virtual ~warning_consumer_base_t() {}

  // Delivers one warning; the sink may keep the shared pointer.
  virtual void warn(const warning_const_ptr_t& w) = 0;

  // Takes ownership of a warning allocated with new.
  void warn(const warning_base_t* w);

  // Convenience: a generic warning of severity 0, 1, 2 or 3.
  void none(const std::string& text);
  void info(const std::string& text);
  void warning(const std::string& text);
  void error(const std::string& text);

 private:
  void warn_generic(const std::string& text, warning_base_t::severity_t severity);
};

// ---- Sinks -----------------------------------------------------------------

// Drops every warning.
class warning_consumer_null_t : public warning_consumer_base_t {
 public:
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;
};

// Writes prefix, text and a newline to std::cerr and flushes it.
class warning_consumer_stderr_t : public warning_consumer_base_t {
 public:
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;
};

// Collects prefix, text and a newline per warning until get_messages().
class warning_consumer_string_t : public warning_consumer_base_t {
 public:
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;

  // Everything collected since construction or the previous call; empties it.
  std::string get_messages();

 private:
  std::string messages_;
};

// Calls a function with prefix and text (no newline), valid during the call.
class warning_consumer_callback_t : public warning_consumer_base_t {
 public:
  explicit warning_consumer_callback_t(void (*callback)(const char*));
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;

 private:
  void (*callback_)(const char*);
};

// Sends the text, verbatim and without prefix, to the system log under the
// identity "loomview". The constructor opens the log; nothing closes it.
class warning_consumer_syslog_t : public warning_consumer_base_t {
 public:
  warning_consumer_syslog_t();
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;
};

// Hands every warning to each of a set of sinks, once per sink. Sinks are told
// apart by ownership, so adding the same sink twice keeps one entry.
class warning_consumer_splitter_t : public warning_consumer_base_t {
 public:
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;

  void add_warning_consumer(const boost::shared_ptr<warning_consumer_base_t>& c);
  void remove_warning_consumer(const boost::shared_ptr<warning_consumer_base_t>& c);

 private:
  typedef std::set<boost::shared_ptr<warning_consumer_base_t>,
                   boost::owner_less<boost::shared_ptr<warning_consumer_base_t> > >
      consumer_set_t;
  consumer_set_t consumers_;
};

// Serialises warn() on an inner sink with a mutex, so that threads can share it.
class warning_consumer_locked_t : public warning_consumer_base_t {
 public:
  explicit warning_consumer_locked_t(boost::shared_ptr<warning_consumer_base_t> consumer);
  void warn(const warning_const_ptr_t& w) override;
  using warning_consumer_base_t::warn;

 private:
  boost::shared_ptr<warning_consumer_base_t> consumer_;
  boost::mutex mutex_;
};

}}  // namespace velkor::library
#endif
