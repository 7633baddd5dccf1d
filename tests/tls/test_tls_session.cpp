// The POP3 session over TLS against the scripted server: TLS from the first
// byte and STLS log in with the test CA trusted; every failure of the secure
// connection is an ETlsError with its reason, and no USER or PASS reaches the
// server.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mailcheck/Pop3Session.h"
#include "support/ScriptedPop3Server.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class TlsSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = std::make_unique<TTempDir>();
    ca = std::make_unique<TTestCA>(dir->Path(), "trusted");
    stranger = std::make_unique<TTestCA>(dir->Path(), "stranger");
    good = ca->Issue("good", {"IP:127.0.0.1", "DNS:localhost"});
    otherHost = ca->Issue("other-host", {"DNS:mail.example.test"});
    expired = ca->Issue("expired", {"IP:127.0.0.1"}, -3, -1);
    foreign = stranger->Issue("foreign", {"IP:127.0.0.1"});
  }
  static void TearDownTestSuite() {
    stranger.reset();
    ca.reset();
    dir.reset();
  }

  // A new server in place of the last one, for the cases of a table.
  TScriptedPop3Server& Fresh() {
    slot.Release();
    server = std::make_unique<TScriptedPop3Server>();
    return *server;
  }

  TPop3Session& Session(TSecurity security, const std::string& host = "127.0.0.1", bool trustCA = true) {
    srv().Start();
    TPop3Session& pop = slot.Create();
    pop.Host = host;
    pop.Port = srv().Port();
    pop.UserName = "user";
    pop.Password = "pass";
    pop.ReadTimeout = 3000;
    pop.Security = security;
    if (trustCA) pop.CAFile = ca->CertFile().string();
    return pop;
  }

  static std::unique_ptr<TTempDir> dir;
  static std::unique_ptr<TTestCA> ca, stranger;
  static TCertFiles good, otherHost, expired, foreign;
  TScriptedPop3Server& srv() { return *server; }

  std::unique_ptr<TScriptedPop3Server> server = std::make_unique<TScriptedPop3Server>();
  TPop3SessionSlot slot;
};
std::unique_ptr<TTempDir> TlsSession::dir;
std::unique_ptr<TTestCA> TlsSession::ca, TlsSession::stranger;
TCertFiles TlsSession::good, TlsSession::otherHost, TlsSession::expired, TlsSession::foreign;

// Dot-stuffed lines well beyond one TLS record (16 KB) and one read of the
// line reader (64 KB), so that data waiting inside the TLS layer is read too.
std::string BigMessage(std::vector<std::string>& expect) {
  std::string wire;
  for (int i = 0; i < 6000; ++i) {
    std::string line = (i % 100 == 0 ? "." : "") + std::string("line ") + std::to_string(i) + " " +
                       std::string(40, static_cast<char>('a' + i % 26));
    expect.push_back(line);
    wire += (line[0] == '.' ? "." : "") + line + "\r\n";
  }
  return wire + ".\r\n";
}

TEST_F(TlsSession, ImplicitTlsLogsInAndRetrievesAMessageOfManyRecords) {
  std::vector<std::string> expect;
  srv().StartTls(good.Cert, good.Key).Login().Expect("STAT").Reply("+OK 1 300000").Expect("RETR 1").Reply("+OK")
      .Send(BigMessage(expect));
  TPop3Session& pop = Session(secTls);
  pop.Connect();
  EXPECT_EQ(pop.CheckMessages(), 1);
  TStrings lines;
  ASSERT_TRUE(pop.Retrieve(1, lines));
  EXPECT_EQ(lines, expect);
  pop.Disconnect();
  ASSERT_TRUE(srv().WaitDone());
  EXPECT_THAT(srv().Errors(), IsEmpty());
  EXPECT_THAT(srv().Commands(), ElementsAre("USER user", "PASS pass", "STAT", "RETR 1", "QUIT"));
}

TEST_F(TlsSession, StartTlsSwitchesBeforeTheLogIn) {
  srv().Reply("+OK ready").Expect("STLS").Reply("+OK Begin TLS negotiation").StartTls(good.Cert, good.Key)
      .Expect("USER user").Reply("+OK").Expect("PASS pass").Reply("+OK").Expect("STAT").Reply("+OK 0 0");
  TPop3Session& pop = Session(secStartTls, "localhost");
  pop.Connect();
  EXPECT_EQ(pop.CheckMessages(), 0);
  pop.Disconnect();
  ASSERT_TRUE(srv().WaitDone());
  EXPECT_THAT(srv().Errors(), IsEmpty());
  EXPECT_THAT(srv().Commands(), ElementsAre("STLS", "USER user", "PASS pass", "STAT", "QUIT"));
}

struct TFailCase {
  const char* name;
  TSecurity security;
  const char* host;
  bool trustCA;
  std::function<void(TScriptedPop3Server&)> script;
  const char* reason;        // part of the ETlsError's message
  const char* serverError;   // part of the server's first error, or "" for none
};

