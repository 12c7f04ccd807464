#pragma once
// The emulated machine: the folder that holds what Windows would keep for the
// whole machine (the registry file, the dosdevices links).

#include <string>

namespace platform {

// ${XDG_DATA_HOME:-$HOME/.local/share}/tarnwick, without a trailing slash.
// Read afresh on every call, so tests can point it elsewhere with setenv.
std::string machineFolder();

}  // namespace platform
