// Scratch files for the benchmarks, and the product files at a given size.
#ifndef VENDREL_BENCH_BENCH_FILES_H_
#define VENDREL_BENCH_BENCH_FILES_H_

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/scratch_folder.h"

namespace vendrel::bench {

// A scratch folder on the build's own disk (the benchmarks run there), so
// that flushing costs what it costs there.
class ScratchDir : public testing::ScratchFolder {
 public:
  ScratchDir() : ScratchFolder(std::filesystem::current_path()) {}
};

using testing::ReadFile;
using testing::WriteFile;

// What replacing a file safely costs at the least: read it, write a copy
// beside it, flush the copy to disk, rename it over the file.
inline void ReadCopyFlushRename(const std::string& path) {
  std::string content = ReadFile(path);
  std::string temp = path + ".copy";
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (write(fd, content.data(), content.size()) < 0) std::abort();
  fsync(fd);
  close(fd);
  rename(temp.c_str(), path.c_str());
}

// A settings file of about the given size, with POSTGRES_SERVER in the
// middle holding all four keys the database step removes.
inline std::string SettingsFile(std::size_t bytes) {
  std::string text;
  const std::size_t sections = std::max<std::size_t>(bytes / 1175, 2);
  for (std::size_t s = 0; s < sections; ++s) {
    text += "[SECTION" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 40; ++k) {
      text += "key" + std::to_string(k) + "=value number " + std::to_string(k) + " of " +
              std::to_string(s) + "\r\n";
    }
    if (s == sections / 2) {
      text +=
          "[POSTGRES_SERVER]\r\nhost=db\r\nlangver=1\r\nutil_ver=2\r\nfileupdates_ver=3\r\n"
          "ccffl=4\r\ndatabase=old\r\n";
    }
  }
  return text;
}

// A registry store of the given number of values, the product's key in the
// middle among keys of 100 values each.
inline std::string RegistryStore(std::size_t values) {
  std::string text = "REGEDIT4\r\n\r\n";
  const std::size_t keys = std::max<std::size_t>(values / 100, 1);
  for (std::size_t k = 0; k < keys; ++k) {
    if (k == keys / 2) {
      text +=
          "[HKEY_LOCAL_MACHINE\\Software\\Tarvel Global]\r\n\"Drive\"=\"C:\"\r\n"
          "\"InstPath\"=\"C:\\\\KOVA32\"\r\n\"LocalDrive\"=\"C:\"\r\n\"PracticeRelief\"="
          "\"N\"\r\n\r\n";
    }
    text += "[HKEY_LOCAL_MACHINE\\Software\\Vendor" + std::to_string(k) + "]\r\n";
    for (int v = 0; v < 100; ++v) {
      text += "\"Value" + std::to_string(v) + "\"=\"some setting text " + std::to_string(v) +
              "\"\r\n\"Number" + std::to_string(v) + "\"=dword:0000002a\r\n";
      ++v;
    }
    text += "\r\n";
  }
  return text;
}

}  // namespace vendrel::bench

#endif  // VENDREL_BENCH_BENCH_FILES_H_
