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
    // Garbage between commands: one "ERR" for the whole run of it.
    if (refused_) return nullptr;
    refused_ = true;
    return kRefusal;
  }
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
  // A "P" inside the refused window may begin the next command: a stray byte
  // before a command must not cost that command.
  if (window_[1] == 'P') {
    window_[0] = 'P';
    window_[1] = window_[2];
    size_ = window_[1] == 'P' ? 1 : 2;
  } else if (window_[2] == 'P') {
    window_[0] = 'P';
    size_ = 1;
  }
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
