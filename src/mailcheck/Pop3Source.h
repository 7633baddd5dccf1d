#pragma once
// The POP3 mailbox of an account check: STAT, UIDL, "TOP n 0" and RETR.

#include "mailcheck/MailSource.h"
#include "mailcheck/Pop3Session.h"

namespace qnb {

class TPop3Source final : public TMailSource {
 public:
  // Session settings (host, port, log-in, security, time-outs) are set on
  // Session() before Connect.
  TPop3Source() = default;
  TPop3Session& Session() { return session_; }

  void Connect(int connectTimeoutMs) override { session_.Connect(connectTimeoutMs); }
  int CheckMessages() override { return count_ = session_.CheckMessages(); }
  // A listing longer than the message count is a server's fault.
  bool List(TStrings& dest) override { return session_.UIDL(dest, count_ > 0 ? static_cast<size_t>(count_) : SIZE_MAX); }
  bool Pipelining() override { return session_.Pipelining(); }
  size_t QueueRequest(bool whole, int n) override;
  void Flush() override { session_.Flush(); }
  bool ReadAnswer(bool whole, int n, TStrings& lines, size_t room = SIZE_MAX) override;
  bool ReadMailAnswer(int /*n*/, TMailLines& mail, size_t room = SIZE_MAX) override {
    return session_.ReadRetrieveAnswer(mail, room);
  }
  size_t MaxAnswerBytes(bool whole) const override {
    return whole ? session_.MaxMailBytes : session_.MaxHeaderBytes;
  }
  bool AnswerArrived() override { return session_.AnswerArrived(); }
  bool Connected() override { return session_.Connected(); }
  void Disconnect() override { session_.Disconnect(); }

 private:
  TPop3Session session_;
  int count_ = 0;
};

}  // namespace qnb
