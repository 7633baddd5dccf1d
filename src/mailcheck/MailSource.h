#pragma once
// What an account check asks of a mailbox: log in, count, list, header of and
// whole mail of a message, and leave. POP3 and IMAP answer it, each over the
// same socket, TLS and line layers, so a stop request cuts either at once.
//
// Requests for headers and whole mails may be queued ahead of their answers:
// QueueRequest collects them, Flush sends them, and ReadAnswer reads the
// answer to the oldest request not yet answered, so answers come back in the
// order the requests were queued.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "analysis/MailLines.h"
#include "analysis/TextUtil.h"
#include "mailcheck/LineReader.h"
#include "mailcheck/Socket.h"

namespace qnb {

// The server refused the log-in (or the greeting). The message is the
// server's text, for "Login failed of account ...".
class ELoginRefused : public ENetError {
 public:
  using ENetError::ENetError;
};

class TMailSource {
 public:
  virtual ~TMailSource() = default;

  // Connects and logs in. Throws ETlsError for the secure connection (no
  // credentials sent), ELoginRefused or the protocol's own refusal for the
  // log-in, ESocketError for the network, anything else for the rest. A
  // failure leaves the source disconnected.
  virtual void Connect(int connectTimeoutMs) = 0;

  // The number of messages in the mailbox. Throws when it cannot be read.
  virtual int CheckMessages() = 0;

  // One line "NUMBER UID" per message, in message order, appended to dest;
  // false when the server refuses the listing.
  virtual bool List(TStrings& dest) = 0;

  // True when requests may be sent before the answers to earlier ones.
  virtual bool Pipelining() = 0;

  // Queues the request for the header (whole = false) or the whole mail of
  // message n (1-based, as in List); returns the bytes it will send.
  virtual size_t QueueRequest(bool whole, int n) = 0;
  virtual void Flush() = 0;
  // The answer to the oldest request not yet answered, which is (whole, n):
  // true and the lines (a header without its empty lines) appended, or false
  // when the server refuses it; the source stays usable after a refusal. An
  // answer of more than room bytes, or past the source's own bound, is read
  // to its end and thrown as EAnswerTooLarge, so the source stays in step.
  virtual bool ReadAnswer(bool whole, int n, TStrings& lines, size_t room = SIZE_MAX) = 0;
  // ReadAnswer for a whole mail, into one buffer: a big mail is held once.
  virtual bool ReadMailAnswer(int n, TMailLines& mail, size_t room = SIZE_MAX) = 0;
  // The source's own bound for a header (whole false) or a whole mail.
  virtual size_t MaxAnswerBytes(bool whole) const = 0;
  // True when the answer to the oldest request has arrived whole, so that
  // reading it will not wait for the server.
  virtual bool AnswerArrived() { return false; }

  // For a mailbox whose UIDs hold only within an epoch (IMAP's UIDVALIDITY):
  // the current one, read by List, which starts each UID with it and a dot.
  // Empty when UIDs last for ever (POP3).
  virtual std::string UidEpoch() { return {}; }

  // True while the connection is open. Any thread.
  virtual bool Connected() = 0;
  // Logs out without waiting for the answer and closes the connection in
  // every case; a failure to send the log-out is passed on after the close.
  // Any thread: a blocked call in the worker fails at once.
  virtual void Disconnect() = 0;
};

// The worker's reference to its current source. Creation, release and a
// Disconnect() from another thread take one lock, so that the stop request
// never meets a source that is being released.
class TMailSourceSlot {
 public:
  // Puts source in the slot (the old one, if any, is released first).
  TMailSource& Set(std::unique_ptr<TMailSource> source);
  void Release() noexcept;
  // The source, or nullptr; for the owning thread only.
  TMailSource* Get() const { return source_.get(); }
  // Any thread: disconnects the source if there is one (Disconnect() may
  // throw). Returns false when the slot is empty.
  bool Disconnect();

 private:
  std::mutex mutex_;
  std::unique_ptr<TMailSource> source_;
};

}  // namespace qnb
