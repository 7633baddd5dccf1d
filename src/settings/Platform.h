#pragma once
// The few desktop-platform services the settings need, behind our own layer.

#include <string>

namespace qnb {

// Full path of the running executable, and its folder.
std::string ExecutablePath();
std::string ExecutableDir();

// Command line of the desktop's default mailto handler (its Exec without field
// codes), or empty when there is none or it cannot be found.
std::string DefaultMailCommand();

// The start-with-the-session entry ($XDG_CONFIG_HOME/autostart/quenbell.desktop).
std::string AutoStartFilePath();
// Writes the entry starting executable, or removes it. Failures are silent.
void SetAutoStart(bool enable, const std::string& executable);
// Exec value of the entry, or empty when there is none.
std::string AutoStartCommand();

}  // namespace qnb
