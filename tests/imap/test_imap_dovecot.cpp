// IMAP accounts end to end against a real Dovecot server: the same reports as
// for POP3, a mailbox left exactly as it was, TLS both ways, and IDLE.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "imap/ImapHarness.h"
#include "mailcheck/ImapSession.h"
#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace qnb::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::Pair;

const std::string kOrdinary =
    "From: Friend <friend@example.org>\r\nTo: shop@example.com\r\nSubject: Lunch?\r\n"
    "Date: Tue, 08 Dec 2026 12:00:00 +0000\r\n\r\nSee you at noon.\r\n";

class ImapDovecot : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certDir = new TTempDir();
    // Under root Dovecot's processes run as "nobody" and must reach the files.
    fs::permissions(certDir->Path(), fs::perms(0755));
    ca = new TTestCA(certDir->Path());
    const TCertFiles cert = ca->Issue("server", {"IP:127.0.0.1"});
    dove = new TDovecotServer({{"alice", "secret"}, {"bob", "hunter2"}});
    dove->UseImap();
    dove->UseTls({"yes", cert.Cert, cert.Key});
    dove->Start();
  }
  static void TearDownTestSuite() {
    delete dove;
    delete ca;
    delete certDir;
  }
  void SetUp() override {
    dove->ClearMailbox("alice");
    dove->ClearMailbox("bob");
  }
  static TTaskSpec Alice(int port = 0) {
    return {"Shop", dove->Host(), std::to_string(port ? port : dove->ImapPort()), "alice", "secret"};
  }
  // Every file name of the mailbox with its flags: what a check must leave
  // exactly as it found it.
  static std::set<std::string> MailboxState(const std::string& user) {
    std::set<std::string> names;
    for (const char* sub : {"new", "cur"})
      for (const auto& e : fs::directory_iterator(dove->MaildirOf(user) / sub))
        names.insert(std::string(sub) + "/" + e.path().filename().string());
    return names;
  }

  static TTempDir* certDir;
  static TTestCA* ca;
  static TDovecotServer* dove;
};
TTempDir* ImapDovecot::certDir = nullptr;
TTestCA* ImapDovecot::ca = nullptr;
TDovecotServer* ImapDovecot::dove = nullptr;

TEST_F(ImapDovecot, SameReportsAsPop3AndTheMailboxUnchanged) {
  dove->AddMessage("alice", kOrdinary);
  TCheckHarness h;
  RunTasks(h, {ImapTask(0, Alice())});
  dove->AddMessage("alice", MakePayNimbusMail(7));
  const auto before = MailboxState("alice");
  auto logs = RunTasks(h, {ImapTask(0, Alice())});
  EXPECT_THAT(Codes(logs),
              ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltConnected Connected",
                          "ltChecking Find", "ltChecking UIDL", "ltChecking Checking", "ltChecking Checking",
                          "ltChecking Checking", "ltChecking Checking", "ltReceiving Verifying",
                          "ltReceived Retrieved", "ltProcessing Processing", "ltSingleTaskFinished Congratulating",
                          "ltQuit Quit", "ltAllTaskFinished 1"));
  const std::string host = dove->Host();
  EXPECT_EQ(logs[3].LogMessage.str(), "2 mail(s) on \"" + host + "\"");
  EXPECT_EQ(logs[6].LogMessage, "1 message has been retrieved before");
  EXPECT_EQ(logs[12].LogMessage.str(), "1 new payments received on \"" + host + "\"");
  EXPECT_THAT(h.target->Progress(), ElementsAre(Pair(rmsBegin, 1), Pair(rmsWork, 1), Pair(rmsEnd, 0)));
  ASSERT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(7)));
  {
    auto orders = h.orders.Lock();
    const TOrderData& o = *orders->front();
    EXPECT_EQ(o.FromAccount, "Shop");
    EXPECT_EQ(o.Email.str(), PayNimbusOrderFor(7).email);
    EXPECT_NE(o.UID.find('.'), std::string::npos) << o.UID;  // UIDVALIDITY.UID
  }
  // Read only: no flag set, nothing moved or removed.
  EXPECT_EQ(MailboxState("alice"), before);

  auto third = RunTasks(h, {ImapTask(0, Alice())});
  EXPECT_EQ(Codes(third).back(), "ltAllTaskFinished 0");
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(7)));
}

