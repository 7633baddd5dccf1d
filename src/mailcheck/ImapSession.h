#pragma once
// The read-only IMAP4rev1 client of an account check and of the IDLE watch:
// greeting, STARTTLS, CAPABILITY, LOGIN, EXAMINE, UID FETCH with BODY.PEEK,
// LIST, IDLE and LOGOUT, over plain TCP, TLS from the first byte, or after
// STARTTLS. Nothing that changes the mailbox is ever sent: the folder is
// opened with EXAMINE and bodies are fetched with BODY.PEEK, so no flag is set.
// All calls block; only Disconnect() may come from another thread, and it
// makes a blocked connect, handshake or read fail at once.

#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/TextUtil.h"
#include "mailcheck/ImapParser.h"
#include "mailcheck/LineReader.h"
#include "mailcheck/MailSource.h"
#include "mailcheck/Socket.h"
#include "mailcheck/TlsStream.h"
#include "settings/QnbBase.h"

namespace qnb {

// The server answered NO or BAD to a command that must succeed (EXAMINE,
// LIST, IDLE). The message is the server's text.
class EImapRefused : public ENetError {
 public:
  using ENetError::ENetError;
};

class TImapSession {
 public:
  static constexpr int kDefaultPort = 143;
  static constexpr int kReadTimeoutMs = 100000;
  static constexpr int kConnectTimeoutMs = 10000;

  TImapSession();
  ~TImapSession();
  TImapSession(const TImapSession&) = delete;
  TImapSession& operator=(const TImapSession&) = delete;

  // Settings, set before Connect.
  std::string Host;
  int Port = kDefaultPort;
  std::string UserName;
  std::string Password;
  int ReadTimeout = kReadTimeoutMs;
  TSecurity Security = secNone;
  std::string CAFile;
  TImapLimits Limits;

  // Connects, reads the greeting, secures the connection as Security says,
  // reads the capabilities and logs in with LOGIN (not for a PREAUTH
  // greeting), then reads the capabilities again. A failure of the secure
  // connection, a refused STARTTLS included, is ETlsError and no credentials
  // have been sent; a BYE greeting or a refused LOGIN is ELoginRefused. Any
  // failure disconnects the session and is then passed on.
  void Connect(int connectTimeoutMs = kConnectTimeoutMs);

  // Upper-case capability names; "IDLE" and so on.
  bool HasCapability(std::string_view upperName) const { return caps_.count(std::string(upperName)) != 0; }

  // EXAMINE folder: read only. Afterwards Exists() and UidValidity() hold
  // what the server said. NO or BAD is EImapRefused.
  void Examine(const std::string& folder);
  int Exists() const { return exists_; }
  uint32_t UidValidity() const { return uidValidity_; }

  // The UIDs of all messages of the folder, in message order ("UID FETCH
  // 1:* (UID)"). False when the server refuses.
  bool FetchUids(std::vector<uint32_t>& uids);

  // Pipelined fetches: queued, sent together on Flush, answered in order.
  // The header is BODY.PEEK[HEADER], the whole mail BODY.PEEK[]; header
  // fetches queued one after another go out as one command for a set of
  // UIDs. Returns the bytes the request adds to the commands.
  size_t QueueFetch(uint32_t uid, bool whole);
  void Flush();
  // The answer to the oldest queued fetch: true and the literal's bytes, or
  // false when the server refused it or sent no such message (expunged).
  bool ReadFetch(std::string& data);

  // The folders of the account (LIST "" "*"), as the server names them.
  std::vector<std::string> ListFolders();

  // IDLE (RFC 2177): StartIdle sends IDLE and waits for the go-ahead;
  // WaitIdle reads what the server reports until the time-out (false) or an
  // EXISTS that raises the message count, i.e. new mail (true);
  // StopIdle sends DONE and reads the command's end.
  void StartIdle();
  bool WaitIdle(int timeoutMs);
  void StopIdle();

