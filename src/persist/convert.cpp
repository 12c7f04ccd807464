#include "persist/convert.h"

#include "platform/fault.h"

#include <QRegularExpression>
#include <cmath>
#include <limits>

namespace {

template <typename Int>
Int toWhole(const QString& text) {
  const double value = std::nearbyint(CDbl(text));  // default rounding: halves to even
  if (value < static_cast<double>(std::numeric_limits<Int>::min()) ||
      value > static_cast<double>(std::numeric_limits<Int>::max()))
    platform::raise(platform::faults::kOverflow, QStringLiteral("Overflow"));
  return static_cast<Int>(value);
}

}  // namespace

double CDbl(const QString& text) {
  static const QRegularExpression number(
      QStringLiteral("^[ \\t]*([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+))[ \\t]*$"));
  const QRegularExpressionMatch m = number.match(text);
  if (!m.hasMatch()) platform::raise(platform::faults::kTypeMismatch, QStringLiteral("Type mismatch"));
  const double value = m.captured(1).toDouble();
  if (!std::isfinite(value)) platform::raise(platform::faults::kOverflow, QStringLiteral("Overflow"));
  return value;
}

int16_t CInt(const QString& text) { return toWhole<int16_t>(text); }
int32_t CLng(const QString& text) { return toWhole<int32_t>(text); }
