#include "command.h"

namespace {
const char kRefusal[] = "ERR\r\n";
}

const char* CommandReader::take(char c) {
  if (size_ == 0) {
    if (c == 'P') {
      window_[size_++] = c;
      return nullptr;
    }
    return refuse();
  }
  if (size_ == 1 && c == 'P') return refuse();  // the "P" before was a stray one
  window_[size_++] = c;
  if (size_ < 3) return nullptr;
  size_ = 0;
  if (carryOut()) {
    refused_ = false;
    for (uint8_t i = 0; i < 3; ++i) answer_[i] = window_[i];
    const char tail[] = " OK\r\n";
    for (uint8_t i = 0; i < sizeof tail; ++i) answer_[3 + i] = tail[i];
    return answer_;
  }
  // A "P" at the end of a refused window may begin the next command: a
  // command cut short must not cost the one after it.
  if (window_[2] == 'P') size_ = 1;
  refused_ = true;
  return kRefusal;
}

// Garbage between commands: one "ERR" for the whole run of it.
const char* CommandReader::refuse() {
  if (refused_) return nullptr;
  refused_ = true;
  return kRefusal;
}

bool CommandReader::carryOut() {
  const char index = window_[1], level = window_[2];
  if (index == '9' && level == '0') {
    outputs_ = 0;
    return true;
  }
  if (index < '0' || index > '4' || (level != '0' && level != '1')) return false;
  const uint8_t bit = static_cast<uint8_t>(1u << (index - '0'));
  outputs_ = static_cast<uint8_t>(level == '1' ? outputs_ | bit : outputs_ & ~bit);
  return true;
}
