// A console for tests: typed input given up front, output collected, and
// the size of every write kept to check the blocking.
#ifndef VENDREL_PLATFORM_FAKE_MEMORY_CONSOLE_H_
#define VENDREL_PLATFORM_FAKE_MEMORY_CONSOLE_H_

#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace vendrel::platform {

class MemoryConsole : public Console {
 public:
  explicit MemoryConsole(std::string input = {}, bool is_console = false)
      : input_(std::move(input)), is_console_(is_console) {}

  // At most this many bytes per read, as a pipe may hand them out.
  void set_read_chunk(std::size_t chunk) { read_chunk_ = chunk; }

  const std::string& output() const { return output_; }
  const std::vector<std::size_t>& write_sizes() const { return write_sizes_; }
  std::size_t input_left() const { return input_.size() - input_pos_; }

  OutputKind OutputType() override {
    return is_console_ ? OutputKind::kConsole : OutputKind::kFileOrPipe;
  }
  Result WriteOutput(const char* data, std::size_t size, std::size_t* written) override;
  Result ReadInput(char* buffer, std::size_t capacity, std::size_t* read) override;

 private:
  std::string input_;
  std::size_t input_pos_ = 0;
  bool is_console_;
  std::size_t read_chunk_ = 1 << 20;
  std::string output_;
  std::vector<std::size_t> write_sizes_;
};

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_FAKE_MEMORY_CONSOLE_H_
