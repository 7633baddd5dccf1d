// The IMAP account check against a scripted server, for what a real server
// will not do on request: BYE and EXPUNGE in the middle of fetches, a changed
// UIDVALIDITY, a literal cut short, NO and BAD answers, a stop while the
// server is silent.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "imap/ImapHarness.h"
#include "support/PayNimbusMail.h"
#include "support/ScriptedImapServer.h"

namespace qnb::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

const std::string kOrdinary =
    "From: Friend <friend@example.org>\r\nTo: shop@example.com\r\nSubject: Lunch?\r\n\r\nSee you.\r\n";

std::string HeaderOf(const std::string& mail) { return mail.substr(0, mail.find("\r\n\r\n") + 4); }

TTaskData At(const TScriptedImapServer& srv) {
  return ImapTask(0, {"Shop", "127.0.0.1", std::to_string(srv.Port()), "user", "pass"});
}

std::vector<std::string> Tail(const std::vector<std::string>& v, size_t n) {
  return std::vector<std::string>(v.end() - static_cast<long>(std::min(n, v.size())), v.end());
}

TEST(ImapScripted, ByeInTheMiddleOfAFetchEndsTheCheckAndKeepsTheMemory) {
  const std::string pay = MakePayNimbusMail(1);
  TScriptedImapServer srv;
  srv.Login().Examine("INBOX", 7, {101, 102});
  srv.Expect("UID FETCH 101,102 (BODY.PEEK[HEADER])")
      .Send("* 1 FETCH (UID 101 BODY[HEADER] " + ImapLiteral(HeaderOf(pay)) + ")\r\n")
      .Reply("* BYE shutting down")
      .Close();
  srv.Start();
  TCheckHarness h;
  h.uids.Obtain("Shop").SetUids({"7.100"});
  auto codes = Codes(RunTasks(h, {At(srv)}));
  EXPECT_THAT(Tail(codes, 4), ElementsAre("ltReceiving Verifying", "ltSingleTaskFinished Congratulating",
                                          "ltQuit Quit", "ltAllTaskFinished 0"));
  EXPECT_THAT(h.OrderIDs(), IsEmpty());
  EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("7.100"));  // a check not run through changes nothing
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());
}

TEST(ImapScripted, ExpungeDuringAFetchSkipsTheVanishedMailOnly) {
  const std::string pay = MakePayNimbusMail(2);
  TScriptedImapServer srv;
  srv.Login().Examine("INBOX", 7, {101, 102});
  srv.Expect("UID FETCH 101,102 (BODY.PEEK[HEADER])")
      .Reply("* 2 EXPUNGE")
      .Send("* 1 FETCH (UID 101 BODY[HEADER] " + ImapLiteral(HeaderOf(pay)) + ")\r\n")
      .Done("OK some messages were expunged");
  srv.Whole(1, 101, pay).Logout();
  srv.Start();
  TCheckHarness h;
  auto codes = Codes(RunTasks(h, {At(srv)}));
  EXPECT_THAT(codes, Contains("ltHeaderError Retrieve Header Failed"));
  EXPECT_EQ(codes.back(), "ltAllTaskFinished 1");
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(2)));
  // The vanished mail is not remembered, as for a refused POP3 header.
  EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("7.101"));
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());
}

