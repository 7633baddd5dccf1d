// The pipelined message loop against a scripted server: commands really go
// ahead (and no further than the window), refusals and a cut in the middle of
// a window are handled as one command at a time handles them, a missing or
// refused PIPELINING keeps the old path, and a stop drops what is in flight.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "mailcheck/AccountStateFeed.h"
#include "pipeline/PipelineHarness.h"
#include "support/PayNimbusMail.h"

namespace qnb::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

TTaskSpec At(const TScriptedPop3Server& srv) { return {"Shop", "127.0.0.1", std::to_string(srv.Port()), "user", "pass"}; }

const std::string kOrdinary = "Subject: lunch\r\nFrom: friend@example.org\r\n";

// Six messages: 1 handled at an earlier check, 2 no payment, 3 a payment, 4
// TOP refused, 5 a payment whose RETR is refused, 6 a payment.
struct TMailbox {
  std::string mail3 = MakePayNimbusMail(3), mail5 = MakePayNimbusMail(5), mail6 = MakePayNimbusMail(6);
  void Listing(TScriptedPop3Server& srv) const {
    srv.Login().Expect("STAT").Reply("+OK 6 6000").Expect("UIDL").Reply("+OK");
    for (int i = 1; i <= 6; ++i) srv.Reply(std::to_string(i) + " u" + std::to_string(i));
    srv.Reply(".");
  }
};

struct TRun {
  std::vector<std::string> records;
  std::vector<std::pair<int, int>> progress;
  std::vector<std::string> orders;
  std::vector<std::string> memory;
  std::vector<std::string> commands;
};

TRun Check(TScriptedPop3Server& srv, int window) {
  srv.Start();
  TCheckHarness h;
  h.uids.Obtain("Shop").SetUids({"u1"});
  TRun r;
  r.records = Whole(RunWithWindow(h, {At(srv)}, window));
  r.progress = h.target->Progress();
  r.orders = h.OrderIDs();
  r.memory = h.uids.Find("Shop")->Uids();
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());
  r.commands = srv.Commands();
  return r;
}

TEST(PipelineScripted, RefusedTopAndRetrInsideAWindowReportAsOneAtATime) {
  const TMailbox box;
  TScriptedPop3Server serial;
  box.Listing(serial);
  serial.Expect("TOP 2 0");
  Answer(serial, kOrdinary);
  serial.Expect("TOP 3 0");
  Answer(serial, HeaderOf(box.mail3));
  serial.Expect("RETR 3");
  Answer(serial, box.mail3);
  serial.Expect("TOP 4 0").Reply("-ERR no such message");
  serial.Expect("TOP 5 0");
  Answer(serial, HeaderOf(box.mail5));
  serial.Expect("RETR 5").Reply("-ERR locked");
  serial.Expect("TOP 6 0");
  Answer(serial, HeaderOf(box.mail6));
  serial.Expect("RETR 6");
  Answer(serial, box.mail6);
  serial.Expect("QUIT");
  const TRun one = Check(serial, 0);

  // A window of three: the first three headers go out together and nothing
  // more until an answer has been read; the window then slides. The header of
  // 5, read ahead while RETR 3 was awaited, is judged a payment at once, so
  // RETR 5 goes out before the header of 6 is asked for.
  TScriptedPop3Server piped;
  piped.Capabilities(kPipeliningCapa);
  box.Listing(piped);
  piped.Expect("TOP 2 0").Expect("TOP 3 0").Expect("TOP 4 0").ExpectSilence(150);
  Answer(piped, kOrdinary);
  piped.Expect("TOP 5 0");
  Answer(piped, HeaderOf(box.mail3));
  piped.Expect("RETR 3");
  piped.Reply("-ERR no such message");  // TOP 4, read ahead while RETR 3 is awaited
  Answer(piped, HeaderOf(box.mail5));
  Answer(piped, box.mail3);
  piped.Expect("RETR 5").Expect("TOP 6 0");
  piped.Reply("-ERR locked");
  Answer(piped, HeaderOf(box.mail6));
  piped.Expect("RETR 6");
  Answer(piped, box.mail6);
  piped.Expect("QUIT");
  const TRun three = Check(piped, 3);

  EXPECT_EQ(three.records, one.records);
  EXPECT_EQ(three.progress, one.progress);
  EXPECT_EQ(three.orders, one.orders);
  EXPECT_EQ(three.memory, one.memory);
  // What both runs agree on is the old behaviour.
  EXPECT_THAT(one.orders, ElementsAre(PayNimbusOrderID(3), PayNimbusOrderID(6)));
  EXPECT_THAT(one.memory, ElementsAre("u1", "u2", "u3", "u6"));
  EXPECT_THAT(one.records, Contains("0|ltHeaderError|Retrieve Header Failed|Retrieve header failed on "
                                    "\"127.0.0.1\"|Shop|127.0.0.1"));
  EXPECT_THAT(one.records, Contains("0|ltReceiveError|Receiving Failed|Retrieving 5 message failed on "
                                    "\"127.0.0.1\"|Shop|127.0.0.1"));
  EXPECT_EQ(one.records.size(), 29u);
}

