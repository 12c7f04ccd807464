#pragma once
// A pseudo-terminal pair standing in for a serial line: the program opens the
// device end (through a dosdevices link), the test reads and writes the far end.

#include <QByteArray>
#include <string>
#include <termios.h>

class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The device path the program opens (/dev/pts/N).
  std::string devicePath() const { return device_; }
  int farEnd() const { return master_; }

  // Bytes readable at the far end within the time (all of them, up to `want`
  // when want > 0: returns as soon as that many arrived).
  QByteArray read(int timeoutMs = 200, int want = 0);
  void write(const QByteArray& bytes);
  // Bytes that reached the device end and wait there unread. The kernel passes
  // what the far end wrote on to the device end a moment later, not inside write.
  int waitingAtDevice() const;
  // The line settings as the far end sees them.
  termios attributes() const;
  // Closes the far end, as when the board is unplugged.
  void closeFarEnd();

 private:
  int master_ = -1;
  int keepOpen_ = -1;  // keeps the line alive while the program has it closed
  std::string device_;
};

// Lets queued events run (serial notifications, deferred deletions) for a while.
void pumpEvents(int ms = 20);
