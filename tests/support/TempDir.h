#pragma once
// A temporary folder removed with everything in it when the object goes.

#include <filesystem>
#include <string>

namespace qnb::test {

class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }
  std::string Str() const { return path_.string(); }
  // Writes a file below the folder (parents created) and returns its path.
  std::filesystem::path Write(const std::string& rel, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

// Points XDG_CONFIG_HOME (and XDG_DATA_HOME) at a fresh temporary folder for the
// life of the object and restores the old values afterwards.
class TTempConfigHome {
 public:
  TTempConfigHome();
  ~TTempConfigHome();
  const TTempDir& Dir() const { return dir_; }
  std::filesystem::path ConfigHome() const { return dir_.Path() / "config"; }
  std::filesystem::path DataHome() const { return dir_.Path() / "data"; }
  // The settings file of the store.
  std::filesystem::path SettingsFile() const { return ConfigHome() / "Varnett" / "Qnb.ini"; }

 private:
  TTempDir dir_;
  std::string oldConfig_, oldData_;
  bool hadConfig_ = false, hadData_ = false;
};

std::string ReadFile(const std::filesystem::path& p);

}  // namespace qnb::test
