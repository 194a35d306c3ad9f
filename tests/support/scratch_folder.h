// A scratch folder for tests and benchmarks, removed with everything in it
// (folders a test closed are opened again first), and whole-file helpers.
#ifndef VENDREL_TESTS_SUPPORT_SCRATCH_FOLDER_H_
#define VENDREL_TESTS_SUPPORT_SCRATCH_FOLDER_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vendrel::testing {

class ScratchFolder {
 public:
  // In the system's temporary folder, or inside parent: a benchmark keeps
  // its files on the build's own disk, so that flushing costs what it
  // costs there.
  explicit ScratchFolder(
      const std::filesystem::path& parent = std::filesystem::temp_directory_path()) {
    std::string pattern = (parent / "vendrel-scratch-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~ScratchFolder() {
    std::error_code ignored;
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string path() const { return path_.string(); }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vendrel::testing

#endif  // VENDREL_TESTS_SUPPORT_SCRATCH_FOLDER_H_
