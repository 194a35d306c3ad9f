// Move-only owners of Windows handles.
#ifndef VENDREL_PLATFORM_WIN32_UNIQUE_HANDLE_H_
#define VENDREL_PLATFORM_WIN32_UNIQUE_HANDLE_H_

#include "platform/win32/windows_api.h"

#include <utility>

namespace vendrel::platform {

template <typename Handle, typename Traits>
class UniqueWinHandle {
 public:
  UniqueWinHandle() = default;
  explicit UniqueWinHandle(Handle handle) : handle_(handle) {}
  ~UniqueWinHandle() { Reset(); }
  UniqueWinHandle(UniqueWinHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, Traits::Invalid())) {}
  UniqueWinHandle& operator=(UniqueWinHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, Traits::Invalid());
    }
    return *this;
  }
  UniqueWinHandle(const UniqueWinHandle&) = delete;
  UniqueWinHandle& operator=(const UniqueWinHandle&) = delete;

  Handle get() const { return handle_; }
  // Gives the handle up without closing it.
  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }

 private:
  void Reset() {
    if (handle_ != Traits::Invalid()) Traits::Close(handle_);
    handle_ = Traits::Invalid();
  }

  Handle handle_ = Traits::Invalid();
};

struct FileHandleTraits {
  static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct KeyHandleTraits {
  static HKEY Invalid() { return nullptr; }
  static void Close(HKEY key) { RegCloseKey(key); }
};

using UniqueFileHandle = UniqueWinHandle<HANDLE, FileHandleTraits>;
using UniqueKeyHandle = UniqueWinHandle<HKEY, KeyHandleTraits>;

}  // namespace vendrel::platform

#endif  // VENDREL_PLATFORM_WIN32_UNIQUE_HANDLE_H_
