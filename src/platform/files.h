#pragma once
// Plain file operations the program needs, without faults: they only say
// whether they worked.

#include <QString>
#include <string>

namespace platform {

// Appends bytes to the named file (created when missing), then closes it.
// Returns true iff every byte was written.
bool appendToFile(const QString& path, const std::string& bytes);

// Turns a program path that may use "\" as separator into a local path.
QString localPath(const QString& programPath);

// The directory the program's executable lives in, without a trailing separator.
QString programDirectory();

// Makes programDirectory() answer dir; an empty text restores the real one.
void setProgramDirectoryForTesting(const QString& dir);

}  // namespace platform
