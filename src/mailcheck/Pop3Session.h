#pragma once
// The mail-reading POP3 client of one account check: greeting, USER/PASS,
// STAT, UIDL, "TOP n 0", RETR and QUIT over plain TCP, over TLS from the
// first byte, or after STLS. It never deletes and never uses APOP. All calls
// block; only Disconnect() may come from another thread (the stop request),
// and it makes a blocked connect, handshake or read fail at once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "analysis/MailMessage.h"
#include "analysis/TextUtil.h"
#include "mailcheck/LineReader.h"
#include "mailcheck/Socket.h"
#include "mailcheck/TlsStream.h"
#include "settings/QnbBase.h"

namespace qnb {

// The server answered "-ERR" where "+OK" is required (greeting, USER, PASS,
// STAT). The message is the reply's text lines, each followed by CR LF.
class EPop3ReplyError : public ENetError {
 public:
  explicit EPop3ReplyError(const TStrings& text) : ENetError(JoinCRLF(text)), text_(text) {}
  const TStrings& ReplyText() const { return text_; }

 private:
  TStrings text_;
};

// Text of the failure for an answer that would not end even after the bound.
inline constexpr const char* kAnswerEndless = "The server's answer does not end";

// Text of the failure for a command that holds a line break.
inline constexpr const char* kLineBreakInCommand = "Line break in a command";

// One reply line taken apart.
struct TPop3Reply {
  enum TStatus { rsOK, rsERR, rsUnknown };
  TStatus Status = rsUnknown;
  std::string StatusWord;
  TStrings Text;
};

// Splits a reply line (already trimmed): the status word is its first four
// characters, trimmed, cut to three when the fourth is "-"; the text is the
// rest of the line. "+OK" and "-ERR" are recognised in any letter case.
TPop3Reply SplitReply(std::string_view line);

class TPop3Session {
 public:
  static constexpr int kDefaultPort = 110;
  static constexpr int kReadTimeoutMs = 100000;
  static constexpr int kConnectTimeoutMs = 10000;
  // Bounds of one answer: a header, a whole mail, and the time from its
  // first byte to its last (a slow line of 1 Mbit/s still brings a whole
  // mail of the largest size in time).
  static constexpr size_t kMaxHeaderBytes = size_t(1) << 20;
  static constexpr size_t kMaxMailBytes = size_t(64) << 20;
  static constexpr int kAnswerTimeoutMs = 600000;

  TPop3Session();
  // Closes the connection without sending QUIT.
  ~TPop3Session();
  TPop3Session(const TPop3Session&) = delete;
  TPop3Session& operator=(const TPop3Session&) = delete;

  // Settings, set before Connect.
  std::string Host;
  int Port = kDefaultPort;
  std::string UserName;
  std::string Password;
  int ReadTimeout = kReadTimeoutMs;  // ms, the longest wait for any data
  int AnswerTimeout = kAnswerTimeoutMs;  // ms, the longest time for one answer
  size_t MaxHeaderBytes = kMaxHeaderBytes;
  size_t MaxMailBytes = kMaxMailBytes;
  size_t MaxLineLength = TLineReader::kDefaultMaxLineLength;
  TSecurity Security = secNone;
  std::string CAFile;  // PEM file of CAs trusted besides the system's; may be empty
  // Ask "CAPA" after the log-in. A refused CAPA only means no capabilities.
  bool AskCapabilities = false;

  // Connects, reads the greeting and logs in with USER and PASS: for secTls
  // after the TLS handshake, for secStartTls after STLS and the handshake;
  // then CAPA when AskCapabilities is set. A failure of the secure
  // connection, a refused STLS included, is ETlsError and no USER or PASS has
  // been sent. Any failure disconnects the session and is then passed on
  // unchanged.
  void Connect(int connectTimeoutMs = kConnectTimeoutMs);

  // STAT: the message count. An empty reply text counts as 0.
  int CheckMessages();

  // UIDL without argument: true and the listing lines appended to dest on
  // "+OK"; false on "-ERR". More than maxLines lines (one per message of
  // STAT), or lines holding more than MaxMailBytes, are EAnswerTooLarge.
  bool UIDL(TStrings& dest, size_t maxLines = SIZE_MAX);