TEST(ImapScripted, ChangedUidValidityStartsTheMemoryOverWithoutAnnouncingAgain) {
  const std::string pay = MakePayNimbusMail(3);
  TCheckHarness h;
  {
    TScriptedImapServer srv;
    srv.Login().Examine("INBOX", 7, {101}).Header(1, 101, HeaderOf(pay)).Whole(1, 101, pay).Logout();
    srv.Start();
    EXPECT_EQ(Codes(RunTasks(h, {At(srv)})).back(), "ltAllTaskFinished 1");
  }
  {
    // The folder was rebuilt: the same mail under a new UIDVALIDITY, and a new one.
    const std::string fresh = MakePayNimbusMail(4);
    TScriptedImapServer srv;
    srv.Login().Examine("INBOX", 8, {1, 2}).Headers({{1, 1, HeaderOf(pay)}, {2, 2, HeaderOf(fresh)}});
    srv.Whole(1, 1, pay).Whole(2, 2, fresh).Logout();
    srv.Start();
    auto codes = Codes(RunTasks(h, {At(srv)}));
    EXPECT_EQ(codes.back(), "ltAllTaskFinished 1");  // only the new payment
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty());
  }
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(3), PayNimbusOrderID(4)));
  EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("8.1", "8.2"));
  {
    auto orders = h.orders.Lock();
    EXPECT_EQ(orders->front()->UID, "8.1");  // follows its mail, so the next listing keeps it
  }
  {
    TScriptedImapServer srv;
    srv.Login().Examine("INBOX", 8, {1, 2}).Logout();
    srv.Start();
    EXPECT_EQ(Codes(RunTasks(h, {At(srv)})).back(), "ltAllTaskFinished 0");
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty());
  }
  EXPECT_EQ(h.OrderIDs().size(), 2u);
}

TEST(ImapScripted, LiteralCutShortIsAConnectionFailure) {
  TScriptedImapServer srv;
  srv.Login().Examine("INBOX", 7, {101});
  srv.Expect("UID FETCH 101 (BODY.PEEK[HEADER])").Send("* 1 FETCH (UID 101 BODY[HEADER] {500}\r\nFrom: a").Close();
  srv.Start();
  TCheckHarness h;
  auto codes = Codes(RunTasks(h, {At(srv)}));
  EXPECT_THAT(Tail(codes, 3),
              ElementsAre("ltSingleTaskFinished Congratulating", "ltQuit Quit", "ltAllTaskFinished 0"));
  EXPECT_THAT(codes, Not(Contains("ltHeaderError Retrieve Header Failed")));
  EXPECT_TRUE(h.uids.Find("Shop")->Uids().empty());
}

TEST(ImapScripted, NoAndBadAnswersFailTheirStepAsPop3Refusals) {
  const std::string pay = MakePayNimbusMail(5);
  TScriptedImapServer srv;
  srv.Login().Examine("INBOX", 7, {101, 102});
  srv.Expect("UID FETCH 101,102 (BODY.PEEK[HEADER])")
      .Send("* 1 FETCH (UID 101 BODY[HEADER] " + ImapLiteral(HeaderOf(pay)) + ")\r\n")
      .Done("NO [UNAVAILABLE] try later");
  srv.Expect("UID FETCH 101 (BODY.PEEK[])").Done("BAD what?");
  srv.Logout();
  srv.Start();
  TCheckHarness h;
  auto codes = Codes(RunTasks(h, {At(srv)}));
  EXPECT_THAT(codes, Contains("ltReceiveError Receiving Failed"));
  EXPECT_THAT(codes, Contains("ltHeaderError Retrieve Header Failed"));
  EXPECT_EQ(codes.back(), "ltAllTaskFinished 0");
  EXPECT_TRUE(h.uids.Find("Shop")->Uids().empty());  // both are tried again next time
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());

  // A refused log-in and a refused greeting are log-in failures with the server's text.
  for (bool greeting : {false, true}) {
    TScriptedImapServer s;
    if (greeting) {
      s.Reply("* BYE too many connections").Close();
    } else {
      s.Reply("* OK ready").Expect("LOGIN \"user\" \"pass\"").Done("NO [AUTHENTICATIONFAILED] Wrong password");
    }
    s.Start();
    TCheckHarness g;
    auto logs = RunTasks(g, {At(s)});
    ASSERT_GE(logs.size(), 3u);
    EXPECT_EQ(Codes(logs)[2], "ltSingleTaskFailed Login Failed");
    EXPECT_THAT(logs[2].LogMessage.str(), ::testing::EndsWith(greeting ? "too many connections" : "Wrong password"));
  }
}

