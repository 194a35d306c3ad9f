// Rewriting a file in place, for a file that a replacement by rename would
// split (it has more than one name) or strip (its owner, group or an
// attribute cannot be given to a new file). The new content goes first to a
// journal beside the file, flushed, and the file itself records where its
// journal lies (an extended attribute, seen through every one of its
// names); only then is the file overwritten. A run stopped halfway leaves a
// file that may be torn and a complete journal: the next run that locks the
// file completes the rewrite before anything reads it. Callers hold the
// file's exclusive lock.
#ifndef VENDREL_PLATFORM_POSIX_FILES_REWRITE_JOURNAL_H_
#define VENDREL_PLATFORM_POSIX_FILES_REWRITE_JOURNAL_H_

#include <sys/stat.h>

#include <string>

namespace vendrel::platform {

// Rewrites the file at path, described by file, with content. Returns 0 or
// an errno value; a failure before the overwrite leaves the file untouched.
int RewriteInPlace(const std::string& path, const struct stat& file, const std::string& content);

// True when a stopped run left a rewrite of the open file to complete.
bool HasPendingRewrite(const std::string& path, int fd, const struct stat& file);

// Completes the rewrite a stopped run left on the open file, if any. A
// journal that was never finished is dropped: its run stopped before it
// touched the file. Returns 0 or an errno value (the file may then be torn
// and must not be read as it is).
int CompletePendingRewrite(const std::string& path, int fd, const struct stat& file);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_REWRITE_JOURNAL_H_
