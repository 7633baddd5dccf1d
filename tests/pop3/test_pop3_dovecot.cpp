// The POP3 session against a real Dovecot server on loopback: log-in, STAT,
// UIDL, TOP, RETR with dot-stuffed lines, refusals and QUIT.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "TestConfig.h"
#include "analysis/MailMessage.h"
#include "mailcheck/Pop3Session.h"
#include "support/DovecotServer.h"

namespace qnb::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;

const char* kDotsFile = QUENBELL_TEST_DATA_DIR "/pop3/dot_lines_come_back_unstuffed.eml";

std::string OrderMail(int i) {
  return "From: Shop <shop@example.com>\r\nTo: seller@example.com\r\nSubject: Order " + std::to_string(i) +
         "\r\nMessage-ID: <order" + std::to_string(i) + "@example.com>\r\n\r\nBody of order " + std::to_string(i) +
         "\r\n";
}

class Pop3Dovecot : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dove = new TDovecotServer({{"seller", "s3cret"}, {"empty", "nothing"}, {"quitter", "bye"}});
    for (int i = 1; i <= 3; ++i) dove->AddMessage("seller", OrderMail(i));
    dove->AddMessage("seller", ReadFile(kDotsFile));
    dove->Start();
  }
  static void TearDownTestSuite() {
    delete dove;
    dove = nullptr;
  }

  static std::unique_ptr<TPop3Session> Session(const std::string& user, const std::string& pass) {
    auto pop = std::make_unique<TPop3Session>();
    pop->Host = dove->Host();
    pop->Port = dove->Port();
    pop->UserName = user;
    pop->Password = pass;
    pop->ReadTimeout = 10000;
    return pop;
  }

  static TDovecotServer* dove;
};
TDovecotServer* Pop3Dovecot::dove = nullptr;

TEST_F(Pop3Dovecot, LoginCountsAndListsTheMailbox) {
  auto pop = Session("seller", "s3cret");
  pop->Connect();
  EXPECT_EQ(pop->CheckMessages(), 4);
  TStrings uidl;
  ASSERT_TRUE(pop->UIDL(uidl));
  ASSERT_THAT(uidl, SizeIs(4));
  std::set<std::string> uids;
  for (size_t i = 0; i < uidl.size(); ++i) {
    EXPECT_THAT(uidl[i], StartsWith(std::to_string(i + 1) + " "));
    uids.insert(uidl[i].substr(uidl[i].find(' ') + 1));
  }
  EXPECT_THAT(uids, SizeIs(4));
  pop->Disconnect();

  // The ids stay the same from one session to the next.
  auto again = Session("seller", "s3cret");
  again->Connect();
  TStrings uidl2;
  ASSERT_TRUE(again->UIDL(uidl2));
  EXPECT_EQ(uidl2, uidl);
  again->Disconnect();
}

TEST_F(Pop3Dovecot, TopGivesEachMessageItsOwnHeadersOnly) {
  auto pop = Session("seller", "s3cret");
  pop->Connect();
  for (int n = 1; n <= 3; ++n) {
    TStrings lines;
    ASSERT_TRUE(pop->RetrieveHeader(n, lines));
    EXPECT_THAT(lines, Contains("Subject: Order " + std::to_string(n)));
    EXPECT_THAT(lines, Not(Contains(HasSubstr("Body of order"))));
    EXPECT_THAT(lines, Not(Contains(IsEmpty())));
  }
  TMailMessage msg;
  ASSERT_TRUE(pop->RetrieveHeader(2, msg));
  EXPECT_THAT(msg.Headers(), Contains("Message-ID: <order2@example.com>"));
  pop->Disconnect();
}

TEST_F(Pop3Dovecot, RetrGivesBackDotStuffedLinesAsStored) {
  auto pop = Session("seller", "s3cret");
  pop->Connect();
  TStrings lines;
  ASSERT_TRUE(pop->Retrieve(4, lines));
  EXPECT_THAT(lines, ElementsAreArray(SplitLines(ReadFile(kDotsFile))));
  TStrings order;
  ASSERT_TRUE(pop->Retrieve(1, order));
  EXPECT_EQ(JoinCRLF(order), OrderMail(1));
  pop->Disconnect();
}

TEST_F(Pop3Dovecot, MissingMessageIsRefusedAndTheSessionGoesOn) {
  auto pop = Session("seller", "s3cret");
  pop->Connect();
  TStrings lines;
  EXPECT_FALSE(pop->RetrieveHeader(99, lines));
  EXPECT_FALSE(pop->Retrieve(99, lines));
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_EQ(pop->CheckMessages(), 4);
  pop->Disconnect();
}

TEST_F(Pop3Dovecot, WrongPasswordOrUserIsAReplyErrorWithTheServerText) {
  for (auto [user, pass] : {std::pair{"seller", "wrong"}, std::pair{"nobody-here", "s3cret"}}) {
    auto pop = Session(user, pass);
    try {
      pop->Connect();
      ADD_FAILURE() << user << " logged in";
    } catch (const EPop3ReplyError& e) {
      EXPECT_THAT(e.what(), HasSubstr("Authentication failed")) << user;
      EXPECT_THAT(e.what(), testing::EndsWith("\r\n"));
    }
    EXPECT_FALSE(pop->Connected());
  }
}

TEST_F(Pop3Dovecot, EmptyMailboxCountsZeroAndListsNothing) {
  auto pop = Session("empty", "nothing");
  pop->Connect();
  EXPECT_EQ(pop->CheckMessages(), 0);
  TStrings uidl;
  EXPECT_TRUE(pop->UIDL(uidl));
  EXPECT_THAT(uidl, IsEmpty());
  pop->Disconnect();
}

TEST_F(Pop3Dovecot, QuitLogsTheSessionOut) {
  auto pop = Session("quitter", "bye");
  pop->Connect();
  pop->Disconnect();
  EXPECT_FALSE(pop->Connected());
  // Dovecot tells a QUIT ("Logged out") from a dropped connection.
  bool loggedOut = false;
  for (int i = 0; i < 200 && !loggedOut; ++i) {
    for (const auto& line : SplitLines(dove->Log()))
      loggedOut = loggedOut || (line.find("pop3(quitter)") != std::string::npos &&
                                line.find("Disconnected: Logged out") != std::string::npos);
    if (!loggedOut) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(loggedOut) << dove->Log();
}

}  // namespace
}  // namespace qnb::test
