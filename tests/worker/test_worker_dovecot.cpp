// The worker end to end against a real Dovecot server with the example plug-in.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"
#include "worker/WorkerHarness.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

const std::string kOrdinary =
    "From: Friend <friend@example.org>\r\nTo: shop@example.com\r\nSubject: Lunch?\r\n"
    "Date: Tue, 08 Dec 2026 12:00:00 +0000\r\n\r\nSee you at noon.\r\n.. and a dotted line\r\n";

class WorkerDovecot : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dove = new TDovecotServer({{"alice", "secret"}, {"bob", "hunter2"}});
    dove->Start();
  }
  static void TearDownTestSuite() {
    delete dove;
    dove = nullptr;
  }
  void SetUp() override {
    dove->ClearMailbox("alice");
    dove->ClearMailbox("bob");
  }
  TTaskSpec Alice(const std::string& account = "Shop") {
    return {account, dove->Host(), std::to_string(dove->Port()), "alice", "secret"};
  }
  TTaskSpec Bob(const std::string& account = "Second") {
    return {account, dove->Host(), std::to_string(dove->Port()), "bob", "hunter2"};
  }

  static TDovecotServer* dove;
};
TDovecotServer* WorkerDovecot::dove = nullptr;

// The first message was handled at an earlier check, the second is a new payment.
TEST_F(WorkerDovecot, OrderOfReportsForOneAccountWithTwoMessages) {
  dove->AddMessage("alice", kOrdinary);
  TCheckHarness h;
  h.Run({Alice()});
  dove->AddMessage("alice", MakePayNimbusMail(7));
  auto logs = h.Run({Alice()});
  EXPECT_THAT(Codes(logs),
              ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltConnected Connected",
                          "ltChecking Find", "ltChecking UIDL", "ltChecking Checking", "ltChecking Checking",
                          "ltChecking Checking", "ltChecking Checking", "ltReceiving Verifying",
                          "ltReceived Retrieved", "ltProcessing Processing", "ltSingleTaskFinished Congratulating",
                          "ltQuit Quit", "ltAllTaskFinished 1"));
  const std::string host = dove->Host();
  EXPECT_EQ(logs[2].LogMessage.str(), "\"" + host + "\" has been connected successfully");
  EXPECT_EQ(logs[3].LogMessage.str(), "2 mail(s) on \"" + host + "\"");
  EXPECT_EQ(logs[5].LogMessage.str(), "Checking 1 message on \"" + host + "\"");
  EXPECT_EQ(logs[6].LogMessage, "1 message has been retrieved before");
  EXPECT_EQ(logs[8].LogMessage.str(), "Checking 2 message on \"" + host + "\"");
  EXPECT_EQ(logs[9].LogMessage, "Verifying 2 message");
  EXPECT_EQ(logs[11].LogMessage, "Processing 2 message");
  EXPECT_EQ(logs[12].LogMessage.str(), "1 new payments received on \"" + host + "\"");
  EXPECT_EQ(logs[13].LogMessage.str(), "Quit on \"" + host + "\"");
  EXPECT_EQ(logs[14].LogMessage, "1 new payment(s) received");
  EXPECT_THAT(h.target->Progress(), ElementsAre(Pair(rmsBegin, 1), Pair(rmsWork, 1), Pair(rmsEnd, 0)));

  auto posts = h.target->Posts();
  EXPECT_EQ(std::count_if(posts.begin(), posts.end(), [](auto& p) { return p.message == WM_ADD_ORDER; }), 1);
  ASSERT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(7)));
  auto orders = h.orders.Lock();
  const TOrderData& o = *orders->front();
  EXPECT_EQ(o.FromAccount, "Shop");
  EXPECT_FALSE(o.UID.empty());
  EXPECT_EQ(o.RegName, o.Name);  // the example plug-in leaves RegName blank
  EXPECT_EQ(o.Email.str(), PayNimbusOrderFor(7).email);
}

TEST_F(WorkerDovecot, EmptyMailboxKeepsTheMemory) {
  TCheckHarness h;
  h.uids.Obtain("Shop").SetUids({"old-1"});
  auto logs = h.Run({Alice()});
  EXPECT_THAT(Codes(logs), ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltConnected Connected",
                                       "ltSingleTaskFinished Checked", "ltQuit Quit", "ltAllTaskFinished 0"));
  EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("old-1"));
}

