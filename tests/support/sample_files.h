// Sample files for tests, written by the library's own writer from a list of
// events: the way most tests make the input of a program or a reader.
#ifndef TESTS_SUPPORT_SAMPLE_FILES_H_
#define TESTS_SUPPORT_SAMPLE_FILES_H_

#include <memory>
#include <string>
#include <vector>

#include "events/qnt_events.h"
#include "stream/stream_container.h"

namespace velkor { namespace testkit {

typedef std::vector<std::unique_ptr<library::qnt_event_t>> event_list_t;

// Appends a new event of type T to the list and returns it to be filled in.
template <class T>
T* add_event(event_list_t* events) {
  T* event = new T;
  events->emplace_back(event);
  return event;
}

// The bytes of a sample file (container header of product 255, then the
// version-3 event stream, raw or deflated) holding the events in order.
std::string sample_file(const event_list_t& events,
                        library::stream_container_compression_t compression);

}}  // namespace velkor::testkit
#endif
