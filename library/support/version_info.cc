#include "support/version_info.h"

#include <cstring>

#include "source_revision.h"

const char* version_id_path = "$Id: unknown path $";
const char* version_id_version = "$Id: unknown version $";
const char* version_id_product = "$Id: loomview 2012.1.1 $";

namespace {

// Copies src into buf with strncpy's rules, terminates within len bytes and
// cuts at the first blank.
void copy_word(char* buf, int len, const char* src) {
  strncpy(buf, src, static_cast<size_t>(len));
  buf[len - 1] = '\0';
  char* blank = strchr(buf, ' ');
  if (blank) *blank = '\0';
}

// The first word after the first blank (or the end) of an id text.
void first_word(char* buf, int len, const char* id) {
  const char* p = id;
  while (*p != ' ' && *p != '\0') ++p;
  // With no blank in the text, the word starts one past its terminator; the
  // delivered texts always hold one, so stay on the terminator instead.
  copy_word(buf, len, *p == '\0' ? p : p + 1);
}

}  // namespace

void version_get_svnversion(char* buf, int len) { first_word(buf, len, version_id_version); }

void version_get_svnpath(char* buf, int len) { first_word(buf, len, version_id_path); }

void version_get_svnpath_last_component(char* buf, int len) {
  const char* slash = strrchr(version_id_path, '/');
  if (slash == NULL) {
    strncpy(buf, "unknown", static_cast<size_t>(len));
    buf[len - 1] = '\0';
    return;
  }
  copy_word(buf, len, slash + 1);
}

const char* version_release() {
  static char release[32];
  if (release[0] == '\0') {
    // "$Id: loomview 2012.1.1 $": the word after the product's name.
    const char* p = strchr(version_id_product, ' ');
    p = p ? strchr(p + 1, ' ') : nullptr;
    copy_word(release, static_cast<int>(sizeof(release)), p ? p + 1 : "unknown");
  }
  return release;
}

const char* version_source_revision() { return VK_SOURCE_REVISION; }
