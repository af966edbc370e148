#include "platform/sync.h"

#include <windows.h>

#include "platform/win32/unique_handle.h"

namespace platform {

struct Waitable::Native {
  KernelHandle handle;
};

Waitable::Waitable(Native* native) : native_(native) {}

Waitable::~Waitable() = default;

bool Waitable::Wait(uint32_t timeout_ms, uint32_t* error) {
  if (error) *error = 0;
  // A handle that could not be made fails every wait, as the system would.
  const DWORD result =
      native_->handle.get() ? WaitForSingleObject(native_->handle.get(), timeout_ms) : WAIT_FAILED;
  if (result == WAIT_OBJECT_0) return true;
  if (result != WAIT_TIMEOUT && error) {
    *error = native_->handle.get() ? GetLastError() : ERROR_INVALID_HANDLE;
  }
  return false;
}

Semaphore::Semaphore(long initial, long maximum) : Waitable(new Native) {
  native_->handle.reset(CreateSemaphoreA(nullptr, initial, maximum, nullptr));
}

bool Semaphore::Release() {
  return native_->handle.get() && ReleaseSemaphore(native_->handle.get(), 1, nullptr) != 0;
}

Event::Event(bool manual_reset, bool initially_set) : Waitable(new Native) {
  native_->handle.reset(CreateEventA(nullptr, manual_reset, initially_set, nullptr));
}

void Event::Set() {
  if (native_->handle.get()) SetEvent(native_->handle.get());
}

void Event::Reset() {
  if (native_->handle.get()) ResetEvent(native_->handle.get());
}

int WaitForEither(Waitable& first, Waitable& second, uint32_t timeout_ms, uint32_t* error) {
  if (error) *error = 0;
  HANDLE handles[2] = {first.native()->handle.get(), second.native()->handle.get()};
  if (!handles[0] || !handles[1]) {
    if (error) *error = ERROR_INVALID_HANDLE;
    return kWaitFailed;
  }
  // With both signalled, the lowest index is reported: the first wins.
  DWORD result = WaitForMultipleObjects(2, handles, FALSE, timeout_ms);
  if (result == WAIT_OBJECT_0) return 0;
  if (result == WAIT_OBJECT_0 + 1) return 1;
  if (result == WAIT_TIMEOUT) return kWaitTimedOut;
  if (error) *error = result == WAIT_FAILED ? GetLastError() : result;
  return kWaitFailed;
}

struct Lock::Native {
  CRITICAL_SECTION section;
};

Lock::Lock() : native_(new Native) { InitializeCriticalSection(&native_->section); }

Lock::~Lock() { DeleteCriticalSection(&native_->section); }

void Lock::Acquire() { EnterCriticalSection(&native_->section); }
void Lock::Release() { LeaveCriticalSection(&native_->section); }

namespace {

struct StartInfo {
  ThreadProc proc;
  void* arg;
};

// The thread owns its StartInfo, so the Thread object may go away first.
DWORD WINAPI ThreadEntry(LPVOID parameter) {
  StartInfo info = *static_cast<StartInfo*>(parameter);
  delete static_cast<StartInfo*>(parameter);
  info.proc(info.arg);
  return 0;
}

HANDLE StartThread(ThreadProc proc, void* arg, uint32_t* error) {
  StartInfo* info = new StartInfo{proc, arg};
  HANDLE handle = CreateThread(nullptr, 0, ThreadEntry, info, 0, nullptr);
  *error = handle ? 0 : GetLastError();
  if (!handle) delete info;
  return handle;
}

}  // namespace

struct Thread::Native {
  KernelHandle handle;
  uint32_t start_error = 0;
};

Thread::Thread(ThreadProc proc, void* arg) : native_(new Native) {
  native_->handle.reset(StartThread(proc, arg, &native_->start_error));
}

Thread::~Thread() = default;

bool Thread::started() const { return native_->handle.get() != nullptr; }

uint32_t Thread::start_error() const { return native_->start_error; }

void Thread::Join() {
  if (native_->handle.get()) WaitForSingleObject(native_->handle.get(), INFINITE);
}

bool StartDetachedThread(ThreadProc proc, void* arg, uint32_t* error) {
  uint32_t start_error = 0;
  KernelHandle handle(StartThread(proc, arg, &start_error));
  if (error) *error = start_error;
  return handle.get() != nullptr;
}

}  // namespace platform
