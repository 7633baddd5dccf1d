#pragma once
// Server settings of the common mail providers, found from the domain of an
// address, so that setting up an account needs no guessing. A provider can
// have a row per protocol; the account dialog applies the POP3 row (and the
// IMAP one once accounts have a protocol).

#include <string>
#include <vector>

#include "settings/QnbBase.h"

namespace qnb {

struct TProviderPreset {
  const char* Protocol;  // "POP3" or "IMAP"
  const char* Host;
  int Port;
  TSecurity Security;
  // A refused log-in there usually means a normal password where the
  // provider wants an app password.
  bool NeedsAppPassword;
  const char* Provider;  // for the hint: "Gmail"
};

// The row for the domain of address (or for a bare domain), case ignored;
// nullptr for an unknown domain or one without that protocol.
const TProviderPreset* FindPreset(const std::string& address, const std::string& protocol = "POP3");
// The preset whose host is host (case ignored), for any protocol.
const TProviderPreset* PresetOfHost(const std::string& host);

// The hint for a refused log-in at a provider that needs an app password.
std::string AppPasswordHint(const TProviderPreset& preset);

}  // namespace qnb
