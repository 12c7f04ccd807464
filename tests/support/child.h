#pragma once
// A program run as a child process with its standard input and output on pipes
// (POSIX), for tests that need a second process beside the test.

#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();  // kills the child when it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void write(const std::string& bytes);
  void closeInput();
  // The next line of its output without the line end; false when none came
  // within the time.
  bool readLine(std::string& line, int timeoutMs = 10000);
  // Its exit code once it ended within the time; -1 otherwise (or on a signal).
  int wait(int timeoutMs = 10000);

 private:
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1;
  std::string buffered_;
};
