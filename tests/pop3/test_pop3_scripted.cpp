// The POP3 session against a scripted server: the replies a real server will
// not give, the failure kinds, and what the session sends.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>

#include "analysis/MailMessage.h"
#include "mailcheck/Pop3Session.h"
#include "support/ScriptedPop3Server.h"

namespace qnb::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

using TClock = std::chrono::steady_clock;

long MsSince(TClock::time_point t) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - t).count());
}

// A session aimed at the scripted server, with a read time-out short enough
// that a session waiting for an answer that never comes fails the test fast.
class Pop3Scripted : public ::testing::Test {
 protected:
  void Start(int readTimeoutMs = 3000) {
    srv.Start();
    pop.Host = "127.0.0.1";
    pop.Port = srv.Port();
    pop.UserName = "user";
    pop.Password = "pass";
    pop.ReadTimeout = readTimeoutMs;
  }
  // Ends the session and checks that the server saw the script through.
  void Finish() {
    pop.Disconnect();
    ASSERT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty());
  }

  TScriptedPop3Server srv;
  TPop3Session pop;
};

template <class E>
std::string FailureText(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("other exception: ") + e.what();
  }
  return "no exception";
}

TEST(Pop3Reply, StatusWordAndText) {
  struct {
    std::string line;
    TPop3Reply::TStatus status;
    std::string text;
  } cases[] = {
      {"+OK 2 320", TPop3Reply::rsOK, "2 320"},
      {"+OK", TPop3Reply::rsOK, ""},
      {"+ok lower case", TPop3Reply::rsOK, "lower case"},
      {"-ERR no such message", TPop3Reply::rsERR, " no such message"},
      {"-err", TPop3Reply::rsERR, ""},
      {"+OK-continued", TPop3Reply::rsOK, "continued"},
      {"+OKAY", TPop3Reply::rsUnknown, "Y"},
      {"* OK", TPop3Reply::rsUnknown, ""},
      {"OK", TPop3Reply::rsUnknown, ""},
  };
  for (const auto& c : cases) {
    TPop3Reply r = SplitReply(c.line);
    EXPECT_EQ(r.Status, c.status) << c.line;
    EXPECT_THAT(r.Text, ElementsAre(c.text)) << c.line;
  }
}

TEST_F(Pop3Scripted, LoginSendsUserAndPassEachEndedByCrLf) {
  srv.Login("shop@example.com", "p w").Expect("QUIT");
  Start();
  pop.UserName = "shop@example.com";
  pop.Password = "p w";
  pop.Connect();
  EXPECT_TRUE(pop.Connected());
  Finish();
  EXPECT_THAT(srv.Commands(), ElementsAre("USER shop@example.com", "PASS p w", "QUIT"));
}

TEST_F(Pop3Scripted, HostNameIsResolved) {
  // localhost may also resolve to ::1, where nobody listens: the next address is tried.
  srv.Login().Expect("QUIT");
  Start();
  pop.Host = "localhost";
  pop.Connect();
  Finish();
}

TEST_F(Pop3Scripted, LineBreakInThePasswordSendsNoCommandOfItsOwn) {
  srv.Reply("+OK").Expect("USER user").Reply("+OK");
  Start();
  pop.Password = "pw\r\nDELE 1";
  EXPECT_EQ(FailureText<ENetFailure>([&] { pop.Connect(); }), kLineBreakInCommand);
  ASSERT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Commands(), ElementsAre("USER user", "QUIT"));
}

TEST_F(Pop3Scripted, RefusedGreetingIsAReplyErrorWithTheServerText) {
  srv.Reply("-ERR too many connections");
  Start();
  EXPECT_EQ(FailureText<EPop3ReplyError>([&] { pop.Connect(); }), " too many connections\r\n");
  // The failed log-in disconnected the session (QUIT, then close).
  EXPECT_FALSE(pop.Connected());
  Finish();
  EXPECT_THAT(srv.Commands(), ElementsAre("QUIT"));
}

