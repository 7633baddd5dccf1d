// The worker against a scripted server: the failure paths a real server does
// not produce, and the run-level rules.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/PayNimbusMail.h"
#include "support/ScriptedPop3Server.h"
#include "worker/WorkerHarness.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TTaskSpec At(const TScriptedPop3Server& srv, const std::string& account = "Shop") {
  return {account, "127.0.0.1", std::to_string(srv.Port()), "user", "pass"};
}

// A multi-line answer: "+OK", the lines dot-stuffed, ".".
void Answer(TScriptedPop3Server& srv, const std::string& mail) {
  srv.Reply("+OK");
  std::string text = mail;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t e = text.find("\r\n", pos);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(pos, e - pos);
    if (!line.empty() && line[0] == '.') line = "." + line;
    srv.Reply(line);
    pos = e + 2;
  }
  srv.Reply(".");
}

std::string HeaderOf(const std::string& mail) { return mail.substr(0, mail.find("\r\n\r\n") + 2); }

TEST(WorkerRun, EmptyTaskListGivesOnlyTheFinalRecord) {
  TCheckHarness h;
  auto logs = h.Run({});
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_EQ(logs[0].LogCode, ltAllTaskFinished);
  EXPECT_EQ(logs[0].Reserved, "0");
  EXPECT_EQ(logs[0].LogMessage, "0 new payment(s) received");
  EXPECT_EQ(logs[0].TaskID, 0);
  EXPECT_TRUE(logs[0].Account.empty() && logs[0].Server.empty() && logs[0].Port.empty());
}

TEST(WorkerRun, GreetingRefusedIsALoginFailureAndTheRunGoesOn) {
  TScriptedPop3Server bad;
  bad.Reply("-ERR go away");
  bad.Start();
  TScriptedPop3Server empty;
  empty.Login().Expect("STAT").Reply("+OK 0 0").Expect("QUIT").Reply("+OK");
  empty.Start();
  TCheckHarness h;
  auto logs = h.Run({At(bad, "A"), At(empty, "B")});
  EXPECT_THAT(Codes(logs),
              ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltSingleTaskFailed Login Failed",
                          "ltQuit Quit", "ltSingleTaskBegin Begin", "ltConnecting Connecting",
                          "ltConnected Connected", "ltSingleTaskFinished Checked", "ltQuit Quit",
                          "ltAllTaskFinished 0"));
  EXPECT_EQ(logs[2].LogMessage,
            "Login failed of account \"A\"! Please check your username or password.\r\nError:  go away\r\n");
  EXPECT_EQ(logs[2].TaskID, 0);
  EXPECT_EQ(logs[5].TaskID, 1);
  EXPECT_TRUE(empty.WaitDone());
  EXPECT_THAT(empty.Errors(), IsEmpty());
}

TEST(WorkerRun, UidlFailures) {
  struct Case { const char* name; bool refuse; const char* caption; };
  for (Case c : {Case{"refused", true, "UIDL"}, Case{"shorter than STAT", false, "UIDL Error"}}) {
    TScriptedPop3Server srv;
    srv.Login().Expect("STAT").Reply("+OK 2 300").Expect("UIDL");
    if (c.refuse) srv.Reply("-ERR no UIDL here");
    else srv.Reply("+OK").Reply("1 only-one").Reply(".");
    srv.Expect("QUIT");
    srv.Start();
    TCheckHarness h;
    auto logs = h.Run({At(srv)});
    EXPECT_THAT(Codes(logs), ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting",
                                         "ltConnected Connected", "ltChecking Find",
                                         std::string("ltSingleTaskFailed ") + c.caption, "ltQuit Quit",
                                         "ltAllTaskFinished 0"))
        << c.name;
    EXPECT_EQ(logs[4].LogMessage, "UIDL failed");
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty()) << c.name;
    // The memory of the account exists but stays empty.
    ASSERT_NE(h.uids.Find("Shop"), nullptr);
    EXPECT_TRUE(h.uids.Find("Shop")->Uids().empty());
  }
}

