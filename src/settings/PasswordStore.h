#pragma once
// Where account passwords can be kept instead of the settings file: the
// desktop's keyring, when the front end installs one. Without a store, or when
// it does not answer, passwords stay coded in the settings file.

#include <string>

namespace qnb {

class TPasswordStore {
 public:
  enum class TRead { Found, NotFound, Failed };
  virtual ~TPasswordStore() = default;
  // Each call ends within the store's own time limit; error says why it failed.
  virtual bool Write(const std::string& key, const std::string& password, std::string& error) = 0;
  virtual TRead Read(const std::string& key, std::string& password, std::string& error) = 0;
  // True also when there was nothing to remove.
  virtual bool Remove(const std::string& key, std::string& error) = 0;
  // Whether the store answers at all (asked once, then remembered).
  virtual bool Available() = 0;
};

// The store the options use (nullptr: none); returns the one it replaces.
TPasswordStore* SetPasswordStore(TPasswordStore* store);
TPasswordStore* CurrentPasswordStore();

}  // namespace qnb
