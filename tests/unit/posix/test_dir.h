// A scratch folder that is removed with everything in it.
#ifndef VENDREL_TESTS_UNIT_POSIX_TEST_DIR_H_
#define VENDREL_TESTS_UNIT_POSIX_TEST_DIR_H_

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace vendrel::testing {

class TestDir {
 public:
  TestDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vendrel-unit-XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TestDir() {
    std::error_code ignored;
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
  }
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

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

#endif  // VENDREL_TESTS_UNIT_POSIX_TEST_DIR_H_
