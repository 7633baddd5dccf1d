// The IDLE watch: news of delivered mail, renewal, reconnection with growing
// pauses, a reconnect on request, and servers without IDLE left alone.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "imap/ImapHarness.h"
#include "mailcheck/ImapWatch.h"
#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"
#include "support/ScriptedImapServer.h"

namespace qnb::test {
namespace {

using namespace std::chrono_literals;

template <class F>
bool WaitUntil(F&& f, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!f()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

struct TNewsLog {
  std::atomic<int> count{0};
  std::atomic<int32_t> lastId{-1};
  std::function<void(int32_t)> Callback() {
    return [this](int32_t id) {
      lastId = id;
      ++count;
    };
  }
};

TEST(ImapWatch, DeliveredMailIsNewsAndAReconnectComesBackAtOnce) {
  TDovecotServer dove(std::vector<TDovecotUser>{{"alice", "secret"}});
  dove.UseImap();
  dove.Start();
  TNewsLog news;
  TImapWatch w(ImapTask(4, {"Shop", dove.Host(), std::to_string(dove.ImapPort()), "alice", "secret"}),
               news.Callback());
  w.RenewMs = 300;  // several renewals during the test
  w.Start();
  ASSERT_TRUE(WaitUntil([&] { return w.State() == TImapWatch::wsIdling; }, 5s));
  // A first attempt that came too early for the server counts as news once
  // its retry succeeds; from here on nothing is news without mail.
  const int quiet = news.count;
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(news.count, quiet);
  EXPECT_EQ(w.State(), TImapWatch::wsIdling);  // renewed, still the same connection
  EXPECT_EQ(w.Sessions(), 1);

  const auto delivered = std::chrono::steady_clock::now();
  dove.AddMessage("alice", MakePayNimbusMail(1));
  ASSERT_TRUE(WaitUntil([&] { return news.count == quiet + 1; }, 5s));
  EXPECT_LT(std::chrono::steady_clock::now() - delivered, 2500ms);
  EXPECT_EQ(news.lastId, 4);

  // A changed network: the connection comes back at once, and the mail that
  // might have come meanwhile is news.
  w.ReconnectNow();
  ASSERT_TRUE(WaitUntil([&] { return w.Sessions() == 2; }, 3s));
  EXPECT_EQ(news.count, quiet + 2);
  w.Stop();
  EXPECT_EQ(w.State(), TImapWatch::wsStopped);
}

TEST(ImapWatch, ALostServerIsTriedAgainWithGrowingPauses) {
  int port;
  {
    TScriptedImapServer gone;  // a port that nobody listens on once it is closed
    port = gone.Port();
  }
  TNewsLog news;
  TImapWatch w(ImapTask(0, {"Shop", "127.0.0.1", std::to_string(port), "user", "pass"}), news.Callback());
  w.MinBackoffMs = 20;
  w.MaxBackoffMs = 80;
  w.Start();
  ASSERT_TRUE(WaitUntil([&] { return w.NextPauseMs() == 80; }, 3s));
  EXPECT_EQ(w.State(), TImapWatch::wsRetrying);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(w.NextPauseMs(), 80);  // never beyond the longest pause
  const auto start = std::chrono::steady_clock::now();
  w.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(news.count, 0);
}

TEST(ImapWatch, ServerWithoutIdleIsLeftToTheSchedule) {
  TScriptedImapServer srv;
  srv.Login("user", "pass", "IMAP4rev1 LITERAL+").Logout();
  srv.Start();
  TNewsLog news;
  TImapWatch w(ImapTask(0, {"Shop", "127.0.0.1", std::to_string(srv.Port()), "user", "pass"}), news.Callback());
  w.Start();
  ASSERT_TRUE(WaitUntil([&] { return w.State() == TImapWatch::wsNoIdle; }, 3s));
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), ::testing::IsEmpty());
  EXPECT_EQ(w.Sessions(), 0);
  w.Stop();
}

TEST(ImapWatch, DroppedIdleConnectionIsOpenedAgain) {
  TScriptedImapServer srv;
  srv.Login().Examine("INBOX", 7, {});
  srv.Expect("IDLE").Reply("+ idling").Reply("* BYE server going down").Close();
  srv.Start();
  TNewsLog news;
  TImapWatch w(ImapTask(0, {"Shop", "127.0.0.1", std::to_string(srv.Port()), "user", "pass"}), news.Callback());
  w.MinBackoffMs = 50;
  w.Start();
  ASSERT_TRUE(WaitUntil([&] { return w.State() == TImapWatch::wsRetrying; }, 3s));
  EXPECT_EQ(w.Sessions(), 1);
  EXPECT_EQ(w.NextPauseMs(), 50);  // it had reached IDLE: the pauses start over
  w.Stop();
}

}  // namespace
}  // namespace qnb::test