TEST_F(Pop3Scripted, RefusedPasswordIsAReplyError) {
  srv.Reply("+OK").Expect("USER user").Reply("+OK").Expect("PASS pass").Reply("-ERR [AUTH] Authentication failed.");
  Start();
  EXPECT_EQ(FailureText<EPop3ReplyError>([&] { pop.Connect(); }), " [AUTH] Authentication failed.\r\n");
  Finish();
  EXPECT_THAT(srv.Commands(), ElementsAre("USER user", "PASS pass", "QUIT"));
}

TEST_F(Pop3Scripted, LowerCaseOkIsAccepted) {
  srv.Reply("+ok hello").Expect("USER user").Reply("+ok").Expect("PASS pass").Reply("+ok");
  srv.Expect("STAT").Reply("+ok 3 1200");
  Start();
  pop.Connect();
  EXPECT_EQ(pop.CheckMessages(), 3);
  Finish();
}

TEST_F(Pop3Scripted, OkayIsAnUnrecognisedReply) {
  srv.Reply("+OKAY POP3 ready");
  Start();
  EXPECT_THAT(FailureText<ENetFailure>([&] { pop.Connect(); }), HasSubstr("+OKAY POP3 ready"));
  Finish();
}

TEST(Pop3Stat, CountFromTheReplyText) {
  struct {
    std::string reply;  // raw bytes after the log-in
    int count;          // -1: other failure, -2: reply error
  } cases[] = {
      {"+OK 0 0\r\n", 0},
      {"+OK\r\n", 0},
      {"+OK 12 34567\r\n", 12},
      {"\r\n  \r\n  +OK 4 10  \r\n", 4},  // blank lines and blanks around the reply
      {"+OK 5\r\n", -1},                   // a count but no size
      {"+OK x 5\r\n", -1},
      {"+OK 99999999999 5\r\n", -1},
      {"-ERR mailbox locked\r\n", -2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    TScriptedPop3Server srv;
    srv.Login().Expect("STAT").Send(c.reply);
    srv.Start();
    TPop3Session pop;
    pop.Host = "127.0.0.1";
    pop.Port = srv.Port();
    pop.UserName = "user";
    pop.Password = "pass";
    pop.ReadTimeout = 3000;
    pop.Connect();
    if (c.count >= 0)
      EXPECT_EQ(pop.CheckMessages(), c.count);
    else if (c.count == -1)
      EXPECT_THROW(pop.CheckMessages(), ENetFailure);
    else
      EXPECT_EQ(FailureText<EPop3ReplyError>([&] { pop.CheckMessages(); }), " mailbox locked\r\n");
    pop.Disconnect();
    ASSERT_TRUE(srv.WaitDone());
    EXPECT_THAT(srv.Errors(), IsEmpty());
  }
}

TEST_F(Pop3Scripted, UidlListingAndRefusal) {
  srv.Login().Expect("UIDL").Reply("+OK").Send("1 AbC\r\n2 0000beef\r\n.\r\n");
  srv.Expect("UIDL").Reply("-ERR not supported").Expect("STAT").Reply("+OK 2 10");
  Start();
  pop.Connect();
  TStrings uids{"kept"};
  EXPECT_TRUE(pop.UIDL(uids));
  EXPECT_THAT(uids, ElementsAre("kept", "1 AbC", "2 0000beef"));
  TStrings none;
  EXPECT_FALSE(pop.UIDL(none));
  EXPECT_THAT(none, IsEmpty());
  // Nothing of the refused listing was left to read.
  EXPECT_EQ(pop.CheckMessages(), 2);
  Finish();
}

TEST_F(Pop3Scripted, TopSkipsEmptyLinesAndKeepsDotsAsSent) {
  srv.Login().Expect("TOP 7 0").Reply("+OK");
  srv.Send("Subject: Payment\r\nX-Long: first\r\n\tsecond\r\n..dotted: x\r\n\r\n.\r\n");
  Start();
  pop.Connect();
  TStrings lines;
  EXPECT_TRUE(pop.RetrieveHeader(7, lines));
  EXPECT_THAT(lines, ElementsAre("Subject: Payment", "X-Long: first", "\tsecond", "..dotted: x"));
  Finish();
}

TEST_F(Pop3Scripted, TopFillsTheMessageHeaders) {
  srv.Login().Expect("TOP 1 0").Reply("+OK");
  srv.Send("From: shop@example.com\r\nSubject: Order 42\r\n\r\n.\r\n");
  Start();
  pop.Connect();
  TMailMessage msg;
  ASSERT_TRUE(pop.RetrieveHeader(1, msg));
  EXPECT_THAT(msg.Headers(), ElementsAre("From: shop@example.com", "Subject: Order 42"));
  Finish();
}

TEST_F(Pop3Scripted, RefusedTopLeavesTheSessionUsable) {
  srv.Login().Expect("TOP 1 0").Reply("-ERR no such message").Expect("TOP 2 0").Reply("+OK");
  srv.Send("Subject: two\r\n.\r\n");
  Start();
  pop.Connect();
  TStrings lines;
  EXPECT_FALSE(pop.RetrieveHeader(1, lines));
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_TRUE(pop.RetrieveHeader(2, lines));
  EXPECT_THAT(lines, ElementsAre("Subject: two"));
  Finish();
}

TEST_F(Pop3Scripted, RetrUnstuffsDotsAndKeepsEmptyLines) {
  const std::string mail = "Subject: dots\r\n\r\n..\r\n..x\r\n...\r\n.y\r\n\r\nend\r\n.\r\n";
  srv.Login().Expect("RETR 3").Reply("+OK 80 octets").Send(mail);
  srv.Expect("RETR 3").Reply("+OK 80 octets").Send(mail);
  srv.Expect("RETR 4").Reply("-ERR gone");
  srv.Expect("RETR 4").Reply("-ERR gone");
  Start();
  pop.Connect();
  TStrings lines;
  EXPECT_TRUE(pop.Retrieve(3, lines));
  EXPECT_THAT(lines, ElementsAre("Subject: dots", "", ".", ".x", "..", ".y", "", "end"));
  // The worker's way: the same lines into one buffer.
  TMailLines held;
  pop.QueueCommand("RETR 3");
  pop.Flush();
  EXPECT_TRUE(pop.ReadRetrieveAnswer(held));
  EXPECT_THAT(held.Lines(), ElementsAreArray(lines));
  TStrings none;
  EXPECT_FALSE(pop.Retrieve(4, none));
  EXPECT_THAT(none, IsEmpty());
  pop.QueueCommand("RETR 4");
  pop.Flush();
  EXPECT_FALSE(pop.ReadRetrieveAnswer(held));
  EXPECT_EQ(held.size(), lines.size());
  Finish();
}

TEST_F(Pop3Scripted, OverlongHeaderLineIsAFailure) {
  srv.Login().Expect("TOP 1 0").Reply("+OK").Send("X-Big: " + std::string(20000, 'a') + "\r\n.\r\n");
  Start();
  pop.Connect();
  TStrings lines;
  EXPECT_EQ(FailureText<ENetFailure>([&] { pop.RetrieveHeader(1, lines); }), kLineTooLong);
  Finish();
}

TEST_F(Pop3Scripted, ConnectionClosedInsideRetrIsAFailure) {
  srv.Login().Expect("RETR 1").Reply("+OK").Send("Subject: cut\r\n\r\nhalf a li").Close();
  Start();
  pop.Connect();
  TStrings lines;
  EXPECT_EQ(FailureText<ENetFailure>([&] { pop.Retrieve(1, lines); }), kClosedByPeer);
  EXPECT_FALSE(pop.Connected());
  EXPECT_NO_THROW(pop.Disconnect());
  ASSERT_TRUE(srv.WaitDone());
}

TEST_F(Pop3Scripted, SlowAnswerIsReadWhileEachWaitStaysUnderTheTimeOut) {
  // About 600 ms for the whole answer, never more than 30 ms without data.
  std::string answer = "+OK\r\nSubject: slow\r\n\r\nline one\r\nline two\r\n.\r\n";
  srv.Login().Expect("RETR 1").SendSlowly(answer, 3, 30);
  Start(400);
  pop.Connect();
  TStrings lines;
  EXPECT_TRUE(pop.Retrieve(1, lines));
  EXPECT_THAT(lines, ElementsAre("Subject: slow", "", "line one", "line two"));
  Finish();
}

TEST_F(Pop3Scripted, SilentServerFailsAfterTheReadTimeOut) {
  srv.Login().Expect("STAT");
  Start(300);
  pop.Connect();
  auto t0 = TClock::now();
  EXPECT_EQ(FailureText<ENetFailure>([&] { pop.CheckMessages(); }), kReadTimeout);
  EXPECT_GE(MsSince(t0), 250);
  Finish();
}

TEST_F(Pop3Scripted, DisconnectSendsQuitWithoutWaitingForItsReply) {
  srv.Login();  // then silent: QUIT is never answered
  Start(3000);
  pop.Connect();
  auto t0 = TClock::now();
  EXPECT_NO_THROW(pop.Disconnect());
  EXPECT_LT(MsSince(t0), 2000);
  EXPECT_FALSE(pop.Connected());
  ASSERT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Commands(), ElementsAre("USER user", "PASS pass", "QUIT"));
}

