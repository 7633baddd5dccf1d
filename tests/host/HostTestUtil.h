#pragma once
// The test plug-ins built beside the host tests, and folders made of them.

#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace qnb::test {

// Path of a test plug-in by its target name ("tp_echo").
inline std::string TestPlugin(const std::string& name) {
  return std::string(QUENBELL_HOST_PLUGIN_DIR) + "/" + name + ".so";
}

inline std::vector<std::string> TestPlugins(std::initializer_list<const char*> names) {
  std::vector<std::string> paths;
  for (const char* n : names) paths.push_back(TestPlugin(n));
  return paths;
}

// Copies test plug-in `name` into dir as file `as`.
inline void CopyPlugin(const TTempDir& dir, const std::string& name, const std::string& as) {
  std::filesystem::copy_file(TestPlugin(name), dir.Path() / as);
}

}  // namespace qnb::test
