// A disconnect from a second thread (the stop request) ends a connect or a
// read blocked in the worker at once, and never meets a released session.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "mailcheck/Pop3Session.h"
#include "support/ScriptedPop3Server.h"

namespace qnb::test {
namespace {

using TClock = std::chrono::steady_clock;

double MsBetween(TClock::time_point a, TClock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Accepts every connection, greets it and then never says another word.
class TSilentAcceptor {
 public:
  TSilentAcceptor() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 64) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      throw std::runtime_error("cannot listen");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd p{listen_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0) continue;
        int c = accept(listen_, nullptr, nullptr);
        if (c < 0) continue;
        ssize_t ignored = send(c, "+OK hi\r\n", 8, MSG_NOSIGNAL);
        (void)ignored;
        conns_.push_back(c);
      }
    });
  }
  ~TSilentAcceptor() {
    stop_ = true;
    thread_.join();
    for (int c : conns_) close(c);
    close(listen_);
  }
  int Port() const { return port_; }

 private:
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<int> conns_;
  std::thread thread_;
};

TEST(Pop3Disconnect, EndsAReadBlockedOnASilentServer) {
  TScriptedPop3Server srv;
  srv.Login().Expect("STAT");  // and then silence
  srv.Start();
  TPop3SessionSlot slot;
  TPop3Session& pop = slot.Create();
  pop.Host = "127.0.0.1";
  pop.Port = srv.Port();
  pop.UserName = "user";
  pop.Password = "pass";
  pop.Connect();

  std::atomic<bool> failed{false};
  TClock::time_point endedAt;
  std::thread worker([&] {
    try {
      pop.CheckMessages();
    } catch (const ENetError&) {
      failed = true;
    }
    endedAt = TClock::now();
  });
  // Let the worker reach its wait for the STAT reply.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto stopAt = TClock::now();
  EXPECT_TRUE(slot.Disconnect());
  worker.join();
  double ms = MsBetween(stopAt, endedAt);
  std::printf("read ended %.2f ms after the disconnect\n", ms);
  EXPECT_TRUE(failed);
  EXPECT_LT(ms, 2000.0);
  slot.Release();
  ASSERT_TRUE(srv.WaitDone());
  EXPECT_EQ(srv.Commands().back(), "QUIT");
}

TEST(Pop3Disconnect, EndsAConnectThatGetsNoAnswer) {
  int l = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(l, 0), 0);
  ASSERT_EQ(getsockname(l, reinterpret_cast<sockaddr*>(&a), &len), 0);
  int filler = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);

  TPop3SessionSlot slot;
  TPop3Session& pop = slot.Create();
  pop.Host = "127.0.0.1";
  pop.Port = ntohs(a.sin_port);
  std::atomic<bool> failed{false};
  TClock::time_point endedAt;
  std::thread worker([&] {
    try {
      pop.Connect();  // the full 10 s connect time-out
    } catch (const ENetError&) {
      failed = true;
    }
    endedAt = TClock::now();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  auto stopAt = TClock::now();
  slot.Disconnect();
  worker.join();
  double ms = MsBetween(stopAt, endedAt);
  std::printf("connect ended %.2f ms after the disconnect\n", ms);
  EXPECT_TRUE(failed);
  EXPECT_LT(ms, 2000.0);
  slot.Release();
  close(filler);
  close(l);
}

TEST(Pop3Disconnect, StopRequestsRacingCreationAndRelease) {
  // The worker creates, connects and releases sessions while a second thread
  // keeps disconnecting whatever the slot holds. Every log-in blocks on the
  // silent server, so each one must be ended by a disconnect.
  TSilentAcceptor server;
  TPop3SessionSlot slot;
  constexpr int kRounds = 40;
  std::atomic<bool> done{false};
  std::atomic<int> stopped{0};
  std::thread stopper([&] {
    while (!done) {
      try {
        slot.Disconnect();
      } catch (const ENetError&) {
        // QUIT on a connection that broke meanwhile: Stop swallows it.
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  auto t0 = TClock::now();
  for (int i = 0; i < kRounds; ++i) {
    TPop3Session& pop = slot.Create();
    pop.Host = "127.0.0.1";
    pop.Port = server.Port();
    pop.UserName = "user";
    pop.Password = "pass";
    pop.ReadTimeout = 5000;
    try {
      pop.Connect();
    } catch (const ENetError& e) {
      // A log-in that ran into the read time-out was not stopped.
      if (std::string(e.what()) != kReadTimeout) ++stopped;
    }
    slot.Release();
  }
  done = true;
  stopper.join();
  std::printf("%d stopped log-ins in %.1f ms\n", stopped.load(), MsBetween(t0, TClock::now()));
  EXPECT_EQ(stopped, kRounds);
  EXPECT_EQ(slot.Get(), nullptr);
}

}  // namespace
}  // namespace qnb::test
