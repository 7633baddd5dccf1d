// A stop request cuts a TLS handshake or a TLS read that is blocked in the
// worker at once, as it does for plain TCP; the times are printed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "mailcheck/OrderMailUtils.h"
#include "mailcheck/Pop3Session.h"
#include "support/ScriptedPop3Server.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "worker/WorkerHarness.h"

namespace qnb::test {
namespace {

using ::testing::Contains;
using ::testing::Not;

using TClock = std::chrono::steady_clock;

double MsBetween(TClock::time_point a, TClock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

bool WaitForCommand(const TScriptedPop3Server& srv, const std::string& cmd, int timeoutMs = 5000) {
  auto deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
  while (TClock::now() < deadline) {
    for (const auto& c : srv.Commands())
      if (c == cmd) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

class TlsStop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = std::make_unique<TTempDir>();
    ca = std::make_unique<TTestCA>(dir->Path());
    cert = ca->Issue("server", {"IP:127.0.0.1"});
  }
  static void TearDownTestSuite() {
    ca.reset();
    dir.reset();
  }
  static std::unique_ptr<TTempDir> dir;
  static std::unique_ptr<TTestCA> ca;
  static TCertFiles cert;
};
std::unique_ptr<TTempDir> TlsStop::dir;
std::unique_ptr<TTestCA> TlsStop::ca;
TCertFiles TlsStop::cert;

TEST_F(TlsStop, DisconnectEndsABlockedHandshakeOrRead) {
  struct TCase {
    const char* name;
    bool inHandshake;
  };
  for (const TCase& c : {TCase{"TLS read", false}, TCase{"TLS handshake", true}}) {
    SCOPED_TRACE(c.name);
    TScriptedPop3Server srv;
    // Silence after the STAT, or a server that never answers the client's hello.
    if (c.inHandshake) srv.Pause(30000);
    else srv.StartTls(cert.Cert, cert.Key).Login().Expect("STAT");
    srv.Start();
    TPop3SessionSlot slot;
    TPop3Session& pop = slot.Create();
    pop.Host = "127.0.0.1";
    pop.Port = srv.Port();
    pop.UserName = "user";
    pop.Password = "pass";
    pop.Security = secTls;
    pop.CAFile = ca->CertFile().string();
    if (!c.inHandshake) pop.Connect();

    std::atomic<bool> failed{false};
    TClock::time_point endedAt;
    std::thread worker([&] {
      try {
        if (c.inHandshake) pop.Connect();
        else pop.CheckMessages();
      } catch (const ENetError& e) {
        failed = std::string(e.what()) != kReadTimeout;
      }
      endedAt = TClock::now();
    });
    if (c.inHandshake) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    else ASSERT_TRUE(WaitForCommand(srv, "STAT"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it reach the wait
    auto stopAt = TClock::now();
    try {
      slot.Disconnect();
    } catch (const ENetError&) {
    }
    worker.join();
    double ms = MsBetween(stopAt, endedAt);
    std::printf("blocked %s ended %.2f ms after the disconnect\n", c.name, ms);
    EXPECT_TRUE(failed);
    EXPECT_LT(ms, 1000.0);
    slot.Release();
    if (!c.inHandshake) {
      ASSERT_TRUE(srv.WaitDone());
      // The stop request's QUIT went out through TLS from the other thread.
      EXPECT_EQ(srv.Commands().back(), "QUIT");
    }
  }
}

TEST_F(TlsStop, WorkerStopDuringABlockedTlsReadEndsTheRunAtOnce) {
  TScriptedPop3Server srv;
  srv.StartTls(cert.Cert, cert.Key).Login("alice", "secret").Expect("STAT");  // and then silence
  srv.Start();
  TCheckHarness h;
  TTaskData t = Task(0, {"Shop", "127.0.0.1", std::to_string(srv.Port()), "alice", "secret"});
  t.Security = secTls;
  h.tasks.Add(std::make_unique<TTaskData>(t));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.CAFile = ca->CertFile().string();
  worker.ReadTimeoutMs = 20000;
  worker.Start();
  ASSERT_TRUE(WaitForCommand(srv, "STAT"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto stopAt = TClock::now();
  worker.Stop();
  while (!worker.Finished() && MsBetween(stopAt, TClock::now()) < 10000)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  double ms = MsBetween(stopAt, TClock::now());
  worker.WaitFor();
  std::printf("worker run ended %.2f ms after Stop during a blocked TLS read\n", ms);
  EXPECT_LT(ms, 1000.0);
  auto codes = Codes(h.Drain());
  EXPECT_THAT(codes, Contains("ltConnected Connected"));
  EXPECT_THAT(codes, Not(Contains("ltSingleTaskFailed TLS Error")));
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes.back(), "ltAllTaskFinished 0");
  EXPECT_THAT(codes, Contains("ltStopManually Stop"));
  ASSERT_TRUE(srv.WaitDone());
  EXPECT_EQ(srv.Commands().back(), "QUIT");
}

}  // namespace
}  // namespace qnb::test
