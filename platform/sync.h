// Threads and the objects they wait on. Native handles on win32; on posix one
// process-wide mutex and condition variable serve every object, which keeps
// "wait for either of two" simple and exact.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Something a thread can wait for: a semaphore or an event.
class Waitable {
 public:
  struct Native;
  Waitable(const Waitable&) = delete;
  Waitable& operator=(const Waitable&) = delete;
  virtual ~Waitable();

  // True when the object was taken (semaphore) or found set (event) in time.
  // A wait that failed gives false, with the system's error code in `error`
  // when given (0 when it only timed out).
  bool Wait(uint32_t timeout_ms = kWaitForever, uint32_t* error = nullptr);
  Native* native() const { return native_.get(); }

 protected:
  explicit Waitable(Native* native);
  std::unique_ptr<Native> native_;
};

class Semaphore : public Waitable {
 public:
  Semaphore(long initial, long maximum);
  // False (count unchanged) when the count is already at its maximum.
  bool Release();
};

// A semaphore whose count is 0 or 1.
class BinarySemaphore : public Semaphore {
 public:
  explicit BinarySemaphore(bool initially_released = false)
      : Semaphore(initially_released ? 1 : 0, 1) {}
};

class Event : public Waitable {
 public:
  // An auto-reset event is reset by the one wait that finds it set.
  Event(bool manual_reset, bool initially_set);
  void Set();
  void Reset();
};

// What WaitForEither gives besides the index of the object taken.
constexpr int kWaitTimedOut = -1;
constexpr int kWaitFailed = -2;

// Waits for whichever of two objects comes first: 0 or 1 for the object taken,
// kWaitTimedOut, or kWaitFailed with the system's error code in `error` when
// given. When both are ready, the first wins.
int WaitForEither(Waitable& first, Waitable& second, uint32_t timeout_ms = kWaitForever,
                  uint32_t* error = nullptr);

// A recursive mutual-exclusion lock (a critical section on win32).
class Lock {
 public:
  struct Native;
  Lock();
  ~Lock();
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Acquire();
  void Release();

 private:
  std::unique_ptr<Native> native_;
};

class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~LockGuard() { lock_.Release(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

using ThreadProc = void (*)(void* arg);

// A thread that runs `proc(arg)` from construction on. Destroying it without
// Join leaves the thread running on its own.
class Thread {
 public:
  struct Native;
  Thread(ThreadProc proc, void* arg);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool started() const;
  // The system's error code when the thread could not start, else 0.
  uint32_t start_error() const;
  void Join();

 private:
  std::unique_ptr<Native> native_;
};

// Starts a thread whose handle nobody keeps; false, with the system's error
// code in `error` when given, when it could not start.
bool StartDetachedThread(ThreadProc proc, void* arg, uint32_t* error = nullptr);

}  // namespace platform
