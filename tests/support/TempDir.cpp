#include "support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace qnb::test {

TTempDir::TTempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "quenbell-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  // Tests may have made parts read-only to provoke write failures.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
    std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TTempDir::Write(const std::string& rel, const std::string& content) const {
  auto p = path_ / rel;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f << content;
  if (!f) throw std::runtime_error("cannot write " + p.string());
  return p;
}

TTempConfigHome::TTempConfigHome() {
  if (const char* v = std::getenv("XDG_CONFIG_HOME")) { hadConfig_ = true; oldConfig_ = v; }
  if (const char* v = std::getenv("XDG_DATA_HOME")) { hadData_ = true; oldData_ = v; }
  std::filesystem::create_directories(ConfigHome());
  std::filesystem::create_directories(DataHome());
  setenv("XDG_CONFIG_HOME", ConfigHome().c_str(), 1);
  setenv("XDG_DATA_HOME", DataHome().c_str(), 1);
}

TTempConfigHome::~TTempConfigHome() {
  if (hadConfig_) setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
  if (hadData_) setenv("XDG_DATA_HOME", oldData_.c_str(), 1); else unsetenv("XDG_DATA_HOME");
}

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + p.string());
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace qnb::test
