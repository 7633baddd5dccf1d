#include "mailcheck/ConnectionTest.h"

#include <charconv>

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

TConnectionTestResult TPop3Probe::Run(const TMailAccount& a) {
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
  const std::string where = "\"" + a.Host.substr(0, 100) + "\" port " + std::to_string(port);
  TTlsPeerInfo tls;
  TTlsReportScope report(tls);
  TPop3Session& s = slot_.Create();
  if (cancelled_) {
    slot_.Release();
    r.Error = "Stopped";
    return r;
  }
  s.Host = a.Host;
  s.Port = port;
  s.UserName = a.UserName;
  s.Password = a.Password;
  s.Security = a.Security;
  s.ReadTimeout = ReadTimeoutMs;
  s.CAFile = CAFile;
  try {
    s.Connect(ConnectTimeoutMs);
    r.Messages = s.CheckMessages();
    r.Ok = true;
  } catch (const ETlsError& e) {
    r.Error = "The secure connection to " + where + " failed: " + e.what() + CertificateText(tls);
  } catch (const EPop3ReplyError& e) {
    std::string said = Trim(JoinCRLF(e.ReplyText()));
    r.Error = "The server refused the log-in" + (said.empty() ? std::string(".") : ": " + said.substr(0, 200));
    if (const TProviderPreset* p = ProviderOf(a); p && p->NeedsAppPassword) r.Error += "\n" + AppPasswordHint(*p);
  } catch (const ESocketError& e) {
    r.Error = e.Code() < 0 ? "The mail server \"" + a.Host.substr(0, 100) + "\" was not found: " + e.what()
                           : "Cannot connect to " + where + ": " + e.what();
  } catch (const std::exception& e) {
    const std::string what = e.what();
    if (cancelled_) r.Error = "Stopped";
    else if (what == kConnectTimeout)
      r.Error = "No answer from " + where + " within " + std::to_string(ConnectTimeoutMs / 1000) + " s.";
    else r.Error = "The connection to " + where + " failed: " + what;
  }
  if (cancelled_ && !r.Ok) r.Error = "Stopped";
  if (r.Ok) {
    r.Tls = tls.Handshaken ? tls.Protocol + " " + tls.Cipher : "";
    try {
      s.Disconnect();
    } catch (...) {
      // The count is known; a QUIT that could not go changes nothing.
    }
  }
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

std::unique_ptr<TAccountProbe> MakeProbe(const TMailAccount&) { return std::make_unique<TPop3Probe>(); }

}  // namespace qnb
