#pragma once
// Plain file operations the program needs, without faults: they only say
// whether they worked.

#include <string>

namespace platform {

// Appends bytes to the named file (created when missing), then closes it.
// Returns true iff every byte was written.
bool appendToFile(const std::string& path, const std::string& bytes);

// Turns a program path that may use "\" as separator into a local path.
std::string localPath(const std::string& programPath);

// The directory the program's executable lives in, without a trailing separator.
std::string programDirectory();

// Makes programDirectory() answer dir; an empty text restores the real one.
void setProgramDirectoryForTesting(const std::string& dir);

}  // namespace platform
