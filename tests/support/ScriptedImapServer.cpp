#include "support/ScriptedImapServer.h"

namespace qnb::test {

std::string ImapLiteral(const std::string& data) { return "{" + std::to_string(data.size()) + "}\r\n" + data; }

TScriptedImapServer& TScriptedImapServer::Expect(const std::string& command) {
  last_ = Tag();
  ++tag_;
  srv_.Expect(last_ + " " + command);
  return *this;
}

TScriptedImapServer& TScriptedImapServer::Reply(const std::string& line) {
  srv_.Reply(line);
  return *this;
}

TScriptedImapServer& TScriptedImapServer::Send(const std::string& raw) {
  srv_.Send(raw);
  return *this;
}

TScriptedImapServer& TScriptedImapServer::Done(const std::string& status) { return Reply(last_ + " " + status); }

TScriptedImapServer& TScriptedImapServer::Login(const std::string& user, const std::string& pass,
                                                const std::string& caps) {
  Reply("* OK [CAPABILITY " + caps + "] scripted server ready");
  Expect("LOGIN \"" + user + "\" \"" + pass + "\"").Done("OK logged in");
  return Expect("CAPABILITY").Reply("* CAPABILITY " + caps).Done();
}

TScriptedImapServer& TScriptedImapServer::Examine(const std::string& folder, uint32_t uidValidity,
                                                  const std::vector<uint32_t>& uids) {
  Expect("EXAMINE \"" + folder + "\"")
      .Reply("* " + std::to_string(uids.size()) + " EXISTS")
      .Reply("* OK [UIDVALIDITY " + std::to_string(uidValidity) + "] UIDs valid")
      .Done("OK [READ-ONLY] examined");
  if (uids.empty()) return *this;
  Expect("UID FETCH 1:* (UID)");
  for (size_t i = 0; i < uids.size(); ++i)
    Reply("* " + std::to_string(i + 1) + " FETCH (UID " + std::to_string(uids[i]) + ")");
  return Done();
}

TScriptedImapServer& TScriptedImapServer::Header(int n, uint32_t uid, const std::string& header) {
  Expect("UID FETCH " + std::to_string(uid) + " (BODY.PEEK[HEADER])");
  Send("* " + std::to_string(n) + " FETCH (UID " + std::to_string(uid) + " BODY[HEADER] " + ImapLiteral(header) +
       ")\r\n");
  return Done();
}

TScriptedImapServer& TScriptedImapServer::Headers(const std::vector<THeader>& headers) {
  std::string set;
  for (const auto& h : headers) set += (set.empty() ? "" : ",") + std::to_string(h.uid);
  Expect("UID FETCH " + set + " (BODY.PEEK[HEADER])");
  for (const auto& h : headers)
    Send("* " + std::to_string(h.n) + " FETCH (UID " + std::to_string(h.uid) + " BODY[HEADER] " +
         ImapLiteral(h.header) + ")\r\n");
  return Done();
}

TScriptedImapServer& TScriptedImapServer::Whole(int n, uint32_t uid, const std::string& mail) {
  Expect("UID FETCH " + std::to_string(uid) + " (BODY.PEEK[])");
  Send("* " + std::to_string(n) + " FETCH (UID " + std::to_string(uid) + " BODY[] " + ImapLiteral(mail) + ")\r\n");
  return Done();
}

TScriptedImapServer& TScriptedImapServer::Logout() {
  // The client closes right after LOGOUT without waiting for the answer; its
  // tag is a fixed one, as a stop request may send it from another thread.
  srv_.Expect("QZ LOGOUT");
  return *this;
}

}  // namespace qnb::test
