#include "platform/clock.h"

#include "platform/ansi.h"
#include "platform/windows/wintext.h"

#include <cstdio>

namespace platform {

namespace {

std::function<LocalTime()>& testClock() {
  static std::function<LocalTime()> clock;
  return clock;
}

// The user's short date with the year written in full: "d/M/yy" becomes
// "d/M/yyyy". Quoted text in the picture is left as it is. Read for every
// stamp: a change of the regional settings (WM_SETTINGCHANGE) shows in the
// next one.
std::wstring shortDateFourDigitYear() {
  wchar_t picture[128] = {};
  if (!GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SSHORTDATE, picture, 128)) return {};
  std::wstring out;
  bool quoted = false;
  for (const wchar_t* p = picture; *p;) {
    if (*p == L'\'') quoted = !quoted;
    if (!quoted && *p == L'y') {
      size_t run = 0;
      while (p[run] == L'y') ++run;
      out.append(run <= 2 ? 4 : run, L'y');
      p += run;
      continue;
    }
    out.push_back(*p++);
  }
  return out;
}

}  // namespace

LocalTime now() {
  if (testClock()) return testClock()();
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

void setClockForTesting(std::function<LocalTime()> clock) { testClock() = std::move(clock); }

std::string generalDate(const LocalTime& when) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(when.year);
  st.wMonth = static_cast<WORD>(when.month);
  st.wDay = static_cast<WORD>(when.day);
  st.wHour = static_cast<WORD>(when.hour);
  st.wMinute = static_cast<WORD>(when.minute);
  st.wSecond = static_cast<WORD>(when.second);
  const std::wstring datePicture = shortDateFourDigitYear();
  wchar_t date[128] = {};
  wchar_t time[128] = {};
  const bool ok =
      GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st,
                      datePicture.empty() ? nullptr : datePicture.c_str(), date, 128, nullptr) &&
      GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, time, 128);
  // A stamp the log file's code page cannot hold (a Japanese date's
  // characters would be written as "?") is written in numbers, and so is a
  // date the system refuses (out of its range).
  if (ok) {
    const std::string text = win::narrow(std::wstring(date) + L" " + time);
    if (fromAnsi(toAnsi(text)) == text) return text;
  }
  char fallback[64];
  std::snprintf(fallback, sizeof fallback, "%04d-%02d-%02d %02d:%02d:%02d", when.year,
                when.month, when.day, when.hour, when.minute, when.second);
  return fallback;
}

}  // namespace platform
