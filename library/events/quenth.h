// Names and class bit sets of the thirteen memory-access types. The
// statistics report prints the names; the sampled-access record and the access
// filters classify by the class bits.
#ifndef LIBRARY_EVENTS_QUENTH_H_
#define LIBRARY_EVENTS_QUENTH_H_

#include "events/qnt_types.h"

namespace velkor { namespace library {

// Name of an access type ("RD", "WR", ..., "NTA_WR"), a static string. A type
// above 12, which only a damaged file can carry, is named "UNKNOWN".
const char* get_access_type_str(qnt_access_type_t type);

// Class bits of an access type (access_class_read, ...); 0, no class at all,
// for a type above 12.
qnt_access_classes_t get_access_classes(qnt_access_type_t type);

}}  // namespace velkor::library
#endif
