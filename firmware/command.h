// The board's side of the serial line: reads the three-character commands one
// received byte at a time, keeps the five output states and says what to
// answer. Plain C++ without a library, so the same file runs on the AVR and in
// the host's unit tests.
//
//   "P" + index "0".."4" + "1"/"0"  switches output <index> on/off
//   "P90"                           switches all outputs off
//   answer: the command + " OK\r\n"; anything else "ERR\r\n", once, and the
//   reader starts again at the next "P".
#ifndef TARNWICK_FIRMWARE_COMMAND_H
#define TARNWICK_FIRMWARE_COMMAND_H

#include <stdint.h>

class CommandReader {
 public:
  // Takes one received byte. Returns the answer to send, or nullptr when
  // nothing is to be sent yet. The text lives until the next call.
  const char* take(char c);

  // Bit i set: output i is on.
  uint8_t outputs() const { return outputs_; }

 private:
  bool carryOut();
  const char* refuse();

  char window_[3] = {};
  uint8_t size_ = 0;
  bool refused_ = false;   // garbage since the last command has had its "ERR"
  uint8_t outputs_ = 0;
  char answer_[9] = {};    // "P01 OK\r\n" and its terminator
};

#endif