// Without PIPELINING every command waits for the answer to the one before.
TEST(PipelineScripted, OldPathWithoutPipelining) {
  struct Case {
    const char* name;
    int window;
    bool announce;
    const char* capaReply;  // nullptr: CAPA must not be sent
  };
  for (Case c : {Case{"CAPA refused", 1024, false, "-ERR unknown command"},
                 Case{"not announced", 1024, false, ""}, Case{"window 0", 0, true, nullptr}}) {
    TScriptedPop3Server srv;
    if (c.announce) srv.Capabilities(kPipeliningCapa);
    srv.Login();
    if (c.capaReply && *c.capaReply) srv.Expect("CAPA").Reply(c.capaReply);
    srv.Expect("STAT").Reply("+OK 2 200").Expect("UIDL").Reply("+OK").Reply("1 a").Reply("2 b").Reply(".");
    srv.Expect("TOP 1 0").ExpectSilence(150);
    Answer(srv, kOrdinary);
    srv.Expect("TOP 2 0").ExpectSilence(150);
    Answer(srv, kOrdinary);
    srv.Expect("QUIT");
    srv.Start();
    TCheckHarness h;
    auto logs = RunWithWindow(h, {At(srv)}, c.window);
    EXPECT_EQ(Codes(logs).back(), "ltAllTaskFinished 0") << c.name;
    EXPECT_EQ(Codes(logs)[logs.size() - 3], "ltSingleTaskFinished Congratulating") << c.name;
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty()) << c.name;
    if (!c.capaReply) EXPECT_THAT(srv.Commands(), Not(Contains("CAPA"))) << c.name;
    EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("a", "b")) << c.name;
  }
}

// The window is bounded by commands and by bytes.
TEST(PipelineScripted, WindowLimits) {
  struct Case {
    const char* name;
    int window;
    size_t bytes;
    int ahead;  // header requests sent before the first answer
  };
  for (Case c : {Case{"two commands", 2, TGetMailThd::kDefaultPipelineBytes, 2}, Case{"one byte", 100, 1, 1},
                 Case{"20 bytes", 100, 20, 3}}) {
    TScriptedPop3Server srv;
    srv.Capabilities(kPipeliningCapa).Login().Expect("STAT").Reply("+OK 4 400").Expect("UIDL").Reply("+OK");
    for (int i = 1; i <= 4; ++i) srv.Reply(std::to_string(i) + " m" + std::to_string(i));
    srv.Reply(".");
    for (int i = 1; i <= c.ahead; ++i) srv.Expect("TOP " + std::to_string(i) + " 0");
    srv.ExpectSilence(150);
    for (int i = 1; i <= 4; ++i) Answer(srv, kOrdinary);
    srv.Start();
    TCheckHarness h;
    auto logs = RunWithWindow(h, {At(srv)}, c.window, c.bytes);
    EXPECT_EQ(Codes(logs).back(), "ltAllTaskFinished 0") << c.name;
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty()) << c.name;
    EXPECT_THAT(srv.Commands(), Contains("TOP 4 0")) << c.name;
    EXPECT_EQ(srv.Commands().back(), "QUIT") << c.name;
    EXPECT_EQ(h.uids.Find("Shop")->Uids().size(), 4u) << c.name;
  }
}

