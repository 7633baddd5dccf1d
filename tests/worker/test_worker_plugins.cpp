// The worker with its plug-ins in the helper process: a plug-in that aborts
// on one mail costs that mail only, once reported; the mail is not
// remembered, so the next check offers it again.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/ScriptedPop3Server.h"
#include "worker/WorkerHarness.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

void Answer(TScriptedPop3Server& srv, const std::string& text) { srv.Reply("+OK").Send(text).Reply("."); }

// Message 1 makes the plug-in abort in IsOrder, message 2 in ParseOrder;
// message 3 is an order one command at a time, and with pipelining a mail
// nobody claims (which of its commands would go out first depends on when
// the answers arrive). Both runs see the same mailbox; the second asks only
// for the two that were not remembered.
void Script(TScriptedPop3Server& srv, bool pipelining, bool again) {
  if (pipelining) srv.Capabilities({"TOP", "UIDL", "USER", "PIPELINING"});
  srv.Login().Expect("STAT").Reply("+OK 3 900").Expect("UIDL").Reply("+OK");
  srv.Reply("1 u1").Reply("2 u2").Reply("3 u3").Reply(".");
  const std::string h1 = "Subject: one\r\nX-Claim: mis\r\nX-Misbehave: abort\r\n";
  const std::string h2 = "Subject: two\r\nX-Claim: mis\r\n", h3 = "Subject: three\r\nX-Claim: mis\r\n";
  if (pipelining) {
    srv.Expect("TOP 1 0").Expect("TOP 2 0");
    if (!again) srv.Expect("TOP 3 0");
    Answer(srv, h1);
    Answer(srv, h2);
    if (!again) Answer(srv, "Subject: three\r\n");
    srv.Expect("RETR 2");
    Answer(srv, h2 + "\r\nOrder: 2\r\nMisbehave: abort\r\n");
  } else {
    srv.Expect("TOP 1 0");
    Answer(srv, h1);
    srv.Expect("TOP 2 0");
    Answer(srv, h2);
    srv.Expect("RETR 2");
    Answer(srv, h2 + "\r\nOrder: 2\r\nMisbehave: abort\r\n");
    if (!again) {
      srv.Expect("TOP 3 0");
      Answer(srv, h3);
      srv.Expect("RETR 3");
      Answer(srv, h3 + "\r\nOrder: 3\r\n");
    }
  }
  srv.Expect("QUIT");
}

TEST(WorkerPlugins, AbortingPluginCostsOnlyItsMailWhichIsOfferedAgain) {
  for (bool pipelining : {false, true}) {
    TCheckHarness h(std::string{}, QUENBELL_ANALYZER_HOST);
    h.gear.LoadParserFiles({QUENBELL_MISBEHAVING_PLUGIN});
    ASSERT_TRUE(h.gear.Isolated());
    for (int run = 0; run < 2; ++run) {
      TScriptedPop3Server srv;
      Script(srv, pipelining, run == 1);
      srv.Start();
      auto logs = h.Run({{"Shop", "127.0.0.1", std::to_string(srv.Port()), "user", "pass"}});
      std::vector<TLogRec> failures;
      std::copy_if(logs.begin(), logs.end(), std::back_inserter(failures),
                   [](const TLogRec& l) { return l.LogCode == ltAdvanceError; });
      ASSERT_EQ(failures.size(), 2u) << pipelining << run;
      EXPECT_EQ(failures[0].Reserved, "Analyzer Failed");
      EXPECT_THAT(failures[0].LogMessage.str(), HasSubstr("failed on message 1 on \"127.0.0.1\""));
      EXPECT_THAT(failures[0].LogMessage.str(), HasSubstr("signal 6"));
      EXPECT_THAT(failures[1].LogMessage.str(), HasSubstr("failed on message 2 on"));
      EXPECT_EQ(Codes(logs).back(), run == 0 && !pipelining ? "ltAllTaskFinished 1" : "ltAllTaskFinished 0");
      EXPECT_EQ(h.OrderIDs(), pipelining ? std::vector<std::string>{} : std::vector<std::string>{"MIS-3"});
      EXPECT_THAT(h.uids.Find("Shop")->Uids(), ElementsAre("u3")) << pipelining << run;
      EXPECT_TRUE(srv.WaitDone());
      EXPECT_THAT(srv.Errors(), IsEmpty()) << pipelining << run;
    }
  }
}

}  // namespace
}  // namespace qnb::test
