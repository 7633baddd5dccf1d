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

struct TMailAccount {
  std::string Name;
  std::string Host;
  std::string Port;
  std::string UserName;
  std::string Password;  // clear text in memory; coded only in the store
  bool Enabled = false;
  TSecurity Security = secNone;  // accounts stored without the value keep plain TCP
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

  void LoadOptions();
  void StoreOptions();
  void SetAutoRunOption();

  bool bAutoRun = false;
  bool bMinToTray = false;
  bool bCheckPaymentWhenOpening = false;
  bool bCheckPaymentOnSchedule = false;
  int32_t iCheckPaymentTime = 0;
  std::string sMailProgram;
  std::string SoundFileName;
  TMailAccountList AccountList;

 private:
  const std::string GENERAL_SECTION;
  const std::string ACCOUNT_SECTION;
};

// The one options object, created and loaded by the start-up code.
extern TOptions* AppOption;

// The key text of the password coding.
inline constexpr const char* PASSWORD_KEY = "KQJ";

std::string EncodePass(const std::string& password);
// Throws ECipherError (settings/VrCipher.h) when the text does not decode.
std::string DecodePass(const std::string& stored);


}  // namespace qnb
