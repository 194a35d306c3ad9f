// Scratch files for the benchmarks, the floor each piece of work is measured
// against, and the product files in the shapes users have, at a given size.
#ifndef VENDREL_BENCH_BENCH_FILES_H_
#define VENDREL_BENCH_BENCH_FILES_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/scratch_folder.h"

namespace vendrel::bench {

// A scratch folder on the build's own disk (the benchmarks run there), so
// that flushing costs what it costs there. It starts with the disk quiet:
// what the benchmark before left to write back is written first, so that
// neither its writeback nor its flushes are charged to this one.
class ScratchDir : public testing::ScratchFolder {
 public:
  ScratchDir() : ScratchFolder(std::filesystem::current_path()) { sync(); }
};

using testing::ReadFile;
using testing::WriteFile;

// A durable rewrite, the least a safe change of a whole file costs: read it
// whole into a buffer sized from its length, write a copy beside it, flush
// the copy, rename it over the file, flush the folder.
inline void DurableRewrite(const std::string& path) {
  int in = open(path.c_str(), O_RDONLY);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) std::abort();
  std::string content(static_cast<std::size_t>(st.st_size), '\0');
  if (read(in, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    std::abort();
  }
  close(in);
  const std::string temp = path + ".copy";
  int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0 || write(out, content.data(), content.size()) < 0 || fsync(out) != 0) std::abort();
  close(out);
  if (rename(temp.c_str(), path.c_str()) != 0) std::abort();
  int folder = open(std::filesystem::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY);
  fsync(folder);
  close(folder);
}

// Makes sure a file written for a benchmark is on the disk before the clock
// starts, so that writing it back is not charged to whichever runs first.
inline void Settle(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  fsync(fd);
  close(fd);
}

// The entries of POSTGRES_SERVER the database step writes and removes.
inline const char* PostgresSection() {
  return "[POSTGRES_SERVER]\r\nhost=db\r\nlangver=1\r\nutil_ver=2\r\nfileupdates_ver=3\r\n"
         "ccffl=4\r\ndatabase=old\r\n";
}

// A settings file of about the given size in sections of 40 keys, with
// POSTGRES_SERVER in the middle.
inline std::string SettingsFile(std::size_t bytes) {
  std::string text;
  const std::size_t sections = std::max<std::size_t>(bytes / 1175, 2);
  for (std::size_t s = 0; s < sections; ++s) {
    text += "[SECTION" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 40; ++k) {
      text += "key" + std::to_string(k) + "=value number " + std::to_string(k) + " of " +
              std::to_string(s) + "\r\n";
    }
    if (s == sections / 2) text += PostgresSection();
  }
  return text;
}

// A settings file of about the given size in small sections of two short
// lines each (about 100 bytes a section), POSTGRES_SERVER in the middle.
inline std::string SettingsFileOfSmallSections(std::size_t bytes) {
  std::string text;
  const std::size_t sections = std::max<std::size_t>(bytes / 100, 2);
  for (std::size_t s = 0; s < sections; ++s) {
    const std::string number = std::to_string(s);
    text +=
        "[WORKSTATION" + number + "]\r\nname=desk" + number + "\r\nprinter=front" + number + "\r\n";
    if (s == sections / 2) text += PostgresSection();
  }
  return text;
}

// The product's key with its four values, in the store's own text.
inline std::string ProductKey(const std::string& more = "") {
  return "[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\r\n\"Drive\"=\"C:\"\r\n"
         "\"InstPath\"=\"C:\\\\KOVA32\"\r\n\"LocalDrive\"=\"C:\"\r\n\"PracticeRelief\"="
         "\"N\"\r\n" +
         more + "\r\n";
}

// Values in pairs of a text and a number, the way vendors' keys hold them.
inline std::string SomeValues(std::size_t count, const std::string& prefix = "") {
  std::string text;
  for (std::size_t v = 0; v + 1 < count; v += 2) {
    const std::string number = std::to_string(v);
    text += "\"" + prefix + "Value" + number + "\"=\"some setting text " + number + "\"\r\n\"" +
            prefix + "Number" + number + "\"=dword:0000002a\r\n";
  }
  return text;
}

// A registry store of the given number of values in other keys of
// per_key values each, the product's key in the middle.
inline std::string RegistryStore(std::size_t values, std::size_t per_key = 100) {
  std::string text = "REGEDIT4\r\n\r\n";
  const std::size_t keys = std::max<std::size_t>(values / per_key, 1);
  for (std::size_t k = 0; k < keys; ++k) {
    if (k == keys / 2) text += ProductKey();
    text += "[HKEY_LOCAL_MACHINE\\Software\\Vendor" + std::to_string(k) + "]\r\n" +
            SomeValues(per_key) + "\r\n";
  }
  return text;
}

// A registry store whose product key itself holds the given number of
// values, besides its own four.
inline std::string ProductKeyStore(std::size_t values) {
  return "REGEDIT4\r\n\r\n" + ProductKey(SomeValues(values, "Other"));
}

}  // namespace vendrel::bench

#endif  // VENDREL_BENCH_BENCH_FILES_H_
