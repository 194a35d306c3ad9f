// The lines a step shows the user, and the one line it may wait for. The
// run driver's console implements it; the steps below it see only this.
#ifndef VENDREL_BASE_DIALOGUE_H_
#define VENDREL_BASE_DIALOGUE_H_

#include <string>
#include <string_view>

namespace vendrel {

class Dialogue {
 public:
  virtual ~Dialogue() = default;

  // The text, then CR LF. A failure raises an EInOutError.
  virtual void WriteLine(std::string_view text) = 0;
  // One typed line without its line end; empty at the end of input.
  virtual std::string ReadLine() = 0;
};

}  // namespace vendrel

#endif  // VENDREL_BASE_DIALOGUE_H_
