#include "platform/ansi.h"

#include "platform/portable/utf8.h"

#include <array>

namespace platform {

namespace {
// 0x80..0x9F of Windows-1252; 0 marks the five unassigned bytes, which map to
// the C1 control of the same value as Windows does.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char32_t decode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80] != 0) return kHigh[byte - 0x80];
  return byte;
}

}  // namespace

std::string toAnsi(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t c = utf8::next(text, i);
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF) ||
        (c >= 0x80 && c <= 0x9F && kHigh[c - 0x80] == 0)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char mapped = '?';
    for (size_t k = 0; k < kHigh.size(); ++k)
      if (kHigh[k] != 0 && kHigh[k] == c) mapped = static_cast<char>(0x80 + k);
    out.push_back(mapped);
  }
  return out;
}

std::string fromAnsi(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  for (const char b : bytes) utf8::append(out, decode(static_cast<unsigned char>(b)));
  return out;
}

}  // namespace platform