// One account, three messages: TOP refused for the first, RETR refused for the
// second, a RETR answer without lines for the third. The first two are tried
// again next time; the third cannot be read and is remembered like a mail no
// analyzer could parse.
TEST(WorkerRun, RefusedAndEmptyRetrievalsSkipOneMessageEach) {
  const std::string mail2 = MakePayNimbusMail(2), mail3 = MakePayNimbusMail(3);
  TScriptedPop3Server srv;
  srv.Login().Expect("STAT").Reply("+OK 3 3000").Expect("UIDL").Reply("+OK");
  srv.Reply("1 u1").Reply("2 u2").Reply("3 u3").Reply(".");
  srv.Expect("TOP 1 0").Reply("-ERR no such message");
  srv.Expect("TOP 2 0");
  Answer(srv, HeaderOf(mail2));
  srv.Expect("RETR 2").Reply("-ERR locked");
  srv.Expect("TOP 3 0");
  Answer(srv, HeaderOf(mail3));
  srv.Expect("RETR 3").Reply("+OK").Reply(".");
  srv.Expect("QUIT");
  srv.Start();

  TCheckHarness h;
  auto logs = h.Run({At(srv)});
  EXPECT_THAT(Codes(logs),
              ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltConnected Connected",
                          "ltChecking Find", "ltChecking UIDL", "ltChecking Checking",
                          "ltHeaderError Retrieve Header Failed", "ltChecking Checking", "ltChecking Checking",
                          "ltReceiving Verifying", "ltReceiveError Receiving Failed", "ltChecking Checking",
                          "ltChecking Checking", "ltReceiving Verifying", "ltReceived Retrieved",
                          "ltProcessing Processing", "ltSingleTaskFinished Congratulating", "ltQuit Quit",
                          "ltAllTaskFinished 0"));
  EXPECT_EQ(logs[6].LogMessage, "Retrieve header failed on \"127.0.0.1\"");
  EXPECT_EQ(logs[10].LogMessage, "Retrieving 2 message failed on \"127.0.0.1\"");
  EXPECT_EQ(logs[14].LogMessage, "Retrieved 3  message successfully on '127.0.0.1'");
  EXPECT_EQ(logs[16].LogMessage, "0 new payments received on \"127.0.0.1\"");
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());
  ASSERT_NE(h.uids.Find("Shop"), nullptr);
  EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("u3"));
  EXPECT_THAT(h.target->Progress(), ElementsAre(std::pair(int(rmsBegin), 3), std::pair(int(rmsWork), 1),
                                                std::pair(int(rmsWork), 2), std::pair(int(rmsWork), 3),
                                                std::pair(int(rmsEnd), 0)));
}

TEST(WorkerRun, PortThatIsNoNumberFailsLikeAnUnreachableHost) {
  for (const char* port : {"abc", "0", "70000", "", "-5"}) {
    TCheckHarness h;
    auto logs = h.Run({{"A", "127.0.0.1", port, "u", "p"}});
    EXPECT_THAT(Codes(logs), ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting",
                                         "ltSingleTaskFailed Connect Error", "ltQuit Quit", "ltAllTaskFinished 0"))
        << port;
    EXPECT_EQ(logs[2].LogMessage,
              "Can not connect the mail host \"127.0.0.1\". Please check your network status.");
  }
}

TEST(WorkerRun, TextsAreCutToTheRecordWidths) {
  TScriptedPop3Server srv;
  srv.Reply("-ERR " + std::string(150, 'x'));
  srv.Start();
  const std::string longName(40, 'n');
  const std::string longHost = "127.0.0.1";
  TCheckHarness h;
  auto logs = h.Run({{longName, longHost, std::to_string(srv.Port()), std::string(300, 'u'), "p"}});
  ASSERT_GE(logs.size(), 3u);
  for (const auto& l : logs) EXPECT_EQ(l.Account, longName.substr(0, 30));
  EXPECT_EQ(logs[2].LogMessage.size(), 200u);  // the login failure text is longer
}

