// What a file carries besides its bytes, given to the file that replaces it.
#ifndef VENDREL_PLATFORM_POSIX_FILES_FILE_IDENTITY_H_
#define VENDREL_PLATFORM_POSIX_FILES_FILE_IDENTITY_H_

#include <sys/stat.h>

namespace vendrel::platform {

// Gives the new file (to) everything the old one (from, described by
// from_stat) carries that a rename would drop: its owner and group, its
// permission bits, its ACLs and its other extended attributes, and no
// attribute it does not have (such as an ACL the folder gave the new file).
// False when any of it cannot be given, as a user who does not own the old
// file cannot give its owner to a new one; the caller then keeps the old
// file and rewrites it in place.
bool CarryIdentity(int from, const struct stat& from_stat, int to);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_FILE_IDENTITY_H_
