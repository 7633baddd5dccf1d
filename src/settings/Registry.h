#pragma once
// A registry-like store for the keys below \Software\Varnett\Qnb of the current
// user, kept in $XDG_CONFIG_HOME/Varnett/Qnb.ini through QSettings.
//
// Key paths are relative to that root and use "\" ("GENERAL", "Account\0").
// Writes collect in memory and reach the file only on Commit(), which replaces
// the file atomically: a failed commit leaves the stored settings as they were.
// QSettings works on a private copy of the file: it caches files per process,
// and a failed write would otherwise stay pending in that cache and reach the
// file with some later, unrelated write.

#include <memory>
#include <string>
#include <vector>

class QSettings;

namespace qnb {

enum class TReadResult { Ok, Missing, NotText };

class TRegistry {
 public:
  TRegistry();
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // The settings file for the current environment.
  static std::string FilePath();

  // Opens the root key; with create, a missing file is created. False when the
  // file cannot be read, or cannot be created or written.
  bool OpenRoot(bool create);

  bool KeyExists(const std::string& key) const;
  // Creates an empty key (and its parents) unless it exists.
  void CreateKey(const std::string& key);
  // Removes a key with all its subkeys and values.
  void DeleteKey(const std::string& key);
  // Names of the direct subkeys, sorted as text ("10" before "2").
  std::vector<std::string> SubKeys(const std::string& key) const;

  TReadResult ReadText(const std::string& key, const std::string& name, std::string& value) const;
  void WriteText(const std::string& key, const std::string& name, const std::string& value);
  bool ValueExists(const std::string& key, const std::string& name) const;
  void DeleteValue(const std::string& key, const std::string& name);

  // Writes what changed; false when the file could not be written.
  bool Commit();

 private:
  std::unique_ptr<QSettings> settings_;
  std::string path_;
  std::string copy_;  // the private copy QSettings reads and writes
  bool dirty_ = false;
};

}  // namespace qnb
