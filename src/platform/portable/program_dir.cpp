#include "platform/portable/program_dir.h"

#include "platform/files.h"

namespace platform {

namespace {
std::string& overridden() {
  static std::string dir;
  return dir;
}
}  // namespace

void setProgramDirectoryForTesting(const std::string& dir) { overridden() = dir; }

const std::string& programDirectoryOverride() { return overridden(); }

}  // namespace platform