TEST_F(Pop3Scripted, DisconnectAfterTheServerClosedSendsNothing) {
  srv.Login().Expect("STAT").Reply("+OK 1 10").HalfClose();
  Start();
  pop.Connect();
  EXPECT_EQ(pop.CheckMessages(), 1);
  auto t0 = TClock::now();
  while (pop.Connected() && MsSince(t0) < 2000) usleep(5000);
  EXPECT_FALSE(pop.Connected());
  pop.Disconnect();
  ASSERT_TRUE(srv.WaitDone());
  EXPECT_THAT(srv.Commands(), Not(Contains("QUIT")));
}

TEST_F(Pop3Scripted, OperationsAfterDisconnectFailAsNotConnected) {
  srv.Login();
  Start();
  pop.Connect();
  pop.Disconnect();
  EXPECT_EQ(FailureText<ENetFailure>([&] { pop.CheckMessages(); }), kNotConnected);
  // The session is never reconnected.
  EXPECT_EQ(FailureText<ENetFailure>([&] { pop.Connect(); }), kNotConnected);
  ASSERT_TRUE(srv.WaitDone());
}

// Past its bound an answer fails alone: the rest of it is read and dropped, so
// the next answer is read as it came.
TEST_F(Pop3Scripted, AnswerPastItsBoundFailsAloneAndTheSessionStaysInStep) {
  srv.Login();
  srv.Expect("TOP 1 0").Reply("+OK").Repeat("X-Filler: 0123456789012345678901234567890123456789\r\n", 40);
  srv.Reply(".");
  srv.Expect("TOP 2 0").Reply("+OK").Repeat("\r\n", 1000).Reply("Subject: hi").Reply(".");
  srv.Expect("RETR 3").Reply("+OK").Repeat("body line of the mail\r\n", 100).Reply(".");
  srv.Expect("UIDL").Reply("+OK").Send("1 a\r\n2 b\r\n3 c\r\n.\r\n");
  srv.Expect("TOP 4 0").Reply("+OK").Reply("Subject: fits").Reply(".");
  Start();
  pop.MaxHeaderBytes = 1000;
  pop.MaxMailBytes = 1000;
  pop.Connect();
  TStrings lines;
  try {
    pop.RetrieveHeader(1, lines);
    ADD_FAILURE() << "no bound";
  } catch (const EAnswerTooLarge& e) {
    EXPECT_EQ(e.Limit(), 1000u);
    EXPECT_EQ(e.Size(), 40u * 52);
  }
  EXPECT_THAT(lines, testing::SizeIs(testing::Le(1000u / 52)));
  // Empty lines are skipped, but count.
  EXPECT_THROW(pop.RetrieveHeader(2, lines), EAnswerTooLarge);
  TStrings mail;
  EXPECT_THROW(pop.Retrieve(3, mail), EAnswerTooLarge);
  TStrings uids;
  try {
    pop.UIDL(uids, 2);
    ADD_FAILURE() << "no bound";
  } catch (const EAnswerTooLarge& e) {
    EXPECT_EQ(e.Limit(), 2u);
    EXPECT_EQ(e.Size(), 3u);
  }
  TStrings fits;
  EXPECT_TRUE(pop.RetrieveHeader(4, fits));
  EXPECT_THAT(fits, ElementsAre("Subject: fits"));
  Finish();
}