TEST(ImapScripted, RefusedStartTlsSendsNoCredentials) {
  TScriptedImapServer srv;
  srv.Reply("* OK [CAPABILITY IMAP4rev1 STARTTLS] ready").Expect("STARTTLS").Done("BAD not now");
  srv.Start();
  TCheckHarness h;
  TTaskData t = At(srv);
  t.Security = secStartTls;
  auto logs = RunTasks(h, {t});
  ASSERT_GE(logs.size(), 3u);
  EXPECT_EQ(Codes(logs)[2], "ltSingleTaskFailed TLS Error");
  EXPECT_THAT(logs[2].LogMessage.str(), ::testing::HasSubstr("the server refused STARTTLS: not now"));
  EXPECT_TRUE(srv.WaitDone());
  for (const auto& c : srv.Commands()) EXPECT_EQ(c.find("LOGIN"), std::string::npos) << c;
}

TEST(ImapScripted, PasswordThatCannotBeQuotedGoesAsALiteral) {
  const std::string pass = "p\xc3\xa4ss \"w\"";  // 8-bit: no quoted string may carry it
  TScriptedImapServer srv;
  srv.Reply("* OK ready");
  srv.Expect("LOGIN \"user\" {" + std::to_string(pass.size()) + "}").Reply("+ go ahead");
  srv.Raw().Expect(pass);
  srv.Done("OK logged in").Expect("CAPABILITY").Reply("* CAPABILITY IMAP4rev1").Done();
  srv.Examine("INBOX", 7, {}).Logout();
  srv.Start();
  TCheckHarness h;
  TTaskData t = At(srv);
  t.Password = pass;
  EXPECT_THAT(Codes(RunTasks(h, {t})), Contains("ltSingleTaskFinished Checked"));
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());
}

TEST(ImapScripted, NothingThatChangesTheMailboxIsEverSent) {
  const std::string pay = MakePayNimbusMail(6);
  TScriptedImapServer srv;
  srv.Login().Examine("INBOX", 7, {101, 102}).Headers({{1, 101, HeaderOf(pay)}, {2, 102, HeaderOf(kOrdinary)}});
  srv.Whole(1, 101, pay).Logout();
  srv.Start();
  TCheckHarness h;
  EXPECT_EQ(Codes(RunTasks(h, {At(srv)})).back(), "ltAllTaskFinished 1");
  EXPECT_TRUE(srv.WaitDone());
  for (const auto& c : srv.Commands()) {
    const std::string verb = c.substr(c.find(' ') + 1);
    for (const char* forbidden : {"SELECT", "STORE", "UID STORE", "EXPUNGE", "UID EXPUNGE", "MOVE", "UID MOVE",
                                  "COPY", "UID COPY", "APPEND", "DELETE"})
      EXPECT_NE(verb.rfind(forbidden, 0), 0u) << c;
    if (c.find("FETCH") != std::string::npos && c.find("BODY") != std::string::npos)
      EXPECT_NE(c.find("BODY.PEEK["), std::string::npos) << c;
  }
}

TEST(ImapScripted, StopCutsABlockedRead) {
  TScriptedImapServer srv;
  srv.Login().Examine("INBOX", 7, {101});
  srv.Expect("UID FETCH 101 (BODY.PEEK[HEADER])").Raw().Pause(10000);
  srv.Start();
  TCheckHarness h;
  ClearList(h.tasks);
  h.tasks.Add(std::make_unique<TTaskData>(At(srv)));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.ReadTimeoutMs = 20000;
  worker.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const auto start = std::chrono::steady_clock::now();
  worker.Stop();
  worker.WaitFor();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_THAT(Codes(h.Drain()), Contains("ltStopManually Stop"));
}

}  // namespace
}  // namespace qnb::test
