// Identification strings carried by every program ("$Id: ... $") and the
// functions that extract words from them. The binary encoder records the
// version word in the streams it writes.
#ifndef LIBRARY_SUPPORT_VERSION_INFO_H_
#define LIBRARY_SUPPORT_VERSION_INFO_H_

extern const char* version_id_path;     // "$Id: unknown path $"
extern const char* version_id_version;  // "$Id: unknown version $"
extern const char* version_id_product;  // "$Id: loomview 2012.1.1 $"

// Copy the first word after "$Id:" of the version id (or of the path id) into
// buf, at most len bytes, always terminated within them. len must be >= 1.
void version_get_svnversion(char* buf, int len);
void version_get_svnpath(char* buf, int len);
// The text after the last "/" of the path id up to the next blank, or
// "unknown" when the path id holds no "/".
void version_get_svnpath_last_component(char* buf, int len);

// The release, the second word of the product id: "2012.1.1".
const char* version_release();
// The commit the build's sources come from ("1a2b3c4d5e6f", with "-modified"
// when they differ from it), or "" when the build does not know.
const char* version_source_revision();

// Defined by each program in its main unit: referring to the version id from
// there keeps the identification strings in every executable.
const char* version_bring_in_version_info();

#endif