// Answers that never end or trickle end within the answer time, however
// short each wait for data is: empty lines before a reply, inside a header,
// and a mail that goes on and on.
TEST(Pop3Bounds, EndlessAndTricklingAnswersEndInTime) {
  struct Case {
    const char* name;
    std::function<void(TScriptedPop3Server&)> script;
    std::function<void(TPop3Session&)> call;
    const char* failure;
  };
  const Case cases[] = {
      {"empty lines before a reply", [](TScriptedPop3Server& s) { s.Expect("STAT").Repeat("\r\n", 0, 20); },
       [](TPop3Session& p) { p.CheckMessages(); }, kAnswerTimeout},
      {"header trickling empty lines",
       [](TScriptedPop3Server& s) { s.Expect("TOP 1 0").Reply("+OK").Repeat("\r\n", 0, 20); },
       [](TPop3Session& p) {
         TStrings l;
         p.RetrieveHeader(1, l);
       },
       kAnswerTimeout},
      {"mail that never ends",
       [](TScriptedPop3Server& s) { s.Expect("RETR 1").Reply("+OK").Repeat(std::string(998, 'x') + "\r\n", 0); },
       [](TPop3Session& p) {
         TStrings l;
         p.Retrieve(1, l);
       },
       nullptr},
  };
  for (const Case& c : cases) {
    TScriptedPop3Server srv;
    srv.Login();
    c.script(srv);
    srv.Start();
    // Closed only when destroyed: till then a server blocked in a send stays so.
    auto session = std::make_unique<TPop3Session>();
    TPop3Session& pop = *session;
    pop.Host = "127.0.0.1";
    pop.Port = srv.Port();
    pop.UserName = "user";
    pop.Password = "pass";
    pop.ReadTimeout = 3000;
    pop.AnswerTimeout = 600;
    pop.MaxMailBytes = size_t(1) << 20;
    pop.Connect();
    const auto t0 = TClock::now();
    const std::string text = FailureText<EAnswerBound>([&] { c.call(pop); });
    // Endless at full speed: the bound on what is dropped, or the time.
    if (c.failure) EXPECT_EQ(text, c.failure) << c.name;
    else EXPECT_THAT(text, testing::AnyOf(kAnswerTimeout, kAnswerEndless)) << c.name;
    EXPECT_LT(MsSince(t0), 2500) << c.name;
    session.reset();
    EXPECT_TRUE(srv.WaitDone()) << c.name;
  }
}

TEST(Pop3Connect, RefusedConnectionIsASocketErrorWithItsCode) {
  // A port that was free a moment ago: nobody listens there.
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
  close(s);

  TPop3Session pop;
  pop.Host = "127.0.0.1";
  pop.Port = ntohs(a.sin_port);
  try {
    pop.Connect();
    FAIL() << "connected";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Code(), ECONNREFUSED);
  }
  EXPECT_FALSE(pop.Connected());
}

TEST(Pop3Connect, NoAnswerWithinTheConnectTimeOutIsAnOtherFailure) {
  // A listener with a full backlog never completes a further handshake.
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

  TPop3Session pop;
  pop.Host = "127.0.0.1";
  pop.Port = ntohs(a.sin_port);
  auto t0 = TClock::now();
  EXPECT_EQ(FailureText<ENetFailure>([&] { pop.Connect(300); }), kConnectTimeout);
  EXPECT_GE(MsSince(t0), 250);
  close(filler);
  close(l);
}

}  // namespace
}  // namespace qnb::test
