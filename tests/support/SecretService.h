#pragma once
// A real Secret Service for the keyring tests: a private D-Bus session bus
// (dbus-daemon --session on a socket in a temporary folder) and
// gnome-keyring-daemon on it, its login keyring created and unlocked with a
// known password. While the object lives, DBUS_SESSION_BUS_ADDRESS (and the
// folders the keyring daemon uses) point at it; both daemons end with it.
//
//   TSecretService keyring;
//   if (!keyring.Skip().empty()) GTEST_SKIP() << keyring.Skip();
//   ASSERT_TRUE(keyring.Ready()) << keyring.Error();
//
// Start it before anything in the process talks to D-Bus: the session bus
// connection is made once per process.

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/TempDir.h"

namespace qnb::test {

class TSecretService {
 public:
  static constexpr const char* kKeyringPassword = "fixture-keyring-pw";
  TSecretService();
  ~TSecretService();
  TSecretService(const TSecretService&) = delete;
  TSecretService& operator=(const TSecretService&) = delete;

  // Not empty when a daemon binary is missing: the reason to skip.
  const std::string& Skip() const { return skip_; }
  bool Ready() const { return ready_; }
  const std::string& Error() const { return error_; }
  const std::string& Address() const { return address_; }
  // Ends the keyring daemon (the bus stays), and starts it again with a new
  // login keyring (a daemon started on an existing one leaves it locked).
  void StopKeyring();
  bool StartKeyring();
  // Environment entries ("NAME=VALUE") for a child process that should use it.
  std::vector<std::string> Env() const;

 private:
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& input);
  bool WaitForName(const std::string& name, int timeoutMs);

  TTempDir dir_;
  std::string skip_, error_, address_;
  bool ready_ = false;
  pid_t bus_ = -1, keyring_ = -1;
  std::vector<std::pair<std::string, std::string>> saved_;  // environment before
  std::vector<std::string> unset_;
};

}  // namespace qnb::test
