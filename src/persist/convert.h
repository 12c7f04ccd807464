#pragma once
// Text-to-number conversions of the settings. Blanks around the number are
// allowed; a fraction rounds to the nearest whole number, halves to even.
// Text that is not a number raises 13 "Type mismatch"; a number that does not
// fit raises 6 "Overflow".

#include <cstdint>
#include <string>

int16_t CInt(const std::string& text);   // 16-bit
int32_t CLng(const std::string& text);   // 32-bit
double CDbl(const std::string& text);    // a number, for comparisons
