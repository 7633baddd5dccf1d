#pragma once
// Options and mail accounts of the current user, and the stored-password coding.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "settings/TextConv.h"
#include "settings/ThreadList.h"

namespace qnb {

// How the POP3 connection is secured: plain TCP, STLS after the greeting, or
// TLS from the first byte. Stored as "0", "1", "2".
enum TSecurity : uint8_t { secNone = 0, secStartTls = 1, secTls = 2 };

// "None", "STARTTLS" or "SSL/TLS".
const char* SecurityName(TSecurity s);

// The protocol of an account. Stored as "POP3" or "IMAP"; an account stored
// without it, or with a value this version does not know, is POP3.
enum TProtocol : uint8_t { protoPop3 = 0, protoImap = 1 };

// "POP3" or "IMAP".
const char* ProtocolName(TProtocol p);
// The stored text back; anything but "IMAP" (any letter case) is POP3.
TProtocol ProtocolOf(const std::string& text);

// The folder an IMAP account watches when none is set.
inline constexpr const char* kDefaultFolder = "INBOX";

// The usual port of a protocol, plain (or STARTTLS) or with TLS from the
// first byte.
const char* DefaultPort(TProtocol p, TSecurity s);
// Where an account's password is kept: coded in the settings file, or in the
// desktop's keyring (the settings file then holds none). Stored as
// "PasswordStore" = "keyring"; missing means the file.
enum TPasswordPlace : uint8_t { ppFile = 0, ppKeyring = 1 };

// "file" or "keyring".
const char* PasswordPlaceName(TPasswordPlace p);

struct TMailAccount {
  std::string Name;
  std::string Host;
  std::string Port;
  std::string UserName;
  std::string Password;  // clear text in memory; coded only in the store
  bool Enabled = false;
  TSecurity Security = secNone;  // accounts stored without the value keep plain TCP
  TProtocol Protocol = protoPop3;
  std::string Folder = kDefaultFolder;  // IMAP only
  TPasswordPlace PasswordStore = ppFile;
  // The keyring did not give the password at the load: it is unknown here,
  // and the keyring's copy must not be replaced by an empty one.
  bool PasswordUnread = false;
};
using PMailAccount = TMailAccount*;
using TMailAccountList = std::vector<std::unique_ptr<TMailAccount>>;

// Frees every record of a list, first to last, then empties it.
template <class T>
void ClearList(std::vector<std::unique_ptr<T>>& list) {
  for (auto& p : list) p.reset();
  list.clear();
}
template <class T>
void ClearList(TThreadList<T>& list) {
  auto g = list.Lock();
  ClearList(*g);
}

class TOptions {
 public:
  TOptions();
  ~TOptions();
  TOptions(const TOptions&) = delete;
  TOptions& operator=(const TOptions&) = delete;

  // mailClient: false in a process that never starts the mail client; an
  // unset MailProgram then stays empty instead of asking the desktop, which
  // starts a program.
  void LoadOptions(bool mailClient = true);
  void StoreOptions();
  void SetAutoRunOption();

  bool bAutoRun = false;
  bool bMinToTray = false;
  bool bCheckPaymentWhenOpening = false;
  bool bCheckPaymentOnSchedule = false;
  int32_t iCheckPaymentTime = 0;
  std::string sMailProgram;
  // Keeps the handled-message memory and the orders across starts.
  bool bRememberPayments = true;
  // Announces new payments through the desktop's notification service too.
  bool bDesktopNotify = false;
  std::string SoundFileName;
  TMailAccountList AccountList;

 private:
  const std::string GENERAL_SECTION;
  const std::string ACCOUNT_SECTION;
  // Accounts whose password the keyring holds, so that a removed or renamed
  // account's entry goes too.
  std::vector<std::string> FKeyringNames;
};

// The one options object, created and loaded by the start-up code.
extern TOptions* AppOption;

// The key text of the password coding.
inline constexpr const char* PASSWORD_KEY = "KQJ";

std::string EncodePass(const std::string& password);
// Throws ECipherError (settings/VrCipher.h) when the text does not decode.
std::string DecodePass(const std::string& stored);


}  // namespace qnb
