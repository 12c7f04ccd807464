#pragma once
// Text-to-number conversions of the settings. Blanks around the number are
// allowed; a fraction rounds to the nearest whole number, halves to even.
// Text that is not a number raises 13 "Type mismatch"; a number that does not
// fit raises 6 "Overflow".

#include <QString>
#include <cstdint>

int16_t CInt(const QString& text);   // 16-bit
int32_t CLng(const QString& text);   // 32-bit
double CDbl(const QString& text);    // a number, for comparisons
