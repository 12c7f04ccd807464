#pragma once
// A private machine for one test: a temporary folder that holds the machine
// folder (XDG_DATA_HOME) and the current directory (where the log goes).

#include <QString>
#include <QTemporaryDir>
#include <string>

class TempMachine {
 public:
  TempMachine();
  ~TempMachine();
  TempMachine(const TempMachine&) = delete;
  TempMachine& operator=(const TempMachine&) = delete;

  QString root() const { return dir_.path(); }
  // <root>/data/tarnwick
  QString machineFolder() const;
  QString registryFile() const { return machineFolder() + "/registry.reg"; }
  // The current directory during the test.
  QString workDir() const { return dir_.path() + "/work"; }

  // Writes registry.reg as given (bytes, no conversion).
  void writeRegistry(const std::string& bytes) const;
  std::string readRegistry() const;
  // Every line of every TWK*.log file in the work directory, oldest file first.
  QStringList logLines() const;
  // Links <machine folder>/dosdevices/com<port> to a device path.
  void linkComPort(int port, const QString& device) const;

 private:
  QTemporaryDir dir_;
  QByteArray oldXdg_;
  bool hadXdg_ = false;
  QString oldCwd_;
};

// Reads one value of the settings key from a registry.reg text the simple way:
// the text after "Name"= on its line, unquoted ("" when absent).
QString registryValue(const std::string& file, const QString& name);
