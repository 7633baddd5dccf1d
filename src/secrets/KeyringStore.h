#pragma once
// Passwords in the desktop's keyring through QtKeychain. Its jobs are
// asynchronous; each call here runs a local event loop until the job ends or
// its time is up, so the callers (the options load and store) stay simple.
// Calls belong to the main thread. Without a QCoreApplication (the CLI) one is
// created at the first call.

#include <optional>
#include <string>

#include "settings/PasswordStore.h"

namespace qnb {

class TKeyringStore final : public TPasswordStore {
 public:
  static constexpr int kTimeoutMs = 5000;
  explicit TKeyringStore(int timeoutMs = kTimeoutMs) : timeoutMs_(timeoutMs) {}

  bool Write(const std::string& key, const std::string& password, std::string& error) override;
  TRead Read(const std::string& key, std::string& password, std::string& error) override;
  bool Remove(const std::string& key, std::string& error) override;
  bool Available() override;

  // The keyring's service name: one per settings file, so that two
  // configurations of one user (and the tests' temporary ones) never share
  // entries.
  static std::string Service();

 private:
  int timeoutMs_;
  std::optional<bool> available_;
};

// Installs a keyring store for the life of the object (the front ends' main).
class TKeyringStoreScope {
 public:
  explicit TKeyringStoreScope(int timeoutMs = TKeyringStore::kTimeoutMs)
      : store_(timeoutMs), old_(SetPasswordStore(&store_)) {}
  ~TKeyringStoreScope() { SetPasswordStore(old_); }
  TKeyringStoreScope(const TKeyringStoreScope&) = delete;
  TKeyringStoreScope& operator=(const TKeyringStoreScope&) = delete;

 private:
  TKeyringStore store_;
  TPasswordStore* old_;
};

}  // namespace qnb
