#pragma once
// Text as the system's single-byte code page holds it: Windows-1252.

#include <QString>
#include <string>

namespace platform {

// A character the code page cannot hold becomes '?'.
std::string toAnsi(const QString& text);
QString fromAnsi(const std::string& bytes);

}  // namespace platform
