#include "threading/vt_reader_writer_lock.h"

#include "threading_test_helpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace {

using threading_test::Gate;
using threading_test::kDeadline;
using threading_test::kStaysBlocked;
using threading_test::ScopedCriticalSectionFallback;

enum class Kind { kReader, kWriter };

// A thread that takes `lock` as a reader or writer, reports whether it got
// it, and lets it go at once.
class Contender {
 public:
  Contender(VTReaderWriterLock& lock, Kind kind)
      : thread_([this, &lock, kind] {
          held_ = (kind == Kind::kReader ? lock.AcquireReaderLock() : lock.AcquireWriterLock()).IsHeld();
          acquired_.Open();
        }) {}
  Contender(const Contender&) = delete;
  Contender& operator=(const Contender&) = delete;
  ~Contender() { thread_.join(); }

  bool AcquiredWithin(threading_test::milliseconds limit) { return acquired_.WaitFor(limit) && held_; }

 private:
  Gate acquired_;
  std::atomic<bool> held_{false};
  std::thread thread_;
};

enum class Primitive { kSlimLock, kCriticalSection };

class ReaderWriterLockTest : public testing::TestWithParam<Primitive> {
 protected:
  void SetUp() override {
    if (GetParam() == Primitive::kCriticalSection) fallback_.emplace();
    ASSERT_EQ(lock_.Create(), 1);
    ASSERT_EQ(lock_.IsSlim(), GetParam() == Primitive::kSlimLock);
  }
  void TearDown() override { fallback_.reset(); }

  bool IsSlim() const { return GetParam() == Primitive::kSlimLock; }

  std::optional<ScopedCriticalSectionFallback> fallback_;
  VTReaderWriterLock lock_;
};

struct ExclusionCase {
  const char* name;
  Kind holder;
  Kind contender;
  bool blocksOnSlim;
};

TEST_P(ReaderWriterLockTest, WritersExcludeEveryoneAndReadersShareOnlyOnTheSlimLock) {
  const ExclusionCase cases[] = {
      {"reader and reader", Kind::kReader, Kind::kReader, false},
      {"writer blocks reader", Kind::kWriter, Kind::kReader, true},
      {"writer blocks writer", Kind::kWriter, Kind::kWriter, true},
      {"reader blocks writer", Kind::kReader, Kind::kWriter, true},
  };
  for (const ExclusionCase& c : cases) {
    std::optional<VTReaderWriterLockItem> holding(
        VTReaderWriterLock::Acquire(&lock_, c.holder == Kind::kReader ? 1 : 0));
    ASSERT_TRUE(holding->IsHeld()) << c.name;
    Contender other(lock_, c.contender);
    if (c.blocksOnSlim || !IsSlim()) {
      EXPECT_FALSE(other.AcquiredWithin(kStaysBlocked)) << c.name;
    }
    holding.reset();
    EXPECT_TRUE(other.AcquiredWithin(kDeadline)) << c.name;
  }
}

// A plain counter guarded only by the lock: a lock that lets two writers in
// loses increments, and ThreadSanitizer reports the race.
TEST_P(ReaderWriterLockTest, WritersSerialiseAPlainCounter) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  int counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, &counter] {
      for (int i = 0; i < kRounds; ++i) {
        {
          const VTReaderWriterLockItem writing = lock_.AcquireWriterLock();
          ++counter;
        }
        const VTReaderWriterLockItem reading = lock_.AcquireReaderLock();
        EXPECT_GT(counter, 0);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, kThreads * kRounds);
}

TEST_P(ReaderWriterLockTest, SecondWriterHoldOnOneThreadNeverDeadlocks) {
  VTReaderWriterLockItem outer = lock_.AcquireWriterLock();
  VTReaderWriterLockItem inner = lock_.AcquireWriterLock();
  // The critical section is re-entrant; the slim lock refuses instead of
  // blocking for ever, and the refused item must not release the outer hold.
  EXPECT_EQ(inner.IsHeld(), !IsSlim());
  inner = VTReaderWriterLockItem();
  Contender other(lock_, Kind::kWriter);
  EXPECT_FALSE(other.AcquiredWithin(kStaysBlocked));
  outer = VTReaderWriterLockItem();
  EXPECT_TRUE(other.AcquiredWithin(kDeadline));
}

INSTANTIATE_TEST_SUITE_P(BothPrimitives, ReaderWriterLockTest,
                         testing::Values(Primitive::kSlimLock, Primitive::kCriticalSection),
                         [](const testing::TestParamInfo<Primitive>& info) {
                           return info.param == Primitive::kSlimLock ? "SlimLock" : "CriticalSection";
                         });

// Emptying the entry points must only change locks created afterwards: a
// slim lock that looked its operations up again would mix primitives. An
// uncreated or destroyed lock gives empty items.
TEST(ReaderWriterLockLifetimeTest, EachLockKeepsItsPrimitiveAndOnlyACreatedOneLocks) {
  VTReaderWriterLock slim;
  EXPECT_FALSE(slim.AcquireReaderLock().IsHeld());
  EXPECT_EQ(slim.Lock(), 1);
  EXPECT_EQ(slim.Unlock(), 1);
  EXPECT_FALSE(VTReaderWriterLock::Acquire(nullptr, 1).IsHeld());
  ASSERT_EQ(slim.Create(), 1);
  ASSERT_EQ(slim.Create(), 1);
  ASSERT_TRUE(slim.IsSlim());
  ScopedCriticalSectionFallback fallback;
  VTReaderWriterLock later;
  ASSERT_EQ(later.Create(), 1);
  EXPECT_FALSE(later.IsSlim());
  {
    const VTReaderWriterLockItem reading = slim.AcquireReaderLock();
    Contender otherReader(slim, Kind::kReader);
    EXPECT_TRUE(otherReader.AcquiredWithin(kDeadline));
  }
  later.Destroy();
  EXPECT_FALSE(later.AcquireWriterLock().IsHeld());
}

}  // namespace
