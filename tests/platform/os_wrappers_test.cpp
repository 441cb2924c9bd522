#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/mutex.h"
#include "platform/os.h"
#include "platform/thread.h"
#include "test_support.h"

TEST(OsWrappers, GbkConvertsBothWays) {
  const std::string gbk = "\xC4\xD0" "A";
  EXPECT_EQ(u"\u7537A", os_to_wide(gbk));
  EXPECT_EQ(gbk, os_to_narrow(u"\u7537A"));
  EXPECT_EQ(u"", os_to_wide(std::string()));
  EXPECT_EQ("", os_to_narrow(std::u16string()));
  EXPECT_EQ(u"", os_to_wide(nullptr, 4));
  EXPECT_EQ("", os_to_narrow(nullptr, 4));
}

TEST(OsWrappers, TextWithoutAGbkFormBecomesQuestionMarks) {
  // Thai and Hangul have no GBK form; a lone surrogate is not text at all.
  EXPECT_EQ("a?b??", os_to_narrow(u"a\u0E01b\uAC00\u0E01"));
  const char16_t lone[] = {u'x', char16_t(0xD800), u'y'};
  EXPECT_EQ("x?y", os_to_narrow(lone, 3));
}

TEST(OsWrappers, BadGbkSequencesBecomeOneReplacementEach) {
  // A lead byte with no trail, or with a trail that cannot follow it (the
  // space is then read as itself); a byte that is never valid; a well-formed
  // pair with no character assigned.
  EXPECT_EQ(u"A\uFFFD", os_to_wide(std::string("A\xC4")));
  EXPECT_EQ(u"ab\uFFFD", os_to_wide(std::string("ab\xC4")));
  EXPECT_EQ(u"\uFFFD ", os_to_wide(std::string("\xC4\x20")));
  EXPECT_EQ(u"a\uFFFDb", os_to_wide(std::string("a\xFF" "b")));
  EXPECT_EQ(u"\uFFFDb\u7537", os_to_wide(std::string("\xA2\xA0" "b\xC4\xD0")));
  EXPECT_EQ(u"\uFFFD\uFFFD", os_to_wide(std::string("\xFF\xFF")));
}

TEST(OsWrappers, ConversionStopsAtTheCountOrTheFirstNul) {
  // A fixed-width field with no terminator, followed by memory that must
  // not be read: the count bounds the input.
  const char field[4] = {'A', '\xC4', '\xD0', 'B'};
  EXPECT_EQ(u"A\u7537", os_to_wide(field, 3));
  // Cut after a lead byte, the field keeps the character before it.
  EXPECT_EQ(u"A\uFFFD", os_to_wide(field, 2));
  const char with_nul[6] = {'A', 'B', '\0', 'C', 'D', 'E'};
  EXPECT_EQ(u"AB", os_to_wide(with_nul, 6));
  const char16_t wide[4] = {u'a', u'b', u'c', u'd'};
  EXPECT_EQ("ab", os_to_narrow(wide, 2));
  const char16_t wide_nul[3] = {u'a', 0, u'c'};
  EXPECT_EQ("a", os_to_narrow(wide_nul, 3));
}

TEST(OsWrappers, MakeDirMakesOneFolderPrivately) {
  TempDir dir;
  const mode_t old_mask = umask(0);
  EXPECT_TRUE(os_make_dir(dir.file("log").c_str()));
  umask(old_mask);
  EXPECT_EQ(0700u, mode_of(dir.file("log")));
  EXPECT_FALSE(os_make_dir(dir.file("log").c_str()));
  EXPECT_FALSE(os_make_dir(dir.file("missing/child").c_str()));
  EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
  EXPECT_FALSE(os_make_dir(nullptr));
  EXPECT_FALSE(os_make_dir(""));
}

namespace {

void ignore_signal(int) {}

}  // namespace

TEST(OsWrappers, SleepLastsItsTimeThroughSignals) {
  struct sigaction action {};
  action.sa_handler = ignore_signal;  // no SA_RESTART: the sleep sees EINTR
  struct sigaction previous {};
  ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));

  std::atomic<bool> done{false};
  const pthread_t sleeper = pthread_self();
  std::thread interrupter([&] {
    while (!done.load()) {
      pthread_kill(sleeper, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  const auto start = std::chrono::steady_clock::now();
  const uint32_t start_ticks = os_ticks();
  os_sleep(100);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  const uint32_t elapsed_ticks = uint32_t(os_ticks() - start_ticks);
  done = true;
  interrupter.join();
  sigaction(SIGUSR1, &previous, nullptr);

  EXPECT_GE(elapsed, std::chrono::milliseconds(100));
  EXPECT_GE(elapsed_ticks, 99u);
  EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(OsWrappers, TicksNeverGoBackAndMillisStayInRange) {
  uint32_t last = os_ticks();
  for (int i = 0; i < 100000; ++i) {
    const uint32_t now = os_ticks();
    ASSERT_LT(uint32_t(now - last), 1000u);  // a step back would wrap to ~4e9
    last = now;
  }
  for (int i = 0; i < 1000; ++i) {
    const int ms = os_local_millis();
    ASSERT_GE(ms, 0);
    ASSERT_LE(ms, 999);
  }
  const uint32_t before = os_ticks();
  os_sleep(0);
  EXPECT_LT(uint32_t(os_ticks() - before), 50u);
}

TEST(OsWrappers, MutexIsRecursiveAndExcludesOtherThreads) {
  Mutex mutex;
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      MutexLock outer(mutex);
      MutexLock inner(mutex);  // the holder may take it again
      ++counter;
    }
  };
  std::thread a(work);
  std::thread b(work);
  a.join();
  b.join();
  EXPECT_EQ(40000, counter);
}

namespace {

struct Counter {
  std::atomic<int> runs{0};
};

void count_run(void* argument) { static_cast<Counter*>(argument)->runs++; }

}  // namespace

TEST(OsWrappers, ThreadRunsOnceAndJoinsOnce) {
  Counter counter;
  {
    Thread thread(count_run, &counter);
    EXPECT_TRUE(thread.started());
    thread.join();
    EXPECT_EQ(1, counter.runs.load());
    thread.join();  // a second join does nothing
  }  // nor does the destructor after a join
  {
    Thread thread(count_run, &counter);
  }  // the destructor joins
  EXPECT_EQ(2, counter.runs.load());

  Thread nothing(nullptr, nullptr);
  EXPECT_FALSE(nothing.started());
  nothing.join();
}
