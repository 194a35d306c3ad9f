// Rewriting a file in place, for a file that a replacement by rename would
// split (it has more than one name) or strip (its owner, group or an
// attribute cannot be given to a new file). The new content goes first to a
// journal beside the file, under a fixed name made from the file's own
// (".<name>.vendrel-journal"), flushed; only then is the file overwritten.
// A journal holds the whole new content; one of only the pages that change,
// which earlier versions wrote beside a hive, is still completed.
// A run stopped halfway leaves a file that may be torn and a complete
// journal: the next run that locks the file completes the rewrite, and a
// reader meanwhile reads the journal's content. Nothing a journal holds
// names another file: it is found by the file's name alone, and it is
// trusted only when this program could have written it for this file.
#ifndef VENDREL_PLATFORM_POSIX_FILES_REWRITE_JOURNAL_H_
#define VENDREL_PLATFORM_POSIX_FILES_REWRITE_JOURNAL_H_

#include <sys/stat.h>

#include <string>

#include "platform/posix/files/changed_pages.h"

namespace vendrel::platform {

// The file a journal is for: its folder and name, its descriptor (open for
// reading and writing to rewrite it) and status, and its kind's size cap.
struct JournalSite {
  int folder = -1;
  std::string name;
  int fd = -1;
  struct stat file {};
  std::size_t cap = 0;
};

enum class JournalState {
  kNone,     // no journal: the file is as it stands
  kWhole,    // a complete journal of this file: its content is the file's
  kTorn,     // this program's journal, cut short before the file was touched
  kForeign,  // something else stands at the journal's name: never touched
  kRefused,  // a journal the running user may not read (it is its file's owner's)
};

// ".<name>.vendrel-journal", the name cut so that the whole fits in 255 bytes.
std::string JournalNameOf(const std::string& name);

// Rewrites the file with content. Callers hold the file's exclusive lock.
// Returns 0 or an errno value; a failure before the overwrite leaves the
// file untouched. EBUSY when the journal's name is taken.
int RewriteInPlace(const JournalSite& site, const std::string& content);

// What stands at the journal's name; for a whole journal, its content (for
// a journal of pages, the file's content with its pages put in).
// Looked at before it is opened, and opened only when it is a regular file
// with one name, owned by the running user or the file's owner, that
// neither group nor others may write, and no larger than the file's kind.
// A journal of pages whose new length asks for growth its pages do not
// bring is not this program's.
JournalState FindJournal(const JournalSite& site, std::string* content);

// Completes the rewrite a stopped run left, or drops a journal cut short
// (its run stopped before it touched the file). Callers hold the exclusive
// lock. With pending given, a whole journal is left where it is and its
// content given there, for a caller that writes it its own way. Returns 0
// or an errno value: EBUSY when something else stands at the journal's
// name, which is left as it is; EACCES for a journal the running user may
// not read.
int CompletePendingRewrite(const JournalSite& site, std::string* pending = nullptr);

// Removes the file's journal, once what it held is in the file.
void DropJournal(const JournalSite& site);

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_POSIX_FILES_REWRITE_JOURNAL_H_