TEST_F(ImapDovecot, WrongPasswordAndMissingFolderFailAsForPop3) {
  TCheckHarness h;
  TTaskSpec wrong = Alice();
  wrong.pass = "not-it";
  auto logs = RunTasks(h, {ImapTask(0, wrong), ImapTask(1, Alice(), secNone, "No/Such")});
  auto codes = Codes(logs);
  ASSERT_EQ(codes.size(), 10u) << ::testing::PrintToString(codes);
  EXPECT_THAT(std::vector<std::string>(codes.begin(), codes.begin() + 4),
              ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltSingleTaskFailed Login Failed",
                          "ltQuit Quit"));
  EXPECT_EQ(logs[2].LogMessage.str().rfind(
                "Login failed of account \"Shop\"! Please check your username or password.\r\nError: ", 0),
            0u);
  EXPECT_THAT(std::vector<std::string>(codes.begin() + 4, codes.end()),
              ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting", "ltConnected Connected",
                          "ltSingleTaskFailed Check Messages Error", "ltQuit Quit", "ltAllTaskFinished 0"));
}

TEST_F(ImapDovecot, TlsFromTheFirstByteAndStartTlsBothVerifyTheCertificate) {
  dove->AddMessage("alice", MakePayNimbusMail(3));
  TCheckHarness h;
  auto tls = RunTasks(h, {ImapTask(0, Alice(dove->ImapTlsPort()), secTls)}, ca->CertFile().string());
  EXPECT_EQ(Codes(tls).back(), "ltAllTaskFinished 1");
  dove->AddMessage("alice", MakePayNimbusMail(4));
  auto starttls = RunTasks(h, {ImapTask(0, Alice(), secStartTls)}, ca->CertFile().string());
  EXPECT_EQ(Codes(starttls).back(), "ltAllTaskFinished 1");
  EXPECT_THAT(h.OrderIDs(), ElementsAre(PayNimbusOrderID(3), PayNimbusOrderID(4)));
  // Without the CA the certificate does not verify: nothing of the log-in goes out.
  TCheckHarness strict;
  auto refused = RunTasks(strict, {ImapTask(0, Alice(dove->ImapTlsPort()), secTls)});
  EXPECT_THAT(Codes(refused), ElementsAre("ltSingleTaskBegin Begin", "ltConnecting Connecting",
                                          "ltSingleTaskFailed TLS Error", "ltQuit Quit", "ltAllTaskFinished 0"));
}

TEST_F(ImapDovecot, FoldersAreListedAndIdleReportsMailDeliveredMeanwhile) {
  TImapSession s;
  s.Host = dove->Host();
  s.Port = dove->ImapPort();
  s.UserName = "alice";
  s.Password = "secret";
  s.Connect();
  EXPECT_TRUE(s.HasCapability("IDLE"));
  const auto folders = s.ListFolders();
  EXPECT_NE(std::find(folders.begin(), folders.end(), "INBOX"), folders.end());
  s.Examine("INBOX");
  EXPECT_EQ(s.Exists(), 0);
  s.StartIdle();
  EXPECT_FALSE(s.WaitIdle(200));  // nothing yet: the time-out, and IDLE goes on
  std::thread deliver([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dove->AddMessage("alice", MakePayNimbusMail(9));
  });
  const auto start = std::chrono::steady_clock::now();
  const bool news = s.WaitIdle(5000);
  const auto waited = std::chrono::steady_clock::now() - start;
  deliver.join();
  EXPECT_TRUE(news);
  EXPECT_EQ(s.Exists(), 1);
  EXPECT_LT(waited, std::chrono::milliseconds(4000));
  s.StopIdle();
  s.Disconnect();
}

}  // namespace
}  // namespace qnb::test
