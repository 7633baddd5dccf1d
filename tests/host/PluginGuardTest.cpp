// The guard around plug-in calls: exceptions and crashes inside real plug-in
// libraries come back as outcomes, on any thread and many times over, while a
// crash outside a guarded call still ends the process.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <csignal>
#include <stdexcept>
#include <thread>
#include <vector>

#include "HostTestUtil.h"
#include "analysis/ParserInf.h"
#include "analysis/PluginGuard.h"

namespace qnb::test {
namespace {

TParseOrderFunc ParseOrderOf(const char* plugin) {
  void* h = dlopen(TestPlugin(plugin).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) return nullptr;
  return reinterpret_cast<TParseOrderFunc>(dlsym(h, "ParseOrder"));
}

TGuardedResult CallParse(TParseOrderFunc parse, TOriginData& od) {
  return GuardedCall([&] { return parse("OrderID: 5\r\n", "X-Claim: x\r\n", &od); });
}

struct TCrashCase {
  const char* plugin;
  int signal;
};
const TCrashCase kCrashes[] = {
    {"tp_crash_segv", SIGSEGV},
    {"tp_crash_ill", SIGILL},
    {"tp_crash_fpe", SIGFPE},
    {"tp_crash_stack", SIGSEGV},
};

TEST(PluginGuardTest, ReturnsTheResultOfACallThatReturns) {
  TParseOrderFunc echo = ParseOrderOf("tp_echo");
  ASSERT_NE(echo, nullptr);
  TOriginData od{};
  TGuardedResult r = CallParse(echo, od);
  EXPECT_EQ(r.Outcome, TCallOutcome::coReturned);
  EXPECT_EQ(r.Value, AS_NORMAL);
  EXPECT_STREQ(od.OrderID, "5");

  r = GuardedCall([] { return -7; });
  EXPECT_TRUE(r.Returned());
  EXPECT_EQ(r.Value, -7);
}

TEST(PluginGuardTest, CrashesComeBackWithTheirSignal) {
  // A signal the thread blocks stays blocked across a crash, and the crash's
  // own signal does not stay blocked.
  sigset_t usr1, before, after;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &before);
  pthread_sigmask(SIG_BLOCK, nullptr, &before);
  for (const auto& c : kCrashes) {
    TParseOrderFunc parse = ParseOrderOf(c.plugin);
    ASSERT_NE(parse, nullptr) << c.plugin;
    for (int round = 0; round < 3; ++round) {
      TOriginData od{};
      TGuardedResult r = CallParse(parse, od);
      EXPECT_EQ(r.Outcome, TCallOutcome::coCrashed) << c.plugin;
      EXPECT_EQ(r.Signal, c.signal) << c.plugin;
      EXPECT_STREQ(od.Comments, "written before the crash");
      pthread_sigmask(SIG_BLOCK, nullptr, &after);
      for (int sig : {SIGUSR1, SIGSEGV, SIGILL, SIGFPE, SIGBUS})
        EXPECT_EQ(sigismember(&after, sig), sigismember(&before, sig)) << c.plugin << " signal " << sig;
    }
  }
  pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
  // The thread goes on normally afterwards.
  std::vector<int> v(1000, 1);
  EXPECT_EQ(GuardedCall([&] { return static_cast<int32_t>(v.size()); }).Value, 1000);
}

TEST(PluginGuardTest, ExceptionsOfAnyTypeAreCaught) {
  TParseOrderFunc parse = ParseOrderOf("tp_throw");
  ASSERT_NE(parse, nullptr);
  TOriginData od{};
  EXPECT_EQ(CallParse(parse, od).Outcome, TCallOutcome::coRaised);
  EXPECT_EQ(GuardedCall([]() -> int32_t { throw 3; }).Outcome, TCallOutcome::coRaised);
  EXPECT_EQ(GuardedCall([]() -> int32_t { throw std::logic_error("x"); }).Outcome, TCallOutcome::coRaised);
}

TEST(PluginGuardTest, AnInnerCrashReturnsToTheInnerCall) {
  TParseOrderFunc crash = ParseOrderOf("tp_crash_segv");
  ASSERT_NE(crash, nullptr);
  TGuardedResult inner;
  TGuardedResult outer = GuardedCall([&] {
    TOriginData od{};
    inner = CallParse(crash, od);
    return 11;
  });
  EXPECT_EQ(inner.Outcome, TCallOutcome::coCrashed);
  EXPECT_TRUE(outer.Returned());
  EXPECT_EQ(outer.Value, 11);
}

TEST(PluginGuardTest, WorksOnSeveralThreadsAtOnce) {
  std::vector<TParseOrderFunc> parsers;
  for (const auto& c : kCrashes) parsers.push_back(ParseOrderOf(c.plugin));
  TParseOrderFunc echo = ParseOrderOf("tp_echo");
  ASSERT_NE(echo, nullptr);
  constexpr int kThreads = 4, kRounds = 25;
  int crashed[kThreads] = {}, returned[kThreads] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        TOriginData od{};
        TParseOrderFunc crash = parsers[static_cast<size_t>((t + i) % kThreads)];
        if (crash && CallParse(crash, od).Outcome == TCallOutcome::coCrashed) ++crashed[t];
        TGuardedResult r = CallParse(echo, od);
        if (r.Returned() && r.Value == AS_NORMAL && od.OrderID[0] == '5') ++returned[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(crashed[t], kRounds) << "thread " << t;
    EXPECT_EQ(returned[t], kRounds) << "thread " << t;
  }
}

TEST(PluginGuardDeathTest, ACrashOutsideAGuardedCallStillEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  GuardedCall([] { return 0; });  // handlers installed
  EXPECT_DEATH(
      {
        int* volatile nowhere = reinterpret_cast<int*>(16);
        *nowhere = 1;
      },
      "");
}

}  // namespace
}  // namespace qnb::test
