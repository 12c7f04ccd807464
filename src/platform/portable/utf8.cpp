#include "platform/portable/utf8.h"

namespace platform::utf8 {

char32_t next(const std::string& text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i++);
  if (lead < 0x80) return lead;
  size_t more = 0;
  char32_t c = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) more = 1, c = lead & 0x1F, least = 0x80;
  else if (lead >= 0xE0 && lead <= 0xEF) more = 2, c = lead & 0x0F, least = 0x800;
  else if (lead >= 0xF0 && lead <= 0xF4) more = 3, c = lead & 0x07, least = 0x10000;
  else return kMalformed;
  for (; more > 0; --more) {
    if (i >= text.size() || (byte(i) & 0xC0) != 0x80) return kMalformed;
    c = c << 6 | (byte(i++) & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kMalformed;
  return c;
}

void append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | c >> 6));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | c >> 12));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | c >> 18));
    out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string fromLatin1(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char b : bytes) append(out, static_cast<unsigned char>(b));
  return out;
}

std::string toLatin1(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const char32_t c = next(text, i);
    out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
  }
  return out;
}

std::string firstCharacter(const std::string& text) {
  if (text.empty()) return {};
  size_t end = 0;
  next(text, end);
  return text.substr(0, end);
}

std::string lastCharacter(const std::string& text) {
  size_t start = text.size();
  while (start > 0) {
    --start;
    if ((static_cast<unsigned char>(text[start]) & 0xC0) != 0x80) break;  // not a continuation byte
  }
  return text.substr(start);
}

}  // namespace platform::utf8
