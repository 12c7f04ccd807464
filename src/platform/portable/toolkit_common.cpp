#include "platform/portable/toolkit_common.h"

#include <cstdio>

namespace platform {

namespace {
void (*gUntrappedEcho)(const char* line) = nullptr;
}

int& callbackDepth() {
  static int depth = 0;
  return depth;
}

void reportUntrapped(const std::string& what) {
  const std::string line = "Untrapped " + what + "\n";
  std::fputs(line.c_str(), stderr);
  if (gUntrappedEcho) gUntrappedEcho(line.c_str());
}

void setUntrappedEcho(void (*echo)(const char* line)) { gUntrappedEcho = echo; }

std::string listRow(const std::string& line) {
  std::string row;
  size_t characters = 0;
  size_t i = 0;
  for (; i < line.size(); ++i) {
    const auto byte = static_cast<unsigned char>(line[i]);
    const bool starts = (byte & 0xC0) != 0x80;  // not a continuation byte
    if (starts && characters++ == kListRowChars) break;
    row.push_back(byte < 0x20 || byte == 0x7F ? ' ' : line[i]);
  }
  if (i < line.size()) row += "\xE2\x80\xA6";  // …
  return row;
}

}  // namespace platform
