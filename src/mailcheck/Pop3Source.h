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
  int CheckMessages() override { return session_.CheckMessages(); }
  bool List(TStrings& dest) override { return session_.UIDL(dest); }
  bool Pipelining() override { return session_.Pipelining(); }
  size_t QueueRequest(bool whole, int n) override;
  void Flush() override { session_.Flush(); }
  bool ReadAnswer(bool whole, int n, TStrings& lines) override;
  bool Connected() override { return session_.Connected(); }
  void Disconnect() override { session_.Disconnect(); }

 private:
  TPop3Session session_;
};

}  // namespace qnb
