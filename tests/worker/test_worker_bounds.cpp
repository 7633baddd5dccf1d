// The worker against servers whose answers go past their bounds: the message
// or the account fails with a record of its own, and the run goes on.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/PayNimbusMail.h"
#include "support/ScriptedPop3Server.h"
#include "worker/WorkerHarness.h"

namespace qnb::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

TTaskSpec At(const TScriptedPop3Server& srv, const std::string& account) {
  return {account, "127.0.0.1", std::to_string(srv.Port()), "user", "pass"};
}

// "+OK", the mail's lines (none start with a dot here), ".".
void Answer(TScriptedPop3Server& srv, const std::string& mail) {
  srv.Reply("+OK");
  srv.Send(mail.size() >= 2 && mail.substr(mail.size() - 2) == "\r\n" ? mail : mail + "\r\n");
  srv.Reply(".");
}

std::string HeaderOf(const std::string& mail) { return mail.substr(0, mail.find("\r\n\r\n") + 2); }

// A filler line of 1000 bytes with its CR LF.
const std::string kFiller = "X-Filler: " + std::string(988, 'f') + "\r\n";

std::vector<TLogRec> Of(const std::vector<TLogRec>& logs, TLogType code) {
  std::vector<TLogRec> r;
  std::copy_if(logs.begin(), logs.end(), std::back_inserter(r), [&](const TLogRec& l) { return l.LogCode == code; });
  return r;
}

// Message 1's header and message 2's whole mail are past their bounds (1 MiB,
// 64 MiB): each fails alone with a size record and is remembered, as it will
// not get smaller; message 3 is an order.
TEST(WorkerBounds, HeaderAndMailPastTheirSizeFailAloneAndAreRemembered) {
  const std::string mail2 = MakePayNimbusMail(2), mail3 = MakePayNimbusMail(3);
  TScriptedPop3Server srv;
  srv.Login().Expect("STAT").Reply("+OK 3 99999999").Expect("UIDL").Reply("+OK");
  srv.Reply("1 u1").Reply("2 u2").Reply("3 u3").Reply(".");
  srv.Expect("TOP 1 0").Reply("+OK").Repeat(kFiller, 1100).Reply(".");
  srv.Expect("TOP 2 0");
  Answer(srv, HeaderOf(mail2));
  srv.Expect("RETR 2").Reply("+OK").Send(HeaderOf(mail2) + "\r\n").Repeat(kFiller, 68 * 1024).Reply(".");
  srv.Expect("TOP 3 0");
  Answer(srv, HeaderOf(mail3));
  srv.Expect("RETR 3");
  Answer(srv, mail3);
  srv.Expect("QUIT");
  srv.Start();

  TCheckHarness h;
  auto logs = h.Run({At(srv, "Shop")});
  auto sizes = Of(logs, ltSizeError);
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0].Reserved, "Message Too Large");
  EXPECT_EQ(sizes[0].LogMessage, "The header of message 1 on \"127.0.0.1\" is larger than 1 MiB; it is skipped");
  EXPECT_EQ(sizes[1].LogMessage, "The mail of message 2 on \"127.0.0.1\" is larger than 64 MiB; it is skipped");
  EXPECT_EQ(h.OrderIDs(), std::vector<std::string>{PayNimbusOrderID(3)});
  EXPECT_EQ(Codes(logs).back(), "ltAllTaskFinished 1");
  EXPECT_THAT(Codes(logs), Contains("ltSingleTaskFinished Congratulating"));
  ASSERT_NE(h.uids.Find("Shop"), nullptr);
  EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("u1", "u2", "u3"));
  EXPECT_TRUE(srv.WaitDone(10000));
  EXPECT_THAT(srv.Errors(), IsEmpty());
}

// An answer that never ends, or trickles empty lines, fails its account
// within the answer time; the account after it is checked, and the broken
// message is not remembered, so the next check offers it again.
TEST(WorkerBounds, EndlessOrTricklingAnswerFailsTheAccountAndTheRunGoesOn) {
  struct Case {
    const char* name;
    std::string chunk;
    int delayMs;
  };
  for (const Case& c : {Case{"never ends", kFiller, 0}, Case{"trickles", "\r\n", 20}}) {
    const std::string mail = MakePayNimbusMail(7);
    TScriptedPop3Server bad;
    bad.Login().Expect("STAT").Reply("+OK 2 9000").Expect("UIDL").Reply("+OK").Reply("1 b1").Reply("2 b2").Reply(".");
    bad.Expect("TOP 1 0").Reply("+OK").Repeat(c.chunk, 0, c.delayMs);
    bad.Start();
    TScriptedPop3Server good;
    good.Login().Expect("STAT").Reply("+OK 1 900").Expect("UIDL").Reply("+OK").Reply("1 g1").Reply(".");
    good.Expect("TOP 1 0");
    Answer(good, HeaderOf(mail));
    good.Expect("RETR 1");
    Answer(good, mail);
    good.Expect("QUIT");
    good.Start();

    TCheckHarness h;
    h.answerTimeoutMs = 700;
    auto logs = h.Run({At(bad, "A"), At(good, "B")});
    auto failed = Of(logs, ltSingleTaskFailed);
    ASSERT_EQ(failed.size(), 1u) << c.name;
    EXPECT_EQ(failed[0].Account, "A");
    EXPECT_EQ(failed[0].Reserved, "Receiving Failed");
    EXPECT_THAT(failed[0].LogMessage.str(), testing::StartsWith("Retrieving 1 message failed on \"127.0.0.1\": "));
    // The failed account is not reported as a success as well.
    for (const auto& l : logs)
      if (l.Account == "A") {
        EXPECT_NE(l.LogCode, ltSingleTaskFinished) << c.name;
      }
    EXPECT_EQ(h.OrderIDs(), std::vector<std::string>{PayNimbusOrderID(7)}) << c.name;
    EXPECT_EQ(Codes(logs).back(), "ltAllTaskFinished 1");
    ASSERT_NE(h.uids.Find("A"), nullptr);
    EXPECT_THAT(h.uids.Find("A")->Uids(), IsEmpty()) << c.name;
    EXPECT_TRUE(bad.WaitDone(5000)) << c.name;
    EXPECT_TRUE(good.WaitDone()) << c.name;
    EXPECT_THAT(good.Errors(), IsEmpty()) << c.name;
  }
}

// A listing longer than the message count is a listing failure.
TEST(WorkerBounds, ListingLongerThanTheMessageCountFailsTheAccount) {
  TScriptedPop3Server srv;
  srv.Login().Expect("STAT").Reply("+OK 2 300").Expect("UIDL").Reply("+OK");
  srv.Repeat("9 again\r\n", 100000).Reply(".").Expect("QUIT");
  srv.Start();
  TCheckHarness h;
  auto logs = h.Run({At(srv, "Shop")});
  EXPECT_THAT(Codes(logs), ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltConnected Connected",
                                       "ltChecking Find", "ltSingleTaskFailed UIDL Error", "ltQuit Quit",
                                       "ltAllTaskFinished 0"));
  EXPECT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Errors(), IsEmpty());
}

}  // namespace
}  // namespace qnb::test
