// Every Waitable shares one mutex and one condition variable: a state change
// wakes all waiters, each re-checks its own objects. Waits here are few and
// short-lived, so the extra wake-ups cost nothing that matters, and waiting for
// either of two objects needs no registration scheme.
#include "platform/sync.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace platform {
namespace {

// Never destroyed: objects made during static initialisation and detached
// threads still running at exit may use them.
std::mutex& StateMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::condition_variable& StateChanged() {
  static std::condition_variable* changed = new std::condition_variable;
  return *changed;
}

}  // namespace

struct Waitable::Native {
  enum Kind { kSemaphore, kEvent } kind;
  long count = 0;             // semaphore
  long maximum = 0;           // semaphore
  bool manual_reset = false;  // event
  bool set = false;           // event

  // Caller holds StateMutex.
  bool TryTake() {
    if (kind == kSemaphore) {
      if (count == 0) return false;
      --count;
      return true;
    }
    if (!set) return false;
    if (!manual_reset) set = false;
    return true;
  }
};

namespace {

// Waits until `ready` returns true or the timeout passes; caller holds `lock`.
template <typename Ready>
bool WaitUntilReady(std::unique_lock<std::mutex>& lock, uint32_t timeout_ms, Ready ready) {
  if (timeout_ms == kWaitForever) {
    StateChanged().wait(lock, ready);
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  return StateChanged().wait_until(lock, deadline, ready);
}

}  // namespace

Waitable::Waitable(Native* native) : native_(native) {}

Waitable::~Waitable() = default;

bool Waitable::Wait(uint32_t timeout_ms, uint32_t* error) {
  if (error) *error = 0;  // these waits cannot fail
  std::unique_lock<std::mutex> lock(StateMutex());
  return WaitUntilReady(lock, timeout_ms, [this] { return native_->TryTake(); });
}

Semaphore::Semaphore(long initial, long maximum) : Waitable(new Native) {
  native_->kind = Native::kSemaphore;
  native_->count = initial;
  native_->maximum = maximum;
}

bool Semaphore::Release() {
  {
    std::lock_guard<std::mutex> lock(StateMutex());
    if (native_->count >= native_->maximum) return false;
    ++native_->count;
  }
  StateChanged().notify_all();
  return true;
}

Event::Event(bool manual_reset, bool initially_set) : Waitable(new Native) {
  native_->kind = Native::kEvent;
  native_->manual_reset = manual_reset;
  native_->set = initially_set;
}

void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(StateMutex());
    native_->set = true;
  }
  StateChanged().notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(StateMutex());
  native_->set = false;
}

int WaitForEither(Waitable& first, Waitable& second, uint32_t timeout_ms, uint32_t* error) {
  if (error) *error = 0;  // these waits cannot fail
  int taken = kWaitTimedOut;
  std::unique_lock<std::mutex> lock(StateMutex());
  WaitUntilReady(lock, timeout_ms, [&] {
    if (first.native()->TryTake()) {
      taken = 0;
    } else if (second.native()->TryTake()) {
      taken = 1;
    }
    return taken >= 0;
  });
  return taken;
}

struct Lock::Native {
  std::recursive_mutex mutex;
};

Lock::Lock() : native_(new Native) {}
Lock::~Lock() = default;
void Lock::Acquire() { native_->mutex.lock(); }
void Lock::Release() { native_->mutex.unlock(); }

struct Thread::Native {
  std::thread thread;
  bool started = false;
  uint32_t start_error = 0;
};

namespace {

// False, with the error code (errno's value), when the thread cannot start.
bool StartThread(ThreadProc proc, void* arg, std::thread* thread, uint32_t* error) {
  try {
    *thread = std::thread(proc, arg);
    *error = 0;
    return true;
  } catch (const std::system_error& failure) {
    *error = static_cast<uint32_t>(failure.code().value());
    return false;
  }
}

}  // namespace

Thread::Thread(ThreadProc proc, void* arg) : native_(new Native) {
  native_->started = StartThread(proc, arg, &native_->thread, &native_->start_error);
}

Thread::~Thread() {
  if (native_->thread.joinable()) native_->thread.detach();
}

bool Thread::started() const { return native_->started; }

uint32_t Thread::start_error() const { return native_->start_error; }

void Thread::Join() {
  if (native_->thread.joinable()) native_->thread.join();
}

bool StartDetachedThread(ThreadProc proc, void* arg, uint32_t* error) {
  std::thread thread;
  uint32_t start_error = 0;
  const bool started = StartThread(proc, arg, &thread, &start_error);
  if (error) *error = start_error;
  if (!started) return false;
  thread.detach();
  return true;
}

}  // namespace platform