// A host name of 255 characters reaches the session whole (it fails to
// resolve) while the records keep 50 characters for display.
TEST(WorkerRun, LongHostNameIsNotCutInTheTask) {
  const std::string host = std::string(200, 'h') + ".invalid";
  TCheckHarness h;
  auto logs = h.Run({{"A", host, "110", "u", "p"}});
  ASSERT_GE(logs.size(), 1u);
  EXPECT_EQ(logs[0].LogMessage.str(),
            ("Begin to execute task \"Check for new payments on " + host + "\"").substr(0, 200));
  EXPECT_EQ(logs[0].Server, host.substr(0, 50));
}

// A Stop while the connection is being made (here: waiting for the greeting)
// reports the stop, not a network failure.
TEST(WorkerStop, StopDuringTheConnectReportsOnlyTheStop) {
  TScriptedPop3Server silent;
  silent.Pause(3000).Reply("+OK late");
  silent.Start();
  TCheckHarness h;
  ClearList(h.tasks);
  h.tasks.Add(std::make_unique<TTaskData>(Task(0, At(silent, "A"))));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.Start();
  for (int i = 0; i < 200 && h.target->Posts().size() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  worker.Stop();
  worker.WaitFor();
  EXPECT_THAT(Codes(h.Drain()), ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting",
                                            "ltStopManually Stop", "ltQuit Quit", "ltAllTaskFinished 0"));
}

TEST(WorkerStop, StopBetweenAccountsStartsNoFurtherAccount) {
  TScriptedPop3Server slow;
  slow.Login().Expect("STAT").Pause(800).Reply("+OK 0 0").Expect("QUIT");
  slow.Start();
  TScriptedPop3Server never;  // must not be contacted
  never.Start();
  TCheckHarness h;
  ClearList(h.tasks);
  h.tasks.Add(std::make_unique<TTaskData>(Task(0, At(slow, "A"))));
  h.tasks.Add(std::make_unique<TTaskData>(Task(1, At(never, "B"))));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.Start();
  // Wait until the first account is connected, then stop.
  for (int i = 0; i < 200 && h.target->Posts().size() < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  worker.Stop();
  worker.WaitFor();
  auto logs = h.Drain();
  auto codes = Codes(logs);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.back(), "ltAllTaskFinished 0");
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "ltStopManually Stop"), 1);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "ltSingleTaskBegin Begin"), 1);
  EXPECT_EQ(h.tasks.Lock()->at(1)->State, tsUnProcess);
  worker.Stop();  // after the end: nothing more is reported
  EXPECT_TRUE(h.Drain().empty());
}

// Orders of the checked account whose UID left the listing are dropped; the
// test is a substring test over the whole listing.
TEST(WorkerRun, OrderListFollowsTheMailbox) {
  TScriptedPop3Server srv;
  srv.Login().Expect("STAT").Reply("+OK 2 10").Expect("UIDL").Reply("+OK").Reply("1 abc-123").Reply("2 zz").Reply(".");
  srv.Expect("TOP 1 0");
  Answer(srv, "Subject: hello\r\n");
  srv.Expect("TOP 2 0");
  Answer(srv, "Subject: hello\r\n");
  srv.Expect("QUIT");
  srv.Start();
  TCheckHarness h;
  auto add = [&](const char* account, const char* uid, const char* id) {
    auto o = std::make_unique<TOrderData>();
    o->FromAccount = account;
    o->UID = uid;
    o->OrderID = id;
    h.orders.Add(std::move(o));
  };
  add("Shop", "abc-123", "kept-whole");
  add("Shop", "c-12", "kept-substring");
  add("Shop", "gone", "dropped");
  add("Shop", "", "dropped-empty");
  add("Other", "gone", "other-account");
  add("shop", "gone", "case-differs");
  h.Run({At(srv)});
  EXPECT_THAT(h.OrderIDs(), ElementsAre("kept-whole", "kept-substring", "other-account", "case-differs"));
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());
}

}  // namespace
}  // namespace qnb::test
