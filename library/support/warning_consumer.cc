#include "support/warning_consumer.h"

#include <syslog.h>

#include <cassert>
#include <iostream>


namespace velkor { namespace library {

generic_warning_t::generic_warning_t(const std::string& message, severity_t severity)
    : message_(message), severity_(severity) {}

std::string generic_warning_t::what() const { return message_; }

warning_base_t::severity_t generic_warning_t::severity() const { return severity_; }

const char* warning_severity_prefix(warning_base_t::severity_t severity) {
  switch (severity) {
    case warning_base_t::severity_none: return "";
    case warning_base_t::severity_info: return "Info: ";
    case warning_base_t::severity_warning: return "Warning: ";
    case warning_base_t::severity_error: return "Error: ";
  }
  assert(0);
  return "";
}

void warning_consumer_base_t::warn(const warning_base_t* w) {
  warning_const_ptr_t owned;
  try {
    owned.reset(w);
  } catch (...) {
    delete w;
    throw;
  }
  warn(owned);
}

void warning_consumer_base_t::warn_generic(const std::string& text,
                                           warning_base_t::severity_t severity) {
  warning_const_ptr_t w(new generic_warning_t(text, severity));
  warn(w);
}

void warning_consumer_base_t::none(const std::string& text) {
  warn_generic(text, warning_base_t::severity_none);
}
void warning_consumer_base_t::info(const std::string& text) {
  warn_generic(text, warning_base_t::severity_info);
}
void warning_consumer_base_t::warning(const std::string& text) {
  warn_generic(text, warning_base_t::severity_warning);
}
void warning_consumer_base_t::error(const std::string& text) {
  warn_generic(text, warning_base_t::severity_error);
}

void warning_consumer_null_t::warn(const warning_const_ptr_t&) {}

void warning_consumer_stderr_t::warn(const warning_const_ptr_t& w) {
  const char* prefix = warning_severity_prefix(w->severity());
  std::cerr << prefix << w->what() << '\n';
  std::cerr.flush();
}

void warning_consumer_string_t::warn(const warning_const_ptr_t& w) {
  messages_ += warning_severity_prefix(w->severity());
  messages_ += w->what();
  messages_ += '\n';
}

std::string warning_consumer_string_t::get_messages() {
  std::string taken;
  taken.swap(messages_);
  return taken;
}

warning_consumer_callback_t::warning_consumer_callback_t(void (*callback)(const char*))
    : callback_(callback) {
  assert(callback_ != 0);
}

void warning_consumer_callback_t::warn(const warning_const_ptr_t& w) {
  std::string text = warning_severity_prefix(w->severity());
  text += w->what();
  callback_(text.c_str());
}

warning_consumer_syslog_t::warning_consumer_syslog_t() {
  openlog("loomview", LOG_PID, LOG_DAEMON);
}

void warning_consumer_syslog_t::warn(const warning_const_ptr_t& w) {
  int priority = LOG_INFO;
  switch (w->severity()) {
    case warning_base_t::severity_none:
    case warning_base_t::severity_info: priority = LOG_INFO; break;
    case warning_base_t::severity_warning: priority = LOG_WARNING; break;
    case warning_base_t::severity_error: priority = LOG_ERR; break;
    default: assert(0);
  }
  // The text is data, never a format.
  syslog(priority, "%s", w->what().c_str());
}

void warning_consumer_splitter_t::warn(const warning_const_ptr_t& w) {
  for (consumer_set_t::const_iterator it = consumers_.begin(); it != consumers_.end(); ++it) {
    (*it)->warn(w);
  }
}

void warning_consumer_splitter_t::add_warning_consumer(
    const boost::shared_ptr<warning_consumer_base_t>& c) {
  consumers_.insert(c);
}

void warning_consumer_splitter_t::remove_warning_consumer(
    const boost::shared_ptr<warning_consumer_base_t>& c) {
  consumers_.erase(c);
}

warning_consumer_locked_t::warning_consumer_locked_t(
    boost::shared_ptr<warning_consumer_base_t> consumer)
    : consumer_(consumer) {}

void warning_consumer_locked_t::warn(const warning_const_ptr_t& w) {
  boost::mutex::scoped_lock lock(mutex_);
  consumer_->warn(w);
}

}}  // namespace velkor::library