TEST_F(TlsSession, FailuresOfTheSecureConnectionSendNoLogIn) {
  const std::vector<TFailCase> cases = {
      {"CA not trusted", secTls, "127.0.0.1", false,
       [](TScriptedPop3Server& s) { s.StartTls(good.Cert, good.Key).Login(); },
       "certificate verify failed: unable to get local issuer certificate", "TLS handshake failed"},
      {"certificate of another CA", secTls, "127.0.0.1", true,
       [](TScriptedPop3Server& s) { s.StartTls(foreign.Cert, foreign.Key).Login(); },
       "certificate verify failed: unable to get local issuer certificate", "TLS handshake failed"},
      {"certificate for another address", secTls, "127.0.0.1", true,
       [](TScriptedPop3Server& s) { s.StartTls(otherHost.Cert, otherHost.Key).Login(); },
       "certificate verify failed: IP address mismatch", "TLS handshake failed"},
      {"certificate for another name", secStartTls, "localhost", true,
       [](TScriptedPop3Server& s) {
         s.Reply("+OK ready").Expect("STLS").Reply("+OK").StartTls(otherHost.Cert, otherHost.Key).Login();
       },
       "certificate verify failed: hostname mismatch", "TLS handshake failed"},
      {"expired certificate", secTls, "127.0.0.1", true,
       [](TScriptedPop3Server& s) { s.StartTls(expired.Cert, expired.Key).Login(); },
       "certificate verify failed: certificate has expired", "TLS handshake failed"},
      {"STLS refused", secStartTls, "127.0.0.1", true,
       [](TScriptedPop3Server& s) { s.Reply("+OK ready").Expect("STLS").Reply("-ERR Command not available"); },
       "the server refused STLS: Command not available", ""},
      {"plain data after the STLS reply", secStartTls, "127.0.0.1", true,
       [](TScriptedPop3Server& s) { s.Reply("+OK ready").Expect("STLS").Send("+OK go ahead\r\n+OK injected\r\n"); },
       "the server sent unexpected data after its STLS reply", ""},
      {"plain server on a TLS port", secTls, "127.0.0.1", true,
       [](TScriptedPop3Server& s) { s.Login(); }, "wrong version number", ""},
      {"server leaving in the handshake", secTls, "127.0.0.1", true,
       [](TScriptedPop3Server& s) { s.Close(); }, "the server closed the connection during the handshake", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.script(Fresh());
    TPop3Session& pop = Session(c.security, c.host, c.trustCA);
    try {
      pop.Connect();
      ADD_FAILURE() << "connected";
    } catch (const ETlsError& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.reason));
    } catch (const std::exception& e) {
      ADD_FAILURE() << "not a TLS failure: " << e.what();
    }
    EXPECT_FALSE(pop.Connected());
    slot.Release();
    ASSERT_TRUE(srv().WaitDone());
    for (const auto& cmd : srv().Commands()) {
      EXPECT_NE(cmd.rfind("USER", 0), 0u) << cmd;
      EXPECT_NE(cmd.rfind("PASS", 0), 0u) << cmd;
    }
    if (*c.serverError) {
      ASSERT_FALSE(srv().Errors().empty());
      EXPECT_THAT(srv().Errors().front(), HasSubstr(c.serverError));
    }
  }
}

// The server ends the TLS connection, with or without close_notify: the read
// fails as a closed connection and the session knows it is no longer open, so
// the disconnect sends nothing.
TEST_F(TlsSession, ServerEndingTheConnectionIsAClosedConnection) {
  for (bool withCloseNotify : {true, false}) {
    SCOPED_TRACE(withCloseNotify ? "close_notify" : "bare close");
    Fresh().StartTls(good.Cert, good.Key).Login().Expect("STAT");
    if (withCloseNotify) srv().HalfClose();
    else srv().Close();
    TPop3Session& pop = Session(secTls);
    pop.Connect();
    try {
      pop.CheckMessages();
      ADD_FAILURE() << "STAT answered";
    } catch (const ENetFailure& e) {
      EXPECT_STREQ(e.what(), kClosedByPeer);
    }
    EXPECT_FALSE(pop.Connected());
    pop.Disconnect();
    slot.Release();
    ASSERT_TRUE(srv().WaitDone());
    EXPECT_EQ(srv().Commands().back(), "STAT");
  }
}

TEST_F(TlsSession, UnreadableCAFileIsATlsFailure) {
  srv().StartTls(good.Cert, good.Key).Login();
  TPop3Session& pop = Session(secTls);
  pop.CAFile = (dir->Path() / "missing.crt").string();
  try {
    pop.Connect();
    ADD_FAILURE() << "connected";
  } catch (const ETlsError& e) {
    EXPECT_THAT(e.what(), HasSubstr("cannot load the CA file"));
    EXPECT_THAT(e.what(), HasSubstr("missing.crt"));
  }
  slot.Release();
  ASSERT_TRUE(srv().WaitDone());
  EXPECT_THAT(srv().Commands(), IsEmpty());
}

}  // namespace
}  // namespace qnb::test
