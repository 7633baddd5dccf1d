#include "rules/RulePaths.h"

#include <cstdlib>

namespace qnb::rules {

std::string UserRulesDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.config";
  }
  return base + "/Varnett/rules";
}

std::string ShippedRulesDir(const std::string& pluginDir) { return pluginDir + "/rules"; }

}  // namespace qnb::rules
