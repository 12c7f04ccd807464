#pragma once
// Text as the system's single-byte code page holds it (Windows-1252 here).
// Inside the program text is UTF-8.

#include <string>

namespace platform {

// A character the code page cannot hold becomes '?'.
std::string toAnsi(const std::string& utf8);
std::string fromAnsi(const std::string& bytes);

}  // namespace platform
