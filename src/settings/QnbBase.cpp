#include "settings/QnbBase.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "settings/PasswordStore.h"
#include "settings/Platform.h"
#include "settings/Registry.h"
#include "settings/VrCipher.h"
#include "settings/VrDiag.h"

namespace qnb {

TOptions* AppOption = nullptr;

namespace {

const char* const kOpenFailed = "Can not open registry!";
const char* const kKeyringValue = "keyring";
const std::string kAccountKey = "Account";

std::string Reversed(std::string s) {
  std::reverse(s.begin(), s.end());
  return s;
}

// A missing value or one that is no integer gives the default; another type
// than text counts as missing.
int32_t ReadInt(const TRegistry& reg, const std::string& key, const char* name, int32_t def) {
  std::string text;
  int32_t v;
  if (reg.ReadText(key, name, text) == TReadResult::Ok && TryStrToInt(text, v)) return v;
  return def;
}

bool ReadBool(const TRegistry& reg, const std::string& key, const char* name, bool def) {
  return ReadInt(reg, key, name, def ? 1 : 0) != 0;
}

const char* BoolText(bool b) { return b ? "1" : "0"; }

// A value this version does not know (a damaged file, a later version) must
// not send the password in the clear: it gets the strictest mode.
TSecurity SecurityOf(const std::string& text) {
  int32_t v;
  if (!TryStrToInt(text, v)) return secTls;
  switch (v) {
    case secNone: return secNone;
    case secStartTls: return secStartTls;
    default: return secTls;
  }
}

// One account subkey; false drops the account (a value of another type than
// text, or a password that does not decode).
bool ReadAccount(const TRegistry& reg, const std::string& name, TMailAccount& acc) {
  const std::string key = kAccountKey + "\\" + name;
  auto text = [&](const char* value, const std::string& def, std::string& out) {
    TReadResult r = reg.ReadText(key, value, out);
    if (r == TReadResult::Missing) out = def;
    return r != TReadResult::NotText;
  };
  std::string enabled, password, security, protocol, place;
  if (!text("Account", name, acc.Name) || !text("Host", "", acc.Host) || !text("Port", "110", acc.Port) ||
      !text("UserName", "", acc.UserName) || !text("Password", "", password) || !text("Enabled", "1", enabled) ||
      !text("Security", "0", security) || !text("Protocol", "POP3", protocol) ||
      !text("Folder", kDefaultFolder, acc.Folder) || !text("PasswordStore", "", place))
    return false;
  if (place == kKeyringValue) {
    acc.PasswordStore = ppKeyring;
    // Without the password the account still loads, and its entry is kept: a
    // keyring that has gone away can answer "not found", too.
    std::string error;
    TPasswordStore* store = CurrentPasswordStore();
    acc.PasswordUnread = !store || store->Read(acc.Name, acc.Password, error) != TPasswordStore::TRead::Found;
  } else {
    try {
      acc.Password = DecodePass(password);
    } catch (const ECipherError&) {
      return false;
    }
  }
  int32_t e;
  acc.Enabled = TryStrToInt(enabled, e) ? e != 0 : true;
  acc.Security = SecurityOf(security);
  acc.Protocol = ProtocolOf(protocol);
  if (acc.Folder.empty()) acc.Folder = kDefaultFolder;
  return true;
}

}  // namespace

const char* PasswordPlaceName(TPasswordPlace p) { return p == ppKeyring ? kKeyringValue : "file"; }

const char* SecurityName(TSecurity s) {
  switch (s) {
    case secNone: return "None";
    case secStartTls: return "STARTTLS";
    default: return "SSL/TLS";  // the session, too, takes any other value for TLS
  }
}

const char* ProtocolName(TProtocol p) { return p == protoImap ? "IMAP" : "POP3"; }

TProtocol ProtocolOf(const std::string& text) {
  std::string t = text;
  for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return t == "IMAP" ? protoImap : protoPop3;
}

const char* DefaultPort(TProtocol p, TSecurity s) {
  const bool tls = s != secNone && s != secStartTls;
  if (p == protoImap) return tls ? "993" : "143";
  return tls ? "995" : "110";
}

TOptions::TOptions() : GENERAL_SECTION("GENERAL"), ACCOUNT_SECTION("ACCOUNT") {}

TOptions::~TOptions() { ClearList(AccountList); }

void TOptions::LoadOptions(bool mailClient) {
  TRegistry reg;
  if (!reg.OpenRoot(true)) {
    MBError(kOpenFailed);
    return;
  }
  const std::string& g = GENERAL_SECTION;
  bAutoRun = ReadBool(reg, g, "AutoRun", true);
  bMinToTray = ReadBool(reg, g, "MinToTray", false);
  bCheckPaymentWhenOpening = ReadBool(reg, g, "CheckPaymentWhenOpening", false);
  bCheckPaymentOnSchedule = ReadBool(reg, g, "CheckPaymentOnSchedule", true);
  iCheckPaymentTime = ReadInt(reg, g, "CheckPaymentTime", 10);
  bRememberPayments = ReadBool(reg, g, "RememberPayments", true);
  bDesktopNotify = ReadBool(reg, g, "DesktopNotify", false);
  // The desktop's default mail client is only asked for when it is needed:
  // the lookup starts a program.
  if ((reg.ReadText(g, "MailProgram", sMailProgram) != TReadResult::Ok || sMailProgram.empty()) && mailClient)
    sMailProgram = DefaultMailCommand();

  ClearList(AccountList);
  if (!reg.KeyExists(kAccountKey)) {
    reg.CreateKey(kAccountKey);
    if (!reg.Commit()) {
      MBError(kOpenFailed);
      return;
    }
  }
  FKeyringNames.clear();
  for (const std::string& name : reg.SubKeys(kAccountKey)) {
    auto acc = std::make_unique<TMailAccount>();
    if (!ReadAccount(reg, name, *acc)) continue;
    if (acc->PasswordStore == ppKeyring) FKeyringNames.push_back(acc->Name);
    AccountList.push_back(std::move(acc));
  }
}

void TOptions::StoreOptions() {
  TRegistry reg;
  if (!reg.OpenRoot(true)) {
    MBError(kOpenFailed);
    return;
  }
  const std::string& g = GENERAL_SECTION;
  reg.WriteText(g, "AutoRun", BoolText(bAutoRun));
  reg.WriteText(g, "MinToTray", BoolText(bMinToTray));
  reg.WriteText(g, "CheckPaymentWhenOpening", BoolText(bCheckPaymentWhenOpening));
  reg.WriteText(g, "CheckPaymentOnSchedule", BoolText(bCheckPaymentOnSchedule));
  reg.WriteText(g, "CheckPaymentTime", std::to_string(iCheckPaymentTime));
  reg.WriteText(g, "MailProgram", sMailProgram);
  reg.WriteText(g, "RememberPayments", BoolText(bRememberPayments));
  reg.WriteText(g, "DesktopNotify", BoolText(bDesktopNotify));

  // The whole account key is rebuilt so that no stale subkey survives.
  reg.DeleteKey(kAccountKey);
  reg.CreateKey(kAccountKey);
  TPasswordStore* store = CurrentPasswordStore();
  std::vector<std::string> inKeyring;
  for (size_t i = 0; i < AccountList.size(); ++i) {
    TMailAccount& a = *AccountList[i];
    const std::string key = kAccountKey + "\\" + std::to_string(i);
    reg.WriteText(key, "Account", a.Name);
    reg.WriteText(key, "Host", a.Host);
    reg.WriteText(key, "Port", a.Port);
    reg.WriteText(key, "UserName", a.UserName);
    // A password the keyring holds but did not give out stays there as it is.
    bool keyring = a.PasswordStore == ppKeyring && a.PasswordUnread && a.Password.empty();
    std::string error;
    if (!keyring && store && store->Write(a.Name, a.Password, error)) {
      keyring = true;
      a.PasswordUnread = false;
    }
    if (keyring) {
      reg.WriteText(key, "PasswordStore", kKeyringValue);
      inKeyring.push_back(a.Name);
    } else {
      reg.WriteText(key, "Password", EncodePass(a.Password));
    }
    a.PasswordStore = keyring ? ppKeyring : ppFile;
    reg.WriteText(key, "Enabled", BoolText(a.Enabled));
    reg.WriteText(key, "Security", std::to_string(static_cast<int>(a.Security)));
    reg.WriteText(key, "Protocol", ProtocolName(a.Protocol));
    reg.WriteText(key, "Folder", a.Folder);
  }
  // All of it reaches the file in one atomic replace, or none of it does.
  if (!reg.Commit()) {
    MBError(kOpenFailed);
    return;
  }
  // Entries of accounts that are gone (or whose password moved back to the
  // file) go only once the file no longer points at them.
  if (store) {
    for (const std::string& name : FKeyringNames) {
      std::string error;
      if (std::find(inKeyring.begin(), inKeyring.end(), name) == inKeyring.end()) store->Remove(name, error);
    }
  }
  FKeyringNames = inKeyring;
}

void TOptions::SetAutoRunOption() {
  if (bAutoRun) SetAutoStart(true, ExecutablePath());
  else SetAutoStart(false, {});
}

std::string EncodePass(const std::string& password) { return EncryptStr(Reversed(password), PASSWORD_KEY); }

std::string DecodePass(const std::string& stored) { return Reversed(DecryptStr(stored, PASSWORD_KEY)); }

}  // namespace qnb
