// The console primitives of the run: lines out with CR LF, prompts, lines in.
#ifndef VENDREL_APP_CONSOLE_STREAM_H_
#define VENDREL_APP_CONSOLE_STREAM_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/dialogue.h"
#include "platform/console.h"

namespace vendrel {

class ConsoleStream : public Dialogue {
 public:
  // Output to a file or a pipe is collected in blocks of this size.
  static constexpr std::size_t kBlockSize = 128;
  // A typed line keeps at most this many bytes; the rest of it is discarded.
  static constexpr std::size_t kLineMax = 255;

  explicit ConsoleStream(platform::Console& console);
  ConsoleStream(const ConsoleStream&) = delete;
  ConsoleStream& operator=(const ConsoleStream&) = delete;

  // The text, then CR LF.
  void WriteLine(std::string_view text) override;
  // The text without a line end, then a flush.
  void Prompt(std::string_view text);
  // Writes whatever is held back.
  void Flush();

  // Reads up to the next LF. CRs are dropped; at the end of input the text
  // is empty and no error arises.
  std::string ReadLine() override;

 private:
  void Write(std::string_view text);
  void WriteThrough(const char* data, std::size_t size);
  bool FillInput();

  platform::Console& console_;
  bool immediate_;
  std::string pending_output_;
  std::string input_;
  std::size_t input_pos_ = 0;
  bool input_ended_ = false;
};

}  // namespace vendrel

#endif  // VENDREL_APP_CONSOLE_STREAM_H_
