#include "mailcheck/ConnectionTest.h"

#include <charconv>

#include "mailcheck/ImapSession.h"
#include "mailcheck/TlsStream.h"
#include "settings/ProviderPresets.h"

namespace qnb {

namespace {

int PortOf(const std::string& text) {
  int v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < 1 || v > 65535) return 0;
  return v;
}

// "TLSv1.3" -> "TLS 1.3"
std::string ProtocolName(const std::string& tls) {
  const auto blank = tls.find(' ');
  std::string p = tls.substr(0, blank);
  if (p.rfind("TLSv", 0) == 0) p = "TLS " + p.substr(4);
  return p;
}

std::string CertificateText(const TTlsPeerInfo& info) {
  if (!info.HaveCertificate) return {};
  return "\nCertificate: " + info.Subject + "\nIssued by: " + info.Issuer + "\nValid from " + info.NotBefore +
         " to " + info.NotAfter;
}

const TProviderPreset* ProviderOf(const TMailAccount& a) {
  if (const TProviderPreset* p = PresetOfHost(a.Host)) return p;
  return a.UserName.find('@') != std::string::npos ? FindPreset(a.UserName) : nullptr;
}

}  // namespace

std::string GroupedNumber(long long n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::string ResultText(const TConnectionTestResult& r) {
  if (!r.Ok) return r.Error;
  const std::string count = GroupedNumber(r.Messages) + (r.Messages == 1 ? " message" : " messages");
  if (r.Tls.empty()) return "Connected without encryption, " + count;
  return "Connected over " + ProtocolName(r.Tls) + ", " + count;
}

namespace {

// What the probes share: the account's checks, the TLS report, and the words
// for each failure. connectAndCount logs in and returns the message count;
// quit ends a session that worked.
template <class TConnect, class TQuit>
TConnectionTestResult Probe(const TMailAccount& a, const TAccountProbe& probe, const std::atomic<bool>& cancelled,
                            TConnect connectAndCount, TQuit quit) {
  TConnectionTestResult r;
  const int port = PortOf(a.Port);
  if (a.Host.empty()) {
    r.Error = "No mail server is given.";
    return r;
  }
  if (port == 0) {
    r.Error = "The port \"" + a.Port.substr(0, 20) + "\" is no number from 1 to 65535.";
    return r;
  }
  if (cancelled) {
    r.Error = "Stopped";
    return r;
  }
  const std::string where = "\"" + a.Host.substr(0, 100) + "\" port " + std::to_string(port);
  auto refused = [&](const std::string& text) {
    const std::string said = Trim(text);
    r.Error = "The server refused the log-in" + (said.empty() ? std::string(".") : ": " + said.substr(0, 200));
    if (const TProviderPreset* p = ProviderOf(a); p && p->NeedsAppPassword) r.Error += "\n" + AppPasswordHint(*p);
  };
  TTlsPeerInfo tls;
  TTlsReportScope report(tls);
  try {
    r.Messages = connectAndCount(port);
    r.Ok = true;
  } catch (const ETlsError& e) {
    r.Error = "The secure connection to " + where + " failed: " + e.what() + CertificateText(tls);
  } catch (const EPop3ReplyError& e) {
    refused(JoinCRLF(e.ReplyText()));
  } catch (const ELoginRefused& e) {
    refused(e.what());
  } catch (const EImapRefused& e) {
    r.Error = "The server refused the folder \"" + a.Folder.substr(0, 100) + "\": " + std::string(e.what()).substr(0, 200);
  } catch (const ESocketError& e) {
    r.Error = e.Code() < 0 ? "The mail server \"" + a.Host.substr(0, 100) + "\" was not found: " + e.what()
                           : "Cannot connect to " + where + ": " + e.what();
  } catch (const std::exception& e) {
    const std::string what = e.what();
    if (cancelled) r.Error = "Stopped";
    else if (what == kConnectTimeout)
      r.Error = "No answer from " + where + " within " + std::to_string(probe.ConnectTimeoutMs / 1000) + " s.";
    else r.Error = "The connection to " + where + " failed: " + what;
  }
  if (cancelled && !r.Ok) r.Error = "Stopped";
  if (r.Ok) {
    r.Tls = tls.Handshaken ? tls.Protocol + " " + tls.Cipher : "";
    try {
      quit();
    } catch (...) {
      // The count is known; a log-out that could not go changes nothing.
    }
  }
  return r;
}

// Both sessions take the same settings before they connect.
template <class TSession>
void ConnectSession(TSession& s, const TMailAccount& a, int port, const TAccountProbe& probe) {
  s.Host = a.Host;
  s.Port = port;
  s.UserName = a.UserName;
  s.Password = a.Password;
  s.Security = a.Security;
  s.ReadTimeout = probe.ReadTimeoutMs;
  s.CAFile = probe.CAFile;
  s.Connect(probe.ConnectTimeoutMs);
}

}  // namespace

TConnectionTestResult TPop3Probe::Run(const TMailAccount& a) {
  TPop3Session& s = slot_.Create();
  TConnectionTestResult r = Probe(
      a, *this, cancelled_,
      [&](int port) {
        ConnectSession(s, a, port, *this);
        return s.CheckMessages();
      },
      [&] { s.Disconnect(); });
  slot_.Release();
  return r;
}

void TPop3Probe::Cancel() {
  cancelled_ = true;
  try {
    slot_.Disconnect();
  } catch (...) {
  }
}

TConnectionTestResult TImapProbe::Run(const TMailAccount& a) {
  TImapSession s;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = &s;
  }
  TConnectionTestResult r = Probe(
      a, *this, cancelled_,
      [&](int port) {
        ConnectSession(s, a, port, *this);
        // Read only, like every check: EXAMINE sets no flag.
        s.Examine(a.Folder.empty() ? std::string(kDefaultFolder) : a.Folder);
        return s.Exists();
      },
      [&] { s.Disconnect(); });
  std::lock_guard<std::mutex> lock(mutex_);
  session_ = nullptr;
  return r;
}

void TImapProbe::Cancel() {
  cancelled_ = true;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!session_) return;
  try {
    session_->Disconnect();
  } catch (...) {
  }
}

std::unique_ptr<TAccountProbe> MakeProbe(const TMailAccount& account) {
  if (account.Protocol == protoImap) return std::make_unique<TImapProbe>();
  return std::make_unique<TPop3Probe>();
}

}  // namespace qnb
