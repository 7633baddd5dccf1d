#pragma once
// Where rule files live.

#include <string>

namespace qnb::rules {

// The user's own rules: $XDG_CONFIG_HOME/Varnett/rules (~/.config when unset),
// beside the program's settings file.
std::string UserRulesDir();

// The shipped rules, in "rules" inside the plug-in folder.
std::string ShippedRulesDir(const std::string& pluginDir);

}  // namespace qnb::rules