  // "TOP n 0": true and the header lines (empty lines skipped, dots left as
  // they came) on "+OK"; false on "-ERR", and the session stays usable. A
  // header over MaxHeaderBytes is EAnswerTooLarge.
  bool RetrieveHeader(int n, TStrings& headerLines);
  bool RetrieveHeader(int n, TMailMessage& msg);

  // RETR n: true and the message lines (dot-unstuffed) appended on "+OK". A
  // mail over MaxMailBytes is EAnswerTooLarge.
  bool Retrieve(int n, TStrings& dest);

  // True while the connection is open and not found closed by the server.
  // Safe from any thread.
  bool Connected();

  // Sends "QUIT" when connected, without waiting for the reply, then closes
  // the connection in every case; a failure to send QUIT is passed on after
  // the close. Safe from any thread.
  void Disconnect();

  const TPop3Reply& LastReply() const { return lastReply_; }

  // The CAPA listing of the log-in (empty when not asked or refused), and
  // whether it announces PIPELINING (RFC 2449).
  const TStrings& Capabilities() const { return capabilities_; }
  bool Pipelining() const { return pipelining_; }

  // Pipelined use: commands are collected and go out together on Flush();
  // their answers are then read in the order the commands were queued.
  void QueueCommand(std::string_view cmd);
  void Flush();
  // The answer to a "TOP n 0" / "RETR n" sent earlier, as RetrieveHeader and
  // Retrieve read it; maxBytes below the session's bound keeps less (the
  // answer is then EAnswerTooLarge with its whole size, read to its end).
  bool ReadHeaderAnswer(TStrings& headerLines, size_t maxBytes = SIZE_MAX);
  // True when the next answer has come in whole (a multi-line one up to its
  // closing dot), so that reading it will not wait for the server.
  bool AnswerArrived() const { return reader_.BufferedHasDotLine(); }
  bool ReadRetrieveAnswer(TStrings& dest, size_t maxBytes = SIZE_MAX);
  // The same into one buffer: a big mail is held once.
  bool ReadRetrieveAnswer(TMailLines& dest, size_t maxBytes = SIZE_MAX);

 private:
  void SendCmd(std::string_view cmd);
  // Reads one reply line; throws ENetFailure for an unrecognised status.
  const TPop3Reply& GetReply();
  // GetReply, with "-ERR" turned into EPop3ReplyError.
  void RequireOK(std::string_view cmd);
  // For the commands that accept both answers.
  bool SendAndCheck(std::string_view cmd);
  // The lines up to the closing dot; past maxBytes or maxLines the rest is
  // read and dropped and EAnswerTooLarge thrown.
  template <class TDest>
  void ReadMultiLine(TDest& dest, size_t maxBytes, size_t maxLines, bool unstuff, bool skipEmpty);

  void StartTls();
  void AskCapa();

  TSocket socket_;
  TTlsStream stream_{socket_};
  TLineReader reader_;
  TPop3Reply lastReply_;
  TStrings capabilities_;
  bool pipelining_ = false;
  std::string queued_;  // commands not yet flushed; worker thread only
};

// The worker's reference to its current session. Creation, release and a
// Disconnect() from another thread take one lock, so that the stop request
// never meets a session that is being released.
class TPop3SessionSlot {
 public:
  // A fresh session in the slot (the old one, if any, is released first).
  TPop3Session& Create();
  void Release() noexcept;
  // The session, or nullptr; for the owning thread only.
  TPop3Session* Get() const { return session_.get(); }
  // Any thread: disconnects the session if there is one (Disconnect() may
  // throw). Returns false when the slot is empty.
  bool Disconnect();

 private:
  std::mutex mutex_;
  std::unique_ptr<TPop3Session> session_;
};

inline bool TPop3Session::RetrieveHeader(int n, TMailMessage& msg) {
  TStrings lines;
  if (!RetrieveHeader(n, lines)) return false;
  for (auto& l : lines) msg.AddRawHeaderLine(std::move(l));
  msg.ParseHeaders();
  return true;
}

}  // namespace qnb
