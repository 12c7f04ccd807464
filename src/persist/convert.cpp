#include "persist/convert.h"

#include "platform/fault.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

namespace {

template <typename Int>
Int toWhole(const std::string& text) {
  const double value = std::nearbyint(CDbl(text));  // default rounding: halves to even
  if (value < static_cast<double>(std::numeric_limits<Int>::min()) ||
      value > static_cast<double>(std::numeric_limits<Int>::max()))
    platform::raise(platform::faults::kOverflow, "Overflow");
  return static_cast<Int>(value);
}

[[noreturn]] void mismatch() { platform::raise(platform::faults::kTypeMismatch, "Type mismatch"); }

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

// Blanks, an optional sign, digits with an optional point ("5.", ".5", "2.50"),
// blanks; nothing else (no exponent, no thousands separator). One line feed may
// close the text.
double CDbl(const std::string& text) {
  std::string_view rest(text);
  if (!rest.empty() && rest.back() == '\n') rest.remove_suffix(1);
  while (!rest.empty() && isBlank(rest.front())) rest.remove_prefix(1);
  while (!rest.empty() && isBlank(rest.back())) rest.remove_suffix(1);

  bool negative = false;
  if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
    negative = rest.front() == '-';
    rest.remove_prefix(1);
  }
  size_t whole = 0;
  while (whole < rest.size() && isDigit(rest[whole])) ++whole;
  size_t end = whole;
  size_t fraction = 0;
  if (end < rest.size() && rest[end] == '.') {
    ++end;
    while (end < rest.size() && isDigit(rest[end])) ++end, ++fraction;
  }
  if (end != rest.size() || whole + fraction == 0) mismatch();

  double value = 0;
  const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Too large, or so small it is zero: only a non-zero whole part is too large.
    if (rest.substr(0, whole).find_first_not_of('0') != std::string_view::npos)
      platform::raise(platform::faults::kOverflow, "Overflow");
    value = 0;
  } else if (ec != std::errc{} || ptr != rest.data() + rest.size()) {
    mismatch();
  }
  if (!std::isfinite(value)) platform::raise(platform::faults::kOverflow, "Overflow");
  return negative ? -value : value;
}

int16_t CInt(const std::string& text) { return toWhole<int16_t>(text); }
int32_t CLng(const std::string& text) { return toWhole<int32_t>(text); }
