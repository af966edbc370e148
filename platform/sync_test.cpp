#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"

namespace platform {
namespace {

TEST(SemaphoreTest, BinarySemaphoreHoldsAtMostOne) {
  BinarySemaphore semaphore;
  EXPECT_FALSE(semaphore.Wait(0));
  EXPECT_TRUE(semaphore.Release());
  EXPECT_FALSE(semaphore.Release());
  EXPECT_TRUE(semaphore.Wait(0));
  EXPECT_FALSE(semaphore.Wait(0));
  BinarySemaphore released(true);
  EXPECT_FALSE(released.Release());
  EXPECT_TRUE(released.Wait(0));
}

TEST(SemaphoreTest, CountsUpToItsMaximum) {
  Semaphore semaphore(1, 3);
  EXPECT_TRUE(semaphore.Release());
  EXPECT_TRUE(semaphore.Release());
  EXPECT_FALSE(semaphore.Release());
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(semaphore.Wait(0)) << i;
  EXPECT_FALSE(semaphore.Wait(0));
}

TEST(SemaphoreTest, WaitTimesOutAfterItsLimit) {
  BinarySemaphore semaphore;
  uint32_t start = TickCount();
  EXPECT_FALSE(semaphore.Wait(100));
  uint32_t elapsed = TickCount() - start;
  EXPECT_GE(elapsed, 90u);
  EXPECT_LT(elapsed, 2000u);
}

struct ReleaseLater {
  BinarySemaphore* semaphore;
  uint32_t delay_ms;
  static void Run(void* arg) {
    auto* self = static_cast<ReleaseLater*>(arg);
    SleepMs(self->delay_ms);
    self->semaphore->Release();
  }
};

TEST(ThreadTest, WakesAWaiterByReleasingASemaphore) {
  BinarySemaphore semaphore;
  ReleaseLater job{&semaphore, 50};
  Thread thread(&ReleaseLater::Run, &job);
  ASSERT_TRUE(thread.started());
  EXPECT_TRUE(semaphore.Wait(10000));
  thread.Join();
}

TEST(ThreadTest, DetachedThreadRuns) {
  BinarySemaphore semaphore;
  ReleaseLater job{&semaphore, 0};
  ASSERT_TRUE(StartDetachedThread(&ReleaseLater::Run, &job));
  EXPECT_TRUE(semaphore.Wait(10000));
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
  Event event(true, false);
  EXPECT_FALSE(event.Wait(0));
  event.Set();
  EXPECT_TRUE(event.Wait(0));
  EXPECT_TRUE(event.Wait(0));
  event.Reset();
  EXPECT_FALSE(event.Wait(0));
  Event initially_set(true, true);
  EXPECT_TRUE(initially_set.Wait(0));
}

TEST(EventTest, AutoResetWakesOneWaiterPerSet) {
  Event event(false, false);
  std::atomic<int> woken{0};
  auto waiter = [&] {
    if (event.Wait(10000)) ++woken;
  };
  std::thread first(waiter), second(waiter);
  SleepMs(100);  // let both block
  event.Set();
  SleepMs(200);
  EXPECT_EQ(1, woken.load());
  event.Set();
  first.join();
  second.join();
  EXPECT_EQ(2, woken.load());
  EXPECT_FALSE(event.Wait(0));
}

TEST(WaitForEitherTest, FirstWinsWhenBothAreReady) {
  BinarySemaphore first(true), second(true);
  EXPECT_EQ(0, WaitForEither(first, second, 0));
  EXPECT_EQ(1, WaitForEither(first, second, 0));
  EXPECT_EQ(-1, WaitForEither(first, second, 0));
}

TEST(WaitForEitherTest, TakesOnlyTheReadyObject) {
  BinarySemaphore first;
  Event second(true, true);
  EXPECT_EQ(1, WaitForEither(first, second, 0));
  EXPECT_TRUE(second.Wait(0));  // a manual-reset event stays set
  EXPECT_FALSE(first.Wait(0));
}

TEST(WaitForEitherTest, TimesOut) {
  BinarySemaphore first, second;
  uint32_t start = TickCount();
  EXPECT_EQ(-1, WaitForEither(first, second, 100));
  EXPECT_GE(TickCount() - start, 90u);
}

TEST(WaitForEitherTest, WakesWhenTheSecondIsReleasedLater) {
  BinarySemaphore first, second;
  ReleaseLater job{&second, 50};
  Thread thread(&ReleaseLater::Run, &job);
  EXPECT_EQ(1, WaitForEither(first, second, 10000));
  thread.Join();
  EXPECT_FALSE(first.Wait(0));
}

TEST(LockTest, IsRecursiveAndExcludesOtherThreads) {
  Lock lock;
  {
    LockGuard outer(lock);
    LockGuard inner(lock);
  }
  long counter = 0;  // guarded by lock
  auto add = [&] {
    for (int i = 0; i < 20000; ++i) {
      LockGuard guard(lock);
      ++counter;
    }
  };
  std::thread a(add), b(add);
  a.join();
  b.join();
  EXPECT_EQ(40000, counter);
}

}  // namespace
}  // namespace platform
