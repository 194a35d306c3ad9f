// A path placed beneath a folder that stands as its root, as a path on a
// disk the program does not trust is placed: the folder is "/" for every
// link on the way, ".." never climbs above it, and names that are not
// found as spelled are found without regard to ASCII case, as on Windows.
#ifndef VENDREL_PLATFORM_POSIX_FILES_PLACE_BENEATH_H_
#define VENDREL_PLATFORM_POSIX_FILES_PLACE_BENEATH_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/files/placed_file.h"

namespace vendrel::platform {

struct Beneath {
  int root = -1;      // the folder that stands as "/" (borrowed)
  std::string shown;  // its path on this machine, for reports; "" for "/"
  // No link beneath root leads to another file system (a mount point on
  // the way is refused, EXDEV): for the top of a mounted disk.
  bool one_file_system = false;
};

enum class LastName {
  kExisting,  // the file itself must exist
  kMayBeNew,  // only its folder must
};

// Places parts (components, "." and ".." applied) beneath the root: each
// folder by the spelling the disk has for it, and a link that ends the
// path followed to the file it names, inside the root. Returns 0 or an
// errno value (ELOOP for links that loop, or that cannot be followed where
// the kernel cannot confine a lookup); *on_the_way tells a failure on a
// folder of the path from one at its last name.
int PlaceBeneath(const Beneath& beneath, const std::vector<std::string>& parts, LastName last,
                 PlacedFile* placed, bool* on_the_way);

// The components of a path, split at separators (any of them), with "."
// and ".." applied, never above its start; those of a path that continues
// the one whose components are given as below.
std::vector<std::string> PathComponents(std::string_view path, std::string_view separators,
                                        std::vector<std::string> below = {});

// The entries of the folder whose names equal name without regard to ASCII
// case, in byte order. False, with errno set, when the folder cannot be
// listed.
bool NamesIgnoringCase(int folder, const std::string& name, std::vector<std::string>* names);

// The entry of the folder whose name equals name without regard to ASCII
// case: of several, the first in byte order, so the answer is stable.
bool FindIgnoringCase(int folder, const std::string& name, std::string* found);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_PLACE_BENEATH_H_
