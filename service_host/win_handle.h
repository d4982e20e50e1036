#pragma once

#include <windows.h>

// A move-only owner of one Win32 handle, closed with Close when the owner goes.
template <typename Handle, auto Close>
class Owned {
 public:
  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : handle_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Owned() { reset(); }

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // For APIs that return the handle through a pointer.
  Handle* receive() {
    reset();
    return &handle_;
  }
  Handle release() {
    Handle handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset(Handle handle = nullptr) {
    if (handle_ != nullptr) Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using RegistryKey = Owned<HKEY, RegCloseKey>;
using ServiceHandle = Owned<SC_HANDLE, CloseServiceHandle>;
using KernelHandle = Owned<HANDLE, CloseHandle>;