// The connection ends in the middle of the second of three answers in flight:
// the first message is handled, the check ends without a report of its own
// and the memory is not replaced, as for one command at a time. The closing
// record says why, so that the account's state shows a failure.
TEST(PipelineScripted, ConnectionCutMidWindow) {
  for (int window : {0, 1024}) {
    TScriptedPop3Server srv;
    srv.Capabilities(kPipeliningCapa).Login().Expect("STAT").Reply("+OK 3 300").Expect("UIDL").Reply("+OK");
    srv.Reply("1 a").Reply("2 b").Reply("3 c").Reply(".");
    srv.Expect("TOP 1 0");
    if (window) srv.Expect("TOP 2 0").Expect("TOP 3 0");
    Answer(srv, kOrdinary);
    if (!window) srv.Expect("TOP 2 0");
    srv.Send("+OK\r\nSubject: half").Close();
    srv.Start();
    TCheckHarness h;
    auto logs = RunWithWindow(h, {At(srv)}, window);
    EXPECT_THAT(Codes(logs),
                ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltConnected Connected",
                            "ltChecking Find", "ltChecking UIDL", "ltChecking Checking", "ltChecking Checking",
                            "ltChecking Checking", "ltChecking Checking", "ltSingleTaskFinished Congratulating",
                            "ltQuit Quit", "ltAllTaskFinished 0"))
        << window;
    EXPECT_EQ(logs[7].LogMessage, "Not a valid payment mail, go next");
    EXPECT_EQ(logs[8].LogMessage, "Checking 2 message on \"127.0.0.1\"");
    EXPECT_EQ(logs[9].Trouble.rfind("The connection to \"127.0.0.1\" was lost at message 2: ", 0), 0u)
        << logs[9].Trouble;
    TAccountStateBook book;
    TAccountStateFeed feed(book);
    for (const auto& r : logs) feed.Feed(r, 1000);
    ASSERT_NE(book.Find("Shop"), nullptr);
    EXPECT_TRUE(book.Find("Shop")->Failed);
    EXPECT_EQ(book.Find("Shop")->Caption, "Connection Lost");
    EXPECT_EQ(book.Find("Shop")->Text, logs[9].Trouble);
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty());
    ASSERT_NE(h.uids.Find("Shop"), nullptr);
    EXPECT_TRUE(h.uids.Find("Shop")->Uids().empty()) << window;
  }
}

// Stop while a whole window waits for a silent server: the run ends at once
// and the answers in flight are never awaited.
TEST(PipelineScripted, StopDropsTheRequestsInFlight) {
  TScriptedPop3Server srv;
  srv.Capabilities(kPipeliningCapa).Login().Expect("STAT").Reply("+OK 3 300").Expect("UIDL").Reply("+OK");
  srv.Reply("1 a").Reply("2 b").Reply("3 c").Reply(".");
  srv.Expect("TOP 1 0").Expect("TOP 2 0").Expect("TOP 3 0").Pause(20000);
  srv.Start();
  TCheckHarness h;
  h.tasks.Add(std::make_unique<TTaskData>(Task(0, At(srv))));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.ReadTimeoutMs = 30000;
  worker.Start();
  for (int i = 0; i < 500 && srv.Commands().size() < 8; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_THAT(srv.Commands(), Contains("TOP 3 0"));
  auto t0 = std::chrono::steady_clock::now();
  worker.Stop();
  worker.WaitFor();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
  const auto logs = h.Drain();
  auto codes = Codes(logs);
  ASSERT_GE(codes.size(), 4u);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), "ltStopManually Stop"), 1);
  EXPECT_EQ(codes[codes.size() - 3], "ltSingleTaskFinished Congratulating");
  EXPECT_EQ(logs[logs.size() - 3].Trouble, "");  // a stop is no lost connection
  EXPECT_EQ(codes[codes.size() - 2], "ltQuit Quit");
  EXPECT_EQ(codes.back(), "ltAllTaskFinished 0");
  EXPECT_TRUE(h.uids.Find("Shop")->Uids().empty());
}

}  // namespace
}  // namespace qnb::test
