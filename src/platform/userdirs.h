// Per-user folders.
#pragma once

#include <string>

namespace platform {

// The per-user data folder: $XDG_DATA_HOME when it is an absolute path, else
// $HOME/.local/share (the password database's home when HOME is unset). Not created.
bool localAppDataFolder(std::string& out);

// $HOME when it is an absolute path, else the password database's home; ends in '/'.
bool homeFolder(std::string& out);

} // namespace platform
