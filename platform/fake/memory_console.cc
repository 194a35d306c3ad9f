#include "platform/fake/memory_console.h"

#include <algorithm>
#include <cstring>

namespace vendrel::platform {

Result MemoryConsole::WriteOutput(const char* data, std::size_t size, std::size_t* written) {
  *written = 0;
  output_.append(data, size);
  write_sizes_.push_back(size);
  *written = size;
  return kSuccess;
}

Result MemoryConsole::ReadInput(char* buffer, std::size_t capacity, std::size_t* read) {
  *read = 0;
  std::size_t count = std::min({capacity, read_chunk_, input_.size() - input_pos_});
  std::memcpy(buffer, input_.data() + input_pos_, count);
  input_pos_ += count;
  *read = count;
  return kSuccess;
}

}  // namespace vendrel::platform
