#include "settings/ProviderPresets.h"

#include <algorithm>
#include <cctype>

namespace qnb {

namespace {

struct TDomainRow {
  const char* Domains;  // blank-separated
  TProviderPreset Preset;
};

// The providers' published settings for mail programs.
const TDomainRow kPresets[] = {
    {"gmail.com googlemail.com", {"POP3", "pop.gmail.com", 995, secTls, true, "Gmail"}},
    {"gmail.com googlemail.com", {"IMAP", "imap.gmail.com", 993, secTls, true, "Gmail"}},
    {"outlook.com hotmail.com live.com msn.com", {"POP3", "outlook.office365.com", 995, secTls, true, "Outlook.com"}},
    {"outlook.com hotmail.com live.com msn.com", {"IMAP", "outlook.office365.com", 993, secTls, true, "Outlook.com"}},
    {"yahoo.com ymail.com rocketmail.com", {"POP3", "pop.mail.yahoo.com", 995, secTls, true, "Yahoo Mail"}},
    {"yahoo.com ymail.com rocketmail.com", {"IMAP", "imap.mail.yahoo.com", 993, secTls, true, "Yahoo Mail"}},
    {"aol.com", {"POP3", "pop.aol.com", 995, secTls, true, "AOL Mail"}},
    {"aol.com", {"IMAP", "imap.aol.com", 993, secTls, true, "AOL Mail"}},
    // iCloud offers no POP3.
    {"icloud.com me.com mac.com", {"IMAP", "imap.mail.me.com", 993, secTls, true, "iCloud Mail"}},
    {"gmx.com", {"POP3", "pop.gmx.com", 995, secTls, false, "GMX"}},
    {"gmx.com", {"IMAP", "imap.gmx.com", 993, secTls, false, "GMX"}},
    {"gmx.net gmx.de gmx.at gmx.ch", {"POP3", "pop.gmx.net", 995, secTls, false, "GMX"}},
    {"gmx.net gmx.de gmx.at gmx.ch", {"IMAP", "imap.gmx.net", 993, secTls, false, "GMX"}},
    {"web.de", {"POP3", "pop3.web.de", 995, secTls, false, "WEB.DE"}},
    {"web.de", {"IMAP", "imap.web.de", 993, secTls, false, "WEB.DE"}},
    {"mail.com", {"POP3", "pop.mail.com", 995, secTls, false, "mail.com"}},
    {"mail.com", {"IMAP", "imap.mail.com", 993, secTls, false, "mail.com"}},
    {"t-online.de", {"POP3", "securepop.t-online.de", 995, secTls, true, "T-Online"}},
    {"t-online.de", {"IMAP", "secureimap.t-online.de", 993, secTls, true, "T-Online"}},
    {"yandex.com yandex.ru", {"POP3", "pop.yandex.com", 995, secTls, true, "Yandex Mail"}},
    {"yandex.com yandex.ru", {"IMAP", "imap.yandex.com", 993, secTls, true, "Yandex Mail"}},
    {"zoho.com zohomail.com", {"POP3", "pop.zoho.com", 995, secTls, true, "Zoho Mail"}},
    {"zoho.com zohomail.com", {"IMAP", "imap.zoho.com", 993, secTls, true, "Zoho Mail"}},
    {"fastmail.com fastmail.fm", {"POP3", "pop.fastmail.com", 995, secTls, true, "Fastmail"}},
    {"fastmail.com fastmail.fm", {"IMAP", "imap.fastmail.com", 993, secTls, true, "Fastmail"}},
    {"comcast.net", {"POP3", "mail.comcast.net", 995, secTls, false, "Xfinity"}},
    {"comcast.net", {"IMAP", "imap.comcast.net", 993, secTls, false, "Xfinity"}},
};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

bool HasDomain(const char* domains, const std::string& domain) {
  const std::string list = std::string(" ") + domains + " ";
  return list.find(" " + domain + " ") != std::string::npos;
}

}  // namespace

const TProviderPreset* FindPreset(const std::string& address, const std::string& protocol) {
  const auto at = address.rfind('@');
  std::string domain = Lower(at == std::string::npos ? address : address.substr(at + 1));
  while (!domain.empty() && (domain.back() == ' ' || domain.back() == '.')) domain.pop_back();
  if (domain.empty() || domain.find(' ') != std::string::npos) return nullptr;
  for (const auto& row : kPresets)
    if (protocol == row.Preset.Protocol && HasDomain(row.Domains, domain)) return &row.Preset;
  return nullptr;
}

const TProviderPreset* PresetOfHost(const std::string& host) {
  const std::string h = Lower(host);
  for (const auto& row : kPresets)
    if (h == row.Preset.Host) return &row.Preset;
  return nullptr;
}

std::string AppPasswordHint(const TProviderPreset& preset) {
  return std::string(preset.Provider) +
         " takes an app password from mail programs, not the password of the web site: create one in the "
         "security settings of the account and type it here.";
}

}  // namespace qnb
