#pragma once
// The program folder a test has set in place of the real one
// (setProgramDirectoryForTesting in platform/files.h); "" when none is set.

#include <string>

namespace platform {

const std::string& programDirectoryOverride();

}  // namespace platform