TEST_F(WorkerDovecot, WrongPasswordFailsThatAccountOnly) {
  dove->AddMessage("bob", MakePayNimbusMail(1));
  TCheckHarness h;
  TTaskSpec wrong = Alice("Wrong");
  wrong.pass = "not-it";
  auto logs = h.Run({wrong, Bob()});
  auto codes = Codes(logs);
  ASSERT_GE(codes.size(), 4u);
  EXPECT_THAT(std::vector<std::string>(codes.begin(), codes.begin() + 4),
              ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltSingleTaskFailed Login Failed",
                          "ltQuit Quit"));
  const std::string msg = logs[2].LogMessage;
  EXPECT_EQ(msg.rfind("Login failed of account \"Wrong\"! Please check your username or password.\r\nError: ", 0), 0u);
  EXPECT_NE(msg.find("Authentication failed"), std::string::npos) << msg;
  EXPECT_EQ(codes.back(), "ltAllTaskFinished 1");
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(1)));
}

TEST_F(WorkerDovecot, SecondRunOfAnUnchangedMailboxRetrievesNothing) {
  dove->AddMessage("alice", kOrdinary);
  dove->AddMessage("alice", MakePayNimbusMail(2));
  TCheckHarness h;
  auto first = h.Run({Alice()});
  EXPECT_EQ(Codes(first).back(), "ltAllTaskFinished 1");
  auto second = h.Run({Alice()});
  auto codes = Codes(second);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "ltReceiving Verifying"), 0);
  EXPECT_EQ(codes.back(), "ltAllTaskFinished 0");
  EXPECT_THAT(h.target->Progress(), ElementsAre(Pair(rmsBegin, 0), Pair(rmsEnd, 0)));
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(2)));  // still listed, not twice
}

TEST_F(WorkerDovecot, DuplicateOrderIdAcrossTwoAccountsCountsOnce) {
  dove->AddMessage("alice", MakePayNimbusMail(5));
  dove->AddMessage("bob", MakePayNimbusMail(5));
  TCheckHarness h;
  auto logs = h.Run({Alice(), Bob()});
  EXPECT_EQ(Codes(logs).back(), "ltAllTaskFinished 1");
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(5)));
  // Bob's copy was handled: it is remembered and not retrieved again.
  ASSERT_NE(h.uids.Find("Second"), nullptr);
  EXPECT_EQ(h.uids.Find("Second")->Uids().size(), 1u);
}

// Services whose mails show no order number give orders without one; two of
// them are two payments, not a payment and its copy.
TEST_F(WorkerDovecot, OrdersWithoutAnOrderIdAreNoCopiesOfEachOther) {
  for (const char* buyer : {"ann@example.com", "ben@example.net"})
    dove->AddMessage("alice", std::string("Subject: sale\r\nX-Claim: echo\r\n\r\nEmail: ") + buyer + "\r\n");
  for (int i = 0; i < 2; ++i)
    dove->AddMessage("alice", "Subject: sale\r\nX-Claim: echo\r\n\r\nOrderID: A-7\r\nEmail: c@example.org\r\n");
  TCheckHarness h(QUENBELL_TEST_PLUGIN_DIR "/host");
  auto logs = h.Run({Alice()});
  EXPECT_EQ(Codes(logs).back(), "ltAllTaskFinished 3");
  std::vector<std::string> emails;
  {
    auto orders = h.orders.Lock();
    for (const auto& o : *orders) emails.push_back(o->Email.str());
  }
  EXPECT_THAT(emails, ElementsAre("ann@example.com", "ben@example.net", "c@example.org"));
}

TEST_F(WorkerDovecot, OrderWhoseMailWasDeletedIsPrunedNextRun) {
  dove->AddMessage("alice", MakePayNimbusMail(1));
  dove->AddMessage("alice", MakePayNimbusMail(2));
  TCheckHarness h;
  h.Run({Alice()});
  ASSERT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(1), PayNimbusOrderID(2)));
  dove->ClearMailbox("alice");
  dove->AddMessage("alice", MakePayNimbusMail(3));
  h.Run({Alice()});
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(3)));
}

