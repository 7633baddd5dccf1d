#pragma once
// An IMAP server that plays a script, for what a real server will not do: a
// BYE in the middle of a fetch, an EXPUNGE during a fetch, a changed
// UIDVALIDITY, a literal cut short, NO and BAD answers, no IDLE. It is the
// scripted POP3 server's line engine with IMAP's steps on top; the client's
// tags are Q1, Q2, ... in command order, so scripts name them.
//
//   TScriptedImapServer srv;
//   srv.Login().Examine("INBOX", 7, {101, 102}).Logout();
//   srv.Start();

#include <cstdint>
#include <string>
#include <vector>

#include "support/ScriptedPop3Server.h"

namespace qnb::test {

class TScriptedImapServer {
 public:
  TScriptedImapServer() = default;
  int Port() const { return srv_.Port(); }
  TScriptedPop3Server& Raw() { return srv_; }

  // The tag the client gives its next command.
  std::string Tag() const { return "Q" + std::to_string(tag_); }
  // The next command must be `command` (tag added); then `lines` are sent
  // (each + CR LF), the last one usually the tagged end: use Done().
  TScriptedImapServer& Expect(const std::string& command);
  TScriptedImapServer& Reply(const std::string& line);
  TScriptedImapServer& Send(const std::string& raw);
  // The tagged end of the command last expected: "OK", "NO ...", "BAD ...".
  TScriptedImapServer& Done(const std::string& status = "OK done");

  // Greeting, CAPABILITY (caps, IDLE among them by default), LOGIN accepted
  // and CAPABILITY again.
  TScriptedImapServer& Login(const std::string& user = "user", const std::string& pass = "pass",
                             const std::string& caps = "IMAP4rev1 IDLE");
  // EXAMINE folder answered with EXISTS and UIDVALIDITY, then the UID list.
  TScriptedImapServer& Examine(const std::string& folder, uint32_t uidValidity, const std::vector<uint32_t>& uids);
  // The header fetch of uid (message number n) answered with header.
  TScriptedImapServer& Header(int n, uint32_t uid, const std::string& header);
  // Header fetches sent together go out as one command for the set of UIDs:
  // (n, uid, header) each, answered in this order.
  struct THeader {
    int n;
    uint32_t uid;
    std::string header;
  };
  TScriptedImapServer& Headers(const std::vector<THeader>& headers);
  // The whole-mail fetch of uid answered with mail.
  TScriptedImapServer& Whole(int n, uint32_t uid, const std::string& mail);
  // LOGOUT expected; the client does not wait for its answer, so none is sent.
  TScriptedImapServer& Logout();
  TScriptedImapServer& Close() {
    srv_.Close();
    return *this;
  }

  void Start() { srv_.Start(); }
  bool WaitDone(int timeoutMs = 5000) { return srv_.WaitDone(timeoutMs); }
  std::vector<std::string> Commands() const { return srv_.Commands(); }
  std::vector<std::string> Errors() const { return srv_.Errors(); }

 private:
  TScriptedPop3Server srv_;
  int tag_ = 1;
  std::string last_;  // tag of the command last expected
};

// "{n}\r\n" + data: data as an IMAP literal.
std::string ImapLiteral(const std::string& data);

}  // namespace qnb::test
