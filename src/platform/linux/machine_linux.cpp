#include "platform/linux/machine_linux.h"

#include <cstdlib>

namespace platform {

std::string machineFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : ".") + "/.local/share";
  }
  return base + "/tarnwick";
}

}  // namespace platform