  bool Connected();
  // Sends LOGOUT when connected, without waiting for the answer, then closes
  // the connection. Any thread.
  void Disconnect();

 private:
  class TInput;
  std::string NextTag();
  void Send(const std::string& line);
  // Reads one response, handling what every untagged response means for
  // the session (EXISTS, EXPUNGE, CAPABILITY, FETCH data, BYE).
  TImapResponse Read();
  // Runs a command to its end; the tagged response.
  TImapResponse Command(const std::string& args);
  // Sends verb with string arguments, each quoted or, where it must be, sent
  // as a synchronising literal.
  TImapResponse CommandWithStrings(const std::string& verb, const std::vector<std::string>& strings);
  void ReadCapabilities(const std::string& text);
  void StartTls();

  TSocket socket_;
  TTlsStream stream_{socket_};
  TLineReader reader_;
  std::unique_ptr<TInput> input_;
  unsigned tagCounter_ = 0;
  std::set<std::string> caps_;
  int exists_ = 0;
  uint32_t uidValidity_ = 0;
  std::string queued_;
  struct TPending {
    std::string tag;
    uint32_t uid;
    bool whole;
  };
  static constexpr size_t kMaxHeaderSet = 256;  // UIDs in one header fetch
  void CloseHeaderSet();
  // Counts a fetch of the command `tag` as answered.
  void Answered(const std::string& tag);
  std::deque<TPending> pending_;  // in queue order
  std::vector<uint32_t> headerSet_;  // header fetches not yet written, under headerTag_
  std::string headerTag_;
  std::map<std::string, size_t> unanswered_;  // tag -> fetches of the command not yet read
  std::map<std::string, std::string> done_;   // tag -> status, for commands with fetches not yet read
  std::map<uint32_t, std::string> fetched_[2];  // [whole] uid -> bytes, until taken
  std::vector<std::string>* listing_ = nullptr;  // LIST names while listing
  std::vector<std::pair<uint32_t, uint32_t>>* uidListing_ = nullptr;  // (number, UID) while listing
  std::string idleTag_;
  bool grew_ = false;  // an EXISTS raised the count
};

// The IMAP mailbox of an account check: EXAMINE for the count, the UIDs as
// "NUMBER UIDVALIDITY.UID" lines, BODY.PEEK fetches for headers and mails.
class TImapSource final : public TMailSource {
 public:
  TImapSource() = default;
  TImapSession& Session() { return session_; }
  std::string Folder = kDefaultFolder;

  void Connect(int connectTimeoutMs) override { session_.Connect(connectTimeoutMs); }
  int CheckMessages() override;
  bool List(TStrings& dest) override;
  bool Pipelining() override { return true; }  // every IMAP server takes commands ahead
  size_t QueueRequest(bool whole, int n) override;
  void Flush() override { session_.Flush(); }
  bool ReadAnswer(bool whole, int n, TStrings& lines, size_t room = SIZE_MAX) override;
  bool ReadMailAnswer(int n, TMailLines& mail, size_t room = SIZE_MAX) override;
  // The bounds of a POP3 account's answers hold here too.
  size_t MaxAnswerBytes(bool whole) const override { return whole ? size_t(64) << 20 : size_t(1) << 20; }
  std::string UidEpoch() override { return std::to_string(session_.UidValidity()); }
  bool Connected() override { return session_.Connected(); }
  void Disconnect() override { session_.Disconnect(); }

 private:
  // The next fetch answer; one past the bound is EAnswerTooLarge.
  bool ReadFetch(bool whole, std::string& data, size_t room);

  TImapSession session_;
  std::vector<uint32_t> uids_;
};

// A mail's bytes as lines: split at LF, a CR before it dropped; a last line
// without LF still counts. skipEmpty drops the empty lines (a header).
TStrings SplitMailLines(const std::string& data, bool skipEmpty);

}  // namespace qnb
