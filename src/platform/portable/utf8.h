#pragma once
// UTF-8, the program's text, walked one character at a time, and the one-byte
// views of it that the serial line and the code pages need.

#include <string>

namespace platform::utf8 {

// What next() gives for a malformed sequence: one character of its own that no
// code page holds.
inline constexpr char32_t kMalformed = 0xFFFFFFFF;

// The character at text[i], advancing i past it. REQUIRES: i < text.size().
char32_t next(const std::string& text, size_t& i);

// Appends a character (at most U+10FFFF) as UTF-8.
void append(std::string& out, char32_t c);

// Bytes as characters one to one (U+0000 to U+00FF).
std::string fromLatin1(const std::string& bytes);

// The reverse: a character above U+00FF, or a malformed sequence, becomes '?'.
std::string toLatin1(const std::string& text);

// The first and the last character of a text; "" for "". A broken sequence at
// the start counts as one byte, so a text always moves on.
std::string firstCharacter(const std::string& text);
std::string lastCharacter(const std::string& text);

}  // namespace platform::utf8
