#pragma once
// "Test connection": connects to an account's server, logs in, counts the
// messages and logs out, changing nothing. The failure says what helps: the
// certificate for a TLS failure, the app-password hint for a refused log-in at
// a provider that wants one. One probe per protocol behind one interface.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "mailcheck/Pop3Session.h"
#include "settings/QnbBase.h"

namespace qnb {

struct TConnectionTestResult {
  bool Ok = false;
  int Messages = 0;
  std::string Tls;    // negotiated protocol and cipher ("TLSv1.3 TLS_AES_256_GCM_SHA384"); "" for plain
  std::string Error;  // the failure, lines apart; "" when ok
};

// "1,234"
std::string GroupedNumber(long long n);
// "Connected over TLS 1.3, 1,234 messages", "Connected without encryption,
// 3 messages", or the error.
std::string ResultText(const TConnectionTestResult& r);

class TImapSession;

class TAccountProbe {
 public:
  virtual ~TAccountProbe() = default;
  // Blocks until done, failed or cancelled.
  virtual TConnectionTestResult Run(const TMailAccount& account) = 0;
  // Any thread: makes a running Run end at once.
  virtual void Cancel() = 0;

  int ConnectTimeoutMs = TPop3Session::kConnectTimeoutMs;
  int ReadTimeoutMs = 30000;
  std::string CAFile;  // PEM file of CAs trusted besides the system's
};

class TPop3Probe final : public TAccountProbe {
 public:
  TConnectionTestResult Run(const TMailAccount& account) override;
  void Cancel() override;

 private:
  TPop3SessionSlot slot_;
  std::atomic<bool> cancelled_{false};
};

class TImapProbe final : public TAccountProbe {
 public:
  TConnectionTestResult Run(const TMailAccount& account) override;
  void Cancel() override;

 private:
  std::mutex mutex_;
  TImapSession* session_ = nullptr;  // while Run goes on
  std::atomic<bool> cancelled_{false};
};

// The probe for the account's protocol.
std::unique_ptr<TAccountProbe> MakeProbe(const TMailAccount& account);

}  // namespace qnb
