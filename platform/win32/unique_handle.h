// Sole ownership of one Win32 handle: the handle is closed when its owner goes,
// so every early return releases it. Each kind of handle names its traits:
//   struct Traits {
//     using Handle = ...;
//     static Handle Invalid();            // what an empty owner holds
//     static bool IsValid(Handle handle); // whether it must be closed
//     static void Close(Handle handle);
//   };
#pragma once

#include <windows.h>

namespace platform {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const { return handle_; }
  bool valid() const { return Traits::IsValid(handle_); }
  // Where a creating call writes the new handle; the owner must be empty.
  Handle* out() { return &handle_; }
  // Closes the handle held and holds `handle` instead.
  void reset(Handle handle = Traits::Invalid()) {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_;
};

// A kernel object (process, thread, event, semaphore, mutex, snapshot):
// failing calls give either null or INVALID_HANDLE_VALUE.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle && handle != INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// A FindFirstFileA search.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { FindClose(handle); }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

struct KeyHandleTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static void Close(Handle handle) { RegCloseKey(handle); }
};
using KeyHandle = UniqueHandle<KeyHandleTraits>;

struct LibraryHandleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr; }
  static void Close(Handle handle) { FreeLibrary(handle); }
};
using LibraryHandle = UniqueHandle<LibraryHandleTraits>;

}  // namespace platform