TEST_F(WorkerDovecot, StopDuringALongRetrievalEndsTheRunPromptly) {
  // Enough that the run is still going when the stop comes, however fast.
  for (int i = 0; i < 1500; ++i) dove->AddMessage("alice", MakePayNimbusMail(1000 + i));
  dove->AddMessage("bob", MakePayNimbusMail(1));
  TCheckHarness h;
  ClearList(h.tasks);
  h.tasks.Add(std::make_unique<TTaskData>(Task(0, Alice())));
  h.tasks.Add(std::make_unique<TTaskData>(Task(1, Bob())));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.Start();
  for (int i = 0; i < 1000 && worker.TotalOrder < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  auto t0 = std::chrono::steady_clock::now();
  worker.Stop();
  worker.WaitFor();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  std::printf("stop to end of run: %lld ms\n", static_cast<long long>(ms));
  EXPECT_LT(ms, 5000);

  auto codes = Codes(h.Drain());
  auto stop = std::find(codes.begin(), codes.end(), "ltStopManually Stop");
  ASSERT_NE(stop, codes.end());
  auto congrats = std::find(stop, codes.end(), "ltSingleTaskFinished Congratulating");
  EXPECT_NE(congrats, codes.end());
  EXPECT_EQ(codes.back().rfind("ltAllTaskFinished ", 0), 0u);
  EXPECT_EQ(codes[codes.size() - 2], "ltQuit Quit");
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "ltSingleTaskBegin Begin"), 1);  // Bob never started
  const int total = worker.TotalOrder;
  EXPECT_GE(total, 3);
  EXPECT_LT(total, 1500);
  EXPECT_EQ(h.OrderIDs().size(), static_cast<size_t>(total));
  // The stopped check did not replace the memory.
  ASSERT_NE(h.uids.Find("Shop"), nullptr);
  EXPECT_TRUE(h.uids.Find("Shop")->Uids().empty());
}

// Parses sent to the analyzer helper ahead of their mails' turns change
// nothing a check reports: with one plug-in crash among a dozen payments the
// pipelined check gives the records, orders and memory of a check that asks
// for one mail at a time, and the crash costs only its own mail.
TEST_F(WorkerDovecot, ParsesAheadReportWhatOneAtATimeReportsWithACrashAmongThem) {
  constexpr int kMails = 12, kCrashing = 5;
  for (int i = 1; i <= kMails; ++i)
    dove->AddMessage("alice", "From: Shop <pay@example.com>\r\nSubject: payment " + std::to_string(i) +
                                  "\r\nX-Claim: mis\r\n\r\nOrder: " + std::to_string(i) + "\r\n" +
                                  (i == kCrashing ? "Misbehave: abort\r\n" : ""));
  struct TResult {
    std::vector<std::string> records, orders, memory;
  };
  auto check = [&](int window) {
    TCheckHarness h(std::string{}, QUENBELL_ANALYZER_HOST);
    h.gear.LoadParserFiles({QUENBELL_MISBEHAVING_PLUGIN});
    h.pipelineWindow = window;
    TResult r;
    for (const auto& l : h.Run({Alice()}))
      r.records.push_back(std::string(LogTypeName(l.LogCode)) + " " + l.Reserved.str() + " " + l.LogMessage.str());
    r.orders = h.OrderIDs();
    r.memory = h.uids.Find("Shop")->Uids();
    return r;
  };
  const TResult single = check(0), pipelined = check(TGetMailThd::kDefaultPipelineWindow);
  EXPECT_EQ(pipelined.records, single.records);
  EXPECT_EQ(pipelined.orders, single.orders);
  EXPECT_EQ(pipelined.memory, single.memory);
  std::vector<std::string> failures, expected;
  for (const auto& r : pipelined.records)
    if (r.rfind("ltAdvanceError", 0) == 0) failures.push_back(r);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("failed on message 5 on"), std::string::npos) << failures[0];
  EXPECT_NE(failures[0].find("signal 6"), std::string::npos) << failures[0];
  for (int i = 1; i <= kMails; ++i)
    if (i != kCrashing) expected.push_back("MIS-" + std::to_string(i));
  EXPECT_EQ(pipelined.orders, expected);
  EXPECT_EQ(pipelined.memory.size(), size_t(kMails - 1));
}

}  // namespace
}  // namespace qnb::test
