#pragma once
// A private machine for one test: a temporary folder that holds the machine
// folder (XDG_DATA_HOME) and the current directory (where the log goes).
// Standard C++ only, so the store and log tests build without a toolkit.

#include <string>
#include <vector>

class TempMachine {
 public:
  TempMachine();
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  std::string root() const { return root_; }
  // <root>/data/tarnwick
  std::string machineFolder() const;
  std::string registryFile() const { return machineFolder() + "/registry.reg"; }
  // The current directory during the test.
  std::string workDir() const { return root_ + "/work"; }

  // Writes registry.reg as given (bytes, no conversion).
  void writeRegistry(const std::string& bytes) const;
  std::string readRegistry() const;
  // Every line of every TWK*.log file in the work directory, oldest file first,
  // each byte as one character (UTF-8).
  std::vector<std::string> logLines() const;
  // Links <machine folder>/dosdevices/com<port> to a device path.
  void linkComPort(int port, const std::string& device) const;

 private:
  std::string root_;
  std::string oldXdg_;
  bool hadXdg_ = false;
  std::string oldCwd_;
};

// Reads one value of the settings key from a registry.reg text the simple way:
// the text after "Name"= on its line, unquoted ("" when absent), each byte as
// one character (UTF-8).
std::string registryValue(const std::string& file, const std::string& name);

// Each byte as the character of the same number (Latin-1), in UTF-8.
std::string latin1ToUtf8(const std::string& bytes);

// The whole file ("" when it cannot be read).
std::string readFile(const std::string& path);

// The lines joined with a separator, for failure messages.
std::string joined(const std::vector<std::string>& lines, const std::string& separator);
