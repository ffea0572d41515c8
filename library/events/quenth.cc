#include "events/quenth.h"

namespace velkor { namespace library {

namespace {

const qnt_access_classes_t R = access_class_read;
const qnt_access_classes_t W = access_class_write;
const qnt_access_classes_t P = access_class_prefetch;
const qnt_access_classes_t N = access_class_nta;
const qnt_access_classes_t F = access_class_flush;

struct access_type_entry_t {
  const char* name;
  qnt_access_classes_t classes;
};

// Indexed by the access type.
const access_type_entry_t access_types[qnt_access_type_count] = {
    {"RD", R},
    {"WR", W},
    {"PF", R | P},
    {"RDWR", R | W},
    {"PF_AMD", R | P},
    {"PF_AMD_W", W | P},
    {"PF_Intel_NTA", R | P | N},
    {"PF_Intel_T0", R | P},
    {"PF_Intel_T1", R | P},
    {"PF_Intel_T2", R | P},
    {"CLFLUSH", F},
    {"NTA_RD", R | N},
    {"NTA_WR", W | N},
};

}  // namespace

const char* get_access_type_str(qnt_access_type_t type) {
  return type < qnt_access_type_count ? access_types[type].name : "UNKNOWN";
}

qnt_access_classes_t get_access_classes(qnt_access_type_t type) {
  return type < qnt_access_type_count ? access_types[type].classes : 0;
}

}}  // namespace velkor::library
